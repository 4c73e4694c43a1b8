#include "qerfcexception.h"
#include "qerfcnodeinfo.h"
#include "qerfcrequest.h"
#include "qerfcstack.h"
#include "qerfcstreaminterface.h"
#include "rawpeer.h"
#include "tcptestdevice.h"

#include <QtTest>

#include <atomic>
#include <memory>

// QErfcNodeInfo against the test node program, and against a raw node where
// the answers must be shaped by hand (failed pings, short answers).
namespace {

constexpr uchar Own = 1;
constexpr uchar Node = 10; // the test node
constexpr uchar Peer = 4;  // a raw node
constexpr uchar Absent = 30;
using List = QMap<quint8, QString>;

// The test node program, listening on a free loopback port.
class TestNode
{
public:
    ~TestNode()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(10000);
        }
    }

    // Starts the program; the port it listens on, or 0.
    quint16 start(const QStringList& options)
    {
        process.setProgram(QStringLiteral(TESTNODE_PATH));
        process.setArguments(QStringList{"--address", QString::number(Node), "--listen", "0",
                                         "--tick", "0"}
                             + options);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start();
        QDeadlineTimer deadline(20000);
        while (process.waitForReadyRead(int(qMax<qint64>(deadline.remainingTime(), 1)))) {
            while (process.canReadLine()) {
                const QByteArray line = process.readLine().trimmed();
                if (line.startsWith("listening port="))
                    return quint16(line.mid(15).toUInt());
            }
            if (deadline.hasExpired())
                break;
        }
        return 0;
    }

    QProcess process;
};

// What a QErfcNodeInfo signals, in order, on the test thread.
class InfoLog : public QObject
{
public:
    explicit InfoLog(QErfcNodeInfo* info)
    {
        const auto ids = [](const List& list) {
            QString out;
            for (quint8 id : list.keys())
                out += QStringLiteral(" %1").arg(id);
            return out;
        };
        connect(info, &QErfcNodeInfo::nodeUpdate, this, [this](QErfc::DrcUpdate s, QErfc::Mode m) {
            entries << QStringLiteral("node %1 %2").arg(int(s)).arg(int(m));
        });
        connect(info, &QErfcNodeInfo::statisticsRefreshed, this,
                [this](QErfcStatistics) { entries << "statistics"; });
        using State = QErfcNodeInfo::NodeInfoState;
        connect(info, &QErfcNodeInfo::nodeInfoRefreshed, this,
                [this](State s) { entries << "info " + QString::number(s); });
        connect(info, &QErfcNodeInfo::functionListRefreshed, this,
                [this, ids](List list) { entries << "functions" + ids(list); });
        connect(info, &QErfcNodeInfo::eventListRefreshed, this,
                [this, ids](List list) { entries << "events" + ids(list); });
        connect(info, &QErfcNodeInfo::channelCapacityRefreshed, this,
                [this](quint16 c) { entries << QStringLiteral("capacity %1").arg(c); });
        connect(info, &QErfcNodeInfo::refreshFinished, this, [this] { entries << "finished"; });
        connect(info, &QErfcNodeInfo::pingFinished, this, [this](uint delay) {
            entries << (delay == QErfcNodeInfo::NoPing ? QStringLiteral("ping none")
                                                       : QStringLiteral("ping %1").arg(delay));
        });
    }
    QStringList entries;
};

QList<uint> counters(const QErfcStatistics& s)
{
    return {s.frameTx,    s.frameRx,     s.crcError,        s.routing,      s.routingError,
            s.retries,    s.maxRetries,  s.retransmit,      s.unknownNode,  s.unknownFunction,
            s.unknownEvent, s.unexpResponse, s.rxqueueFull};
}

} // namespace

class tst_QErfcNodeInfo : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void itemsAndModeWaits();
    void statisticsListsCapacityAndPing();
    void resetLeavesNodeUnavailableUntilNew();
    void refusedRequestsCountAsFailedAnswers();
    void ping_data();
    void ping();
    void channelCapacityAnswer_data();
    void channelCapacityAnswer();
    void statisticsAnswer_data();
    void statisticsAnswer();
    void waitsOnStackThreadReturnAtOnce();
    void nodeWaitsUnderChurn();

