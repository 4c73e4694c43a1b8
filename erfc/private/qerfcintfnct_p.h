#ifndef QERFCINTFNCT_P_H
#define QERFCINTFNCT_P_H

#include "qerfceventconnect_p.h"
#include "qerfcfunction.h"
#include "qerfcrequest.h"

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
// Each deletes itself on the engine's thread once answered.
// The subscription is reached only through its handle: one deleted before
// the answer comes is left alone.
class QErfcIntReq : public QErfcRequest
{
    Q_OBJECT
public:
    QErfcIntReq(quint8 address, quint8 functionId, quint8 eventId,
                const QErfcEventConnectHandle& connect, QErfcStackPrivate* stack);
    ~QErfcIntReq() override;

protected:
    const quint8 m_eventId;
    const QErfcEventConnectHandle m_connect;
    QErfcStackPrivate* m_stack;
};

class QErfcIntReqEventConnect : public QErfcIntReq
{
    Q_OBJECT
public:
    using QErfcIntReq::QErfcIntReq;
    void onResponse(const QErfcIncomingResponse& response) override;
};

class QErfcIntReqEventDisconnect : public QErfcIntReq
{
    Q_OBJECT
public:
    using QErfcIntReq::QErfcIntReq;
    void onResponse(const QErfcIncomingResponse& response) override;
};

#endif // QERFCINTFNCT_P_H
