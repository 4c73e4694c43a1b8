#ifndef QERFCINTFNCT_P_H
#define QERFCINTFNCT_P_H

#include "qerfcfunction.h"
#include "qerfcrequest.h"

class QErfcEventConnect;
class QErfcInterface;
class QErfcStackPrivate;

// The base of the internal functions 0..15 that every node serves. The
// dispatcher calls process() with the link the request came in on.
class QErfcIntFnct : public QErfcFunction
{
    Q_OBJECT
public:
    QErfcIntFnct(quint8 id, const QString& description, QErfcStackPrivate* stack);

    virtual QErfc::ResponseCode process(QErfcIncomingRequest& request, QErfcResponse& response,
                                        QErfcInterface* interface) = 0;

protected:
    QErfcStackPrivate* m_stack;
};

#define QERFC_INTERNAL_FUNCTION(Name)                                                          \
    class Name : public QErfcIntFnct                                                           \
    {                                                                                          \
        Q_OBJECT                                                                               \
    public:                                                                                    \
        explicit Name(QErfcStackPrivate* stack);                                               \
        QErfc::ResponseCode process(QErfcIncomingRequest& request, QErfcResponse& response,    \
                                    QErfcInterface* interface) override;                       \
    };

QERFC_INTERNAL_FUNCTION(QErfcIntFnctEcho)
QERFC_INTERNAL_FUNCTION(QErfcIntFnctNodeInfo)
QERFC_INTERNAL_FUNCTION(QErfcIntFnctFnctInfo)
QERFC_INTERNAL_FUNCTION(QErfcIntFnctEventInfo)
QERFC_INTERNAL_FUNCTION(QErfcIntFnctManagement)
QERFC_INTERNAL_FUNCTION(QErfcIntFnctNetwork)
QERFC_INTERNAL_FUNCTION(QErfcIntFnctStatistic)

#undef QERFC_INTERNAL_FUNCTION

// The stack's own subscription requests to a remote node's NETWORK function.
// Their completion updates the event-connection table; no signal is emitted.
class QErfcIntReqEventConnect : public QErfcRequest
{
    Q_OBJECT
public:
    QErfcIntReqEventConnect(quint8 address, quint8 functionId, QErfcEventConnect* connect,
                            QErfcStackPrivate* stack);
    ~QErfcIntReqEventConnect() override;
    void onResponse(const QErfcIncomingResponse& response) override;

private:
    QErfcEventConnect* m_connect;
    QErfcStackPrivate* m_stack;
};

class QErfcIntReqEventDisconnect : public QErfcRequest
{
    Q_OBJECT
public:
    QErfcIntReqEventDisconnect(quint8 address, quint8 functionId, QErfcEventConnect* connect,
                               QErfcStackPrivate* stack);
    ~QErfcIntReqEventDisconnect() override;
    void onResponse(const QErfcIncomingResponse& response) override;

private:
    QErfcEventConnect* m_connect;
    QErfcStackPrivate* m_stack;
};

#endif // QERFCINTFNCT_P_H