private:
    bool startNode(const QStringList& options = {});
    bool bindLink();
    void releaseLink();
    // Attaches a raw node and waits until the stack knows it.
    bool attachPeer();
    // Waits for the next request of the raw node's to `functionId` and
    // answers it; false when none came.
    bool answerNext(uchar functionId, int from, QErfc::ResponseCode code, const QByteArray& payload,
                    QByteArray* requestPayload = nullptr);

    std::unique_ptr<QErfcStack> stack;
    std::unique_ptr<TestNode> node;
    quint16 port = 0;
    std::unique_ptr<TcpClientTestDevice> device;
    std::unique_ptr<QErfcStreamInterface> link;
    bool bound = false;
    std::unique_ptr<RawPeer> peer;
};

void tst_QErfcNodeInfo::init()
{
    stack.reset(new QErfcStack(Own));
    stack->enable();
}

void tst_QErfcNodeInfo::cleanup()
{
    peer.reset();
    releaseLink();
    link.reset();
    device.reset();
    stack.reset();
    node.reset();
}

bool tst_QErfcNodeInfo::startNode(const QStringList& options)
{
    node.reset(new TestNode);
    port = node->start(options);
    return port != 0;
}

bool tst_QErfcNodeInfo::bindLink()
{
    link.reset();
    device.reset(new TcpClientTestDevice(port));
    link.reset(new QErfcStreamInterface(device.get()));
    try {
        stack->bindInterface(link.get());
    } catch (const QErfcException&) {
        return false;
    }
    bound = true;
    return true;
}

void tst_QErfcNodeInfo::releaseLink()
{
    if (bound)
        stack->releaseInterface(link.get());
    bound = false;
}

bool tst_QErfcNodeInfo::attachPeer()
{
    peer.reset(new RawPeer(Peer));
    return peer->attach(stack.get()) && peer->join();
}

bool tst_QErfcNodeInfo::answerNext(uchar functionId, int from, QErfc::ResponseCode code,
                                   const QByteArray& payload, QByteArray* requestPayload)
{
    const int i = peer->waitFor(RawPeer::isRequest(functionId), from);
    if (i < 0)
        return false;
    if (requestPayload)
        *requestPayload = peer->frames().at(i).payload();
    peer->send(RawPeer::answer(peer->frames().at(i), code, payload));
    return true;
}

void tst_QErfcNodeInfo::itemsAndModeWaits()
{
    QVERIFY(startNode({"--description", "Bench node", "--serial-number", "SN-77", "--unique-id",
                       "a1b2c3", "--mode", "maintenance"}));
    QErfcNodeInfo info(stack.get(), Node);
    InfoLog log(&info);
    QVERIFY(!info.isAvailable());

    // A waiter blocked before the node appears is woken by its arrival.
    bool inMaintenance = false;
    std::unique_ptr<QThread> waiter(
        QThread::create([&] { inMaintenance = info.waitForMode(QErfc::Maintenance, 20000); }));
    waiter->start();
    QVERIFY(bindLink());
    QTRY_VERIFY_WITH_TIMEOUT(waiter->isFinished(), 25000);
    QVERIFY(inMaintenance);
    QVERIFY(info.isAvailable());
    QVERIFY(info.waitForNode(0));
    QVERIFY(!info.waitForMode(QErfc::Application, 200));

    info.refreshNodeInfo();
    QVERIFY(info.waitForNodeInfo(10000));
    QCOMPARE(info.protocolVersion(), QStringLiteral("02"));
    QCOMPARE(info.nodeDescription(), QStringLiteral("Bench node"));
    QCOMPARE(info.softwareVersion(), QStringLiteral("1.0"));
    QCOMPARE(info.softwareHash(), QByteArray());
    QCOMPARE(info.bootloaderVersion(), QString());
    QCOMPARE(info.hardwareDescription(), QStringLiteral("erfc-testnode"));
    QCOMPARE(info.serial(), QStringLiteral("SN-77"));
    QCOMPARE(info.uniqueId(), QByteArray::fromHex("a1b2c3"));
    QCOMPARE(info.mode(), QErfc::Maintenance);
    QCOMPARE(info.property("mode").value<QErfc::Mode>(), QErfc::Maintenance);
    // The node keeps no manufacturer or domain: the batch ends in error.
    QCOMPARE(info.manufacturer(), QString());
    QCOMPARE(info.domain(), QString());
    QTRY_COMPARE_WITH_TIMEOUT(log.entries, (QStringList{"node 0 1", "info 1", "finished"}), 10000);
}

