#include "qerfcfunctionasync.h"

QErfcFunctionAsync::QErfcFunctionAsync(QObject* parent)
    : QErfcFunction(parent)
{
}

QErfcFunctionAsync::QErfcFunctionAsync(quint8 id, const QString& description,
                                       QErfc::Privilege privilege, QObject* parent)
    : QErfcFunction(id, description, privilege, parent)
{
}

QErfcFunctionAsync::~QErfcFunctionAsync()
{
    closeGuard();
}

QErfc::ResponseCode QErfcFunctionAsync::call(QErfcIncomingRequest& request, QErfcResponse& response)
{
    emit callSignalAsync(request);
    QErfc::ResponseCode code = QErfc::FunctionError;
    emit callSignal(request, response, code);
    return QErfc::OK;
}
