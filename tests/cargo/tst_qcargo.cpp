// QCargo between two stacks over loopback TCP: states, errors and the
// function registrations behind them, the device side, and the last window
// before a disconnect. A mebibyte each way at once through a relay that drops
// a burst of 20 data blocks over a window's end: it arrives byte-exact, and
// every gap the receiver reports is answered by exactly one window restart.

#include "lossyrelay.h"
#include "qcargo.h"
#include "qcargo_p.h"
#include "qcargoframe.h"
#include "qcargonode.h"
#include "qerfcfunction.h"
#include "qerfcincomingrequest.h"
#include "qerfcrequest.h"
#include "qerfcresponse.h"
#include "stackpair.h"

#include <QCryptographicHash>
#include <QMutex>
#include <QScopeGuard>
#include <QRandomGenerator>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>

namespace {

constexpr quint8 Channel = 100;

QList<uchar> userIds(QErfcStack* stack)
{
    QList<uchar> ids = stack->functionIds();
    ids.erase(std::remove_if(ids.begin(), ids.end(), [](uchar id) { return id < 16; }), ids.end());
    return ids;
}

constexpr int Size = 1 << 20;
constexpr quint64 Windows = Size / 4096;

QByteArray randomBytes(quint32 seed)
{
    QRandomGenerator generator(seed);
    QByteArray out(Size, Qt::Uninitialized);
    generator.fillRange(reinterpret_cast<quint32*>(out.data()), Size / 4);
    return out;
}

QByteArray sha1(const QByteArray& bytes) { return QCryptographicHash::hash(bytes, QCryptographicHash::Sha1); }

} // namespace

class tst_QCargo : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        pair.reset(new StackPair);
        QVERIFY(pair->connectAndDiscover());
        client.reset(new QCargo(pair->a.get()));
        server.reset(new QCargo(pair->b.get()));
    }
    void cleanup()
    {
        client.reset();
        server.reset();
        pair.reset();
    }

    void listenConnectDisconnect();
    void connectFailures_data();
    void connectFailures();
    void connectAgainReplacesRegistration();
    void disconnectWaitEndsUnregistered();
    void connectWaitsForListenerBetweenConnections();
    void connectAcceptedAfterGivingUp_data();
    void connectAcceptedAfterGivingUp();
    void readingLines();
    void writeAfterTheStreamDied();
    void zeroPeerWindowEndsTransmission();
    void lastWindowBeforeDisconnect();
    void progressRunsAcrossWindows();
    void deletedFromItsSignals_data();
    void deletedFromItsSignals();
    void deviceOpensOnItsOwnThread();
    void megabyteBothWays();

private:
    bool connectPair();

    std::unique_ptr<StackPair> pair;
    std::unique_ptr<QCargo> client; // on stack a
    std::unique_ptr<QCargo> server; // on stack b
};

bool tst_QCargo::connectPair()
{
    if (!server->listen(QErfc::User, Channel))
        return false;
    client->connectToNode(pair->b->address(), Channel);
    return client->waitForConnected(20000)
        && QTest::qWaitFor([this] { return server->state() == QCargo::StateConnected; }, 20000);
}

void tst_QCargo::listenConnectDisconnect()
{
    QStringList atClient, atServer;
    for (auto [cargo, log] : {std::pair{client.get(), &atClient}, std::pair{server.get(), &atServer}}) {
        connect(cargo, &QCargo::connected, this, [log] { *log << "connected"; });
        connect(cargo, &QCargo::disconnected, this, [log] { *log << "disconnected"; });
        connect(cargo, &QCargo::stateChanged, this, [log](QCargo::CargoState s) { *log << QCargo::stateString(s); });
    }
    QVERIFY(connectPair());
    QCOMPARE(userIds(pair->a.get()), QList<uchar>{client->localFunctionId()});
    QCOMPARE(userIds(pair->b.get()), QList<uchar>{Channel});
    QCOMPARE(server->remoteFunctionId(), client->localFunctionId());

    // Connected: another connect is refused.
    QSignalSpy errors(client.get(), &QCargo::error);
    client->connectToNode(9, 9);
    QCOMPARE(errors.at(0).at(0).value<QCargo::CargoError>(), QCargo::ErrorWrongState);
    QCOMPARE(client->remoteAddress(), pair->b->address());

    client->disconnectFromNode();
    QVERIFY(client->waitForDisconnected(20000));
    QVERIFY(server->waitForDisconnected(20000));
    QTRY_COMPARE_WITH_TIMEOUT(atServer.size() + atClient.size(), 10, 20000);
    QCOMPARE(atServer, (QStringList{"StateListening", "connected", "StateConnected", "disconnected",
                                    "StateDisconnected"}));
    QCOMPARE(atClient, (QStringList{"StateConnecting", "connected", "StateConnected", "disconnected",
                                    "StateDisconnected"}));
    QVERIFY(userIds(pair->a.get()).isEmpty() && userIds(pair->b.get()).isEmpty());
    QVERIFY(!client->isOpen() && !server->isOpen());
}

