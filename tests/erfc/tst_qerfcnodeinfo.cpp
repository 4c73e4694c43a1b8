#include "qerfcnodeinfo.h"
#include "qerfcrequest.h"
#include "qerfcstack.h"
#include "rawpeer.h"

#include <QtTest>

#include <atomic>
#include <memory>

namespace {

constexpr uchar Own = 1;
constexpr uchar Peer = 4; // a raw node
constexpr uchar Absent = 30;

// Everything the record holds of the node, as text.
QString contents(const QErfcNodeInfo& info)
{
    QStringList held = info.eventList().values();
    for (const QString& text : {info.protocolVersion(), info.nodeDescription(), info.softwareVersion(),
                                info.bootloaderVersion(), info.hardwareDescription(), info.hardwareRevision(),
                                info.serial(), info.manufacturer(), info.domain()}) {
        if (!text.isEmpty())
            held << text;
    }
    for (const QByteArray& bytes : {info.softwareHash(), info.bootloaderHash(), info.uniqueId()}) {
        if (!bytes.isEmpty())
            held << QString::fromLatin1(bytes);
    }
    if (info.mode() != QErfc::Application)
        held << "maintenance";
    return held.join(' ');
}

} // namespace

class tst_QErfcNodeInfo : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void refusedRequestsCountAsFailedAnswers();
    void failedAnswers_data();
    void failedAnswers();
    void waitsOnStackThreadReturnAtOnce();
    void nodeWaitsUnderChurn();
    void destroyedWhileUpdatesArrive();
    void deletedFromItsSignals_data();
    void deletedFromItsSignals();
    void overlappingBatches();
    void restartWhileBatchInFlight_data();
    void restartWhileBatchInFlight();

private:
    void attachPeer();
    // The next `count` first transmissions of `fid` from index `from` on.
    QList<QErfcMsg> requests(uchar fid, int count, int* from);
    // Answers OK with "<tag>-<the request's payload byte>".
    void answer(const QList<QErfcMsg>& frames, const QByteArray& tag);

    std::unique_ptr<QErfcStack> stack;
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
    stack.reset();
}

void tst_QErfcNodeInfo::attachPeer()
{
    peer.reset(new RawPeer(Peer));
    QVERIFY(peer->attach(stack.get()) && peer->join());
}

QList<QErfcMsg> tst_QErfcNodeInfo::requests(uchar fid, int count, int* from)
{
    QList<QErfcMsg> out;
    while (out.size() < count) {
        const int i = peer->waitFor(RawPeer::isRequest(fid), *from);
        if (i < 0)
            break;
        out << peer->frames().at(i);
        *from = i + 1;
    }
    return out;
}

void tst_QErfcNodeInfo::answer(const QList<QErfcMsg>& frames, const QByteArray& tag)
{
    for (const QErfcMsg& m : frames)
        peer->send(RawPeer::answer(m, QErfc::OK, tag + '-' + QByteArray::number(uchar(m.payload().at(0)))));
}

void tst_QErfcNodeInfo::refusedRequestsCountAsFailedAnswers()
{
    QErfcNodeInfo info(stack.get(), Absent);
    QSignalSpy finished(&info, &QErfcNodeInfo::refreshFinished);
    QSignalSpy pinged(&info, &QErfcNodeInfo::pingFinished);
    stack->disable(); // every send throws; the signals come on this thread
    info.refreshNodeInfo();
    info.refreshFunctionList();
    info.refreshEventList(3, 5);
    info.refreshStatistics();
    info.refreshChannelCapacity();
    info.ping(1);
    QVERIFY(info.waitForNodeInfo(0) && info.waitForStatistics(0));
    QCOMPARE(finished.count(), 5);
    QCOMPARE(pinged.count(), 1);
}

void tst_QErfcNodeInfo::failedAnswers_data()
{
    // An answer to ECHO (ping), CHANNEL capacity or STATISTICS; what the client reads.
    QTest::addColumn<int>("fid");
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("read");
    const QByteArray stats = QByteArray::fromHex("01000000" "02000000" "0300" "04000000");
    QTest::newRow("ping error answer") << 0 << int(QErfc::FunctionError) << QByteArray() << "none";
    QTest::newRow("capacity 2 bytes") << 5 << 0 << QByteArray::fromHex("0434") << "0";
    QTest::newRow("statistics inside routing") << 15 << 0 << stats.left(12) << "1 2 3 0 0";
    QTest::newRow("statistics refused") << 15 << int(QErfc::Busy) << stats << "0 0 0 0 0";
}

