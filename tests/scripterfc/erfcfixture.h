#ifndef ERFCFIXTURE_H
#define ERFCFIXTURE_H

// What the binding's tests share: a script engine with the erfc object,
// calls made from a worker thread (the test thread runs the script and must
// stay free for its handlers), a test function of a stack, and a further node
// joined to the script's stack over a link of its own.

#include "jsqerfc.h"
#include "jsrte.h"
#include "jsrtetype.h"
#include "qerfcexception.h"
#include "qerfcfunction.h"
#include "qerfcguiwait.h"
#include "qerfcrequest.h"
#include "qerfcstack.h"
#include "qerfcstreaminterface.h"
#include "tcptestdevice.h"

#include <QDeadlineTimer>
#include <QMutex>
#include <QTest>
#include <QThread>

#include <chrono>
#include <functional>
#include <future>
#include <memory>

// A test object running a script with dtype and erfc on a stack.
class ErfcScriptTest : public QObject
{
protected:
    void startScript(QErfcStack* stack, const QString& prelude = QString())
    {
        m_engine = new JsRte;
        m_erfc = new JsQErfc(stack);
        m_engine->registerExtension(new JsRteType, JsRte::DeleteOnDestroy);
        m_engine->registerExtension(m_erfc, JsRte::DeleteOnDestroy);
        m_engine->init();
        eval("var log = []; function f() {} function g() {}" + prelude);
    }
    void stopScript()
    {
        delete m_engine;
        m_engine = nullptr;
        m_erfc = nullptr;
    }
    QString eval(const QString& code) { return m_engine->QScriptEngine::evaluate(code).toString(); }
    // The code's value as text, or "error: " and the message of what it threw.
    QString attempt(const QString& code)
    {
        return eval("try { String(" + code + ") } catch (e) { 'error: ' + (e.message === undefined ? e : e.message) }");
    }

    JsRte* m_engine = nullptr;
    JsQErfc* m_erfc = nullptr;
};

// A function of a stack that records each call's payload and answers as
// told; hold, when set, runs first, on the stack thread inside the call.
class TestFunction : public QObject
{
public:
    TestFunction(QErfcStack* stack, uchar fid, const QByteArray& payload = QByteArray())
        : m_stack(stack)
        , m_payload(payload)
        , m_function(fid, QStringLiteral("Test"), QErfc::User)
    {
        connect(&m_function, &QErfcFunction::callSignal, this,
                [this](QErfcIncomingRequest& request, QErfcResponse& response, QErfc::ResponseCode& code) {
                    if (hold)
                        hold();
                    QMutexLocker lock(&m_lock);
                    m_requests << request.payload();
                    response.payload() = m_payload;
                    code = m_code;
                },
                Qt::DirectConnection);
        m_stack->registerFunction(&m_function);
    }
    ~TestFunction() override { m_stack->unregisterFunction(&m_function); }

    void answer(QErfc::ResponseCode code, const QByteArray& payload)
    {
        QMutexLocker lock(&m_lock);
        m_code = code;
        m_payload = payload;
    }
    QList<QByteArray> requests() const
    {
        QMutexLocker lock(&m_lock);
        return m_requests;
    }

    std::function<void()> hold;

private:
    QErfcStack* m_stack;
    mutable QMutex m_lock;
    QErfc::ResponseCode m_code = QErfc::OK;
    QByteArray m_payload;
    QList<QByteArray> m_requests;
    // Destroyed first: it waits for a call still running on the stack
    // thread, which uses the members above.
    QErfcFunction m_function;
};

struct CallResult
{
    int code = -1; // -1: the call was refused or never completed
    QByteArray payload;
};

// Calls fid on node `to` through stack `from`, on a thread of its own.
inline std::future<CallResult> callFromWorker(QErfcStack* from, uchar to, uchar fid,
                                              const QByteArray& payload = QByteArray(),
                                              int retries = 3, int timeoutMs = 250)
{
    return std::async(std::launch::async, [=] {
        CallResult result;
        QErfcRequest request(to, fid, payload);
        request.setRetries(quint8(retries));
        request.setTimeout(quint8(timeoutMs));
        try {
            from->send(&request);
        } catch (const QErfcException&) {
            return result;
        }
        if (!request.waitForResponse(30000))
            return result;
        const QErfcIncomingResponse response = request.response();
        result.code = response.responseCode();
        result.payload = response.payload();
        return result;
    });
}

template <typename Future>
bool isReady(const Future& future)
{
    return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

// On any other thread: waits until the GUI thread has started a wait for
// another thread, at most 20 s; false when it has not.
inline bool waitUntilGuiWaits()
{
    const QDeadlineTimer deadline(20000);
    while (!QErfcGuiWait::isGuiThreadWaiting()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(1);
    }
    return true;
}

// A node of its own on a second loopback link of a hub stack.
class Spoke
{
public:
    Spoke(QErfcStack* hub, uchar address, QErfc::Mode mode = QErfc::Application)
        : stack(new QErfcStack(address, mode))
        , m_hub(hub)
        , m_hubDevice(new TcpServerTestDevice)
        , m_device(new TcpClientTestDevice(m_hubDevice->port()))
        , m_hubLink(new QErfcStreamInterface(m_hubDevice.get()))
        , m_link(new QErfcStreamInterface(m_device.get()))
    {
    }
    ~Spoke()
    {
        if (m_bound) {
            m_hub->releaseInterface(m_hubLink.get());
            stack->releaseInterface(m_link.get());
        }
        stack.reset();
    }

    // Binds both ends of the link.
    bool bind()
    {
        try {
            stack->bindInterface(m_link.get());
            m_hub->bindInterface(m_hubLink.get());
        } catch (const QErfcException&) {
            return false;
        }
        m_bound = true;
        return true;
    }
    // Binds, enables the node and waits until the hub and it know each other.
    bool join()
    {
        if (!m_bound && !bind())
            return false;
        stack->enable();
        const uchar own = stack->address();
        const uchar hub = m_hub->address();
        return QTest::qWaitFor([&] { return m_hub->knownNodes().contains(own)
                                            && stack->knownNodes().contains(hub); },
                               15000);
    }

    std::unique_ptr<QErfcStack> stack;

private:
    QErfcStack* m_hub;
    std::unique_ptr<TcpServerTestDevice> m_hubDevice;
    std::unique_ptr<TcpClientTestDevice> m_device;
    std::unique_ptr<QErfcStreamInterface> m_hubLink;
    std::unique_ptr<QErfcStreamInterface> m_link;
    bool m_bound = false;
};

#endif // ERFCFIXTURE_H
