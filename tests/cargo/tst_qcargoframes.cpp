// Cargo frames byte for byte against a raw peer: connect and its answers,
// blocks, end of window, next, missing, disconnect, the receiver's answer
// codes; and the mended faults that show on the wire.

#include "qcargo.h"
#include "qcargo_p.h"
#include "qcargoexec_p.h"
#include "qerfcstack.h"
#include "rawpeer.h"

#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>

#include <atomic>
#include <memory>

namespace {

constexpr uchar Own = 1, Peer = 4, Stranger = 5;
constexpr uchar Channel = 50;   // the peer's function when the stream connects
constexpr uchar Local = 77;     // the stream's function when it connects (0x4d)
constexpr uchar Listening = 60; // the stream's function when it listens
constexpr uchar PeerLocal = 5;  // the peer's function when it connects

QByteArray hex(const char* text) { return QByteArray::fromHex(text); }

QByteArray letters(int size)
{
    QByteArray out(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        out[i] = char('a' + i % 26);
    return out;
}

// "d <hex>" for a datagram, "r <hex>" for a request.
QString frame(const char* kind, int header, const QByteArray& data = QByteArray())
{
    return QString::fromLatin1(kind) + ' ' + QString::fromLatin1((char(header) + data).toHex());
}

} // namespace

class tst_QCargoFrames : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        stack.reset(new QErfcStack(Own));
        stack->setPrivilege(QErfc::Developer);
        stack->enable();
        peer.reset(new RawPeer(Peer));
        QVERIFY(peer->attach(stack.get()));
        QVERIFY(peer->join());
        cargo.reset(new QCargo(stack.get()));
    }
    void cleanup()
    {
        cargo.reset();
        peer.reset();
        stack.reset();
    }

    void connectFrame_data();
    void connectFrame();
    void sendWindowAndDisconnect();
    void nextAnsweredBeforeNextWindow();
    void missingAsTheWindowEnds();
    void receiveWindowWithGap();
    void answers_data();
    void answers();
    void endOfWindowOutlastsSlowLine();
    void destroyWhileControlThreadBlocked();
    void destroyWhileCapacityQueryOutstanding_data();
    void destroyWhileCapacityQueryOutstanding();

private:
    // First transmissions of requests and datagrams to `fid` from `from` on.
    QStringList sentTo(uchar fid, int from) const
    {
        QStringList out;
        for (int i = from; i < peer->frames().size(); ++i) {
            const QErfcMsg& m = peer->frames().at(i);
            if (!m.isResponse() && m.functionId() == fid && !m.retransmit())
                out << QString::fromLatin1((m.noResponse() ? "d " : "r ") + m.payload().toHex());
        }
        return out;
    }
    int waitForSent(uchar fid, const QByteArray& payload, int from)
    {
        return peer->waitFor([=](const QErfcMsg& m) {
            return !m.isResponse() && m.functionId() == fid && m.payload() == payload;
        }, from, 20000);
    }
    bool answer(uchar fid, const QByteArray& payload, int from, QErfc::ResponseCode code = QErfc::OK,
                const QByteArray& answer = QByteArray())
    {
        const int i = waitForSent(fid, payload, from);
        if (i >= 0)
            peer->send(RawPeer::answer(peer->frames().at(i), code, answer));
        return i >= 0;
    }
    // A request to the stream from `source`: its answer's code.
    int call(uchar fid, const QByteArray& payload, uchar source = Peer, QByteArray* answer = nullptr)
    {
        const QErfcMsg request = source == Peer ? peer->request(Own, fid, payload)
                                                : RawPeer::frame(source, Own, fid, 0, false, payload);
        const int i = peer->exchange(request, 20000);
        if (i >= 0 && answer)
            *answer = peer->frames().at(i).payload();
        return i < 0 ? -1 : peer->frames().at(i).responseCode();
    }
    void datagram(const QByteArray& payload)
    {
        QErfcMsg m = RawPeer::frame(Peer, Own, Listening, 0, false, payload);
        m.setNoResponse(true);
        peer->send(m);
    }
    // Connects, answering the capacity query (0: refused) and the connect.
    bool connectStream(quint16 capacity = 300, const QByteArray& connectAnswer = hex("030010"))
    {
        const int from = peer->frames().size();
        cargo->setLocalFunctionId(Local);
        cargo->connectToNode(Peer, Channel, true);
        const QByteArray capacityAnswer = QByteArray(1, 4) + char(capacity & 0xFF) + char(capacity >> 8) + '\0';
        if (!answer(5, hex("04ffff00"), from, capacity ? QErfc::OK : QErfc::UnknownFid,
                    capacity ? capacityAnswer : QByteArray()))
            return false;
        const int i = peer->waitFor(RawPeer::isRequest(Channel), from, 20000);
        if (i >= 0)
            peer->send(RawPeer::answer(peer->frames().at(i), QErfc::OK, connectAnswer));
        return i >= 0;
    }
    bool listenStream(const QByteArray& connect = hex("11050010"))
    {
        QByteArray answer;
        return cargo->listen(QErfc::User, Listening) && call(Listening, connect, Peer, &answer) == QErfc::OK
            && answer == char(3) + connect.mid(2) && cargo->state() == QCargo::StateConnected;
    }

    std::unique_ptr<QErfcStack> stack;
    std::unique_ptr<RawPeer> peer;
    std::unique_ptr<QCargo> cargo;
};

