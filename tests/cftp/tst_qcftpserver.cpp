// QCFTPServer over a temporary root, driven by a raw Cargo client on a
// second stack: codes and texts, login and listening again, confinement to
// the root, the size limit, a client that drops in the middle of an upload.

#include "qcargo.h"
#include "qcftpserver.h"
#include "qcftpserver_p.h"
#include "rawpeer.h"
#include "stackpair.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr quint8 Port = 125;
const QByteArray NotAllowed("20\nAction is not allowed\n\n");

void writeFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(data);
}

// Every path below `dir` with its content's hash (links as their targets).
QMap<QString, QByteArray> snapshot(const QString& dir)
{
    QMap<QString, QByteArray> out;
    QDirIterator it(dir, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info(path);
        QFile f(path);
        out.insert(path, info.isSymLink() ? info.symLinkTarget().toUtf8()
                         : f.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(f.readAll(), QCryptographicHash::Md5)
                                                       : QByteArray("dir"));
    }
    return out;
}

// A client that speaks raw bytes: one stream to the server's channel.
class RawClient
{
public:
    explicit RawClient(QErfcStack* stack)
        : stack(stack)
        , cargo(stack)
    {
        // Read as the bytes are announced: the stream closes its device
        // right after announcing a connection's last bytes, so a read that
        // comes later finds them gone.
        QObject::connect(&cargo, &QCargo::readyRead, &cargo, [this] {
            if (cargo.isReadable())
                in += cargo.readAll();
        });
        QObject::connect(&cargo, &QCargo::error, &cargo,
                         [this](QCargo::CargoError error) { errors << QCargo::errorString(error); });
    }

    bool connect(quint8 address)
    {
        cargo.connectToNode(address, Port);
        return cargo.waitForConnected(20000);
    }

    // Sends the request and returns the whole answer (a GET's raw bytes
    // included); empty when none comes, or the stream closes.
    QByteArray ask(const QByteArray& request)
    {
        cargo.write(request);
        QByteArray answer;
        const bool done = QTest::qWaitFor([&] {
            // The state first: bytes that arrived before the stream ended
            // are then announced or in the buffer read next.
            const bool connected = cargo.state() == QCargo::StateConnected;
            if (cargo.isReadable())
                in += cargo.readAll();
            const int end = in.indexOf("\n\n");
            if (end < 0)
                return !connected;
            int size = end + 2;
            const QList<QByteArray> lines = in.left(end).split('\n');
            if (request.startsWith("GET") && lines.value(0) == "0" && lines.size() == 3)
                size += lines.at(2).toInt();
            if (in.size() < size)
                return false;
            answer = in.left(size);
            in.remove(0, size);
            return true;
        }, 20000);
        // Why no answer came, for a failing comparison to tell.
        missed = answer.isEmpty()
            ? QStringLiteral("%1, state %2, errors [%3], unread \"%4\", node %5 known: %6")
                  .arg(done ? "the stream ended" : "timed out", cargo.stateString(),
                       errors.join(QLatin1String(", ")), QString::fromLatin1(in.toHex()))
                  .arg(cargo.remoteAddress())
                  .arg(stack->knownNodes().contains(cargo.remoteAddress()))
            : QString();
        return done ? answer : QByteArray();
    }

    bool login() { return ask("LOG\nuser\npw\n\n") == "0\n1\n\n"; }

    QErfcStack* stack;
    QCargo cargo;
    QByteArray in;
    QStringList errors;
    QString missed; // set by ask()
};

} // namespace

class tst_QCftpServer : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void codesAndTexts_data();
    void codesAndTexts();
    void loginAndListeningAgain();
    void nothingBeforeLogin_data();
    void nothingBeforeLogin();
    void confinement_data();
    void confinement();
    void noRootServesNothing();
    void oversizedUpload();
    void dropInTheMiddleOfAnUpload();
    void dropInTheMiddleOfAWindow();
    void listensAgainAfterAFailedListen();