void tst_QErfcNodeInfo::failedAnswers()
{
    QFETCH(int, fid);
    QFETCH(int, code);
    QFETCH(QByteArray, payload);
    QFETCH(QString, read);
    attachPeer();
    QErfcNodeInfo info(stack.get(), Peer);
    QString pinged;
    connect(&info, &QErfcNodeInfo::pingFinished, this, [&pinged](uint delay) {
        pinged = delay == QErfcNodeInfo::NoPing ? "none" : "some";
    });
    fid == 0 ? info.ping(200) : fid == 5 ? info.refreshChannelCapacity() : info.refreshStatistics();
    const int i = peer->waitFor(RawPeer::isRequest(uchar(fid)));
    QVERIFY(i >= 0);
    peer->send(RawPeer::answer(peer->frames().at(i), QErfc::ResponseCode(code), payload));
    if (fid == 0) {
        QTRY_COMPARE_WITH_TIMEOUT(pinged, read, 10000);
        QCOMPARE(info.waitForPing(0), QErfcNodeInfo::NoPing);
    } else if (fid == 5) {
        QVERIFY(info.waitForChannelCapacity(10000));
        QCOMPARE(QString::number(info.channelCapacity()), read);
    } else {
        QVERIFY(info.waitForStatistics(10000));
        const QErfcStatistics s = info.statistics();
        QCOMPARE(QStringLiteral("%1 %2 %3 %4 %5").arg(s.frameTx).arg(s.frameRx).arg(s.crcError)
                     .arg(s.routing).arg(s.routingError), read);
    }
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
                << QString::number(info.waitForPing(-1) == QErfcNodeInfo::NoPing);
        took = timer.elapsed();
    }, Qt::DirectConnection);
    for (const char* wait : {"waitForNode", "waitForMode", "waitForStatistics", "waitForPing"}) {
        QTest::ignoreMessage(QtWarningMsg, qPrintable(QStringLiteral(
            "QErfcNodeInfo::%1 called on the stack thread, which would wait for itself").arg(wait)));
    }
    attachPeer();
    QTRY_VERIFY_WITH_TIMEOUT(took.load() >= 0, 10000);
    QCOMPARE(results, (QStringList{"0", "0", "0", "1"}));
    QVERIFY2(took.load() < 5000, qPrintable(QString::number(took.load())));
}

void tst_QErfcNodeInfo::nodeWaitsUnderChurn()
{
    // Waiters blocked while the node comes and goes are all woken by its
    // arrival in maintenance.
    QErfcNodeInfo absent(stack.get(), Absent);
    const auto update = [this](QErfc::DrcUpdate state, QErfc::Mode mode) {
        emit stack->drcUpdate(Absent, state, mode);
    };
    std::atomic<int> woken{0};
    std::vector<std::unique_ptr<QThread>> threads;
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back(QThread::create([&] {
            if (absent.waitForMode(QErfc::Maintenance, 20000))
                ++woken;
        }));
    }
    threads.emplace_back(QThread::create([&] {
        for (int i = 0; i < 500; ++i) {
            update(QErfc::NewNode, QErfc::Application);
            update(QErfc::RemovedNode, QErfc::Application);
        }
        update(QErfc::NewNode, QErfc::Maintenance);
    }));
    for (auto& thread : threads)
        thread->start();
    for (auto& thread : threads)
        QVERIFY(thread->wait(30000));
    QCOMPARE(woken.load(), 4);
    // Gone again: nothing left over from the waits above lets a wait succeed.
    update(QErfc::RemovedNode, QErfc::Maintenance);
    QVERIFY(!absent.waitForNode(100));
    QVERIFY(!absent.waitForMode(QErfc::Maintenance, 100));
}