void tst_QCargo::connectFailures_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<bool>("disable");
    QTest::addColumn<int>("error");
    QTest::addColumn<int>("state");

    const int connecting = QCargo::StateConnecting;
    QTest::newRow("address 70") << 70 << false << int(QCargo::ErrorUnknownRemoteAddress)
                                << int(QCargo::StateDisconnected);
    QTest::newRow("no listener") << 2 << false << int(QCargo::ErrorConnectionRefused) << connecting;
    QTest::newRow("stack disabled") << 2 << true << int(QCargo::ErrorCommunication) << connecting;
}

void tst_QCargo::connectFailures()
{
    QFETCH(int, address);
    QFETCH(bool, disable);
    QFETCH(int, error);
    QFETCH(int, state);

    if (disable)
        pair->a->disable();
    QSignalSpy errors(client.get(), &QCargo::error);
    client->connectToNode(quint8(address), Channel);
    QTRY_COMPARE_WITH_TIMEOUT(errors.count(), 1, 20000);
    QCOMPARE(errors.at(0).at(0).value<QCargo::CargoError>(), QCargo::CargoError(error));
    QVERIFY(!client->waitForConnected(-1)); // over before the wait: it ends anyway
    QCOMPARE(client->state(), QCargo::CargoState(state));
    client->disconnectFromNode();
    QVERIFY(client->waitForDisconnected(20000));
    QVERIFY(userIds(pair->a.get()).isEmpty());
}

void tst_QCargo::disconnectWaitEndsUnregistered()
{
    // A wait that reports the disconnect done finds the function gone,
    // however the wait and the control thread's disconnect fall together.
    // (Every disconnection ends a wait, also the late wake-up of the round
    // before: such a wait returns false and is repeated.)
    for (int round = 0; round < 3000; ++round) {
        QVERIFY(server->listen(QErfc::User, Channel));
        QVERIFY(userIds(pair->b.get()).contains(Channel));
        server->disconnectFromNode();
        QVERIFY(QTest::qWaitFor([&] { return server->waitForDisconnected(1000); }, 20000));
        QVERIFY2(!userIds(pair->b.get()).contains(Channel), qPrintable(QString::number(round)));
    }
}

void tst_QCargo::connectAgainReplacesRegistration()
{
    // A failed connect keeps its function registered; connecting again
    // replaces that registration.
    QSignalSpy errors(client.get(), &QCargo::error);
    client->connectToNode(pair->b->address(), Channel);
    QTRY_COMPARE_WITH_TIMEOUT(errors.count(), 1, 20000);
    QVERIFY(server->listen(QErfc::User, Channel));
    client->connectToNode(pair->b->address(), Channel);
    QVERIFY(client->waitForConnected(20000));
    QCOMPARE(userIds(pair->a.get()), QList<uchar>{client->localFunctionId()});
}

void tst_QCargo::connectWaitsForListenerBetweenConnections()
{
    // A connection's end reaches the peer before the listener can listen
    // again, so a connect made at once may find no function there: it is
    // asked again until the listener is back.
    QVERIFY(connectPair());
    server->disconnectFromNode();
    QVERIFY(client->waitForDisconnected(20000));
    QVERIFY(server->waitForDisconnected(20000));

    QSignalSpy errors(client.get(), &QCargo::error);
    const quint16 before = pair->b->statistics().unknownFunction;
    client->connectToNode(pair->b->address(), Channel);
    QTRY_VERIFY_WITH_TIMEOUT(pair->b->statistics().unknownFunction > before, 20000);
    QVERIFY(server->listen(QErfc::User, Channel));
    QVERIFY(client->waitForConnected(20000));
    QTRY_COMPARE_WITH_TIMEOUT(server->state(), QCargo::StateConnected, 20000);
    QVERIFY(errors.isEmpty());
}