void tst_QCargoFrames::connectFrame_data()
{
    QTest::addColumn<int>("capacity"); // 0: the capacity query is refused
    QTest::addColumn<int>("lineRate");
    QTest::addColumn<QByteArray>("frame");

    QTest::newRow("capacity 100") << 100 << 0 << hex("114d0e06"); // 1550
    QTest::newRow("capacity 258") << 258 << 0 << hex("114d9f0f"); // 3999
    QTest::newRow("capacity 300") << 300 << 0 << hex("114d0010");
    QTest::newRow("no capacity") << 0 << 0 << hex("114d0010");
    // 1200 baud: the own window crosses the line in at most 10 s.
    QTest::newRow("1200 baud") << 300 << 120 << hex("114d8f03"); // 911
}

void tst_QCargoFrames::connectFrame()
{
    QFETCH(int, capacity);
    QFETCH(int, lineRate);
    QFETCH(QByteArray, frame);

    cargo->setLinkByteRate(lineRate);
    QVERIFY(connectStream(quint16(capacity), hex("030008")));
    QVERIFY(cargo->waitForConnected(20000));
    QCOMPARE(sentTo(Channel, 0), QStringList{"r " + frame.toHex()});
    QCOMPARE(cargo->ownWindow(), quint16(uchar(frame.at(2)) | uchar(frame.at(3)) << 8));
    QCOMPARE(cargo->peerWindow(), quint16(2048));
}

void tst_QCargoFrames::sendWindowAndDisconnect()
{
    QVERIFY(connectStream());
    QVERIFY(cargo->waitForConnected(20000));
    QSignalSpy finished(cargo.get(), &QCargo::finished);

    // Datagram blocks of 31, 31, 31 and 7 numbered 0..3, the end of the
    // window a request numbered 4; done only when the peer's next comes.
    const QByteArray data = letters(100);
    int from = peer->frames().size();
    QCOMPARE(cargo->write(data), qint64(100));
    QVERIFY(answer(Channel, hex("34"), from));
    QCOMPARE(sentTo(Channel, from), (QStringList{frame("d", 0x30, data.mid(0, 31)),
                                                frame("d", 0x31, data.mid(31, 31)),
                                                frame("d", 0x32, data.mid(62, 31)),
                                                frame("d", 0x33, data.mid(93)), frame("r", 0x34)}));
    QVERIFY(finished.isEmpty());
    QCOMPARE(call(Local, hex("400010")), int(QErfc::OK));
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 20000);

    // Disconnected only once the peer has answered the disconnect.
    QVERIFY(peer->sync());
    from = peer->frames().size();
    cargo->disconnectFromNode();
    QVERIFY(waitForSent(Channel, hex("20"), from) >= 0);
    QCOMPARE(cargo->state(), QCargo::StateConnected);
    QVERIFY(answer(Channel, hex("20"), from));
    QVERIFY(cargo->waitForDisconnected(20000));
    QCOMPARE(sentTo(Channel, from), QStringList{"r 20"});
    QVERIFY(!stack->functionIds().contains(Local));
}

void tst_QCargoFrames::nextAnsweredBeforeNextWindow()
{
    QVERIFY(connectStream());
    QVERIFY(cargo->waitForConnected(20000));

    // 5000 bytes: a window of 4096 in 133 blocks, their numbers wrapping.
    const QByteArray data = letters(5000);
    int from = peer->frames().size();
    cargo->write(data);
    QVERIFY(answer(Channel, hex("35"), from));
    QCOMPARE(sentTo(Channel, from).at(132), frame("d", 0x34, data.mid(132 * 31, 4)));

    // The answer to the next must leave ahead of the window it lets go. The
    // stack thread is held as it queues that answer until the sender has
    // queued a second full block, or for a second.
    auto blockQueued = std::make_shared<QSemaphore>();
    auto holding = std::make_shared<std::atomic<bool>>(true);
    auto blocks = std::make_shared<std::atomic<int>>(0);
    const QMetaObject::Connection hold = connect(stack.get(), &QErfcStack::trafficTx, this,
        [blockQueued, holding, blocks](int bytes) {
            if (bytes == 38 && blocks->fetch_add(1) == 1) // a full block
                blockQueued->release();
            else if (bytes == 6 && holding->exchange(false)) // an answer without payload
                blockQueued->tryAcquire(1, 1000);
        }, Qt::DirectConnection);
    from = peer->frames().size();
    const int answered = peer->exchange(peer->request(Own, Local, hex("400010")), 20000);
    QVERIFY(answered >= 0);
    QCOMPARE(peer->frames().at(answered).responseCode(), QErfc::OK);
    QVERIFY(waitForSent(Channel, hex("30") + data.mid(4096, 31), from) > answered);
    // The new window is numbered from 0 again (its first block is its first frame).
    QCOMPARE(sentTo(Channel, from).value(0), frame("d", 0x30, data.mid(4096, 31)));
    QObject::disconnect(hold);
}

