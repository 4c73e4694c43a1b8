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

// A fake node on the test thread that talks raw frames to one stack over
// loopback TCP and keeps every frame the stack sends, in arrival order. It
// reads only while the test thread runs its event loop (the waits do).
class RawPeer : public QObject
{
    Q_OBJECT
public:
    using Match = std::function<bool(const QErfcMsg&)>;

    explicit RawPeer(uchar address = 4, QObject* parent = nullptr);
    ~RawPeer() override; // releases the link if the stack still has it

    // Connects the socket and binds the stack's end of it. False on failure.
    bool attach(QErfcStack* stack);
    void detach();
    QErfcInterface* link() const { return m_link.get(); }
    void sendFrame(const QByteArray& frame); // stuffed, sent exactly as given
    // Stops taking bytes from the connection, with the system's send buffer
    // at the stack's end kept small, so that the stack's writes back up
    // soon; resumeReading reads everything held meanwhile and returns how
    // many bytes this end (Qt and the system) held unread when it resumed.
    // While paused, hand the stack frames with inject, not send.
    void pauseReading();
    qint64 resumeReading();
    void send(const QErfcMsg& msg);
    // Hands a frame to the stack as if its link had read it from this peer,
    // without sending it over the connection. An end that reads nothing
    // must not send: once its full receive buffer drops what the stack's
    // end sends, the system no longer takes the acknowledgements of this
    // end's own bytes either, and both ends back off for minutes.
    void inject(const QErfcMsg& msg);

    static QErfcMsg frame(uchar source, uchar destination, uchar functionId, uchar requestId,
                          bool windowBit, const QByteArray& payload = QByteArray());
    static QErfcMsg answer(const QErfcMsg& request, QErfc::ResponseCode code,
                           const QByteArray& payload = QByteArray());
    // A request with the peer's next id and the other window bit than its
    // last request, so the stack never takes it for a repetition.
    QErfcMsg request(uchar destination, uchar functionId, const QByteArray& payload);

    // NETWORK hello and goodbye datagrams to 63; join waits until the stack knows the peer.
    void hello(quint32 runId = 0x0A0B0C0D, uchar window = 16, QErfc::Mode mode = QErfc::Application,
               int source = -1);
    void goodbye(int source = -1);
    bool join(quint32 runId = 0x0A0B0C0D, uchar window = 16, QErfc::Mode mode = QErfc::Application);
    // A request to the stack, waiting for its answer; sync is an ECHO round
    // trip, after which every frame the stack queued before has arrived.
    bool call(uchar functionId, const QByteArray& payload, QErfcMsg* answerOut = nullptr,
              int timeoutMs = 10000);
    // Sends `request`; the index of its answer, -1 on time-out.
    int exchange(const QErfcMsg& request, int timeoutMs = 10000);
    bool sync(int timeoutMs = 10000);
    // Waits until the stack thread has handled what was posted to it before
    // this call, such as the frames the stack queued for its links meanwhile;
    // false on time-out.
    bool waitForStackThread(int timeoutMs = 10000);

    // Index of the first frame at or after `from` that matches; -1 on time-out.
    int waitFor(const Match& match, int from = 0, int timeoutMs = 10000);
    int count(const Match& match, int from = 0) const;

    const QList<QErfcMsg>& frames() const { return m_frames; }
    const QList<QByteArray>& rawFrames() const { return m_rawFrames; }

    static Match answerTo(const QErfcMsg& request);
    static bool isHello(const QErfcMsg& m);
    static bool isGoodbye(const QErfcMsg& m);
    static Match isRequest(uchar functionId); // a first transmission, not a repetition

private:
    void onReadyRead();
    void sendDatagram(int source, const QByteArray& payload);
    void noteRequest(const QErfcMsg& msg);

    uchar m_address;
    uchar m_nextRequestId = 0;
    bool m_lastWindowBit = false;
    QPointer<QErfcStack> m_stack;
    bool m_bound = false;
    bool m_paused = false;
    std::unique_ptr<TcpServerTestDevice> m_device;
    std::unique_ptr<QErfcStreamInterface> m_link;
    QTcpSocket m_socket;
    QErfcFrameStuffing m_receiver;
    QList<QErfcMsg> m_frames;
    QList<QByteArray> m_rawFrames;
};

// A stack's drcUpdate and errorDetected, in order, as "drc <address> <state>
// <mode>" and "error <code>".
class StackLog : public QObject
{
    Q_OBJECT
public:
    explicit StackLog(QErfcStack* stack);
    QStringList entries;
};

#endif // RAWPEER_H
