#ifndef RAWPEER_H
#define RAWPEER_H

#include "qerfcmsg.h"
#include "qerfcstack.h"
#include "qerfcstreaminterface.h"
#include "qerfcstreaminterface_p.h"
#include "tcptestdevice.h"

#include <QPointer>
#include <QStringList>
#include <QTcpSocket>
#include <functional>
#include <memory>

// A fake node on the test thread that talks raw frames to one stack over a
// loopback TCP connection. The stack binds a stream link on the listening
// side; the peer holds the other end as a plain socket, sends whatever frames
// a test builds, and keeps every frame the stack sends, in arrival order.
// The peer reads only while the test thread runs its event loop, which the
// wait helpers do.
class RawPeer : public QObject
{
    Q_OBJECT
public:
    using Match = std::function<bool(const QErfcMsg&)>;

    explicit RawPeer(uchar address = 4, QObject* parent = nullptr);
    // Releases the link from the stack when the stack still has it.
    ~RawPeer() override;

    // Connects the socket, then binds the link to the stack (the server
    // side's open() finds the connection waiting). False on failure.
    bool attach(QErfcStack* stack);
    // Releases the link from the stack.
    void detach();
    QErfcInterface* link() const { return m_link.get(); }
    uchar address() const { return m_address; }

    void sendRaw(const QByteArray& bytes);
    // Stuffs and sends one frame exactly as given (CRC included).
    void sendFrame(const QByteArray& frame);
    void send(const QErfcMsg& msg);

    // A request frame; the CRC is made by encode().
    static QErfcMsg frame(uchar source, uchar destination, uchar functionId, uchar requestId,
                          bool windowBit, const QByteArray& payload = QByteArray());
    // The answer a node gives to `request`.
    static QErfcMsg answer(const QErfcMsg& request, QErfc::ResponseCode code,
                           const QByteArray& payload = QByteArray());
    // A request from this peer with the peer's next request id and the other
    // window bit than its last request, so the stack never takes it for a
    // repetition.
    QErfcMsg request(uchar destination, uchar functionId, const QByteArray& payload);

    // NETWORK hello and goodbye datagrams to 63.
    void hello(quint32 runId = 0x0A0B0C0D, uchar window = 16, QErfc::Mode mode = QErfc::Application,
               int source = -1);
    void goodbye(int source = -1);
    // hello, then waits until the stack knows the peer.
    bool join(quint32 runId = 0x0A0B0C0D, uchar window = 16, QErfc::Mode mode = QErfc::Application);

    // Sends a request to the stack and waits for its answer.
    bool call(uchar functionId, const QByteArray& payload, QErfcMsg* answerOut = nullptr,
              int timeoutMs = 10000);
    // Returns once every frame the stack queued before now has arrived: the
    // stack answers a request (with an answer or an error code) after them.
    bool sync(int timeoutMs = 10000);

    // Index of the first frame at or after `from` that matches; -1 on time-out.
    int waitFor(const Match& match, int from = 0, int timeoutMs = 10000);
    int count(const Match& match, int from = 0) const;

    const QList<QErfcMsg>& frames() const { return m_frames; }
    const QList<QByteArray>& rawFrames() const { return m_rawFrames; }

    static Match answerTo(const QErfcMsg& request);
    static bool isHello(const QErfcMsg& m);
    static bool isGoodbye(const QErfcMsg& m);
    // A first transmission of a request (not a retransmission) for this function.
    static Match isRequest(uchar functionId);

private:
    void onReadyRead();
    // A NETWORK datagram to 63.
    void sendDatagram(int source, const QByteArray& payload);

    uchar m_address;
    uchar m_nextRequestId = 0;
    bool m_lastWindowBit = false;
    QPointer<QErfcStack> m_stack;
    bool m_bound = false;
    std::unique_ptr<TcpServerTestDevice> m_device;
    std::unique_ptr<QErfcStreamInterface> m_link;
    QTcpSocket m_socket;
    QErfcFrameStuffing m_receiver;
    QList<QErfcMsg> m_frames;
    QList<QByteArray> m_rawFrames;
};

// What a stack reports through drcUpdate and errorDetected, in the order it
// was emitted, as "drc <address> <state> <mode>" and "error <code>". Lives on
// the test thread; tests may add their own entries through connections to it.
class StackLog : public QObject
{
    Q_OBJECT
public:
    explicit StackLog(QErfcStack* stack);
    QStringList entries;
};

#endif // RAWPEER_H