void tst_QErfcNodeInfo::destroyedWhileUpdatesArrive()
{
    // Records made and destroyed here (also by taking another stack's)
    // while another thread announces nodes without pause: no update reaches
    // a record, or its connection, once it is gone.
    QErfcStack other(Own);
    std::atomic<bool> stop{false};
    std::atomic<int> emitted{0};
    std::unique_ptr<QThread> announcer(QThread::create([&] {
        while (!stop.load()) {
            emit stack->drcUpdate(Absent, QErfc::NewNode, QErfc::Application);
            emit other.drcUpdate(Absent, QErfc::RemovedNode, QErfc::Application);
            ++emitted;
        }
    }));
    announcer->start();
    QTRY_VERIFY_WITH_TIMEOUT(emitted.load() > 0, 10000);
    QDeadlineTimer enough(1500);
    int made = 0;
    while (!enough.hasExpired() || made < 200) {
        QErfcNodeInfo record(stack.get(), Absent);
        record = QErfcNodeInfo(&other, Absent);
        record = QErfcNodeInfo(stack.get(), Absent);
        ++made;
    }
    stop = true;
    QVERIFY(announcer->wait(10000));
}

void tst_QErfcNodeInfo::deletedFromItsSignals_data()
{
    // The signal whose slot deletes the client; what makes it come; whether
    // the node answers (on the stack thread) or is absent (the stack fails
    // the request at once, inside the refresh on this thread).
    QTest::addColumn<QByteArray>("signal");
    QTest::addColumn<QString>("refresh");
    QTest::addColumn<bool>("answered");
    QTest::newRow("node info, absent") << QByteArray("nodeInfoRefreshed(QErfcNodeInfo::NodeInfoState)") << "info" << false;
    QTest::newRow("events, answered") << QByteArray("eventListRefreshed(QMap<quint8,QString>)") << "events" << true;
    QTest::newRow("node update, node comes") << QByteArray("nodeUpdate(QErfc::DrcUpdate,QErfc::Mode)") << "join" << true;
}

// A slot that deletes the client it hears from, on whichever thread emits.
class Deleter : public QObject
{
    Q_OBJECT
public:
    QObject* target = nullptr;
    std::atomic<int> deleted{0};
public slots:
    void deleteTarget()
    {
        delete target;
        ++deleted;
    }
};

void tst_QErfcNodeInfo::deletedFromItsSignals()
{
    QFETCH(QByteArray, signal);
    QFETCH(QString, refresh);
    QFETCH(bool, answered);
    if (refresh != "join")
        attachPeer();
    auto* info = new QErfcNodeInfo(stack.get(), answered ? Peer : Absent);
    Deleter deleter;
    deleter.target = info;
    const QMetaObject* meta = info->metaObject();
    QVERIFY(connect(info, meta->method(meta->indexOfSignal(signal)), &deleter,
                    deleter.metaObject()->method(deleter.metaObject()->indexOfSlot("deleteTarget()")),
                    Qt::DirectConnection));

    int from = peer ? peer->frames().size() : 0;
    if (refresh == "join")
        attachPeer();
    else if (refresh == "info")
        info->refreshNodeInfo();
    else if (refresh == "events")
        info->refreshEventList(20, 22);
    if (answered && refresh == "events")
        answer(requests(3, 3, &from), "x");
    QTRY_COMPARE_WITH_TIMEOUT(deleter.deleted.load(), 1, 10000);
    // The stack goes on: the peer's calls are answered, a new client works.
    QVERIFY(peer->sync());
    QErfcNodeInfo next(stack.get(), Peer);
    next.refreshStatistics();
    from = peer->frames().size();
    answer(requests(15, 1, &from), "x");
    QVERIFY(next.waitForStatistics(10000));
}

