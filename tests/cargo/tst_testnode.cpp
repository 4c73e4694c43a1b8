// The test node program's several-nodes run against a stack over loopback
// TCP: every node, not only the first, serves the service function and takes
// a firmware image; each prints its file-service folder and login, and its
// lines name it, the file commands it serves with --cftp-record among them; a node that takes a new address serves all it served there,
// and nothing at the old one; --call calls from the first node; a node ended
// by a signal, or by its parent's end, removes its folders.

#include "qcargo.h"
#include "qcftpclient.h"
#include "qerfcrequest.h"
#include "qerfcstack.h"
#include "qerfcstreaminterface.h"
#include "qerfcstreaminterface_p.h"
#include "rawpeer.h"
#include "tcptestdevice.h"
#include "testnodeprocess.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <poll.h>
#include <vector>

namespace {
constexpr quint8 Own = 1;
constexpr quint8 ServiceFunction = 127;
constexpr quint8 FirmwareChannel = 126;
constexpr quint8 EchoChannel = 100;
constexpr quint8 NodeInfoFunction = 1;
constexpr quint8 NetworkFunction = 5;
const QList<quint8> Nodes{10, 11, 12};

// True while the process runs; a zombie no longer does.
bool running(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (::kill(pid, 0) != 0 || !stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = stat.readAll();
    return text.mid(text.lastIndexOf(')') + 2, 1) != "Z";
}

// The parent in nodeEndsWithItsParent(), run as this program with
// --hold-node: starts a test node while threads of its own run (a dying
// parent's death signal comes once for each), prints "node <pid> <the node's
// cftp line>" and waits for its standard input to close, a minute at most.
int holdNode()
{
    std::vector<std::unique_ptr<QThread>> threads;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back(new QThread);
        threads.back()->start();
    }
    int status = 1;
    {
        TestNodeProcess node(QStringLiteral(TESTNODE_PATH));
        const QByteArray files = node.listen({"--tick", "0"}) ? node.readUntil("cftp ") : QByteArray();
        if (!files.isEmpty()) {
            std::printf("node %lld %s\n", node.process.processId(), files.constData());
            std::fflush(stdout);
            pollfd input{0, POLLIN, 0};
            ::poll(&input, 1, 60000);
            status = 0;
        }
    }
    for (const auto& thread : threads) {
        thread->quit();
        thread->wait(10000);
    }
    return status;
}
// A stack at the program's address, linked to a test node's port and
// enabled; disabled and unlinked as it goes.
struct LinkedStack
{
    explicit LinkedStack(quint16 port)
        : device(port)
    {
        stack.bindInterface(&link);
        stack.enable();
    }
    ~LinkedStack()
    {
        stack.disable();
        stack.releaseInterface(&link);
    }
    QErfcStack stack{Own};
    TcpClientTestDevice device;
    QErfcStreamInterface link{&device};
};

} // namespace

class tst_TestNode : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void everyNodePrintsItsFolderAndLogin();
    void everyNodeServesTheServiceFunction_data();
    void everyNodeServesTheServiceFunction();
    void everyNodeTakesAFirmwareImage_data();
    void everyNodeTakesAFirmwareImage();
    void aNodeServesAtItsNewAddress();
    void nothingAnswersAtTheOldAddress();
    void everyNodeRecordsItsFileCommands();
    void callsFromTheFirstNode();
    void signalRemovesTheFolders_data();
    void signalRemovesTheFolders();
    void nodeEndsWithItsParent();

private:
    QTemporaryDir m_dir;
    std::unique_ptr<TestNodeProcess> m_node;
    QMap<quint8, QStringList> m_logins; // address -> root, user, password
    std::unique_ptr<TcpClientTestDevice> m_device;
    std::unique_ptr<QErfcStreamInterface> m_link;
    std::unique_ptr<QErfcStack> m_stack;
};

