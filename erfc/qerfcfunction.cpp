#include "qerfcfunction.h"

QErfcFunction::QErfcFunction(QObject* parent)
    : QErfcRegister(parent)
{
}

QErfcFunction::QErfcFunction(quint8 id, const QString& description, QErfc::Privilege privilege,
                             QObject* parent)
    : QErfcRegister(id, description, privilege, parent)
{
}

QErfcFunction::~QErfcFunction()
{
    closeGuard();
}

QErfc::ResponseCode QErfcFunction::call(QErfcIncomingRequest& request, QErfcResponse& response)
{
    QErfc::ResponseCode code = QErfc::FunctionError;
    emit callSignal(request, response, code);
    return code;
}
