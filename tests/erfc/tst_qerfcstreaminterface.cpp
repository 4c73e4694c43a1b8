#include "qerfcstreaminterface_p.h"
#include "rawpeer.h"
#include "tcptestdevice.h"

#include <QtTest>

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

namespace {

QByteArray hex(const char* text) { return QByteArray::fromHex(text); }

QList<QByteArray> feedAll(QErfcFrameStuffing& receiver, const QList<QByteArray>& reads)
{
    QList<QByteArray> frames;
    for (const QByteArray& read : reads)
        receiver.feed(read.constData(), read.size(), [&](const QByteArray& f) { frames.append(f); });
    return frames;
}

// A stream that accepts nothing.
class StalledDevice : public QErfcDevice
{
    class Stream : public QIODevice
    {
    public:
        Stream() { QIODevice::open(ReadWrite | Unbuffered); }
        bool isSequential() const override { return true; }
        qint64 readData(char*, qint64) override { return 0; }
        qint64 writeData(const char*, qint64) override { return 0; }
    } stream;

public:
    QIODevice* open() override { return &stream; }
    void close() override {}
};

// A stream link on the server side of a loopback connection, and the peer's end.
struct Loopback
{
    bool connect()
    {
        peer = peerDevice.open(); // its connect completes in the backlog before accept()
        return peer && link.bind();
    }
    TcpServerTestDevice server;
    TcpClientTestDevice peerDevice{server.port()};
    QErfcStreamInterface link{&server};
    QIODevice* peer = nullptr;
};

// A loopback peer's end as a bare descriptor with a small receive buffer,
// fixed before connecting; nothing reads it unless told.
struct SmallPeer
{
    explicit SmallPeer(quint16 port) : fd(connectLoopback(port, 8192)) {}
    ~SmallPeer()
    {
        if (fd >= 0)
            ::close(fd);
    }
    qint64 unread() const { return unreadBytes(fd); }
    // Reads what this end holds; the bytes read.
    qint64 take()
    {
        qint64 total = 0;
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof(buffer));
            if (n > 0)
                total += n;
            else if (n == 0 || errno != EINTR)
                return total;
        }
    }
    const int fd;
};

// What a link holds at most without having passed it on.
constexpr qint64 UnsentCap = 32 * 1024;

} // namespace

class tst_QErfcStreamInterface : public QObject
{
    Q_OBJECT

private slots:
    void unstuff_data();
    void unstuff();
    void linkOverLoopback();
    void rebindDropsPartialFrame();
    void transmitToStalledStream();
    void peerStopsReading();
    void stallReportedOnceWhilePeerTakesLittle();
    void floodIsReadInPortions();
    void stackAnswersAfterPeerStoppedReading();
};

void tst_QErfcStreamInterface::unstuff_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QList<QByteArray>>("frames");
    using L = QList<QByteArray>;
    QTest::newRow("reserved bytes") << hex("A001AAB002AAB503AABA04A5") << L{hex("01A002A503AA04")};
    QTest::newRow("empty frame") << hex("A0A5") << L{QByteArray()};
    QTest::newRow("noise, then back to back") << hex("1122A5AAB0A001A5A002A5") << L{hex("01"), hex("02")};
    QTest::newRow("start inside a frame") << hex("A00102A003A5") << L{hex("0102"), hex("03")};
    QTest::newRow("bad escape hunts") << hex("A001AA4102A503A004A5") << L{hex("01"), hex("04")};
    QTest::newRow("end after escape hunts") << hex("A001AAA502A5A003A5") << L{hex("01"), hex("03")};
    QTest::newRow("start after escape begins a frame") << hex("A001AAA002A5") << L{hex("01"), hex("02")};
    // No end within 86 bytes: what was collected goes up, then hunting.
    QTest::newRow("overlong run") << hex("A0") + QByteArray(90, '\x11') + hex("A005A5")
                                  << L{QByteArray(86, '\x11'), hex("05")};
    QTest::newRow("overlong run of escapes") << hex("A0") + hex("AAB0").repeated(87) + hex("11A006A5")
                                             << L{QByteArray(86, '\xA0'), hex("06")};
    QTest::newRow("largest stuffed frame") << hex("A0") + hex("AAB5").repeated(42) + hex("A5")
                                           << L{QByteArray(42, '\xA5')};
}

