#include "rawpeer.h"
#include "qerfcexception.h"

#include <QAtomicInt>
#include <QHostAddress>
#include <QTest>

#include <sys/socket.h>

namespace {
constexpr uchar NetworkFunction = 5;
}

RawPeer::RawPeer(uchar address, QObject* parent)
    : QObject(parent)
    , m_address(address)
{
    connect(&m_socket, &QTcpSocket::readyRead, this, &RawPeer::onReadyRead);
}

RawPeer::~RawPeer()
{
    if (m_bound && m_stack) {
        try {
            m_stack->releaseInterface(m_link.get());
        } catch (const QErfcException&) {
        }
    }
    m_socket.abort();
    m_link.reset();
    m_device.reset();
}

bool RawPeer::attach(QErfcStack* stack)
{
    m_stack = stack;
    m_device.reset(new TcpServerTestDevice);
    m_link.reset(new QErfcStreamInterface(m_device.get()));
    m_socket.connectToHost(QHostAddress(QHostAddress::LocalHost), m_device->port());
    if (!m_socket.waitForConnected(10000))
        return false;
    m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    try {
        stack->bindInterface(m_link.get());
    } catch (const QErfcException&) {
        return false;
    }
    m_bound = true;
    return true;
}

void RawPeer::detach()
{
    m_bound = false;
    m_stack->releaseInterface(m_link.get());
}

void RawPeer::sendFrame(const QByteArray& frame)
{
    m_socket.write(QErfcFrameStuffing::stuff(frame));
    m_socket.flush();
}

void RawPeer::pauseReading()
{
    m_paused = true;
    // Qt stops reading from the system once it holds this much. (The
    // system's receive buffer keeps its size: a tiny one on loopback also
    // holds up this end's own sending.)
    m_socket.setReadBufferSize(4096);
    // The stack's end was opened (and is only ever closed) on the stack
    // thread; its descriptor is fixed since the bind returned.
    if (m_device && m_device->socket()) {
        const int size = 4096;
        ::setsockopt(int(m_device->socket()->socketDescriptor()), SOL_SOCKET, SO_SNDBUF, &size,
                     sizeof(size));
    }
}

qint64 RawPeer::resumeReading()
{
    const qint64 held = m_socket.bytesAvailable() + unreadBytes(int(m_socket.socketDescriptor()));
    m_paused = false;
    m_socket.setReadBufferSize(0);
    onReadyRead();
    return held;
}

void RawPeer::send(const QErfcMsg& msg)
{
    noteRequest(msg);
    sendFrame(msg.encode());
}

void RawPeer::inject(const QErfcMsg& msg)
{
    noteRequest(msg);
    // The link's own signal: the stack takes the frame on its thread, queued,
    // like every frame the link reads.
    emit m_link->frameReceived(msg.encode());
}

void RawPeer::noteRequest(const QErfcMsg& msg)
{
    if (!msg.isResponse() && msg.destination() < QErfcMsg::BroadcastAddress)
        m_lastWindowBit = msg.windowBit();
}

QErfcMsg RawPeer::frame(uchar source, uchar destination, uchar functionId, uchar requestId,
                        bool windowBit, const QByteArray& payload)
{
    QErfcMsg m;
    m.setSource(source);
    m.setDestination(destination);
    m.setFunctionId(functionId);
    m.setRequestId(requestId);
    m.setWindowBit(windowBit);
    m.setPayload(payload);
    return m;
}

QErfcMsg RawPeer::answer(const QErfcMsg& request, QErfc::ResponseCode code, const QByteArray& payload)
{
    QErfcMsg m = frame(request.destination(), request.source(), request.functionId(),
                       request.requestId(), request.windowBit(), payload);
    m.setResponse(true);
    m.setEvent(request.isEvent());
    m.setResponseCode(code);
    return m;
}

QErfcMsg RawPeer::request(uchar destination, uchar functionId, const QByteArray& payload)
{
    const uchar id = m_nextRequestId;
    m_nextRequestId = uchar((id + 1) % 16);
    return frame(m_address, destination, functionId, id, !m_lastWindowBit, payload);
}

void RawPeer::hello(quint32 runId, uchar window, QErfc::Mode mode, int source)
{
    const char p[] = {0, char(runId >> 24), char(runId >> 16), char(runId >> 8), char(runId),
                      char(window), char(mode)};
    sendDatagram(source, QByteArray(p, sizeof(p)));
}

void RawPeer::goodbye(int source)
{
    sendDatagram(source, QByteArray(1, '\1'));
}