// A batch starts while another is half answered; the first batch's late
// answers come after. Each batch ends with one signal carrying its own
// answers, and the wait waits for the newer batch.
void tst_QErfcNodeInfo::overlappingBatches()
{
    attachPeer();
    QErfcNodeInfo info(stack.get(), Peer);
    QStringList results; // one entry per completed batch, as signalled
    connect(&info, &QErfcNodeInfo::eventListRefreshed, this, [&results](QMap<quint8, QString> list) {
        results << QStringList(list.values()).join(' ');
    });
    // Thirteen requests each, as many as a node-information batch.
    const auto start = [&info] { info.refreshEventList(0, 12); };
    int from = peer->frames().size();
    start();
    const QList<QErfcMsg> first = requests(3, 13, &from);
    QCOMPARE(first.size(), 13);
    answer(first.mid(0, 7), "a");
    QVERIFY(peer->sync());
    // The second batch fills the window, then waits on another thread for it to drain.
    std::unique_ptr<QThread> second(QThread::create(start));
    second->start();
    QList<QErfcMsg> next = requests(3, 3, &from);
    QCOMPARE(next.size(), 3);
    answer(first.mid(7), "a");
    QVERIFY(peer->sync());
    QVERIFY(!info.waitForEventList(0)); // the first batch is done, not the newer one
    answer(next, "b");
    answer(requests(3, 10, &from), "b");
    QVERIFY(second->wait(10000));
    QVERIFY(info.waitForEventList(10000));

    QTRY_COMPARE_WITH_TIMEOUT(results.size(), 2, 10000);
    for (const char* tag : {"a", "b"}) {
        QStringList entries;
        for (int i = 0; i < 13; ++i)
            entries << QStringLiteral("%1-%2").arg(tag).arg(i);
        QCOMPARE(results.takeFirst(), entries.join(' '));
    }
}

void tst_QErfcNodeInfo::restartWhileBatchInFlight_data()
{
    // A batch of thirteen requests, the first `before` answered before the
    // node restarts and the rest after; node information or an event list.
    QTest::addColumn<bool>("events");
    QTest::addColumn<int>("before");
    QTest::newRow("info, all answers after") << false << 0;
    QTest::newRow("info, half before") << false << 7;
    QTest::newRow("events, half before") << true << 7;
}

// The node restarts while a batch is in flight: what it answered in its
// earlier presence is not the node's now. Node information ends as an
// error, not as OK with the fields the restart emptied; no answer lands in
// the record until a batch of the new presence fills it.
void tst_QErfcNodeInfo::restartWhileBatchInFlight()
{
    QFETCH(bool, events);
    QFETCH(int, before);
    attachPeer();
    QErfcNodeInfo info(stack.get(), Peer);
    std::atomic<int> ended{0};  // node information batches ended
    std::atomic<int> state{-1}; // the last one's state
    connect(&info, &QErfcNodeInfo::nodeInfoRefreshed, &info, [&](QErfcNodeInfo::NodeInfoState s) {
        state = s;
        ++ended;
    }, Qt::DirectConnection);
    const uchar fid = events ? 3 : 1;
    const auto refresh = [&] { events ? info.refreshEventList(0, 12) : info.refreshNodeInfo(); };
    const auto waitForBatch = [&] { return events ? info.waitForEventList(10000) : info.waitForNodeInfo(10000); };

    int from = peer->frames().size();
    refresh();
    const QList<QErfcMsg> held = requests(fid, 13, &from);
    QCOMPARE(held.size(), 13);
    answer(held.mid(0, before), "old");
    QVERIFY(peer->sync());
    // Another run id: the stack reports the node gone and new again.
    const quint64 updates = info.updateCount();
    peer->hello(0x0A0B0C0E);
    QTRY_COMPARE_WITH_TIMEOUT(info.updateCount(), updates + 2, 10000);
    QVERIFY(info.isAvailable());
    // The rest answered now, well within the requests' repetitions.
    answer(held.mid(before), "old");
    QVERIFY(peer->sync());
    QVERIFY(waitForBatch());
    if (!events) {
        QTRY_COMPARE_WITH_TIMEOUT(ended.load(), 1, 10000);
        QCOMPARE(state.load(), int(QErfcNodeInfo::NodeInfoError));
    }
    QCOMPARE(contents(info), QString());

    // A batch of the new presence fills the record.
    refresh();
    answer(requests(fid, 13, &from), "new");
    QVERIFY(waitForBatch());
    if (!events) {
        QTRY_COMPARE_WITH_TIMEOUT(ended.load(), 2, 10000);
        QCOMPARE(state.load(), int(QErfcNodeInfo::NodeInfoOk));
    }
    const QString now = contents(info);
    QVERIFY2(now.contains("new-12") && !now.contains("old"), qPrintable(now));
}

QTEST_GUILESS_MAIN(tst_QErfcNodeInfo)
#include "tst_qerfcnodeinfo.moc"