void tst_QErfcStreamInterface::unstuff()
{
    QFETCH(QByteArray, stream);
    QFETCH(QList<QByteArray>, frames);
    QErfcFrameStuffing whole;
    QCOMPARE(feedAll(whole, {stream}), frames);
    // Split in two at every offset: escapes and frames across reads.
    for (int cut = 1; cut < stream.size(); ++cut) {
        QErfcFrameStuffing split;
        QCOMPARE(feedAll(split, {stream.left(cut), stream.mid(cut)}), frames);
    }
}

void tst_QErfcStreamInterface::linkOverLoopback()
{
    Loopback loop;
    QVERIFY(!loop.link.transmit(hex("01"))); // not bound yet
    QVERIFY(loop.connect());
    QSignalSpy frames(&loop.link, &QErfcInterface::frameReceived);
    QVERIFY(loop.peer->write(hex("99A001AAB002AAB503AABA04A5")) > 0);
    QVERIFY(frames.wait(10000));
    QCOMPARE(frames.at(0).at(0).toByteArray(), hex("01A002A503AA04"));

    // Reserved bytes go escaped, escape-like values as they are.
    QVERIFY(loop.link.transmit(hex("01A002A503AA04")));
    QVERIFY(loop.link.transmit(hex("B0B5BAAB")));
    const QByteArray expected = hex("A001AAB002AAB503AABA04A5" "A0B0B5BAABA5");
    QTRY_COMPARE_WITH_TIMEOUT(loop.peer->bytesAvailable(), qint64(expected.size()), 10000);
    QCOMPARE(loop.peer->readAll().toHex(' '), expected.toHex(' '));

    // The peer goes away: the link asks to be released.
    QSignalSpy released(&loop.link, &QErfcInterface::releaseInterface);
    connect(&loop.link, &QErfcInterface::releaseInterface, &loop.link, &QErfcInterface::release);
    loop.peerDevice.close();
    QVERIFY(released.wait(10000));
    QCOMPARE(released.at(0).at(0).value<QErfcInterface*>(), &loop.link);
    QVERIFY(!loop.link.transmit(hex("01")));
}

void tst_QErfcStreamInterface::rebindDropsPartialFrame()
{
    Loopback loop;
    QVERIFY(loop.connect());
    QSignalSpy frames(&loop.link, &QErfcInterface::frameReceived);
    {
        QSignalSpy read(loop.server.socket(), &QIODevice::readyRead);
        QVERIFY(loop.peer->write(hex("A00102")) > 0);
        QVERIFY(read.wait(10000));
    }
    loop.link.release();
    // A new connection: its first bytes complete no frame of the old one.
    QVERIFY(loop.connect());
    QVERIFY(loop.peer->write(hex("03A5A004A5")) > 0);
    QVERIFY(frames.wait(10000));
    QCOMPARE(frames.at(0).at(0).toByteArray(), hex("04"));
}

void tst_QErfcStreamInterface::transmitToStalledStream()
{
    StalledDevice device;
    QErfcStreamInterface link(&device);
    QVERIFY(link.bind());
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!link.transmit(hex("0102")));
    QVERIFY2(timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed())));
}

