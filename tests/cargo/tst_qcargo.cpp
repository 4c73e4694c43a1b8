// QCargo between two stacks over loopback TCP: states, errors and the
// function registrations behind them, the device side (reads, lines, writes
// on a dead stream), a mebibyte each way at once, the last window before a
// disconnect; and the test node's channels over TCP and a serial line.

#include "qcargo.h"
#include "qcargo_p.h"
#include "qcargonode.h"
#include "qerfcfunction.h"
#include "qerfcrequest.h"
#include "serialdevice.h"
#include "stackpair.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr quint8 Channel = 100;
constexpr uchar Node = 10; // the test node, with its echo, sink and sink-info ids
constexpr quint8 EchoChannel = 100, SinkChannel = 101, SinkInfo = 102;

QByteArray randomBytes(int size, quint32 seed)
{
    QRandomGenerator generator(seed);
    QByteArray out(size, Qt::Uninitialized);
    for (char& c : out)
        c = char(generator.bounded(256));
    return out;
}

QByteArray sha1(const QByteArray& bytes) { return QCryptographicHash::hash(bytes, QCryptographicHash::Sha1); }

QList<uchar> userIds(QErfcStack* stack)
{
    QList<uchar> ids = stack->functionIds();
    ids.erase(std::remove_if(ids.begin(), ids.end(), [](uchar id) { return id < 16; }), ids.end());
    return ids;
}

// What a stream signals, in order, and what it delivers on readyRead.
struct CargoLog : QObject
{
    explicit CargoLog(QCargo* cargo)
    {
        connect(cargo, &QCargo::listening, this, [this] { entries << "listening"; });
        connect(cargo, &QCargo::connected, this, [this] { entries << "connected"; });
        connect(cargo, &QCargo::disconnected, this, [this] { entries << "disconnected"; });
        connect(cargo, &QCargo::stateChanged, this, [this](QCargo::CargoState s) { entries << QCargo::stateString(s); });
        connect(cargo, &QCargo::readyRead, this, [this, cargo] { bytes += cargo->readAll(); });
    }
    QStringList entries;
    QByteArray bytes;
};

// The test node program, stopped when the object goes.
struct TestNode
{
    ~TestNode()
    {
        process.kill();
        process.waitForFinished(10000);
    }
    // Starts it and reads its output up to a line starting with `prefix`;
    // the rest of that line, or a null array.
    QByteArray start(const QStringList& options, const QByteArray& prefix)
    {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(TESTNODE_PATH, QStringList{"--address", QString::number(Node), "--tick", "0"} + options);
        QByteArray rest;
        (void)QTest::qWaitFor([&] {
            while (rest.isNull() && process.canReadLine()) {
                const QByteArray line = process.readLine().trimmed();
                if (line.startsWith(prefix))
                    rest = line.mid(prefix.size());
            }
            return !rest.isNull() || process.state() == QProcess::NotRunning;
        }, 20000);
        return rest;
    }
    QProcess process;
};

// Streams `data` through the node's echo channel and back.
bool echo(QErfcStack* stack, const QByteArray& data)
{
    QCargo cargo(stack);
    CargoLog back(&cargo);
    cargo.connectToNode(Node, EchoChannel);
    if (!cargo.waitForConnected(20000) || cargo.write(data) != data.size())
        return false;
    const bool ok = QTest::qWaitFor([&] { return back.bytes.size() >= data.size(); }, 120000);
    cargo.disconnectFromNode();
    return ok && cargo.waitForDisconnected(20000) && back.bytes == data;
}

} // namespace

class tst_QCargo : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void listenConnectDisconnect();
    void connectFailures_data();
    void connectFailures();
    void connectAgainReplacesRegistration();
    void functionIdsExhausted();
    void readingLines();
    void writeAfterTheStreamDied();
    void zeroPeerWindowEndsTransmission();
    void megabyteBothWays();
    void lastWindowBeforeDisconnect();
    void destroyWhileStreaming();
    void testNodeChannels();
    void serialLine();