private:
    std::unique_ptr<StackPair> pair;
    std::unique_ptr<QTemporaryDir> top;
    QString root;    // served
    QString outside; // next to it: must never change
    std::unique_ptr<QCFTPServer> server;
    std::unique_ptr<RawClient> client;
};

void tst_QCftpServer::init()
{
    pair.reset(new StackPair);
    QVERIFY(pair->connectAndDiscover());
    top.reset(new QTemporaryDir);
    root = top->filePath("root");
    outside = top->filePath("outside");
    QVERIFY(QDir().mkpath(root + "/dir/sub") && QDir().mkpath(root + "/empty") && QDir().mkpath(outside));
    writeFile(root + "/a.txt", "abc");
    writeFile(root + "/dir/b.bin", "12345");
    writeFile(root + "/.hidden", "h");
    writeFile(root + "/dir/bad\x1dname", "x");
    writeFile(outside + "/secret.txt", "secret");
    QVERIFY(QFile::link(outside, root + "/out"));
    QVERIFY(QFile::link(outside + "/new", root + "/dangle"));
    QVERIFY(QFile::link(root + "/dir", root + "/inlink"));

    server.reset(new QCFTPServer(pair->b.get()));
    server->addUser("user", "first");
    server->addUser("user", "pw");
    server->setRootPath(root);
    QCOMPARE(server->rootPath(), root + "/");
    QVERIFY(server->listen(QErfc::User, Port));
    QVERIFY(!server->listen(QErfc::User, Port));
    QTRY_COMPARE_WITH_TIMEOUT(server->state(), QCFTP::Server::Listening, 20000);
    client.reset(new RawClient(pair->a.get()));
    QVERIFY(client->connect(pair->b->address()));
    QTRY_COMPARE_WITH_TIMEOUT(server->state(), QCFTP::Server::ClientConnected, 20000);
}

void tst_QCftpServer::cleanup()
{
    client.reset();
    server.reset();
    top.reset();
    pair.reset();
}

void tst_QCftpServer::codesAndTexts_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("exists"); // afterwards, below the root; "-x": gone

    QTest::newRow("LST root") << QByteArray("LST\n/\n\n") << QByteArray() << "";
    QTest::newRow("LST missing") << QByteArray("LST\n/nope\n\n") << QByteArray("8\nPath does not exist on server\n\n")
                                 << "";
    QTest::newRow("LST empty") << QByteArray("LST\n/empty/\n\n") << QByteArray("0\n\n") << "";
    QTest::newRow("MKD") << QByteArray("MKD\n/m/n\n\n") << QByteArray("0\n\n") << "m/n";
    QTest::newRow("DEL file") << QByteArray("DEL\n/a.txt\n\n") << QByteArray("0\n\n") << "-a.txt";
    QTest::newRow("DEL dir") << QByteArray("DEL\n/dir/\n\n") << QByteArray("0\n\n") << "-dir";
    QTest::newRow("DEL missing") << QByteArray("DEL\n/nope\n\n") << QByteArray("8\nPath does not exist\n\n") << "";
    QTest::newRow("DEL link only") << QByteArray("DEL\n/inlink\n\n") << QByteArray("0\n\n") << "dir/b.bin";
    QTest::newRow("MOV dir") << QByteArray("MOV\n/dir\n/moved\n\n") << QByteArray("0\n\n") << "moved/b.bin";
    QTest::newRow("MOV file") << QByteArray("MOV\n/a.txt\n/b.txt\n\n") << QByteArray("8\nPath does not exist\n\n")
                              << "a.txt";
    QTest::newRow("STR") << QByteArray("STR\n/dir/new.txt\n5\n4\n\nwxyz") << QByteArray("0\n\n") << "dir/new.txt";
    QTest::newRow("STR on a dir") << QByteArray("STR\n/dir\n5\n1\n\nx") << NotAllowed << "";
    QTest::newRow("GET dir") << QByteArray("GET\n/dir\n\n") << QByteArray("9\nPath is not a file\n\n") << "";
    QTest::newRow("GET root") << QByteArray("GET\n/\n\n") << QByteArray("9\nPath is not a file\n\n") << "";
    QTest::newRow("GET") << QByteArray("GET\n/a.txt\n\n") << QByteArray() << "";
}