void tst_QCargo::connectAcceptedAfterGivingUp_data()
{
    QTest::addColumn<bool>("deleted");
    QTest::newRow("disconnected") << false;
    QTest::newRow("deleted") << true;
}

void tst_QCargo::connectAcceptedAfterGivingUp()
{
    // A listener that holds the first connect until the client has given it
    // up (disconnected, or deleted the stream), then accepts it: it must be
    // told, or it would stay taken by a connection nobody uses.
    QFETCH(bool, deleted);
    QSemaphore held;
    QSemaphore release;
    QMutex lock;
    QList<quint8> frames; // the frame types the listener got, in order
    QErfcFunction listener(Channel, QStringLiteral("late listener"), QErfc::User);
    connect(&listener, &QErfcFunction::callSignal, this,
            [&](QErfcIncomingRequest& request, QErfcResponse& response, QErfc::ResponseCode& code) {
                const quint8 type = quint8(request.payload().isEmpty() ? 0 : request.payload().at(0)) & QCargoFrame::TypeMask;
                bool first;
                {
                    QMutexLocker locker(&lock);
                    first = frames.isEmpty();
                    frames << type;
                }
                if (type == QCargoFrame::Connect && first) {
                    held.release();
                    release.tryAcquire(1, 20000);
                }
                if (type == QCargoFrame::Connect)
                    response.setPayload(QCargoFrame::connectAnswer(QErfc::User, 100));
                code = QErfc::OK;
            },
            Qt::DirectConnection);
    pair->b->registerFunction(&listener);
    auto unregister = qScopeGuard([&] { pair->b->unregisterFunction(&listener); });

    client->connectToNode(pair->b->address(), Channel);
    QVERIFY(held.tryAcquire(1, 20000));
    if (deleted) {
        client.reset();
    } else {
        client->disconnectFromNode();
        QTRY_COMPARE_WITH_TIMEOUT(client->state(), QCargo::StateDisconnected, 20000);
    }
    release.release();
    const auto told = [&] {
        QMutexLocker locker(&lock);
        return frames.contains(quint8(QCargoFrame::Disconnect));
    };
    QTRY_VERIFY_WITH_TIMEOUT(told(), 20000);
    QMutexLocker locker(&lock);
    QCOMPARE(frames.first(), quint8(QCargoFrame::Connect));
}

void tst_QCargo::readingLines()
{
    QVERIFY(connectPair());
    QSignalSpy readyRead(client.get(), &QCargo::readyRead);
    server->write("ab\ncd\nef");
    QVERIFY(readyRead.wait(20000));

    // What bytesAvailable and canReadLine report is what the reads get.
    QCOMPARE(client->read(1), QByteArray("a"));
    QCOMPARE(client->bytesAvailable(), qint64(7));
    QCOMPARE(client->readLine(3), QByteArray("b\n"));
    QCOMPARE(client->readLine(), QByteArray("cd\n"));
    QVERIFY(!client->canReadLine());
    QCOMPARE(client->bytesAvailable(), qint64(2));

    // The peer goes: what it sent stays readable, a line loop on the closed
    // stream ends, and the device closes once it is read out.
    server->write("\ngh");
    QVERIFY(readyRead.wait(20000));
    QSignalSpy disconnected(client.get(), &QCargo::disconnected);
    server->disconnectFromNode();
    QVERIFY(disconnected.wait(20000));
    QStringList lines;
    while (client->canReadLine())
        lines << QString::fromLatin1(client->readLine());
    QCOMPARE(lines, QStringList{"ef\n"});
    QCOMPARE(client->bytesAvailable(), qint64(2));
    QCOMPARE(client->readAll(), QByteArray("gh"));
    QTRY_VERIFY_WITH_TIMEOUT(!client->isOpen(), 20000);
}

void tst_QCargo::writeAfterTheStreamDied()
{
    QVERIFY(connectPair());
    server->disconnectFromNode();
    // Without an event loop the device is still open, but a write fails.
    QVERIFY(client->waitForDisconnected(20000));
    QSignalSpy errors(client.get(), &QCargo::error);
    QCOMPARE(client->write("late"), qint64(-1));
    QCOMPARE(errors.at(0).at(0).value<QCargo::CargoError>(), QCargo::ErrorWrongState);
    QCOMPARE(client->bytesToWrite(), qint64(0));
}

