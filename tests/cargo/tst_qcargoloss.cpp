// QCargo through a relay that loses whole frames: a mebibyte each way at
// once still arrives byte-exact, with a window restart for every gap the
// receiver reports, when frames of every kind go at random and when a burst
// of data blocks goes (in mid-window, and over a window's end so that the
// restarted blocks are lost as well).

#include "lossyrelay.h"
#include "qcargo.h"
#include "stackpair.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

namespace {

constexpr quint8 Channel = 100;
constexpr int Size = 1 << 20;
constexpr quint64 Windows = Size / 4096;
constexpr int BlocksPerWindow = (4096 + 30) / 31; // 133

QByteArray randomBytes(int size, quint32 seed)
{
    QRandomGenerator generator(seed);
    QByteArray out(size, Qt::Uninitialized);
    for (char& c : out)
        c = char(generator.bounded(256));
    return out;
}

QByteArray sha1(const QByteArray& bytes) { return QCryptographicHash::hash(bytes, QCryptographicHash::Sha1); }

} // namespace

class tst_QCargoLoss : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void megabyteBothWays_data();
    void megabyteBothWays();

private:
    std::unique_ptr<StackPair> pair;
    std::unique_ptr<LossyRelay> relay; // between the two stacks' links
    std::unique_ptr<QCargo> client;    // on stack a
    std::unique_ptr<QCargo> server;    // on stack b
};

void tst_QCargoLoss::init()
{
    pair.reset(new StackPair);
    relay.reset(new LossyRelay(pair->deviceA->port()));
    QVERIFY(relay->port() != 0);
    pair->deviceB.reset(new TcpClientTestDevice(relay->port()));
    pair->linkB.reset(new QErfcStreamInterface(pair->deviceB.get()));
    QVERIFY(pair->connectAndDiscover());
    client.reset(new QCargo(pair->a.get()));
    server.reset(new QCargo(pair->b.get()));
}

void tst_QCargoLoss::cleanup()
{
    client.reset();
    server.reset();
    pair.reset();
    relay.reset();
}

void tst_QCargoLoss::megabyteBothWays_data()
{
    QTest::addColumn<double>("probability");
    QTest::addColumn<int>("burstAfter");
    QTest::addColumn<bool>("dataOnly");
    QTest::addColumn<int>("restarts"); // per direction; -1: some, as chance has it

    QTest::newRow("1% of all frames") << 0.01 << -1 << false << -1;
    // Blocks 69..88 of the eighth window: one gap, one restart.
    QTest::newRow("20 blocks in mid-window") << 0.0 << 7 * BlocksPerWindow + 69 << true << 1;
    // The last 10 blocks of the fourth window, found missing at its end; the
    // restart's 9 plain blocks, found missing at the end again; and the first
    // plain block of the second restart: three restarts.
    QTest::newRow("20 blocks over a window's end") << 0.0 << 4 * BlocksPerWindow - 10 << true << 3;
}

void tst_QCargoLoss::megabyteBothWays()
{
    QFETCH(double, probability);
    QFETCH(int, burstAfter);
    QFETCH(bool, dataOnly);
    QFETCH(int, restarts);

    QVERIFY(server->listen(QErfc::User, Channel));
    client->connectToNode(pair->b->address(), Channel);
    QVERIFY(client->waitForConnected(20000));
    QTRY_COMPARE_WITH_TIMEOUT(server->state(), QCargo::StateConnected, 20000);

    LossyRelay::Rule rule;
    rule.probability = probability;
    rule.seed = 7;
    rule.burstAfter = burstAfter;
    rule.burstLength = burstAfter >= 0 ? 20 : 0;
    rule.dataOnly = dataOnly;
    relay->setRule(rule);
    pair->a->resetStatistics();
    pair->b->resetStatistics();

    const QByteArray up = randomBytes(Size, 1), down = randomBytes(Size, 2);
    QByteArray atServer, atClient;
    connect(server.get(), &QCargo::readyRead, this, [&] { atServer += server->readAll(); });
    connect(client.get(), &QCargo::readyRead, this, [&] { atClient += client->readAll(); });
    QSignalSpy clientDone(client.get(), &QCargo::finished), serverDone(server.get(), &QCargo::finished);
    QCOMPARE(client->write(up), qint64(Size));
    QCOMPARE(server->write(down), qint64(Size));

    QTRY_VERIFY_WITH_TIMEOUT((atServer.size() >= Size && atClient.size() >= Size)
                                 || client->state() != QCargo::StateConnected
                                 || server->state() != QCargo::StateConnected, 240000);
    QCOMPARE(atServer.size(), Size);
    QCOMPARE(atClient.size(), Size);
    QCOMPARE(sha1(atServer), sha1(up));
    QCOMPARE(sha1(atClient), sha1(down));
    QTRY_VERIFY_WITH_TIMEOUT(clientDone.count() == 1 && serverDone.count() == 1, 60000);
    QCOMPARE(client->state(), QCargo::StateConnected);
    QCOMPARE(server->state(), QCargo::StateConnected);

    // Every window acknowledged once; every gap reported once and answered
    // with exactly one restart.
    const QCargo::Counters c = client->counters(), s = server->counters();
    QCOMPARE(c.windowsSent, Windows);
    QCOMPARE(s.windowsSent, Windows);
    QCOMPARE(c.nextsSent, Windows);
    QCOMPARE(s.nextsSent, Windows);
    QCOMPARE(c.windowRestarts, s.missingsSent);
    QCOMPARE(s.windowRestarts, c.missingsSent);
    if (restarts >= 0) {
        QCOMPARE(relay->dropped(), quint64(40));
        QCOMPARE(c.windowRestarts, quint64(restarts));
        QCOMPARE(s.windowRestarts, quint64(restarts));
    } else {
        // Lost data blocks were recovered by restarts, lost requests and
        // answers by the stacks' retries.
        QVERIFY(relay->dropped() > 0);
        QVERIFY(c.windowRestarts > 0 && s.windowRestarts > 0);
        QVERIFY(pair->a->statistics().retries + pair->b->statistics().retries > 0);
    }
}

QTEST_GUILESS_MAIN(tst_QCargoLoss)
#include "tst_qcargoloss.moc"