void tst_QCargoFrames::missingAsTheWindowEnds()
{
    // On a slow line the end of the window still waits behind the blocks
    // when the missing comes: the missing must not be lost. The window goes
    // again from byte 62, its first block confirmed, numbered from 0.
    cargo->setLinkByteRate(100);
    QVERIFY(connectStream());
    QVERIFY(cargo->waitForConnected(20000));
    QSignalSpy finished(cargo.get(), &QCargo::finished);
    const QByteArray data = letters(100);
    cargo->write(data);
    QVERIFY(waitForSent(Channel, hex("33") + data.mid(93), 0) >= 0);
    const int restart = peer->frames().size();
    QCOMPARE(call(Local, hex("503e00")), int(QErfc::OK));
    QVERIFY(answer(Channel, char(0xB0) + data.mid(62, 31), restart));
    QVERIFY(answer(Channel, hex("32"), restart));
    QCOMPARE(call(Local, hex("400010")), int(QErfc::OK));
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 20000);
    QCOMPARE(sentTo(Channel, restart), (QStringList{frame("r", 0xB0, data.mid(62, 31)),
                                                   frame("d", 0x31, data.mid(93)), frame("r", 0x32)}));
    QCOMPARE(cargo->counters().windowRestarts, quint64(1));
}

void tst_QCargoFrames::receiveWindowWithGap()
{
    QVERIFY(listenStream());
    QSignalSpy readyRead(cargo.get(), &QCargo::readyRead);
    const QByteArray data = letters(100);
    const int from = peer->frames().size();

    // Block 2 lost: a missing from offset 62; plain blocks and the end of
    // the window are ignored until the confirmed block 0 restarts there; the
    // end of the window brings a next with the own window and one readyRead.
    datagram(char(0x30) + data.mid(0, 31));
    datagram(char(0x31) + data.mid(31, 31));
    datagram(char(0x33) + data.mid(62, 31));
    QVERIFY(answer(PeerLocal, hex("503e00"), from));
    datagram(char(0x34) + data.mid(93));
    QCOMPARE(call(Listening, hex("35")), int(QErfc::OK));
    QCOMPARE(cargo->bytesAvailable(), qint64(62));
    QCOMPARE(call(Listening, char(0xB0) + data.mid(62, 31)), int(QErfc::OK));
    datagram(char(0x31) + data.mid(93));
    QTRY_COMPARE_WITH_TIMEOUT(cargo->bytesAvailable(), qint64(100), 20000); // before the end
    QVERIFY(readyRead.isEmpty());
    QCOMPARE(call(Listening, hex("32")), int(QErfc::OK));
    QVERIFY(answer(PeerLocal, hex("400010"), from));
    QTRY_COMPARE_WITH_TIMEOUT(readyRead.count(), 1, 20000);
    QCOMPARE(cargo->readAll(), data);
    QCOMPARE(sentTo(PeerLocal, from), (QStringList{"r 503e00", "r 400010"}));
}

void tst_QCargoFrames::answers_data()
{
    QTest::addColumn<int>("setup"); // the stream's state
    QTest::addColumn<int>("source");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("after"); // the state afterwards
    QTest::addColumn<int>("peerWindow");

    const int L = QCargo::StateListening, C = QCargo::StateConnecting, K = QCargo::StateConnected,
              D = QCargo::StateDisconnected;
    QTest::newRow("empty") << L << 4 << QByteArray() << 12 << L << 0;
    QTest::newRow("connect number 0") << L << 4 << hex("10050010") << 13 << L << 0;
    QTest::newRow("data while listening") << L << 4 << hex("3041") << 1 << L << 0;
    QTest::newRow("connecting, stranger's disconnect") << C << 5 << hex("20") << 1 << C << 0;
    QTest::newRow("connecting, peer's disconnect") << C << 4 << hex("20") << 0 << D << 0;
    QTest::newRow("connect again") << K << 4 << hex("11050010") << 1 << K << 2048;
    QTest::newRow("stranger's block") << K << 5 << hex("3041") << 1 << K << 2048;
    QTest::newRow("block out of sequence") << K << 4 << hex("3541") << 0 << K << 2048;
    QTest::newRow("next window 0 refused") << K << 4 << hex("400000") << 12 << K << 2048;
    QTest::newRow("next window 1 taken") << K << 4 << hex("400100") << 0 << K << 1;
    QTest::newRow("next window 4096 taken") << K << 4 << hex("400010") << 0 << K << 4096;
    QTest::newRow("next window 4097 refused") << K << 4 << hex("400110") << 12 << K << 2048;
}

