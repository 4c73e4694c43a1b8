#ifndef QERFCFUNCTION_H
#define QERFCFUNCTION_H

#include "qerfcincomingrequest.h"
#include "qerfcregister.h"
#include "qerfcresponse.h"

// A function the PC offers. A call emits callSignal on the stack thread; the
// handler fills the response and sets the code before the signal returns, so
// it is connected directly or with a blocking queued connection. Destroying
// the function waits for a call in progress on the stack thread: a blocking
// handler's thread must not destroy it while it may be called.
class QErfcFunction : public QErfcRegister
{
    Q_OBJECT
public:
    explicit QErfcFunction(QObject* parent = nullptr);
    QErfcFunction(quint8 id, const QString& description, QErfc::Privilege privilege,
                  QObject* parent = nullptr);
    ~QErfcFunction() override;

public slots:
    // Presets FunctionError, emits callSignal and returns the code the handler left.
    virtual QErfc::ResponseCode call(QErfcIncomingRequest& request, QErfcResponse& response);

signals:
    void callSignal(QErfcIncomingRequest& request, QErfcResponse& response,
                    QErfc::ResponseCode& code);
};

Q_DECLARE_METATYPE(QErfcFunction*)

#endif // QERFCFUNCTION_H