private:
    bool connectPair();

    std::unique_ptr<StackPair> pair;
    std::unique_ptr<QCargo> client; // on stack a
    std::unique_ptr<QCargo> server; // on stack b
};

void tst_QCargo::init()
{
    pair.reset(new StackPair);
    QVERIFY(pair->connectAndDiscover());
    client.reset(new QCargo(pair->a.get()));
    server.reset(new QCargo(pair->b.get()));
}

void tst_QCargo::cleanup()
{
    client.reset();
    server.reset();
    pair.reset();
}

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
    CargoLog atClient(client.get()), atServer(server.get());
    QVERIFY(connectPair());
    const quint8 clientId = client->localFunctionId();
    QCOMPARE(userIds(pair->a.get()), QList<uchar>{clientId});
    QCOMPARE(userIds(pair->b.get()), QList<uchar>{Channel});
    QCOMPARE(server->remoteFunctionId(), clientId);
    QCOMPARE(client->peerWindow(), quint16(4096));
    QCOMPARE(server->peerWindow(), quint16(4096));

    // Connected: another listen or connect, and the setters, are refused.
    QSignalSpy errors(client.get(), &QCargo::error);
    QVERIFY(!client->listen(QErfc::User, 120));
    client->connectToNode(9, 9);
    client->setRemoteAddress(9);
    QCOMPARE(errors.count(), 3);
    QCOMPARE(errors.at(2).at(0).value<QCargo::CargoError>(), QCargo::ErrorWrongState);
    QCOMPARE(client->remoteAddress(), pair->b->address());
    QCOMPARE(client->write(QByteArray()), qint64(0));

    client->disconnectFromNode();
    QVERIFY(client->waitForDisconnected(20000));
    QVERIFY(server->waitForDisconnected(20000));
    QTRY_COMPARE_WITH_TIMEOUT(atServer.entries.size() + atClient.entries.size(), 11, 20000);
    QCOMPARE(atServer.entries, (QStringList{"listening", "StateListening", "connected", "StateConnected",
                                            "disconnected", "StateDisconnected"}));
    QCOMPARE(atClient.entries, (QStringList{"StateConnecting", "connected", "StateConnected",
                                            "disconnected", "StateDisconnected"}));
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
    QTest::newRow("unknown node") << 30 << false << int(QCargo::ErrorConnectionRefused) << connecting;
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
    // The failure is over before the wait starts: the wait ends anyway.
    QVERIFY(!client->waitForConnected(-1));
    QCOMPARE(client->state(), QCargo::CargoState(state));
    client->disconnectFromNode();
    QVERIFY(client->waitForDisconnected(20000));
    QVERIFY(userIds(pair->a.get()).isEmpty());
}

void tst_QCargo::connectAgainReplacesRegistration()
{
    // Connecting again, or listening, while a failed connect keeps its
    // function registered replaces that registration.
    QSignalSpy errors(client.get(), &QCargo::error);
    client->connectToNode(pair->b->address(), Channel);
    QTRY_COMPARE_WITH_TIMEOUT(errors.count(), 1, 20000);
    QCOMPARE(userIds(pair->a.get()), QList<uchar>{client->localFunctionId()});
    QVERIFY(server->listen(QErfc::User, Channel));
    client->connectToNode(pair->b->address(), Channel);
    QVERIFY(client->waitForConnected(20000));
    QCOMPARE(userIds(pair->a.get()), QList<uchar>{client->localFunctionId()});

    auto other = std::make_unique<QCargo>(pair->a.get());
    QSignalSpy otherErrors(other.get(), &QCargo::error);
    other->connectToNode(pair->b->address(), Channel + 1);
    QTRY_COMPARE_WITH_TIMEOUT(otherErrors.count(), 1, 20000);
    QVERIFY(other->listen(QErfc::User, 121));
    QList<uchar> both{client->localFunctionId(), 121};
    std::sort(both.begin(), both.end());
    QCOMPARE(userIds(pair->a.get()), both);
    other.reset();
    QCOMPARE(userIds(pair->a.get()), QList<uchar>{client->localFunctionId()});
}