void tst_QCftpServer::codesAndTexts()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, answer);
    QFETCH(QString, exists);

    QCOMPARE(client->ask("HND\n\n"), QByteArray("126\nNot logged in\n\n"));
    QVERIFY(client->login());
    QCOMPARE(server->state(), QCFTP::Server::LoggedIn);
    const QByteArray got = client->ask(request);
    if (request == "GET\n/a.txt\n\n") {
        const QByteArray time = QByteArray::number(QFileInfo(root + "/a.txt").lastModified().toSecsSinceEpoch());
        QCOMPARE(got, "0\n" + time + "\n3\n\nabc");
    } else if (request == "LST\n/\n\n") {
        // Directories first, then files, by name; bare names; no hidden file,
        // and the links (one dangling) as what they are.
        QStringList names;
        for (const QByteArray& line : got.split('\n'))
            names << QString::fromUtf8(line.split('\x1d').first());
        QCOMPARE(names, (QStringList{"0", "dir/", "empty/", "inlink/", "out/", "a.txt", "", ""}));
        const QByteArray dir = client->ask("LST\n/dir\n\n");
        QVERIFY(dir.startsWith("0\nsub/\x1d") && dir.contains("\nb.bin\x1d"));
        QVERIFY(!dir.contains("bad")); // "bad\x1dname" cannot be listed
    } else {
        QCOMPARE(got, answer);
    }
    if (exists.startsWith('-'))
        QVERIFY(!QFileInfo::exists(root + "/" + exists.mid(1)));
    else if (!exists.isEmpty())
        QVERIFY(QFileInfo::exists(root + "/" + exists));
    if (request.startsWith("STR\n/dir/new.txt")) {
        QFile f(root + "/dir/new.txt");
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("wxyz"));
    }
}