void tst_QErfcNodeInfo::statisticsListsCapacityAndPing()
{
    QVERIFY(startNode());
    QErfcNodeInfo info(stack.get(), Node);
    InfoLog log(&info);
    QVERIFY(bindLink());
    QVERIFY(info.waitForNode(15000));

    // One request for a function the node does not offer shows in its counters.
    QErfcRequest unknown(Node, 99);
    QVERIFY(stack->send(&unknown));
    QVERIFY(unknown.waitForResponse(10000));
    QCOMPARE(unknown.response().responseCode(), QErfc::UnknownFid);
    info.refreshStatistics();
    QVERIFY(info.waitForStatistics(10000));
    const QErfcStatistics statistics = info.statistics();
    QCOMPARE(statistics.unknownFunction, quint16(1));
    QVERIFY(statistics.frameRx >= 2);
    QVERIFY(statistics.frameTx >= 2);
    QCOMPARE(statistics.crcError, quint16(0));
    QCOMPARE(statistics.routingError, quint16(0));

    // The list waits wait for the batch actually asked for.
    info.refreshFunctionList(14, 17);
    QVERIFY(info.waitForFunctionList(10000));
    QCOMPARE(info.functionList(), (List{{15, "STATISTICS"}, {16, "ECHO16"}}));
    QVERIFY(!info.waitForFunctionList(0));
    info.refreshFunctionList(0, 2);
    QVERIFY(info.waitForFunctionList(10000));
    QCOMPARE(info.functionList(), (List{{0, "ECHO"}, {1, "NODE_INFO"}, {2, "FUNCTION_INFO"}}));
    info.refreshEventList(14, 17);
    QVERIFY(info.waitForEventList(10000));
    QCOMPARE(info.eventList(), (List{{16, "TICK"}}));

    info.refreshChannelCapacity();
    QVERIFY(info.waitForChannelCapacity(10000));
    QCOMPARE(info.channelCapacity(), quint16(0xFFFF));

    info.ping();
    const uint delay = info.waitForPing(10000);
    QVERIFY2(delay < 10000, qPrintable(QString::number(delay)));

    QTRY_COMPARE_WITH_TIMEOUT(log.entries,
                              (QStringList{"node 0 0", "statistics", "finished", "functions 15 16",
                                           "finished", "functions 0 1 2", "finished", "events 16",
                                           "finished", "capacity 65535", "finished",
                                           QStringLiteral("ping %1").arg(delay)}),
                              10000);
}

void tst_QErfcNodeInfo::resetLeavesNodeUnavailableUntilNew()
{
    QVERIFY(startNode());
    QErfcNodeInfo info(stack.get(), Node);
    InfoLog log(&info);
    QVERIFY(bindLink());
    QVERIFY(info.waitForNode(15000));
    QTRY_COMPARE_WITH_TIMEOUT(log.entries, QStringList{"node 0 0"}, 10000);

    // The test node cannot be reset; the client does not look at the answer.
    QErfcRequest reset(Node, 4, QByteArray(2, '\0'));
    QVERIFY(stack->send(&reset));
    QVERIFY(reset.waitForResponse(10000));
    QCOMPARE(reset.response().responseCode(), QErfc::FunctionError);
    info.resetNode(QErfc::Maintenance);
    QVERIFY(!info.isAvailable());
    QVERIFY(stack->knownNodes().contains(Node));
    QVERIFY(!info.waitForNode(300));

    // Connected again, the node is reported new and available again.
    releaseLink();
    QVERIFY(bindLink());
    QVERIFY(info.waitForNode(20000));
    QVERIFY(info.isAvailable());
    QTRY_COMPARE_WITH_TIMEOUT(log.entries, (QStringList{"node 0 0", "node 1 0", "node 0 0"}),
                              10000);
}

void tst_QErfcNodeInfo::refusedRequestsCountAsFailedAnswers()
{
    QErfcNodeInfo info(stack.get(), Node);
    InfoLog log(&info);
    stack->disable();

    // Every send throws; each request counts as a failed answer at once.
    info.refreshNodeInfo();
    QVERIFY(info.waitForNodeInfo(0));
    info.refreshFunctionList();
    QVERIFY(info.waitForFunctionList(0));
    info.refreshEventList(3, 5);
    QVERIFY(info.waitForEventList(0));
    info.refreshStatistics();
    QVERIFY(info.waitForStatistics(0));
    info.refreshChannelCapacity();
    QVERIFY(info.waitForChannelCapacity(0));
    info.ping(1);
    QCOMPARE(info.waitForPing(0), QErfcNodeInfo::NoPing);
    info.resetNode();
    QCOMPARE(log.entries, (QStringList{"info 1", "finished", "functions", "finished", "events",
                                       "finished", "finished", "capacity 0", "finished",
                                       "ping none"}));
    QVERIFY(!info.waitForNodeInfo(0));
    QCOMPARE(info.protocolVersion(), QString());
}