void tst_TestNode::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_node.reset(new TestNodeProcess(QStringLiteral(TESTNODE_PATH)));
    // 10 and 11 start in Maintenance, where a node takes an image.
    const quint16 port = m_node->listen({"--nodes", "3", "--maintenance", "10", "--maintenance", "11",
                                         "--tick", "0", "--fs-password", "pump",
                                         "--firmware-out", m_dir.filePath("image.bin")});
    QVERIFY(port != 0);
    const QRegularExpression login(QStringLiteral("^(\\d+) channel=125 root=(\\S+) user=(\\S+) password=(\\S+)$"));
    for (int i = 0; i < Nodes.size(); ++i) {
        const QRegularExpressionMatch match = login.match(QString::fromLocal8Bit(m_node->readUntil("cftp address=")));
        QVERIFY2(match.hasMatch(), "a node printed no folder and login");
        m_logins.insert(quint8(match.captured(1).toUInt()), {match.captured(2), match.captured(3), match.captured(4)});
    }

    m_stack.reset(new QErfcStack(Own));
    m_device.reset(new TcpClientTestDevice(port));
    m_link.reset(new QErfcStreamInterface(m_device.get()));
    m_stack->bindInterface(m_link.get());
    m_stack->enable();
    QTRY_COMPARE_WITH_TIMEOUT(m_stack->knownNodes().size(), Nodes.size(), 30000);
}

void tst_TestNode::cleanupTestCase()
{
    if (m_stack && m_link) {
        m_stack->disable();
        m_stack->releaseInterface(m_link.get());
    }
    m_stack.reset();
    m_node.reset();
}

void tst_TestNode::everyNodePrintsItsFolderAndLogin()
{
    QCOMPARE(m_logins.keys(), Nodes);
    QSet<QString> roots;
    for (const QStringList& login : qAsConst(m_logins)) {
        QVERIFY2(QFile::exists(login.at(0) + "/readme.txt"), qPrintable(login.at(0)));
        QCOMPARE(login.mid(1), (QStringList{"user", "secret"}));
        roots.insert(login.at(0));
    }
    QCOMPARE(roots.size(), Nodes.size()); // a folder of its own each
}

void tst_TestNode::everyNodeServesTheServiceFunction_data()
{
    QTest::addColumn<quint8>("address");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("clock"); // what the node prints, if anything

    const QByteArray digest = QCryptographicHash::hash("pump", QCryptographicHash::Md5);
    const QByteArray wrong = QCryptographicHash::hash("pomp", QCryptographicHash::Md5);
    QTest::newRow("clock, first node") << quint8(10) << QByteArray::fromHex("8201000000") << int(QErfc::OK)
                                       << QByteArray("address=10 1");
    QTest::newRow("clock, last node") << quint8(12) << QByteArray::fromHex("82ffffff7f") << int(QErfc::OK)
                                      << QByteArray("address=12 2147483647");
    QTest::newRow("unlock, maintenance node") << quint8(11) << QByteArray::fromHex("8100") + digest
                                              << int(QErfc::OK) << QByteArray();
    QTest::newRow("wrong password, last node") << quint8(12) << QByteArray::fromHex("8100") + wrong
                                               << int(QErfc::Specific1) << QByteArray();
    QTest::newRow("flash state, last node") << quint8(12) << QByteArray::fromHex("14") << int(QErfc::OK)
                                            << QByteArray();
}

void tst_TestNode::everyNodeServesTheServiceFunction()
{
    QFETCH(quint8, address);
    QFETCH(QByteArray, payload);
    QFETCH(int, code);
    QFETCH(QByteArray, clock);

    QErfcRequest request(address, ServiceFunction, payload);
    QVERIFY(m_stack->send(&request));
    QVERIFY(request.waitForResponse(30000));
    QCOMPARE(int(request.response().responseCode()), code);
    if (!clock.isEmpty())
        QCOMPARE(m_node->readUntil("clock "), clock);
}

void tst_TestNode::everyNodeTakesAFirmwareImage_data()
{
    QTest::addColumn<quint8>("address");
    QTest::addColumn<QString>("file");

    QTest::newRow("first node") << quint8(10) << QStringLiteral("image.bin");
    QTest::newRow("another node") << quint8(11) << QStringLiteral("image.bin.11");
}

void tst_TestNode::everyNodeTakesAFirmwareImage()
{
    QFETCH(quint8, address);
    QFETCH(QString, file);

    QByteArray image;
    for (int i = 0; i < 3000; ++i)
        image.append(char(i * 7 + address));
    QCargo cargo(m_stack.get());
    cargo.connectToNode(address, FirmwareChannel);
    QVERIFY(cargo.waitForConnected(30000));
    QCOMPARE(cargo.write(image), qint64(image.size()));
    QTRY_COMPARE_WITH_TIMEOUT(cargo.bytesToWrite(), qint64(0), 30000);
    cargo.disconnectFromNode();
    QVERIFY(cargo.waitForDisconnected(30000));
    QCOMPARE(m_node->readUntil("firmware "), QByteArray("address=") + QByteArray::number(address) + " 3000 bytes");

    QFile written(m_dir.filePath(file));
    QVERIFY2(written.open(QIODevice::ReadOnly), qPrintable(written.fileName()));
    QCOMPARE(written.readAll(), image);
    // The flash state follows the complete image on that node alone.
    QErfcRequest state(address, ServiceFunction, QByteArray(1, '\x14'));
    QVERIFY(m_stack->send(&state) && state.waitForResponse(30000));
    QCOMPARE(state.response().payload(), QByteArray(1, '\x01'));
}

