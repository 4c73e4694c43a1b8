#include "qerfcstreaminterface_p.h"
#include "tcptestdevice.h"

#include <QtTest>

#include <QScopeGuard>

namespace {

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(text);
}

QList<QByteArray> feedAll(QErfcFrameStuffing& receiver, const QList<QByteArray>& reads)
{
    QList<QByteArray> frames;
    for (const QByteArray& read : reads)
        receiver.feed(read.constData(), read.size(),
                      [&frames](const QByteArray& frame) { frames.append(frame); });
    return frames;
}

// Reads from the peer until `count` bytes came or 10 s passed.
QByteArray readBytes(QIODevice* peer, int count)
{
    QByteArray got;
    QElapsedTimer timer;
    timer.start();
    while (got.size() < count && timer.elapsed() < 10000) {
        if (!peer->bytesAvailable())
            peer->waitForReadyRead(100);
        got += peer->read(count - got.size());
    }
    return got;
}

// A stream that accepts nothing.
class StalledStream : public QIODevice
{
public:
    StalledStream() { open(QIODevice::ReadWrite | QIODevice::Unbuffered); }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char*, qint64) override { return 0; }
    qint64 writeData(const char*, qint64) override { return 0; }
};

class StalledDevice : public QErfcDevice
{
public:
    QIODevice* open() override { return &stream; }
    void close() override {}
    StalledStream stream;
};

// A stream link on the server side of a loopback connection, and the peer's
// end of that connection.
struct Loopback
{
    Loopback()
        : peerDevice(server.port())
        , link(&server)
    {
    }
    bool connect()
    {
        // Client first: its connect completes in the backlog before accept().
        peer = peerDevice.open();
        return peer && link.bind();
    }
    TcpServerTestDevice server;
    TcpClientTestDevice peerDevice;
    QErfcStreamInterface link;
    QIODevice* peer = nullptr;
};

} // namespace

class tst_QErfcStreamInterface : public QObject
{
    Q_OBJECT

private slots:
    void stuff_data();
    void stuff();
    void unstuff_data();
    void unstuff();
    void everyByteValueRoundTrips();
    void resetDropsPartialFrame();

    void receivesFrames();
    void transmitWritesStuffedBytes();
    void transmitToStalledStream();
    void peerDisconnectReleasesLink();
    void rebindDropsPartialFrame();
    void bindOnWorkerThread();
};

void tst_QErfcStreamInterface::stuff_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QByteArray>("stream");
    QTest::newRow("plain") << hex("0102") << hex("A00102A5");
    QTest::newRow("reserved bytes") << hex("01A002A503AA04") << hex("A001AAB002AAB503AABA04A5");
    QTest::newRow("empty") << QByteArray() << hex("A0A5");
    QTest::newRow("escape-like values pass") << hex("B0B5BAAB") << hex("A0B0B5BAABA5");
}

void tst_QErfcStreamInterface::stuff()
{
    QFETCH(QByteArray, frame);
    QFETCH(QByteArray, stream);
    QCOMPARE(QErfcFrameStuffing::stuff(frame).toHex(' '), stream.toHex(' '));
}