void RawPeer::sendDatagram(int source, const QByteArray& payload)
{
    QErfcMsg m = frame(source < 0 ? m_address : uchar(source), QErfcMsg::BroadcastAddress,
                       NetworkFunction, 0, false, payload);
    m.setNoResponse(true);
    send(m);
}

bool RawPeer::join(quint32 runId, uchar window, QErfc::Mode mode)
{
    hello(runId, window, mode);
    return QTest::qWaitFor([this] { return m_stack && m_stack->knownNodes().contains(m_address); },
                           10000);
}

bool RawPeer::call(uchar functionId, const QByteArray& payload, QErfcMsg* answerOut, int timeoutMs)
{
    const int i = exchange(request(m_stack ? m_stack->address() : 0, functionId, payload), timeoutMs);
    if (i >= 0 && answerOut)
        *answerOut = m_frames.at(i);
    return i >= 0;
}

int RawPeer::exchange(const QErfcMsg& request, int timeoutMs)
{
    const int from = m_frames.size();
    send(request);
    return waitFor(answerTo(request), from, timeoutMs);
}

bool RawPeer::sync(int timeoutMs)
{
    return call(0, QByteArray("sync"), nullptr, timeoutMs);
}

bool RawPeer::waitForStackThread(int timeoutMs)
{
    // The stack's end of the connection lives on the stack thread: a call
    // queued to it runs after everything posted there before.
    QTcpSocket* socket = m_device ? m_device->socket() : nullptr;
    if (!socket)
        return false;
    auto done = std::make_shared<QAtomicInt>(0);
    QMetaObject::invokeMethod(socket, [done] { done->storeRelease(1); }, Qt::QueuedConnection);
    return QTest::qWaitFor([&] { return done->loadAcquire() == 1; }, timeoutMs);
}

int RawPeer::waitFor(const Match& match, int from, int timeoutMs)
{
    int found = -1;
    (void)QTest::qWaitFor([&] {
        for (; from < m_frames.size() && found < 0; ++from)
            found = match(m_frames.at(from)) ? from : -1;
        return found >= 0;
    }, timeoutMs);
    return found;
}

int RawPeer::count(const Match& match, int from) const
{
    int n = 0;
    for (int i = from; i < m_frames.size(); ++i)
        n += match(m_frames.at(i)) ? 1 : 0;
    return n;
}

RawPeer::Match RawPeer::answerTo(const QErfcMsg& request)
{
    const QErfcMsg expected = answer(request, QErfc::OK);
    return [expected](const QErfcMsg& m) {
        return m.isResponse() && m.source() == expected.source()
            && m.destination() == expected.destination() && m.functionId() == expected.functionId()
            && m.requestId() == expected.requestId() && m.windowBit() == expected.windowBit()
            && m.isEvent() == expected.isEvent();
    };
}

bool RawPeer::isHello(const QErfcMsg& m)
{
    return !m.isResponse() && m.destination() == QErfcMsg::BroadcastAddress
        && m.functionId() == NetworkFunction && m.payload().size() == 7 && m.payload().at(0) == 0;
}

bool RawPeer::isGoodbye(const QErfcMsg& m)
{
    return !m.isResponse() && m.destination() == QErfcMsg::BroadcastAddress
        && m.functionId() == NetworkFunction && m.payload() == QByteArray(1, '\1');
}

RawPeer::Match RawPeer::isRequest(uchar functionId)
{
    return [functionId](const QErfcMsg& m) {
        return !m.isResponse() && !m.isEvent() && m.functionId() == functionId && !m.retransmit()
            && m.destination() != QErfcMsg::BroadcastAddress;
    };
}

void RawPeer::onReadyRead()
{
    if (m_paused)
        return;
    const QByteArray bytes = m_socket.readAll();
    m_receiver.feed(bytes.constData(), bytes.size(), [this](const QByteArray& raw) {
        QErfcMsg m;
        if (m.decode(raw)) {
            m_rawFrames.append(raw);
            m_frames.append(m);
        }
    });
}

StackLog::StackLog(QErfcStack* stack)
{
    connect(stack, &QErfcStack::drcUpdate, this,
            [this](uchar addr, QErfc::DrcUpdate state, QErfc::Mode mode) {
                entries << QStringLiteral("drc %1 %2 %3").arg(addr).arg(int(state)).arg(int(mode));
            });
    connect(stack, &QErfcStack::errorDetected, this,
            [this](QErfc::Error error) { entries << QStringLiteral("error %1").arg(int(error)); });
}