void tst_QErfcStreamInterface::peerStopsReading()
{
    // The peer takes nothing, and the system buffers little on either end:
    // the peer's receive buffer is fixed before it connects, as the system
    // would otherwise grow it for as long as it takes in frames.
    Loopback loop;
    loop.peerDevice.setReceiveBufferSize(8192);
    QVERIFY(loop.connect());
    QTcpSocket* peer = loop.peerDevice.socket();
    QTcpSocket* server = loop.server.socket();
    peer->setReadBufferSize(4096);
    server->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, 4096);
    QSignalSpy stalled(&loop.link, &QErfcStreamInterface::stalled);

    const QByteArray frame = hex("11A022");
    const QByteArray stuffed = QErfcFrameStuffing::stuff(frame);
    const auto fill = [&](const QByteArray& each) {
        int taken = 0;
        while (taken < 100000 && loop.link.transmit(each))
            ++taken;
        return taken;
    };
    const int taken = fill(frame);
    QVERIFY2(taken < 100000, "the link took every frame");
    QVERIFY2(server->bytesToWrite() <= UnsentCap,
             qPrintable(QString::number(server->bytesToWrite())));

    // Stalled: each further frame is dropped at once (200 waits of the
    // write bound would take 20 s). No event loop runs meanwhile, so the
    // link passes nothing on, and the stall is reported once.
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < 200; ++i)
        QVERIFY(!loop.link.transmit(frame));
    QVERIFY2(timer.elapsed() < 10000, qPrintable(QString::number(timer.elapsed())));
    QTRY_VERIFY_WITH_TIMEOUT(!stalled.isEmpty(), 10000);
    QCoreApplication::sendPostedEvents(&loop.link);
    QCOMPARE(stalled.count(), 1);

    // The peer reads again: every frame taken arrives whole, then new ones.
    peer->setReadBufferSize(0);
    QByteArray received;
    QTRY_VERIFY_WITH_TIMEOUT((received += peer->readAll(), server->bytesToWrite() == 0), 30000);
    const QByteArray marker = hex("7E7F");
    QVERIFY(loop.link.transmit(marker));
    QTRY_VERIFY_WITH_TIMEOUT((received += peer->readAll()).endsWith(QErfcFrameStuffing::stuff(marker)),
                             30000);
    QCOMPARE(received, stuffed.repeated(taken) + QErfcFrameStuffing::stuff(marker));

    // A new stall is reported anew.
    peer->setReadBufferSize(4096);
    QVERIFY(fill(frame) < 100000);
    QTRY_COMPARE_WITH_TIMEOUT(stalled.count(), 2, 10000);
}

void tst_QErfcStreamInterface::stallReportedOnceWhilePeerTakesLittle()
{
    TcpServerTestDevice server;
    SmallPeer peer(server.port());
    QVERIFY(peer.fd >= 0);
    QErfcStreamInterface link(&server);
    QVERIFY(link.bind());
    QTcpSocket* socket = server.socket();
    socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, 4096);
    QSignalSpy stalled(&link, &QErfcStreamInterface::stalled);

    const QByteArray frame(40, '\x11');
    int taken = 0;
    while (taken < 100000 && link.transmit(frame))
        ++taken;
    QVERIFY2(taken < 100000, "the link took every frame");
    QTRY_COMPARE_WITH_TIMEOUT(stalled.count(), 1, 10000);

    // Now and then the peer takes what its small buffer holds, far less
    // than the link holds: the link passes some on and takes a few frames
    // again, and refuses the next one at once. It never drains, so the
    // stall goes on and is not reported again.
    for (int round = 0; round < 10; ++round) {
        QTRY_VERIFY_WITH_TIMEOUT(peer.unread() > 0, 30000);
        QVERIFY(peer.take() > 0);
        QTRY_VERIFY_WITH_TIMEOUT(link.transmit(frame), 30000);
        for (taken = 1; taken < 100000 && link.transmit(frame);)
            ++taken;
        QVERIFY2(taken < 100000, "the link took every frame");
        QVERIFY(socket->bytesToWrite() > 0);
    }
    QCoreApplication::sendPostedEvents(&link);
    QCOMPARE(stalled.count(), 1);
}