void tst_TestNode::aNodeServesAtItsNewAddress()
{
    // 12, the last node, moves to 20; it says goodbye there and hello here.
    QErfcRequest change(12, ServiceFunction, QByteArray::fromHex("8014"));
    QVERIFY(m_stack->send(&change) && change.waitForResponse(30000));
    QCOMPARE(int(change.response().responseCode()), int(QErfc::OK));
    QCOMPARE(m_node->readUntil("address "), QByteArray("address=12 20"));
    QTRY_VERIFY_WITH_TIMEOUT(m_stack->knownNode(20) && !m_stack->knownNode(12), 30000);

    QErfcRequest clock(20, ServiceFunction, QByteArray::fromHex("8205000000"));
    QVERIFY(m_stack->send(&clock) && clock.waitForResponse(30000));
    QCOMPARE(int(clock.response().responseCode()), int(QErfc::OK));
    QCOMPARE(m_node->readUntil("clock "), QByteArray("address=20 5"));

    // Its streams too, the files' and the user interfaces' among them.
    QCargo cargo(m_stack.get());
    cargo.connectToNode(20, EchoChannel);
    QVERIFY(cargo.waitForConnected(30000));
    QCOMPARE(cargo.write("moved"), qint64(5));
    QByteArray echoed;
    QTRY_VERIFY_WITH_TIMEOUT((echoed += cargo.readAll()).size() >= 5, 30000);
    QCOMPARE(echoed, QByteArray("moved"));
    cargo.disconnectFromNode();
    QVERIFY(cargo.waitForDisconnected(30000));

    QErfcRequest reset(20, 4, QByteArray(1, '\0'));
    QVERIFY(m_stack->send(&reset) && reset.waitForResponse(30000));
    QCOMPARE(int(reset.response().responseCode()), int(QErfc::OK));
    QCOMPARE(m_node->readUntil("restart "), QByteArray("address=20"));
}

// The program's side in raw frames: a stack would not even send to a node
// that said goodbye. A frame to the old address reaching the moved node
// would come back answered in the old address's name (UnknonwAddr), ahead
// of the answer to a later frame to the new address.
void tst_TestNode::nothingAnswersAtTheOldAddress()
{
    TestNodeProcess node(QStringLiteral(TESTNODE_PATH));
    const quint16 port = node.listen({"--nodes", "2", "--tick", "0"});
    QVERIFY(port != 0);
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(socket.waitForConnected(30000));
    QErfcFrameStuffing receiver;
    QList<QErfcMsg> frames;
    const auto waitFor = [&](const std::function<bool(const QErfcMsg&)>& match) {
        const QDeadlineTimer deadline(30000);
        for (int i = 0;;) {
            for (; i < frames.size(); ++i) {
                if (match(frames.at(i)))
                    return i;
            }
            if (deadline.hasExpired() || !socket.waitForReadyRead(int(qMax<qint64>(deadline.remainingTime(), 1))))
                return -1;
            const QByteArray bytes = socket.readAll();
            receiver.feed(bytes.constData(), bytes.size(), [&frames](const QByteArray& frame) {
                QErfcMsg m;
                if (m.decode(frame))
                    frames.append(m);
            });
        }
    };
    const auto send = [&socket](uchar destination, uchar functionId, uchar requestId, const QByteArray& payload) {
        QErfcMsg m = RawPeer::frame(Own, destination, functionId, requestId, requestId & 1, payload);
        m.setNoResponse(destination == QErfcMsg::BroadcastAddress);
        socket.write(QErfcFrameStuffing::stuff(m.encode()));
    };
    const auto answer = [](uchar source, uchar requestId) {
        return [=](const QErfcMsg& m) { return m.isResponse() && m.source() == source && m.requestId() == requestId; };
    };
    const QByteArray hello = QByteArray::fromHex("00" "0a0b0c0d" "10" "00");

    send(QErfcMsg::BroadcastAddress, NetworkFunction, 0, hello);
    send(11, ServiceFunction, 1, QByteArray::fromHex("8014"));
    const int moved = waitFor(answer(11, 1));
    QVERIFY(moved >= 0);
    QCOMPARE(int(frames.at(moved).responseCode()), int(QErfc::OK));
    // The answer leaves first: a goodbye ahead of it would end the request
    // unanswered at the program, however late the node's threads run.
    QVERIFY(waitFor([](const QErfcMsg& m) {
        return m.source() == 11 && m.destination() == QErfcMsg::BroadcastAddress && m.payload() == QByteArray(1, '\x01');
    }) > moved);
    QVERIFY(waitFor([](const QErfcMsg& m) {
        return m.source() == 20 && m.destination() == QErfcMsg::BroadcastAddress && m.payload().startsWith('\0');
    }) > moved);
    const int from = frames.size();
    send(QErfcMsg::BroadcastAddress, NetworkFunction, 0, hello); // the moved node knows nobody yet
    send(11, NodeInfoFunction, 2, QByteArray(1, '\x01'));
    send(20, NodeInfoFunction, 3, QByteArray(1, '\x01'));
    const int described = waitFor(answer(20, 3));
    QVERIFY(described >= 0);
    QCOMPARE(frames.at(described).payload(), QByteArray("Valve block"));
    for (int i = from; i < described; ++i)
        QVERIFY2(frames.at(i).source() != 11, qPrintable(frames.at(i).toString(true)));
}

