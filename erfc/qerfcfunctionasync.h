#ifndef QERFCFUNCTIONASYNC_H
#define QERFCFUNCTIONASYNC_H

#include "qerfcfunction.h"

// A function whose caller always gets OK at once; callSignalAsync hands a copy
// of the request to a handler that works on it later.
class QErfcFunctionAsync : public QErfcFunction
{
    Q_OBJECT
public:
    explicit QErfcFunctionAsync(QObject* parent = nullptr);
    QErfcFunctionAsync(quint8 id, const QString& description, QErfc::Privilege privilege,
                       QObject* parent = nullptr);
    ~QErfcFunctionAsync() override;

public slots:
    QErfc::ResponseCode call(QErfcIncomingRequest& request, QErfcResponse& response) override;

signals:
    void callSignalAsync(QErfcIncomingRequest request);
};

#endif // QERFCFUNCTIONASYNC_H