void tst_QErfcStreamInterface::floodIsReadInPortions()
{
    // 4 MB at once: the link takes at most 64 KiB from the system per read,
    // so that the frames of one read are handled before more is taken.
    Loopback loop;
    QVERIFY(loop.connect());
    int frames = 0;
    int largestRead = 0;
    int inThisRead = 0;
    connect(&loop.link, &QErfcInterface::frameReceived, this, [&] { ++frames, ++inThisRead; });
    // Connected after the link's own reader: runs once that read is handled.
    connect(loop.server.socket(), &QIODevice::readyRead, this, [&] {
        largestRead = qMax(largestRead, inThisRead);
        inThisRead = 0;
    });
    const QByteArray frame = QErfcFrameStuffing::stuff(QByteArray(62, '\x11')); // 64 bytes
    constexpr int Count = 65536;
    QVERIFY(loop.peer->write(frame.repeated(Count)) > 0);
    QTRY_COMPARE_WITH_TIMEOUT(frames, Count, 60000);
    QVERIFY2(largestRead <= 1024, qPrintable(QString::number(largestRead)));
}

void tst_QErfcStreamInterface::stackAnswersAfterPeerStoppedReading()
{
    constexpr uchar Own = 1;
    QErfcStack stack(Own);
    RawPeer peer(4);
    QVERIFY(peer.attach(&stack));
    stack.enable();
    auto* link = qobject_cast<QErfcStreamInterface*>(peer.link());
    QSignalSpy stalled(link, &QErfcStreamInterface::stalled);
    QVERIFY(peer.join());

    // ECHO requests whose answers nobody reads, 10000 at a time, until the
    // link has stalled: how much the system takes in at the peer's end
    // before that differs from machine to machine. The peer reads nothing
    // and so sends nothing (its requests would get stuck behind
    // acknowledgements its own full end drops): the stack takes them as if
    // the link had read them.
    peer.pauseReading();
    const int from = peer.frames().size();
    const quint32 before = stack.statistics().frameRx;
    constexpr int Batch = 10000;
    const QByteArray payload(32, 'e');
    quint32 sent = 0;
    for (int batch = 0; batch < 250 && stalled.isEmpty(); ++batch) {
        for (int i = 0; i < Batch; ++i)
            peer.inject(peer.request(Own, 0, payload));
        sent += Batch;
        // A plain wait, which fails at its bound (a QTRY waits twice as long
        // again first): only a stack thread held up misses it, such as by a
        // link that waits out its bound for every frame it cannot pass on.
        const bool taken = QTest::qWaitFor(
            [&] { return stack.statistics().frameRx - before >= sent; }, 120000);
        QVERIFY2(taken, qPrintable(QStringLiteral("the stack took %1 of %2 requests in")
                                       .arg(stack.statistics().frameRx - before)
                                       .arg(sent)));
    }
    QTRY_VERIFY_WITH_TIMEOUT(!stalled.isEmpty(), 10000);
    // Every answer made so far is in the link or dropped before the peer
    // reads again.
    QVERIFY(peer.waitForStackThread(120000));

    // Reading again, a new request is answered behind what the peer's end
    // held and little more: what the link held (its 32 KiB, and the small
    // system send buffer of the stack's end). An answer dropped while the
    // link was still full is asked for again. The first fresh answer counts,
    // whichever request it answers: a loaded machine drains the link slowly,
    // and an answer may come long after its request (for up to 100 s).
    const qint64 held = peer.resumeReading();
    const auto isFresh = [](const QErfcMsg& m) { return m.isResponse() && m.payload().startsWith("fresh "); };
    int answer = -1;
    for (int attempt = 0; attempt < 20 && answer < 0; ++attempt) {
        peer.send(peer.request(Own, 0, "fresh " + QByteArray::number(attempt)));
        answer = peer.waitFor(isFresh, from, 5000);
    }
    QVERIFY(answer >= 0);
    qint64 stale = 0;
    for (int i = from; i < answer; ++i)
        stale += QErfcFrameStuffing::stuff(peer.rawFrames().at(i)).size();
    QVERIFY2(stale - held < 512 * 1024,
             qPrintable(QStringLiteral("%1 bytes, %2 of them held by the peer").arg(stale).arg(held)));
}

QTEST_GUILESS_MAIN(tst_QErfcStreamInterface)
#include "tst_qerfcstreaminterface.moc"