void tst_TestNode::everyNodeRecordsItsFileCommands()
{
    // --cftp-record and --cftp-fault hold for every node of the run; each
    // recorded command names its node.
    TestNodeProcess node(QStringLiteral(TESTNODE_PATH));
    const quint16 port = node.listen({"--nodes", "2", "--tick", "0", "--cftp-record", "--cftp-fault", "MKD=8"});
    QVERIFY(port != 0);
    LinkedStack linked(port);
    QErfcStack& stack = linked.stack;
    QTRY_COMPARE_WITH_TIMEOUT(stack.knownNodes().size(), 2, 30000);

    for (const quint8 address : {quint8(10), quint8(11)}) {
        QCFTPClient client(&stack);
        QList<int> codes; // the client's ends, brought over to this thread
        connect(&client, &QCFTPClient::finished, this, [&codes](QCFTP::ResponseCode code) { codes << int(code); },
                Qt::QueuedConnection);
        QVERIFY(client.connectToServer("user", "secret", address, 125));
        QTRY_COMPARE_WITH_TIMEOUT(codes.size(), 1, 30000);
        QCOMPARE(client.state(), QCFTP::Client::Ready);
        QVERIFY(client.createPath("/made/"));
        QTRY_COMPARE_WITH_TIMEOUT(codes.size(), 2, 30000);
        QCOMPARE(codes.last(), 8);

        // The node's lines, its folder and login at start left aside.
        const QByteArray prefix = "cftp address=" + QByteArray::number(address) + ' ';
        QStringList served;
        while (served.size() < 3) {
            const QByteArray line = node.readUntil(prefix);
            QVERIFY2(!line.isNull(), "no line of the node's file commands");
            if (!line.startsWith("channel="))
                served << QString::fromLatin1(line);
        }
        QCOMPARE(served, QStringList({"HND", "LOG user", "MKD /made/"}));
    }
}

void tst_TestNode::callsFromTheFirstNode()
{
    TestNodeProcess node(QStringLiteral(TESTNODE_PATH));
    const quint16 port = node.listen({"--nodes", "2", "--tick", "0", "--call", "0"});
    QVERIFY(port != 0);
    LinkedStack linked(port);
    // The first node calls the other and the program, each answering its
    // echo; a call timed out on a loaded machine prints its code too.
    const QRegularExpression call(QStringLiteral("^address=(\\d+) code=(\\d+)$"));
    QSet<QString> answered;
    const QDeadlineTimer deadline(60000);
    while (answered.size() < 2 && !deadline.hasExpired()) {
        const QByteArray line = node.readUntil("call ");
        const QRegularExpressionMatch match = call.match(QString::fromLatin1(line));
        QVERIFY2(match.hasMatch(), line.constData());
        QVERIFY2(match.captured(1) == "1" || match.captured(1) == "11", line.constData());
        if (match.captured(2) == "0")
            answered.insert(match.captured(1));
    }
    QCOMPARE(answered.size(), 2);
}