void tst_QCftpServer::loginAndListeningAgain()
{
    // A refused login closes the stream unanswered; the server listens again.
    for (const QByteArray& wrong : {QByteArray("LOG\nother\npw\n\n"), QByteArray("LOG\nuser\nfirst\n\n")}) {
        QCOMPARE(client->ask(wrong), QByteArray());
        QTRY_COMPARE_WITH_TIMEOUT(client->cargo.state(), QCargo::StateDisconnected, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(server->state(), QCFTP::Server::Listening, 20000);
        client.reset(new RawClient(pair->a.get()));
        QVERIFY(client->connect(pair->b->address()));
    }
    QVERIFY(client->login());
    QVERIFY(client->login()); // again, checked like the first

    server->close();
    QTRY_COMPARE_WITH_TIMEOUT(client->cargo.state(), QCargo::StateDisconnected, 20000);
    QCOMPARE(server->state(), QCFTP::Server::Closed);
    // close() only asks the stream to disconnect; the stream gives its
    // function back on its own thread once the disconnection is through.
    QTRY_VERIFY_WITH_TIMEOUT(!pair->b->functionIds().contains(Port), 20000);
    QCOMPARE(server->state(), QCFTP::Server::Closed);
}

void tst_QCftpServer::nothingBeforeLogin_data()
{
    QTest::addColumn<QByteArray>("request");
    // Each would succeed once logged in; a zero-length upload stores at once.
    QTest::newRow("LST") << QByteArray("LST\n/\n\n");
    QTest::newRow("GET") << QByteArray("GET\n/a.txt\n\n");
    QTest::newRow("STR") << QByteArray("STR\n/new.txt\n5\n0\n\n");
    QTest::newRow("MKD") << QByteArray("MKD\n/m\n\n");
    QTest::newRow("DEL") << QByteArray("DEL\n/a.txt\n\n");
    QTest::newRow("MOV") << QByteArray("MOV\n/dir\n/moved\n\n");
}

void tst_QCftpServer::nothingBeforeLogin()
{
    QFETCH(QByteArray, request);
    const QMap<QString, QByteArray> before = snapshot(top->path());
    QCOMPARE(client->ask(request), QByteArray("126\nNot logged in\n\n"));
    QCOMPARE(client->ask(request), QByteArray("126\nNot logged in\n\n"));
    QCOMPARE(snapshot(top->path()), before);
    QCOMPARE(server->state(), QCFTP::Server::ClientConnected);
    // The connection stays usable: the login is answered as the first.
    QVERIFY(client->login());
}

void tst_QCftpServer::confinement_data()
{
    QTest::addColumn<QString>("path");
    // Every command goes through the same path checks, whose rules the
    // resolver's own test covers: here the ways out through links.
    QTest::newRow("dir/..") << "/dir/../../outside/secret.txt";
    QTest::newRow("link out") << "/out/secret.txt";
    QTest::newRow("link out itself") << "/out";
    QTest::newRow("dangling link") << "/dangle";
    QTest::newRow("below dangling link") << "/dangle/x";
    // "rootX" begins with the root's own path: still outside.
    QTest::newRow("link to a sibling named like the root") << "/sib/secret.txt";
    QTest::newRow("link to that sibling itself") << "/sib";
}

void tst_QCftpServer::confinement()
{
    QFETCH(QString, path);
    QVERIFY(QDir().mkpath(root + "X/sub"));
    writeFile(root + "X/secret.txt", "sibling");
    QVERIFY(QFile::link(root + "X", root + "/sib"));
    QVERIFY(client->login());
    const QMap<QString, QByteArray> before = snapshot(top->path());
    const QByteArray p = path.toUtf8();
    const QList<QByteArray> requests{
        "LST\n" + p + "\n\n", "MKD\n" + p + "/new\n\n", "MKD\n" + p + "\n\n", "DEL\n" + p + "\n\n",
        "MOV\n" + p + "\n/moved\n\n", "MOV\n/dir\n" + p + "\n\n", "STR\n" + p + "\n1\n3\n\nxyz",
        "GET\n" + p + "\n\n"};
    for (const QByteArray& request : requests)
        QCOMPARE(client->ask(request), NotAllowed);
    QCOMPARE(snapshot(top->path()), before);

    // The root itself cannot go or move.
    QCOMPARE(client->ask("DEL\n/\n\n"), NotAllowed);
    QCOMPARE(client->ask("MOV\n/\n/x\n\n"), NotAllowed);
    QCOMPARE(client->ask("MOV\n/dir\n/\n\n"), NotAllowed);
    QCOMPARE(snapshot(top->path()), before);
}

void tst_QCftpServer::noRootServesNothing()
{
    server->setRootPath(QString());
    QVERIFY(client->login());
    for (const QByteArray& request : {QByteArray("LST\n/\n\n"), QByteArray("MKD\n/tmp/x\n\n"), QByteArray("GET\n/etc/hostname\n\n"),
                                      QByteArray("DEL\n/tmp\n\n"), QByteArray("STR\n/tmp/y\n1\n1\n\nz")})
        QCOMPARE(client->ask(request), NotAllowed);
}

void tst_QCftpServer::oversizedUpload()
{
    QVERIFY(client->login());
    // The length is answered and the stream closed: what follows is content, not commands.
    const QByteArray refused = client->ask("STR\n/big\n1\n1073741825\n\nDEL\n/a.txt\n\n");
    QVERIFY2(refused == "1\nWrong parameters\n\n", qPrintable(QString::fromLatin1(refused) + client->missed));
    QTRY_COMPARE_WITH_TIMEOUT(client->cargo.state(), QCargo::StateDisconnected, 20000);
    QVERIFY(QFileInfo::exists(root + "/a.txt"));
    QTRY_COMPARE_WITH_TIMEOUT(server->state(), QCFTP::Server::Listening, 20000);

    // Nor does the server send a file over the limit (a sparse one here).
    QFile big(root + "/big");
    QVERIFY(big.open(QIODevice::WriteOnly) && big.resize((qint64(1) << 30) + 1));
    big.close();
    client.reset(new RawClient(pair->a.get()));
    QVERIFY(client->connect(pair->b->address()));
    QVERIFY(client->login());
    QCOMPARE(client->ask("GET\n/big\n\n"), NotAllowed);
}

void tst_QCftpServer::dropInTheMiddleOfAnUpload()
{
    QVERIFY(client->login());
    client->cargo.write("STR\n/part\n1\n100\n\n0123456789");
    QVERIFY(client->cargo.waitForBytesWritten(20000));
    client->cargo.disconnectFromNode();
    QTRY_COMPARE_WITH_TIMEOUT(server->state(), QCFTP::Server::Listening, 20000);
    QVERIFY(!QFileInfo::exists(root + "/part"));
}

void tst_QCftpServer::dropInTheMiddleOfAWindow()
{
    // A client in raw frames: blocks of a window that never ends, then a
    // disconnect. What they carried must not reach the next client's
    // connection, whose login is answered as the only request it sent.
    client->cargo.disconnectFromNode();
    QTRY_COMPARE_WITH_TIMEOUT(server->state(), QCFTP::Server::Listening, 20000);
    RawPeer peer(4);
    QVERIFY(peer.attach(pair->b.get()));
    QVERIFY(peer.join());
    const uchar b = pair->b->address(), own = 5;
    const QByteArray connect = QByteArray::fromHex("11050010");
    const auto block = [&](int sequence, const QByteArray& bytes) {
        QErfcMsg m = RawPeer::frame(4, b, Port, 0, false, char(0x30 + sequence) + bytes);
        m.setNoResponse(true);
        peer.send(m);
    };
    const auto answerCode = [&](const QByteArray& payload) {
        const int i = peer.exchange(peer.request(b, Port, payload), 20000);
        return i < 0 ? -1 : peer.frames().at(i).responseCode();
    };

    QCOMPARE(answerCode(connect), int(QErfc::OK));
    block(0, "MKD\n/stale\n");
    QCOMPARE(answerCode("\x20"), int(QErfc::OK));
    QTRY_COMPARE_WITH_TIMEOUT(server->state(), QCFTP::Server::Listening, 20000);

    QCOMPARE(answerCode(connect), int(QErfc::OK));
    const int from = peer.frames().size();
    block(0, "LOG\nuser\npw\n\n");
    QCOMPARE(answerCode("\x31"), int(QErfc::OK)); // the end of the window
    // The server's answer: its blocks to this client, up to its end of window.
    const int end = peer.waitFor([&](const QErfcMsg& m) {
        return m.functionId() == own && !m.isResponse() && m.payload() == "\x31";
    }, from, 20000);
    QVERIFY(end >= 0);
    QByteArray answer;
    for (int i = from; i < end; ++i) {
        const QErfcMsg& m = peer.frames().at(i);
        if (m.functionId() == own && m.noResponse())
            answer += m.payload().mid(1);
    }
    QCOMPARE(answer, QByteArray("0\n1\n\n"));
    QVERIFY(!QFileInfo::exists(root + "/stale"));
}

void tst_QCftpServer::listensAgainAfterAFailedListen()
{
    // An error took the server back to listening while the stream was still
    // connected, so that listening was refused: the disconnection that
    // follows must still start it.
    QSignalSpy errors(server.get(), &QCFTPServer::error);
    QCFTPServerPrivate::get(server.get())->setState(QCFTP::Server::BeginListening);
    QCOMPARE(errors.count(), 1);
    QCOMPARE(errors.at(0).at(0).toString(), QStringLiteral("Can't open port"));
    client->cargo.disconnectFromNode();
    QTRY_COMPARE_WITH_TIMEOUT(server->state(), QCFTP::Server::Listening, 20000);
    client.reset(new RawClient(pair->a.get()));
    QVERIFY(client->connect(pair->b->address()));
    QVERIFY(client->login());
}

QTEST_GUILESS_MAIN(tst_QCftpServer)
#include "tst_qcftpserver.moc"
