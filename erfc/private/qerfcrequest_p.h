#ifndef QERFCREQUEST_P_H
#define QERFCREQUEST_P_H

#include "qerfcguard.h"
#include "qerfcrequest.h"

#include <QMutex>
#include <QWaitCondition>
#include <memory>

// The stack's handle to a request: the request's guard and the request. The
// request closes the guard in its destructor, so an outstanding frame that
// outlives its request completes nothing, and a request may be deleted from
// its own signals on any thread.
class QErfcRequestHandle
{
public:
    QErfcRequestHandle(QErfcRequest* request, QErfcGuardPtr guard);

    // Completes the request if it still exists; false when it is gone.
    bool complete(const QErfcIncomingResponse& response);
    // The same, with the answer built inside the guard, so that it can take
    // the request's user data safely.
    bool complete(quint8 address, quint8 functionId, QErfc::ResponseCode code,
                  const QByteArray& payload);
    // The request, or null once it has been destroyed. Only for a caller that
    // knows the request cannot be destroyed meanwhile (its own thread).
    QErfcRequest* request() const;

private:
    QErfcHandle<QErfcRequest> m_handle;
};

using QErfcRequestRef = std::shared_ptr<QErfcRequestHandle>;

class QErfcRequestPrivate
{
public:
    static QErfcRequestPrivate* get(QErfcRequest* q) { return q->d.get(); }

    // Forgets the last answer so that waiters wait for the next sending.
    void resetResponse();

    quint8 m_address = 0;
    quint8 m_functionId = 0;
    QByteArray m_payload;
    quint8 m_retries = 3;
    quint8 m_timeout = 250;
    bool m_noResponse = false;
    QVariant m_userData;

    QErfcGuardPtr m_guard = std::make_shared<QErfcGuard>();
    QErfcRequestRef m_handle;

    mutable QMutex m_lock; // completion lock: guards the answer and the completed flag
    QWaitCondition m_completed;
    QErfcIncomingResponse m_response;
    bool m_done = false;
};

#endif // QERFCREQUEST_P_H