void tst_TestNode::signalRemovesTheFolders_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("number");
    QTest::addColumn<int>("folders");
    QTest::addColumn<bool>("repeated"); // until it ends, as a dying parent does

    // Listening, no program connected: a single node waits for its
    // connection, several nodes for the program's.
    QTest::newRow("one node, SIGTERM") << QStringList() << SIGTERM << 1 << false;
    QTest::newRow("one node, SIGINT") << QStringList() << SIGINT << 1 << false;
    QTest::newRow("four nodes, SIGTERM") << QStringList{"--nodes", "4"} << SIGTERM << 4 << false;
    QTest::newRow("four nodes, SIGINT") << QStringList{"--nodes", "4"} << SIGINT << 4 << false;
    QTest::newRow("one node, SIGTERM repeated") << QStringList() << SIGTERM << 1 << true;
    QTest::newRow("four nodes, SIGTERM repeated") << QStringList{"--nodes", "4"} << SIGTERM << 4 << true;
}

void tst_TestNode::signalRemovesTheFolders()
{
    QFETCH(QStringList, options);
    QFETCH(int, number);
    QFETCH(int, folders);
    QFETCH(bool, repeated);

    TestNodeProcess node(QStringLiteral(TESTNODE_PATH));
    QVERIFY(node.listen(options + QStringList{"--tick", "0"}) != 0);
    QStringList roots;
    const QRegularExpression root(QStringLiteral(" root=(\\S+) "));
    for (int i = 0; i < folders; ++i) {
        const QRegularExpressionMatch match = root.match(QString::fromLocal8Bit(node.readUntil("cftp ")));
        QVERIFY(match.hasMatch());
        QVERIFY(QDir(match.captured(1)).exists());
        roots << match.captured(1);
    }

    const pid_t pid = pid_t(node.process.processId());
    QCOMPARE(::kill(pid, number), 0);
    // A parent's death signal comes once for each of its ending threads: a
    // second signal from the parent does not cut the ending short. (Once it
    // has cleaned up, one may end it.)
    for (const QDeadlineTimer deadline(10000); repeated && running(pid) && !deadline.hasExpired();)
        ::kill(pid, number);
    // It ends in well under 2 s, also sanitized; a hang exceeds this.
    QVERIFY(node.process.waitForFinished(10000));
    if (!repeated) {
        QCOMPARE(node.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(node.process.exitCode(), 0);
    }
    for (const QString& path : qAsConst(roots))
        QVERIFY2(!QDir(path).exists(), qPrintable(path));
}

// A test that crashes or is killed leaves no test node behind: the node
// started by a parent that is killed ends all the same, and as when it is
// ended by a signal, it removes its folders.
void tst_TestNode::nodeEndsWithItsParent()
{
    ChildProcess parent;
    parent.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--hold-node")});
    QVERIFY(parent.waitForStarted(10000));
    const QDeadlineTimer deadline(60000);
    while (!parent.canReadLine() && parent.waitForReadyRead(int(qMax<qint64>(deadline.remainingTime(), 1)))) {
    }
    const QRegularExpression started(QStringLiteral("^node (\\d+) .* root=(\\S+) "));
    const QRegularExpressionMatch match = started.match(QString::fromLocal8Bit(parent.readLine()));
    QVERIFY2(match.hasMatch(), "the parent started no node");
    const pid_t node = pid_t(match.captured(1).toLongLong());
    const QString root = match.captured(2);
    QVERIFY(running(node));
    QVERIFY(QDir(root).exists());
    // Should it outlive its parent, it goes all the same.
    const auto reap = qScopeGuard([node] {
        if (running(node) && ::kill(node, SIGTERM) == 0 && !QTest::qWaitFor([node] { return !running(node); }, 10000))
            ::kill(node, SIGKILL);
    });

    QCOMPARE(::kill(pid_t(parent.processId()), SIGKILL), 0);
    QVERIFY(parent.waitForFinished(10000));
    QVERIFY2(QTest::qWaitFor([node] { return !running(node); }, 10000), "the node outlived its parent");
    QVERIFY2(!QDir(root).exists(), qPrintable(root));
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], "--hold-node") == 0)
        return holdNode();
    tst_TestNode test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_testnode.moc"