void tst_QCargo::functionIdsExhausted()
{
    // Only ids 16..127 count: with 16..120 taken, one of 121..127 is chosen;
    // with all 112 taken none is, and registering fails.
    std::vector<std::unique_ptr<QErfcFunction>> functions;
    for (int id = 16; id < 128; ++id) {
        if (id == 121) {
            QCargo some(pair->a.get());
            QVERIFY(some.localFunctionId() >= 121);
        }
        functions.emplace_back(new QErfcFunction(quint8(id), "F", QErfc::User));
        pair->a->registerFunction(functions.back().get());
    }
    QCargo none(pair->a.get());
    QCOMPARE(none.localFunctionId(), quint8(0));
    QSignalSpy errors(&none, &QCargo::error);
    QVERIFY(!none.listen());
    QCOMPARE(errors.at(0).at(0).value<QCargo::CargoError>(), QCargo::ErrorFunctionRegister);
    for (auto& f : functions)
        pair->a->unregisterFunction(f.get());
}

void tst_QCargo::readingLines()
{
    QVERIFY(connectPair());
    QSignalSpy readyRead(client.get(), &QCargo::readyRead);
    server->write("ab\ncd\nef");
    QVERIFY(readyRead.wait(20000));

    // Unbuffered: what bytesAvailable and canReadLine report is what the
    // reads get, byte for byte.
    QCOMPARE(client->read(1), QByteArray("a"));
    QCOMPARE(client->bytesAvailable(), qint64(7));
    QVERIFY(client->canReadLine());
    QCOMPARE(client->readLine(3), QByteArray("b\n"));
    QCOMPARE(client->readLine(3), QByteArray("cd"));
    QCOMPARE(client->readLine(), QByteArray("\n"));
    QVERIFY(!client->canReadLine());
    QCOMPARE(client->readLine(), QByteArray()); // no "\n": nothing taken
    QCOMPARE(client->bytesAvailable(), qint64(2));

    // The peer goes: what it sent stays readable until read, a line loop on
    // the closed stream ends, and the device closes once it is read out.
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
    // Blocked without an event loop: the device has not closed yet, but the
    // stream is dead, and a write says so.
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

void tst_QCargo::megabyteBothWays()
{
    QVERIFY(connectPair());
    const QByteArray up = randomBytes(1 << 20, 1), down = randomBytes(1 << 20, 2);
    CargoLog atServer(server.get()), atClient(client.get());
    QSignalSpy clientDone(client.get(), &QCargo::finished), serverDone(server.get(), &QCargo::finished);
    QCOMPARE(client->write(up), qint64(up.size()));
    QCOMPARE(server->write(down), qint64(down.size()));
    QTRY_VERIFY_WITH_TIMEOUT(atServer.bytes.size() >= up.size() && atClient.bytes.size() >= down.size(), 300000);
    QCOMPARE(sha1(atServer.bytes), sha1(up));
    QCOMPARE(sha1(atClient.bytes), sha1(down));
    QTRY_VERIFY_WITH_TIMEOUT(clientDone.count() == 1 && serverDone.count() == 1, 20000);
    QCOMPARE(client->counters().windowsSent, quint64(256));
    QCOMPARE(server->counters().nextsSent, quint64(256));
    QCOMPARE(client->counters().windowRestarts + server->counters().windowRestarts, quint64(0));
}

void tst_QCargo::lastWindowBeforeDisconnect()
{
    // The peer sends its last window and disconnects while this thread is
    // blocked: the close waits behind the pending readyRead, and
    // disconnected() comes after the last bytes.
    auto* receiver = new QCargoNode(pair->a.get(), pair->b->address(), Channel);
    client.reset(receiver);
    QVERIFY(connectPair());
    QByteArray atDisconnect;
    connect(receiver, &QCargo::readyRead, receiver, [receiver] { receiver->collect(); });
    connect(receiver, &QCargo::disconnected, receiver, [&] { atDisconnect = receiver->buffer(); });
    const QByteArray data = randomBytes(10000, 3);
    server->write(data);
    QVERIFY(server->waitForBytesWritten(20000));
    server->disconnectFromNode();
    QVERIFY(receiver->waitForDisconnected(20000));
    QTRY_COMPARE_WITH_TIMEOUT(atDisconnect, data, 20000);
}

void tst_QCargo::destroyWhileStreaming()
{
    QVERIFY(connectPair());
    const quint8 clientId = client->localFunctionId();
    CargoLog atServer(server.get());
    client->write(randomBytes(1 << 18, 4));
    server->write(randomBytes(1 << 18, 5));
    QTRY_VERIFY_WITH_TIMEOUT(atServer.bytes.size() > 8192, 60000);
    client.reset();
    QVERIFY(!pair->a->functionIds().contains(clientId));
    server.reset();
    QVERIFY(!pair->b->functionIds().contains(Channel));
}

void tst_QCargo::testNodeChannels()
{
    TestNode node;
    const quint16 port = quint16(node.start({"--listen", "0"}, "listening port=").toUInt());
    QVERIFY(port != 0);
    TcpClientTestDevice device(port);
    QErfcStreamInterface link(&device);
    QErfcStack stack(1); // goes first, releasing the link
    stack.bindInterface(&link);
    stack.enable();
    QTRY_VERIFY_WITH_TIMEOUT(stack.knownNodes().contains(Node), 20000);
    QVERIFY(echo(&stack, randomBytes(50000, 6)));

    // The sink answers what it has received, and listens again afterwards.
    const QByteArray data = randomBytes(20000, 7);
    for (int round = 0; round < 2; ++round) {
        QCargo sink(&stack);
        QSignalSpy finished(&sink, &QCargo::finished);
        sink.connectToNode(Node, SinkChannel);
        QVERIFY(sink.waitForConnected(20000));
        sink.write(data);
        QVERIFY(finished.wait(60000));
        QErfcRequest info(Node, SinkInfo);
        QVERIFY(stack.send(&info));
        QVERIFY(info.waitForResponse(20000));
        QCOMPARE(info.response().payload(), QByteArray::fromHex("204e000000000000") + sha1(data));
        sink.disconnectFromNode();
        QVERIFY(sink.waitForDisconnected(20000));
    }
}

void tst_QCargo::serialLine()
{
    // socat joins two pseudo-terminals: the test node on one, our serial
    // link on the other. The stack reads the line's byte rate from the port.
    const QString program = QStandardPaths::findExecutable(QStringLiteral("socat"));
    if (program.isEmpty())
        QSKIP("socat is not installed");
    QTemporaryDir dir;
    const QString ours = dir.filePath("a"), theirs = dir.filePath("b");
    QProcess socat;
    socat.start(program, {"pty,raw,echo=0,link=" + ours, "pty,raw,echo=0,link=" + theirs});
    QVERIFY(socat.waitForStarted(10000));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(ours) && QFileInfo::exists(theirs), 10000);
    TestNode node;
    QVERIFY(!node.start({"--serial", theirs, "--baudrate", "9600"}, "ready address=").isNull());
    {
        SerialDevice serial(ours, 9600);
        QErfcStreamInterface link(&serial);
        QErfcStack stack(1); // goes first, releasing the link
        QCOMPARE(stack.linkByteRate(Node), 0); // not known yet
        stack.bindInterface(&link);
        stack.enable();
        QTRY_VERIFY_WITH_TIMEOUT(stack.knownNodes().contains(Node), 20000);
        QCOMPARE(stack.linkByteRate(Node), 960);
        QCOMPARE(QCargo(&stack, Node, EchoChannel).linkByteRate(), 960);
        QVERIFY(echo(&stack, randomBytes(300, 8)));
    }
    socat.kill();
    socat.waitForFinished(10000);
}

QTEST_GUILESS_MAIN(tst_QCargo)
#include "tst_qcargo.moc"
