#ifndef NETWORKFIXTURE_H
#define NETWORKFIXTURE_H

// What the binding's network tests share: calls made from a worker thread
// (the test thread runs the script and must stay free for its handlers) and
// a further node joined to the script's stack over a link of its own.

#include "qerfcexception.h"
#include "qerfcrequest.h"
#include "qerfcstack.h"
#include "qerfcstreaminterface.h"
#include "tcptestdevice.h"

#include <QTest>

#include <chrono>
#include <future>
#include <memory>

struct CallResult
{
    int code = -1; // -1: the call was refused or never completed
    QByteArray payload;
    int retriesSent = 0; // retransmissions the calling stack made meanwhile
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
        const int retriesBefore = from->statistics().retries;
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
        result.retriesSent = from->statistics().retries - retriesBefore;
        return result;
    });
}

template <typename Future>
bool isReady(const Future& future)
{
    return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
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

#endif // NETWORKFIXTURE_H