void tst_QErfcStreamInterface::unstuff_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QList<QByteArray>>("frames");

    QTest::newRow("reserved bytes") << hex("A001AAB002AAB503AABA04A5")
                                    << QList<QByteArray>{hex("01A002A503AA04")};
    QTest::newRow("noise before the start") << hex("1122A5AAB0A001A5") << QList<QByteArray>{hex("01")};
    QTest::newRow("back to back") << hex("A001A5A002A5") << QList<QByteArray>{hex("01"), hex("02")};
    QTest::newRow("start inside a frame") << hex("A00102A003A5")
                                          << QList<QByteArray>{hex("0102"), hex("03")};
    QTest::newRow("bad escape hunts") << hex("A001AA4102A503A004A5")
                                      << QList<QByteArray>{hex("01"), hex("04")};
    QTest::newRow("end after escape hunts") << hex("A001AAA502A5A003A5")
                                            << QList<QByteArray>{hex("01"), hex("03")};
    QTest::newRow("empty frame") << hex("A0A5") << QList<QByteArray>{QByteArray()};
    QTest::newRow("start after escape begins a frame") << hex("A001AAA002A5")
                                                       << QList<QByteArray>{hex("01"), hex("02")};

    // 90 bytes without an end: the 86 collected are handed up on the next
    // byte, the rest is skipped until a new start.
    QTest::newRow("overlong run") << hex("A0") + QByteArray(90, '\x11') + hex("A005A5")
                                  << QList<QByteArray>{QByteArray(86, '\x11'), hex("05")};
    QByteArray escaped = hex("A0");
    for (int i = 0; i < 87; ++i)
        escaped += hex("AAB0");
    QTest::newRow("overlong run of escapes") << escaped + hex("11A006A5")
                                             << QList<QByteArray>{QByteArray(86, '\xA0'), hex("06")};
    // The largest frame, all reserved values, still fits.
    QByteArray largest = hex("A0");
    for (int i = 0; i < 42; ++i)
        largest += hex("AAB5");
    QTest::newRow("largest stuffed frame") << largest + hex("A5")
                                           << QList<QByteArray>{QByteArray(42, '\xA5')};
}

void tst_QErfcStreamInterface::unstuff()
{
    QFETCH(QByteArray, stream);
    QFETCH(QList<QByteArray>, frames);

    QErfcFrameStuffing whole;
    QCOMPARE(feedAll(whole, {stream}), frames);

    // The same bytes one per read: escapes and frames split across reads.
    QList<QByteArray> reads;
    for (char byte : stream)
        reads.append(QByteArray(1, byte));
    QErfcFrameStuffing bytewise;
    QCOMPARE(feedAll(bytewise, reads), frames);

    // And split in two at every offset.
    for (int cut = 1; cut < stream.size(); ++cut) {
        QErfcFrameStuffing split;
        QCOMPARE(feedAll(split, {stream.left(cut), stream.mid(cut)}), frames);
    }
}

void tst_QErfcStreamInterface::everyByteValueRoundTrips()
{
    QByteArray all;
    for (int i = 0; i < 256; ++i)
        all.append(char(i));
    QErfcFrameStuffing receiver;
    QByteArray stream;
    QList<QByteArray> sent;
    for (int i = 0; i < all.size(); i += 42) {
        sent.append(all.mid(i, 42));
        stream += QErfcFrameStuffing::stuff(sent.last());
    }
    QCOMPARE(feedAll(receiver, {stream}), sent);
    QCOMPARE(receiver.state(), QErfcFrameStuffing::Hunting);
}

void tst_QErfcStreamInterface::resetDropsPartialFrame()
{
    QErfcFrameStuffing receiver;
    QVERIFY(feedAll(receiver, {hex("A00102AA")}).isEmpty());
    receiver.reset();
    QCOMPARE(receiver.state(), QErfcFrameStuffing::Hunting);
    QVERIFY(receiver.buffer().isEmpty());
    QCOMPARE(feedAll(receiver, {hex("B003A5A004A5")}), QList<QByteArray>{hex("04")});
}

void tst_QErfcStreamInterface::receivesFrames()
{
    Loopback loop;
    QVERIFY(loop.connect());
    QSignalSpy spy(&loop.link, &QErfcInterface::frameReceived);

    // An escape at the end of one write completed by the next.
    QVERIFY(loop.peer->write(hex("99A001AAB002AA")) > 0);
    QVERIFY(loop.peer->waitForBytesWritten(5000));
    QVERIFY(loop.peer->write(hex("B503AABA04A5A0A5")) > 0);
    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 2, 10000);
    QCOMPARE(spy.at(0).at(0).toByteArray(), hex("01A002A503AA04"));
    QCOMPARE(spy.at(1).at(0).toByteArray(), QByteArray());
}