void tst_QErfcNodeInfo::ping_data()
{
    QTest::addColumn<int>("code"); // -1: never answered
    QTest::newRow("answered") << int(QErfc::OK);
    QTest::newRow("error answer") << int(QErfc::FunctionError);
    QTest::newRow("no answer") << -1;
}

void tst_QErfcNodeInfo::ping()
{
    QFETCH(int, code);
    QVERIFY(attachPeer());
    QErfcNodeInfo info(stack.get(), Peer);
    InfoLog log(&info);
    const int from = peer->frames().size();
    info.ping(200);
    QByteArray sent;
    if (code >= 0)
        QVERIFY(answerNext(0, from, QErfc::ResponseCode(code), QByteArray(32, 'A'), &sent));
    QTRY_COMPARE_WITH_TIMEOUT(log.entries.size(), 1, 10000);
    const uint delay = info.waitForPing(0);
    QCOMPARE(delay == QErfcNodeInfo::NoPing, code != QErfc::OK);
    QCOMPARE(log.entries, QStringList{code == QErfc::OK ? QStringLiteral("ping %1").arg(delay)
                                                        : QStringLiteral("ping none")});
    if (code >= 0)
        QCOMPARE(sent, QByteArray(32, 'A'));
}

void tst_QErfcNodeInfo::channelCapacityAnswer_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<int>("capacity");
    QTest::newRow("accepted") << 0 << QByteArray::fromHex("04ffff00") << 0xFFFF;
    QTest::newRow("smaller") << 0 << QByteArray::fromHex("04341200") << 0x1234;
    QTest::newRow("three bytes") << 0 << QByteArray::fromHex("043412") << 0x1234;
    QTest::newRow("two bytes") << 0 << QByteArray::fromHex("0434") << 0;
    QTest::newRow("empty") << 0 << QByteArray() << 0;
    QTest::newRow("refused") << int(QErfc::ProtocolError) << QByteArray::fromHex("04ffff00") << 0;
}

void tst_QErfcNodeInfo::channelCapacityAnswer()
{
    QFETCH(int, code);
    QFETCH(QByteArray, payload);
    QFETCH(int, capacity);
    QVERIFY(attachPeer());
    QErfcNodeInfo info(stack.get(), Peer);
    InfoLog log(&info);
    QByteArray request;
    info.refreshChannelCapacity();
    QVERIFY(answerNext(5, 0, QErfc::ResponseCode(code), payload, &request));
    QCOMPARE(request.toHex(), QByteArray("04ffff00"));
    const QStringList signalled{"capacity " + QString::number(capacity), "finished"};
    QTRY_COMPARE_WITH_TIMEOUT(log.entries, signalled, 10000);
    QCOMPARE(int(info.channelCapacity()), capacity);
    QVERIFY(info.waitForChannelCapacity(0));
}