void tst_QCargoFrames::answers()
{
    QFETCH(int, setup);
    QFETCH(int, source);
    QFETCH(QByteArray, payload);
    QFETCH(int, code);
    QFETCH(int, after);
    QFETCH(int, peerWindow);

    peer->hello(0x01020304, 16, QErfc::Application, Stranger);
    QTRY_VERIFY_WITH_TIMEOUT(stack->knownNodes().contains(Stranger), 20000);
    uchar fid = Listening;
    if (setup == QCargo::StateConnecting) {
        cargo->setLocalFunctionId(fid = Local);
        cargo->connectToNode(Peer, Channel, true);
        QVERIFY(waitForSent(Channel, hex("114d0010"), 0) >= 0); // left unanswered
    } else if (setup == QCargo::StateConnected) {
        QVERIFY(listenStream(hex("11050008")));
    } else {
        QVERIFY(cargo->listen(QErfc::User, Listening));
    }
    QCOMPARE(call(fid, payload, uchar(source)), code);
    QCOMPARE(int(cargo->state()), after);
    QCOMPARE(int(cargo->peerWindow()), peerWindow);
    QCOMPARE(stack->functionIds().contains(fid), after != QCargo::StateDisconnected);
}

void tst_QCargoFrames::endOfWindowOutlastsSlowLine()
{
    // At 2000 bytes/s a request may wait about 5.4 s in the line's queues:
    // the end of the window is tried for longer than 10 retries of 250 ms,
    // so an answer after 3 s still counts.
    cargo->setLinkByteRate(2000);
    QVERIFY(connectStream());
    QVERIFY(cargo->waitForConnected(20000));
    QSignalSpy finished(cargo.get(), &QCargo::finished);
    const int from = peer->frames().size();
    cargo->write(letters(100));
    QTRY_VERIFY_WITH_TIMEOUT(peer->count([](const QErfcMsg& m) {
        return !m.isResponse() && m.functionId() == Channel && m.payload() == hex("34");
    }, from) >= 13, 20000);
    QCOMPARE(cargo->state(), QCargo::StateConnected);
    QVERIFY(answer(Channel, hex("34"), from));
    QCOMPARE(call(Local, hex("400010")), int(QErfc::OK));
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 20000);
}

void tst_QCargoFrames::destroyWhileControlThreadBlocked()
{
    // The stream's next goes unanswered, so its control thread waits in that
    // request; destroying the stream still takes its function off at once.
    QVERIFY(listenStream());
    const int from = peer->frames().size();
    datagram(hex("3078"));
    QCOMPARE(call(Listening, hex("31")), int(QErfc::OK));
    QVERIFY(waitForSent(PeerLocal, hex("400010"), from) >= 0);
    cargo.reset();
    QVERIFY(!stack->functionIds().contains(Listening));
    QCOMPARE(call(Listening, hex("00")), int(QErfc::UnknownFid));
}

void tst_QCargoFrames::destroyWhileCapacityQueryOutstanding_data()
{
    QTest::addColumn<int>("code"); // how the query ends after the stream went; -1: no answer
    QTest::newRow("answered") << int(QErfc::OK);
    QTest::newRow("unanswered") << -1;
}

void tst_QCargoFrames::destroyWhileCapacityQueryOutstanding()
{
    // The stream goes while its connect waits for the node's channel
    // capacity, so its control thread has ended by the time the query
    // completes: what that thread made for the query is freed all the same
    // (a leak fails the run under the leak checker).
    QFETCH(int, code);
    cargo->connectToNode(Peer, Channel);
    const int query = waitForSent(5, hex("04ffff00"), 0);
    QVERIFY(query >= 0);
    cargo.reset();
    if (code >= 0)
        peer->send(RawPeer::answer(peer->frames().at(query), QErfc::OK, hex("04000100")));
    QVERIFY(peer->sync());
    QCOMPARE(peer->count(RawPeer::isRequest(Channel)), 0); // no connect went out
}

QTEST_GUILESS_MAIN(tst_QCargoFrames)
#include "tst_qcargoframes.moc"