void tst_QErfcStreamInterface::transmitWritesStuffedBytes()
{
    Loopback loop;
    QVERIFY(!loop.link.transmit(hex("01"))); // not bound yet
    QVERIFY(loop.connect());
    QVERIFY(loop.link.transmit(hex("01A002A503AA04")));
    QVERIFY(loop.link.transmit(hex("05")));
    const QByteArray expected = hex("A001AAB002AAB503AABA04A5A005A5");
    QCOMPARE(readBytes(loop.peer, expected.size()).toHex(' '), expected.toHex(' '));
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

    QErfcStreamInterface noDevice(nullptr);
    QVERIFY(!noDevice.bind());
}

void tst_QErfcStreamInterface::peerDisconnectReleasesLink()
{
    Loopback loop;
    QVERIFY(loop.connect());
    QSignalSpy released(&loop.link, &QErfcInterface::releaseInterface);
    // The handler releases the link at once, as a stack does.
    connect(&loop.link, &QErfcInterface::releaseInterface, &loop.link, &QErfcInterface::release);
    loop.peerDevice.close();
    QVERIFY(released.wait(10000));
    QCOMPARE(released.count(), 1);
    QCOMPARE(released.at(0).at(0).value<QErfcInterface*>(), &loop.link);
    QCOMPARE(loop.server.socket(), nullptr);
    QVERIFY(!loop.link.transmit(hex("01")));
}

void tst_QErfcStreamInterface::rebindDropsPartialFrame()
{
    Loopback loop;
    QVERIFY(loop.connect());
    QSignalSpy frames(&loop.link, &QErfcInterface::frameReceived);
    {
        // Wait until the link has taken the partial frame from its socket.
        QSignalSpy read(loop.server.socket(), &QIODevice::readyRead);
        QVERIFY(loop.peer->write(hex("A00102")) > 0);
        QVERIFY(read.wait(10000));
    }
    QCOMPARE(frames.count(), 0);
    loop.link.release();

    // A new connection: its first bytes complete no frame of the old one.
    QVERIFY(loop.connect());
    QVERIFY(loop.peer->write(hex("03A5A004A5")) > 0);
    QVERIFY(frames.wait(10000));
    QCOMPARE(frames.at(0).at(0).toByteArray(), hex("04"));
}

void tst_QErfcStreamInterface::bindOnWorkerThread()
{
    // The devices' open() and close() run on the thread that binds the link.
    QThread worker;
    worker.start();
    TcpServerTestDevice server;
    QErfcStreamInterface link(&server);
    TcpClientTestDevice peerDevice(server.port());
    const auto stop = qScopeGuard([&] {
        QMetaObject::invokeMethod(&link, [&] { link.release(); }, Qt::BlockingQueuedConnection);
        worker.quit();
        worker.wait();
    });
    server.moveToThread(&worker);
    link.moveToThread(&worker);
    QIODevice* peer = peerDevice.open();
    QVERIFY(peer);

    bool bound = false;
    QMetaObject::invokeMethod(&link, [&] { bound = link.bind(); }, Qt::BlockingQueuedConnection);
    QVERIFY(bound);
    QVERIFY(server.socket());
    QCOMPARE(server.socket()->thread(), &worker);

    QList<QByteArray> frames; // collected on this thread
    connect(&link, &QErfcInterface::frameReceived, this,
            [&frames](const QByteArray& frame) { frames.append(frame); });
    QVERIFY(peer->write(hex("A00708A5")) > 0);
    QTRY_COMPARE_WITH_TIMEOUT(frames, QList<QByteArray>{hex("0708")}, 10000);

    bool sent = false;
    QMetaObject::invokeMethod(&link, [&] { sent = link.transmit(hex("09")); },
                              Qt::BlockingQueuedConnection);
    QVERIFY(sent);
    QCOMPARE(readBytes(peer, 3), hex("A009A5"));
}

QTEST_GUILESS_MAIN(tst_QErfcStreamInterface)
#include "tst_qerfcstreaminterface.moc"