void tst_QCargo::zeroPeerWindowEndsTransmission()
{
    QVERIFY(connectPair());
    QSignalSpy finished(client.get(), &QCargo::finished);
    QSignalSpy written(client.get(), &QCargo::bytesWritten);
    QCargoPrivate::get(client.get())->peerWindow = 0;
    QCOMPARE(client->write("abc"), qint64(3));
    QVERIFY(client->waitForDisconnected(20000));
    QTRY_COMPARE_WITH_TIMEOUT(written.count(), 1, 20000);
    QCOMPARE(written.at(0).at(0).toLongLong(), qint64(0));
    QVERIFY(finished.isEmpty());
}

void tst_QCargo::lastWindowBeforeDisconnect()
{
    // The peer sends its last window and disconnects while this thread is
    // blocked: disconnected() comes after the last bytes were delivered.
    auto* receiver = new QCargoNode(pair->a.get(), pair->b->address(), Channel);
    client.reset(receiver);
    QVERIFY(connectPair());
    QByteArray atDisconnect;
    connect(receiver, &QCargo::readyRead, receiver, [receiver] { receiver->collect(); });
    connect(receiver, &QCargo::disconnected, receiver, [&] { atDisconnect = receiver->buffer(); });
    QByteArray data(10000, Qt::Uninitialized);
    for (int i = 0; i < data.size(); ++i)
        data[i] = char(i * 7 + i / 256);
    server->write(data);
    QVERIFY(server->waitForBytesWritten(20000));
    server->disconnectFromNode();
    QVERIFY(receiver->waitForDisconnected(20000));
    QTRY_COMPARE_WITH_TIMEOUT(atDisconnect, data, 20000);
}

void tst_QCargo::progressRunsAcrossWindows()
{
    // 5000 bytes in windows of 4096: one report per window, the running total.
    QVERIFY(connectPair());
    QCOMPARE(client->peerWindow(), quint16(4096));
    QSignalSpy progress(client.get(), &QCargo::transactionProgress);
    QSignalSpy finished(client.get(), &QCargo::finished);
    client->write(QByteArray(5000, 'p'));
    QVERIFY(finished.wait(20000));
    QCOMPARE(progress.count(), 2);
    QCOMPARE(progress.at(0), (QList<QVariant>{qint64(4096), qint64(5000)}));
    QCOMPARE(progress.at(1), (QList<QVariant>{qint64(5000), qint64(5000)}));
}

void tst_QCargo::deletedFromItsSignals_data()
{
    // Which stream a slot deletes, and on which of its signals.
    QTest::addColumn<bool>("atServer");
    QTest::addColumn<QString>("signal");
    QTest::newRow("listener, stateChanged") << true << "stateChanged";
    QTest::newRow("connector, refused") << false << "error";
    QTest::newRow("connector, disconnected") << false << "disconnected";
}

// The Qt idiom, a slot that deletes its sender (connected directly), for the
// signals that follow what the stack thread does to a stream.
void tst_QCargo::deletedFromItsSignals()
{
    QFETCH(bool, atServer);
    QFETCH(QString, signal);
    QCargo* stream = (atServer ? server : client).release();
    QErfcStack* stack = atServer ? pair->b.get() : pair->a.get();
    std::atomic<int> deleted{0};
    const auto deleteIt = [stream, &deleted] {
        delete stream;
        ++deleted;
    };
    if (signal == "error")
        connect(stream, &QCargo::error, stream, deleteIt, Qt::DirectConnection);
    else if (signal == "disconnected")
        connect(stream, &QCargo::disconnected, stream, deleteIt, Qt::DirectConnection);
    else
        connect(stream, &QCargo::stateChanged, stream, [deleteIt](QCargo::CargoState state) {
            if (state == QCargo::StateConnected)
                deleteIt();
        }, Qt::DirectConnection);

    QCargo* listener = atServer ? stream : server.get();
    QCargo* connector = atServer ? client.get() : stream;
    if (signal != "error")
        QVERIFY(listener->listen(QErfc::User, Channel));
    connector->connectToNode(pair->b->address(), Channel);
    if (signal == "disconnected") {
        QVERIFY(QTest::qWaitFor([&] { return server->state() == QCargo::StateConnected; }, 20000));
        server->disconnectFromNode();
    }
    QTRY_COMPARE_WITH_TIMEOUT(deleted.load(), 1, 20000);
    // Its registration went with it, and the stacks go on.
    QVERIFY(userIds(stack).isEmpty());
    QErfcRequest echo(pair->b->address(), 0, QByteArray("x"));
    QVERIFY(pair->a->send(&echo));
    QVERIFY(echo.waitForResponse(10000));
}