void tst_QErfcNodeInfo::statisticsAnswer_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QList<uint>>("expected");
    const QByteArray full = QByteArray::fromHex("01000000" "02000000" "0300" "04000000" "0500"
                                                "0600" "0700" "0800" "0900" "0a00" "0b00" "0c00"
                                                "ff00");
    QTest::newRow("full") << 0 << full << QList<uint>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 255};
    QTest::newRow("twenty bytes") << 0 << full.left(20)
                                  << QList<uint>{1, 2, 3, 4, 5, 6, 7, 0, 0, 0, 0, 0, 0};
    QTest::newRow("ends inside frameRx") << 0 << full.left(6)
                                         << QList<uint>{1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    QTest::newRow("ends inside routing") << 0 << full.left(12)
                                         << QList<uint>{1, 2, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const QList<uint> zero{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    QTest::newRow("empty") << 0 << QByteArray() << zero;
    QTest::newRow("refused") << int(QErfc::Busy) << full << zero;
}

void tst_QErfcNodeInfo::statisticsAnswer()
{
    QFETCH(int, code);
    QFETCH(QByteArray, payload);
    QFETCH(QList<uint>, expected);
    QVERIFY(attachPeer());
    QErfcNodeInfo info(stack.get(), Peer);
    InfoLog log(&info);
    QByteArray request;
    info.refreshStatistics();
    QVERIFY(answerNext(15, 0, QErfc::ResponseCode(code), payload, &request));
    QCOMPARE(request, QByteArray(1, '\0'));
    QStringList signalled{"statistics", "finished"};
    if (code != 0)
        signalled.removeFirst(); // a failed read clears the counters silently
    QTRY_COMPARE_WITH_TIMEOUT(log.entries, signalled, 10000);
    QCOMPARE(counters(info.statistics()), expected);
}

void tst_QErfcNodeInfo::waitsOnStackThreadReturnAtOnce()
{
    QErfcNodeInfo info(stack.get(), Peer);
    QErfcNodeInfo absent(stack.get(), Absent);
    QStringList results;
    std::atomic<qint64> took{-1};
    // Runs on the stack thread when the node appears.
    connect(&info, &QErfcNodeInfo::nodeUpdate, &info, [&] {
        QElapsedTimer timer;
        timer.start();
        results << QString::number(absent.waitForNode(-1))
                << QString::number(absent.waitForMode(QErfc::Maintenance, -1))
                << QString::number(info.waitForStatistics(-1))
                << QString::number(info.waitForNodeInfo(-1))
                << QString::number(info.waitForPing(-1) == QErfcNodeInfo::NoPing);
        took = timer.elapsed();
    }, Qt::DirectConnection);
    for (const char* wait : {"waitForNode", "waitForMode", "waitForStatistics", "waitForNodeInfo",
                             "waitForPing"}) {
        const QString text = QStringLiteral("QErfcNodeInfo::%1 called on the stack thread, "
                                            "which would wait for itself").arg(wait);
        QTest::ignoreMessage(QtWarningMsg, qPrintable(text));
    }
    QVERIFY(attachPeer());
    QTRY_VERIFY_WITH_TIMEOUT(took.load() >= 0, 10000);
    QCOMPARE(results, (QStringList{"0", "0", "0", "0", "1"}));
    QVERIFY2(took.load() < 5000, qPrintable(QString::number(took.load())));
}

void tst_QErfcNodeInfo::nodeWaitsUnderChurn()
{
    // Node updates as the stack thread delivers them, here from a thread of
    // the test's own.
    QErfcNodeInfo absent(stack.get(), Absent);
    const auto update = [this](QErfc::DrcUpdate state, QErfc::Mode mode) {
        emit stack->drcUpdate(Absent, state, mode);
    };
    QVERIFY(!absent.waitForNode(50));
    update(QErfc::NewNode, QErfc::Application);
    QVERIFY(absent.waitForNode(0));
    update(QErfc::RemovedNode, QErfc::Application);
    QVERIFY(!absent.waitForNode(100));

    // Waiters blocked while the node comes and goes are all woken by its
    // arrival in maintenance mode, however the updates interleave.
    std::atomic<int> woken{0};
    std::vector<std::unique_ptr<QThread>> waiters;
    for (int i = 0; i < 4; ++i) {
        waiters.emplace_back(QThread::create([&] {
            if (absent.waitForMode(QErfc::Maintenance, 20000))
                ++woken;
        }));
        waiters.back()->start();
    }
    std::unique_ptr<QThread> churn(QThread::create([&] {
        for (int i = 0; i < 500; ++i) {
            update(QErfc::NewNode, QErfc::Application);
            update(QErfc::RemovedNode, QErfc::Application);
        }
        update(QErfc::NewNode, QErfc::Maintenance);
    }));
    churn->start();
    for (auto& waiter : waiters)
        QVERIFY(waiter->wait(30000));
    QVERIFY(churn->wait(30000));
    QCOMPARE(woken.load(), 4);

    // Gone again: nothing left over from the waits above lets a wait succeed.
    update(QErfc::RemovedNode, QErfc::Maintenance);
    QVERIFY(!absent.waitForNode(100));
    QVERIFY(!absent.waitForMode(QErfc::Maintenance, 100));
    QVERIFY(!absent.isAvailable());
}

QTEST_GUILESS_MAIN(tst_QErfcNodeInfo)
#include "tst_qerfcnodeinfo.moc"