void tst_QCargo::deviceOpensOnItsOwnThread()
{
    // The listener's connection begins on the stack thread while this
    // thread is blocked: its device opens only here, when this thread
    // looks; bytes left unread when the stream ends stay readable, ahead of
    // those of the next connection.
    QVERIFY(server->listen(QErfc::User, Channel));
    client->connectToNode(pair->b->address(), Channel);
    QVERIFY(client->waitForConnected(20000));
    QVERIFY(!server->isOpen());
    QCOMPARE(server->state(), QCargo::StateConnected);
    QVERIFY(server->isOpen());

    client->write("abc");
    QTRY_COMPARE_WITH_TIMEOUT(server->bytesAvailable(), qint64(3), 20000);
    client->disconnectFromNode();
    QVERIFY(client->waitForDisconnected(20000) && server->waitForDisconnected(20000));
    QVERIFY(server->listen(QErfc::User, Channel));
    client->connectToNode(pair->b->address(), Channel);
    QVERIFY(client->waitForConnected(20000));
    client->write("def");
    QTRY_COMPARE_WITH_TIMEOUT(server->bytesAvailable(), qint64(6), 20000);
    QCOMPARE(server->readAll(), QByteArray("abcdef"));
}

void tst_QCargo::megabyteBothWays()
{
    cleanup();
    StackPair pair;
    LossyRelay relay(pair.deviceA->port());
    QVERIFY(relay.port() != 0);
    pair.deviceB.reset(new TcpClientTestDevice(relay.port()));
    pair.linkB.reset(new QErfcStreamInterface(pair.deviceB.get()));
    QVERIFY(pair.connectAndDiscover());
    QCargo client(pair.a.get()), server(pair.b.get());
    QVERIFY(server.listen(QErfc::User, Channel));
    client.connectToNode(pair.b->address(), Channel);
    QVERIFY(client.waitForConnected(20000));
    QTRY_COMPARE_WITH_TIMEOUT(server.state(), QCargo::StateConnected, 20000);

    // The last 10 blocks of the fourth window, found missing at its end; the
    // restart's 9 plain blocks, found missing at the end again; and the first
    // plain block of the second restart: three restarts each way.
    LossyRelay::Rule rule;
    rule.burstAfter = 4 * 133 - 10;
    rule.burstLength = 20;
    rule.dataOnly = true;
    relay.setRule(rule);

    const QByteArray up = randomBytes(1), down = randomBytes(2);
    QByteArray atServer, atClient;
    connect(&server, &QCargo::readyRead, this, [&] { atServer += server.readAll(); });
    connect(&client, &QCargo::readyRead, this, [&] { atClient += client.readAll(); });
    QSignalSpy clientDone(&client, &QCargo::finished), serverDone(&server, &QCargo::finished);
    QCOMPARE(client.write(up), qint64(Size));
    QCOMPARE(server.write(down), qint64(Size));
    // A stream that ends, or bytes that stray from what was sent, decide the
    // outcome at once: the wait stops there rather than at its bound.
    const auto over = [&] {
        return (clientDone.count() == 1 && serverDone.count() == 1) || client.state() != QCargo::StateConnected
            || server.state() != QCargo::StateConnected || !up.startsWith(atServer) || !down.startsWith(atClient);
    };
    QTRY_VERIFY_WITH_TIMEOUT(over(), 240000);
    QCOMPARE(client.state(), QCargo::StateConnected);
    QCOMPARE(server.state(), QCargo::StateConnected);
    QVERIFY(clientDone.count() == 1 && serverDone.count() == 1);
    QCOMPARE(sha1(atServer), sha1(up));
    QCOMPARE(sha1(atClient), sha1(down));

    const QCargo::Counters c = client.counters(), s = server.counters();
    QVERIFY(c.windowsSent == Windows && s.windowsSent == Windows);
    QCOMPARE(relay.dropped(), quint64(40));
    QCOMPARE(c.windowRestarts, quint64(3));
    QCOMPARE(s.windowRestarts, quint64(3));
    QCOMPARE(c.missingsSent, s.windowRestarts);
    client.disconnectFromNode();
    QVERIFY(client.waitForDisconnected(20000));
}

QTEST_GUILESS_MAIN(tst_QCargo)
#include "tst_qcargo.moc"
