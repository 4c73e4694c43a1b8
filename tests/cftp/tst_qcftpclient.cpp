// QCFTPClient against a scripted server on a second stack over loopback TCP:
// the byte-exact login, commands and their outcomes, what the client refuses
// to send, stray answers, one command at a time, disconnect and deletion;
// the directory upload: order and counts, failures, archive member names.

#include "lossyrelay.h"
#include "qcargo_p.h"
#include "qcftpclient.h"
#include "qcftpclient_p.h"
#include "qcftpclientgate.h"
#include "qcftpclientdirectoryupload_p.h"
#include "qcftpclientdirectoryupload.h"
#include "scriptedcftpserver.h"
#include "stackpair.h"
#include "tarwriter.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTimer>
#include <QTest>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include <unistd.h>

namespace {

constexpr quint8 Port = 125;
const QByteArray Token("c069195a0ed061e75efe1895d3ade031"); // "secret" and the challenge 00..0f

// What the client reports, seen on the test thread (queued).
class Observer : public QObject
{
public:
    explicit Observer(QCFTPClient* client)
    {
        connect(client, &QCFTPClient::stateChanged, this, [this](int s) { states << s; }, Qt::QueuedConnection);
        connect(client, &QCFTPClient::finished, this, [this](int c) { codes << c; }, Qt::QueuedConnection);
    }
    QList<int> states;
    QList<int> codes;
};

void writeFile(const QString& path, const QByteArray& data)
{
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(data);
}

TarEntry member(const QString& name, const QByteArray& data = QByteArray())
{
    TarEntry e;
    e.name = name;
    e.data = data;
    return e;
}

// The upload's signals, seen on the test thread (queued).
class UploadObserver : public QObject
{
public:
    explicit UploadObserver(QCftpClientDirectoryUpload* upload)
    {
        connect(upload, &QCftpClientDirectoryUpload::error, this, [this](const QString& m) { events << "error " + m; },
                Qt::QueuedConnection);
        connect(upload, &QCftpClientDirectoryUpload::finished, this, [this] { events << "finished"; },
                Qt::QueuedConnection);
        connect(upload, &QCftpClientDirectoryUpload::progress, this,
                [this](const QString& name, qint64, qint64, qint64 done, qint64 all) {
                    progress << QStringLiteral("%1 %2/%3").arg(name).arg(done).arg(all);
                }, Qt::QueuedConnection);
    }
    bool ended() const { return events.contains("finished"); }
    QStringList events;
    QStringList progress;
};

} // namespace

class tst_QCftpClient : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void login();
    void refusedLogin();
    void answerWithoutCode();
    void download();
    void refusedParameters_data();
    void refusedParameters();
    void possibleNames_data();
    void possibleNames();
    void answerNobodyAskedFor();
    void oneCommandAtATime();
    void disconnectAndDelete();
    void disconnectIsBounded();
    void deletedFromItsOwnSignal();
    void directoryTree_data();
    void directoryTree();
    void emptyFolder();
    void refusedCommandStopsTheUpload();
    void failuresBeforeAnyCommand();
    void impossibleMemberNames_data();
    void impossibleMemberNames();
    void archiveMembers_data();
    void archiveMembers();
    void archiveFromGnuTar_data();
    void archiveFromGnuTar();
    void onlyItsOwnCommandsMoveItOn();
    void gatePassesEachEndOnce();
    void gateMadeWhileAnEndIsUnderWay();
    void readyOnlyWithItsEndCounted();
    void anEndStillOnItsWayIsNotItsOwn();
    void linkLostBeforeTheFirstCommand_data();
    void linkLostBeforeTheFirstCommand();

private:
    bool login(QCFTPClient* c, const QString& user = QStringLiteral("user"));
    // A new stack pair whose second stack reaches the first through a relay; a client on the first.
    std::unique_ptr<LossyRelay> relayedPair();
    // A logged-in client with a directory upload on it, and a local folder.
    void startUpload();
    QStringList sentCommands() const;

    std::unique_ptr<StackPair> pair;
    std::unique_ptr<ScriptedCftpServer> server;
    std::unique_ptr<QCFTPClient> client;
    std::unique_ptr<QCftpClientDirectoryUpload> upload;
    std::unique_ptr<QTemporaryDir> temp;
    QDir local;
};

void tst_QCftpClient::init()
{
    pair.reset(new StackPair);
    QVERIFY(pair->connectAndDiscover());
    server.reset(new ScriptedCftpServer(pair->b.get(), Port));
    QVERIFY(server->listen());
    client.reset(new QCFTPClient(pair->a.get()));
}

void tst_QCftpClient::cleanup()
{
    upload.reset();
    client.reset();
    server.reset();
    pair.reset();
    temp.reset();
}

bool tst_QCftpClient::login(QCFTPClient* c, const QString& user)
{
    return cftpFinishes(c, [&] { return c->connectToServer(user, "secret", pair->b->address(), Port); }) == 0
        && c->state() == QCFTP::Client::Ready;
}

void tst_QCftpClient::login()
{
    Observer seen(client.get());
    QVERIFY(client->connectToServer("user", "secret", pair->b->address(), Port));
    QVERIFY(!client->connectToServer("user", "secret", pair->b->address(), Port));
    QVERIFY(!client->listPath("/"));
    QTRY_COMPARE_WITH_TIMEOUT(seen.codes, QList<int>{0}, 20000);
    QCOMPARE(seen.states, (QList<int>{1, 3, 3, 5, 5, 6}));
    QCOMPARE(server->received, QByteArray::fromHex("484e440a0a") + "LOG\nuser\n" + Token + "\n\n");
    QCOMPARE(client->state(), QCFTP::Client::Ready);
    client->disconnectFromServer();
    QTRY_COMPARE_WITH_TIMEOUT(server->cargo.state(), QCargo::StateListening, 20000);

    // No user name: "anonymous".
    QVERIFY(login(client.get(), QString()));
    QCOMPARE(server->requests.at(3).parameters.at(0), QStringLiteral("anonymous"));
}

void tst_QCftpClient::refusedLogin()
{
    // Its code and message, then the connection ends.
    server->answer = [](const ScriptedCftpServer::Request& r) {
        return r.command == "LOG" ? QByteArray("20\nUser unknown\n\n") : ScriptedCftpServer::defaultAnswer(r);
    };
    Observer seen(client.get());
    QVERIFY(client->connectToServer("user", "secret", pair->b->address(), Port));
    QTRY_COMPARE_WITH_TIMEOUT(seen.codes, (QList<int>{20, 127}), 20000);
    QCOMPARE(client->errorString(), QStringLiteral("User unknown"));
    QCOMPARE(client->state(), QCFTP::Client::Disconnected);
    QCOMPARE(seen.states.last(), 0);
}

void tst_QCftpClient::answerWithoutCode()
{
    // A server code keeps the connection (see download()); an answer without
    // one ends it.
    QVERIFY(login(client.get()));
    server->answer = [](const ScriptedCftpServer::Request&) { return QByteArray("yes\n\n"); };
    Observer seen(client.get());
    QVERIFY(client->movePath("/a", "/b"));
    QTRY_COMPARE_WITH_TIMEOUT(seen.codes, (QList<int>{1, 127}), 20000);
    QCOMPARE(seen.states.first(), int(QCFTP::Client::Busy));
    QCOMPARE(client->errorString(), QStringLiteral("No valid response code"));
    QCOMPARE(client->state(), QCFTP::Client::Disconnected);
}

void tst_QCftpClient::download()
{
    QVERIFY(login(client.get()));
    server->answer = [](const ScriptedCftpServer::Request& r) -> QByteArray {
        return r.parameters.value(0) == "/missing" ? "8\nPath does not exist\n\n" : "0\n44\n6\n\nab\ncd\n";
    };
    QCOMPARE(cftpFinishes(client.get(), [&] { return client->downloadFile("/f"); }), 0);
    QCOMPARE(client->downloadedFile().data(), QByteArray("ab\ncd\n"));

    // A download that fails leaves no bytes of an earlier one behind.
    QCOMPARE(cftpFinishes(client.get(), [&] { return client->downloadFile("/missing"); }), 8);
    QCOMPARE(client->state(), QCFTP::Client::Ready);
    QVERIFY(client->downloadedFile().data().isEmpty());
}

void tst_QCftpClient::refusedParameters_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("LF") << "/a\nDEL";
    QTest::newRow("blank") << " \t ";
}

void tst_QCftpClient::refusedParameters()
{
    QFETCH(QString, path);
    QVERIFY(login(client.get()));
    const int before = server->received.size();
    QVERIFY(!client->listPath(path));
    QVERIFY(!client->createPath(path));
    QVERIFY(!client->movePath("/ok", path));
    QVERIFY(!client->copyPath(path, "/ok"));
    QVERIFY(!client->downloadFile(path));
    if (!path.trimmed().isEmpty()) { // a file's path always starts with "/"
        QCFTPFile file;
        file.setPath(path);
        QVERIFY(!client->uploadFile(file));
    }
    QCOMPARE(client->state(), QCFTP::Client::Ready);
    QVERIFY(!client->connectToServer("a\nb", "x", 2, Port));
    QCOMPARE(cftpFinishes(client.get(), [&] { return client->createPath("/ok"); }), 0);
    QCOMPARE(server->received.mid(before), QByteArray("MKD\n/ok\n\n"));
}

void tst_QCftpClient::possibleNames_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("possible"); // the node gets it exactly as given

    QTest::newRow("inner blanks") << "/a b/ c.txt" << true;
    QTest::newRow("folder ending in a blank") << "/dir /" << true;
    QTest::newRow("not Latin-1") << QString::fromUtf8("/up 中文.txt") << false;
    QTest::newRow("Latin-1 letters") << QString::fromUtf8("/äöü.txt") << false;
    // Its Latin-1 bytes are valid UTF-8, of another name.
    QTest::newRow("reads back as another name") << QString::fromUtf8("/Ã¤.txt") << false;
    QTest::newRow("trailing blank") << "/x.txt " << false;
    QTest::newRow("trailing tab") << "/x\t" << false;
    QTest::newRow("leading blank") << " /x/" << false;
    QTest::newRow("root") << "/" << true;
    // Names a node may list, that would reach it as another name: "/?uro.txt",
    // "/gr\uFFFD\uFFFDe.txt", "/tr.txt".
    QTest::newRow("euro sign") << QString::fromUtf8("/€uro.txt") << false;
    QTest::newRow("umlaut and sharp s") << QString::fromUtf8("/grüße.txt") << false;
    QTest::newRow("listed with a trailing blank") << "/tr.txt " << false;
}

void tst_QCftpClient::possibleNames()
{
    QFETCH(QString, path);
    QFETCH(bool, possible);
    QCOMPARE(QCFTPClient::isPossibleName(path), possible);
    QVERIFY(login(client.get()));
    const QByteArray line = path.toLatin1();
    const int before = server->received.size();

    // A name a command gives goes out only when the node gets it as given.
    const int given = possible ? 0 : -2;
    QCOMPARE(cftpFinishes(client.get(), [&] { return client->createPath(path); }), given);
    QCOMPARE(cftpFinishes(client.get(), [&] { return client->movePath("/ok", path); }), given);
    QCOMPARE(cftpFinishes(client.get(), [&] { return client->copyPath("/ok", path); }), given);
    QByteArray expected;
    if (possible)
        expected = "MKD\n" + line + "\n\nMOV\n/ok\n" + line + "\n\nCPY\n/ok\n" + line + "\n\n";
    if (path.startsWith('/')) { // a file's path always starts with "/"
        QCFTPFile file;
        file.setPath(path);
        file.setLastModified(7);
        file.setData("d");
        QCOMPARE(cftpFinishes(client.get(), [&] { return client->uploadFile(file); }), given);
        if (possible)
            expected += "STR\n" + line + "\n7\n1\n\nd";
    }
    QCOMPARE(server->received.mid(before), expected);

    // So does the path of what the node holds: else the command would act
    // on whatever the node holds under the name it gets. A refusal names
    // the path.
    const QString refusal = possible ? QString() : "File name not allowed on the node, path: " + path;
    const QList<std::function<bool()>> existing{[&] { return client->listPath(path); },
                                                [&] { return client->downloadFile(path); },
                                                [&] { return client->deletePath(path); },
                                                [&] { return client->movePath(path, "/ok"); },
                                                [&] { return client->copyPath(path, "/ok"); }};
    for (const std::function<bool()>& command : existing) {
        QCOMPARE(cftpFinishes(client.get(), command), given);
        QCOMPARE(client->errorString(), refusal);
        QCOMPARE(client->state(), QCFTP::Client::Ready);
    }
    if (possible) {
        expected += "LST\n" + line + "\n\nGET\n" + line + "\n\nDEL\n" + line + "\n\nMOV\n" + line
            + "\n/ok\n\nCPY\n" + line + "\n/ok\n\n";
    }
    QCOMPARE(server->received.mid(before), expected);
}

namespace {
std::atomic<bool> strayDropped{false};
QtMessageHandler testHandler = nullptr;
} // namespace

void tst_QCftpClient::answerNobodyAskedFor()
{
    QVERIFY(login(client.get()));
    Observer seen(client.get());
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("outside a response"));
    // The warning comes from the client's thread: it says when the bytes are gone.
    strayDropped = false;
    testHandler = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& text) {
        if (text.contains("outside a response"))
            strayDropped = true;
        testHandler(type, context, text);
    });
    server->cargo.write("0\n\n");
    QTRY_VERIFY_WITH_TIMEOUT(strayDropped.load(), 20000);
    qInstallMessageHandler(testHandler);
    // The stray answer is not taken for the next command's.
    server->answer = [](const ScriptedCftpServer::Request&) { return QByteArray("20\nAction is not allowed\n\n"); };
    QVERIFY(client->createPath("/x"));
    QTRY_COMPARE_WITH_TIMEOUT(seen.codes, QList<int>{20}, 20000);
}

void tst_QCftpClient::oneCommandAtATime()
{
    QVERIFY(login(client.get()));
    server->answer = [](const ScriptedCftpServer::Request&) { return QByteArray(); }; // never answers
    QVERIFY(client->createPath("/t1"));
    QVERIFY(!client->createPath("/t2"));
    QTRY_COMPARE_WITH_TIMEOUT(server->requests.size(), 3, 20000);
    QVERIFY(!client->waitForFinished(100)); // no answer comes: the wait ends by itself
    QCOMPARE(client->state(), QCFTP::Client::Busy);
}

void tst_QCftpClient::disconnectAndDelete()
{
    QVERIFY(login(client.get()));
    Observer seen(client.get());
    client->disconnectFromServer();
    QCOMPARE(client->state(), QCFTP::Client::Disconnected);
    QTRY_COMPARE_WITH_TIMEOUT(seen.codes, QList<int>{127}, 20000);
    QCOMPARE(client->errorString(), QStringLiteral("Disconnected from server"));
    QTRY_COMPARE_WITH_TIMEOUT(server->cargo.state(), QCargo::StateListening, 20000);

    // Deleting a connected client closes its stream first.
    QVERIFY(login(client.get()));
    QCOMPARE(server->connections, 2);
    QTRY_COMPARE_WITH_TIMEOUT(server->cargo.state(), QCargo::StateConnected, 20000);
    client.reset();
    QTRY_COMPARE_WITH_TIMEOUT(server->cargo.state(), QCargo::StateListening, 20000);
}

std::unique_ptr<LossyRelay> tst_QCftpClient::relayedPair()
{
    cleanup();
    pair.reset(new StackPair);
    auto relay = std::make_unique<LossyRelay>(pair->deviceA->port());
    pair->deviceB.reset(new TcpClientTestDevice(relay->port()));
    pair->linkB.reset(new QErfcStreamInterface(pair->deviceB.get()));
    if (relay->port() == 0 || !pair->connectAndDiscover())
        return nullptr;
    client.reset(new QCFTPClient(pair->a.get()));
    return relay;
}

void tst_QCftpClient::disconnectIsBounded()
{
    // The relay starts to lose every frame while the stream's control thread
    // asks the server for missing bytes: on a line this slow it retries for a
    // minute, and the stream's disconnect waits behind it.
    const std::unique_ptr<LossyRelay> relay = relayedPair();
    QVERIFY(relay);
    server.reset(new ScriptedCftpServer(pair->b.get(), Port));
    QVERIFY(server->listen());
    QVERIFY(login(client.get()));
    QCargo* stream = QCFTPClientPrivate::get(client.get())->cargo;
    stream->setLinkByteRate(50);
    LossyRelay::Rule all;
    all.probability = 1.0;
    relay->setRule(all);
    Observer seen(client.get());
    emit QCargoPrivate::get(stream)->sendMissing(0);
    QTRY_VERIFY_WITH_TIMEOUT(relay->dropped() > 0, 20000);
    QElapsedTimer clock;
    clock.start();
    client->disconnectFromServer();
    QVERIFY2(clock.elapsed() < 15000, "the disconnect waited too long");
    QCOMPARE(client->state(), QCFTP::Client::Disconnected);
    QTRY_COMPARE_WITH_TIMEOUT(seen.codes, QList<int>{127}, 20000);
}

void tst_QCftpClient::deletedFromItsOwnSignal()
{
    // On the client's own thread, inside finished(): the thread winds itself up.
    QVERIFY(login(client.get()));
    QCFTPClient* raw = client.release();
    std::atomic<bool> deleted{false};
    connect(raw, &QCFTPClient::finished, raw, [raw, &deleted] {
        delete raw;
        deleted = true;
    }, Qt::DirectConnection);
    QVERIFY(raw->createPath("/x"));
    QTRY_VERIFY_WITH_TIMEOUT(deleted.load(), 20000);
    // Its stream closes, and the server can take the next client.
    QTRY_COMPARE_WITH_TIMEOUT(server->cargo.state(), QCargo::StateListening, 20000);
    client.reset(new QCFTPClient(pair->a.get()));
    QVERIFY(login(client.get()));
}

void tst_QCftpClient::startUpload()
{
    temp.reset(new QTemporaryDir);
    local.setPath(temp->path());
    QVERIFY(login(client.get()));
    upload.reset(new QCftpClientDirectoryUpload(client.get()));
    server->requests.clear();
}

QStringList tst_QCftpClient::sentCommands() const
{
    QStringList out;
    for (const ScriptedCftpServer::Request& r : server->requests)
        out << r.command + " " + r.parameters.value(0);
    return out;
}

void tst_QCftpClient::directoryTree_data()
{
    QTest::addColumn<QString>("remote");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("to /x") << "/x" << QStringList{"MKD /x/", "MKD /x/s/", "STR /x/s/b.bin", "STR /x/a.txt"};
    QTest::newRow("to /") << "/" << QStringList{"MKD /s/", "STR /s/b.bin", "STR /a.txt"};
}

void tst_QCftpClient::directoryTree()
{
    startUpload();
    QFETCH(QString, remote);
    QFETCH(QStringList, expected);

    const QString dir = local.filePath("tree");
    writeFile(dir + "/a.txt", "abc");
    writeFile(dir + "/s/b.bin", "12345");
    writeFile(dir + "/.hidden", "h");
    // Links are not followed, in or out of the tree.
    QVERIFY(QFile::link(dir + "/s", dir + "/linkdir"));
    QVERIFY(QFile::link(dir + "/a.txt", dir + "/linkfile"));

    UploadObserver seen(upload.get());
    upload->upload(dir, remote);
    QTRY_VERIFY_WITH_TIMEOUT(seen.ended(), 20000);
    QCOMPARE(seen.events, QStringList{"finished"});
    QCOMPARE(sentCommands(), expected);
    QCOMPARE(server->requests.last().content, QByteArray("abc"));
    QVERIFY(upload->waitForFinished(0));
    QVERIFY(upload->errorString().isEmpty());
    // Totals count files only; the overall figure never passes the file's end.
    QVERIFY(!seen.progress.isEmpty());
    QCOMPARE(seen.progress.last(), QStringLiteral("a.txt 8/8"));
    for (const QString& p : seen.progress) {
        if (p.startsWith("a.txt"))
            QVERIFY2(p.split(' ').last().split('/').first().toInt() >= 5, qPrintable(p));
    }
}

void tst_QCftpClient::emptyFolder()
{
    startUpload();
    QVERIFY(QDir().mkpath(local.filePath("empty")));
    UploadObserver seen(upload.get());
    upload->upload(local.filePath("empty"), "/");
    QVERIFY(upload->waitForFinished(0)); // ended within the call
    QTRY_COMPARE_WITH_TIMEOUT(seen.events, QStringList{"finished"}, 20000);
    QVERIFY(server->requests.isEmpty());
}

void tst_QCftpClient::refusedCommandStopsTheUpload()
{
    startUpload();
    const QString dir = local.filePath("tree");
    writeFile(dir + "/a.txt", "abc");
    writeFile(dir + "/s/b.bin", "12345");
    server->answer = [](const ScriptedCftpServer::Request& r) {
        return r.command == "STR" ? QByteArray("20\nAction is not allowed\n\n") : QByteArray("0\n\n");
    };
    UploadObserver seen(upload.get());
    upload->upload(dir, "/x/");
    QTRY_VERIFY_WITH_TIMEOUT(seen.ended(), 20000);
    QCOMPARE(seen.events, (QStringList{"error Action is not allowed", "finished"}));
    QCOMPARE(sentCommands(), (QStringList{"MKD /x/", "MKD /x/s/", "STR /x/s/b.bin"}));
    QVERIFY(!upload->waitForFinished(0));
    QCOMPARE(client->state(), QCFTP::Client::Ready);

    // Nothing of the failed upload is left to go out with the next one.
    server->answer = ScriptedCftpServer::defaultAnswer;
    server->requests.clear();
    QVERIFY(QDir().mkpath(local.filePath("other/o")));
    upload->upload(local.filePath("other"), "/");
    QTRY_COMPARE_WITH_TIMEOUT(sentCommands(), QStringList{"MKD /o/"}, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(seen.events.size() == 3, 20000);
    QCOMPARE(seen.events.last(), QStringLiteral("finished"));
    QVERIFY(upload->waitForFinished(0));
}

void tst_QCftpClient::failuresBeforeAnyCommand()
{
    startUpload();
    // An archive that cannot be read; an archive that does not unpack.
    const QString missing = local.filePath("missing.tar.gz");
    const QString garbage = local.filePath("garbage.tar.gz");
    writeFile(garbage, "not an archive");
    const QString badName = local.filePath("bad");
    writeFile(badName + "/a\nb", "x");
    const QString clash = local.filePath("clash");
    writeFile(clash + QString::fromUtf8("/é€"), "1");
    writeFile(clash + QString::fromUtf8("/é?"), "2");
    const QList<QPair<QString, QString>> cases{
        {missing, "Can't open file for read access, path: " + missing},
        {garbage, "Error extracting file, path: " + garbage},
        {badName, "File name not allowed on the node, path: /a\nb"},
        {clash, QString::fromUtf8("File name not allowed on the node, path: /é?\n"
                                  "File name not allowed on the node, path: /é€")}};
    for (const auto& c : cases) {
        UploadObserver seen(upload.get());
        upload->upload(c.first, "/");
        QVERIFY(!upload->waitForFinished(0));
        QCOMPARE(upload->errorString(), c.second);
        QTRY_COMPARE_WITH_TIMEOUT(seen.events, (QStringList{"error " + c.second, "finished"}), 20000);
    }
    if (::geteuid() != 0) { // root reads anything
        const QString locked = local.filePath("locked");
        writeFile(locked + "/f", "x");
        QFile::setPermissions(locked + "/f", QFileDevice::WriteOwner);
        upload->upload(locked, "/");
        QCOMPARE(upload->errorString(), "Can't open file for read access, path: " + locked + "/f");
    }

    // A client that takes no command.
    client->disconnectFromServer();
    QTRY_COMPARE_WITH_TIMEOUT(client->state(), QCFTP::Client::Disconnected, 20000);
    const QString dir = local.filePath("tree");
    writeFile(dir + "/a.txt", "abc");
    upload->upload(dir, "/");
    QVERIFY(!upload->waitForFinished(0));
    QCOMPARE(upload->errorString(), QStringLiteral("Disconnected from server"));
    QVERIFY(server->requests.isEmpty());
}

void tst_QCftpClient::impossibleMemberNames_data()
{
    QTest::addColumn<bool>("archive"); // else a folder
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("refused");

    const QString umlaut = QString::fromUtf8("/ümlaut dir/");
    const QString chinese = QString::fromUtf8("/up 中文.txt");
    QTest::newRow("folder") << false << QStringList{"ok.txt", umlaut + "a.txt", chinese, "z/ok"}
                            << QStringList{umlaut, umlaut + "a.txt", chinese};
    QTest::newRow("archive") << true << QStringList{"ok.txt", umlaut, umlaut + "a.txt", "trailing "}
                             << QStringList{umlaut, umlaut + "a.txt", "/trailing "};
    // A long list is cut short: it goes into a message box.
    QStringList many, listed;
    for (int i = 0; i < 25; ++i) {
        many << QString::fromUtf8("/ä%1").arg(i, 2, 10, QLatin1Char('0'));
        if (i < 20)
            listed << many.last();
    }
    QTest::newRow("many") << true << many << listed + QStringList{"... and 5 more"};
}

void tst_QCftpClient::impossibleMemberNames()
{
    QFETCH(bool, archive);
    QFETCH(QStringList, names);
    QFETCH(QStringList, refused);
    startUpload();
    UploadObserver seen(upload.get());
    if (archive) {
        QList<TarEntry> entries;
        for (const QString& name : names)
            entries << member(name, name.endsWith('/') ? QByteArray() : QByteArray("data"));
        QCftpClientDirectoryUploadPrivate::get(upload.get())->uploadEntries(entries, "/tmp/pack.tar.gz");
    } else {
        for (const QString& name : names)
            writeFile(local.filePath("tree/" + name), "data");
        upload->upload(local.filePath("tree"), "/");
    }
    // Every refused name, one a line; none of the upload goes out.
    QStringList lines;
    for (const QString& path : refused)
        lines << (path.startsWith("...") ? path : "File name not allowed on the node, path: " + path);
    const QString expected = lines.join('\n');
    QVERIFY(!upload->waitForFinished(0));
    QCOMPARE(upload->errorString(), expected);
    QTRY_COMPARE_WITH_TIMEOUT(seen.events, (QStringList{"error " + expected, "finished"}), 20000);
    QVERIFY(server->requests.isEmpty());
}

void tst_QCftpClient::archiveMembers_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("expected"); // empty: fails before any command

    QTest::newRow("dot slash") << QStringList{"./dir/", "./dir/f"} << QStringList{"MKD /dir/", "STR /dir/f"};
    QTest::newRow("root member") << QStringList{"./"} << QStringList{"MKD /"};
    QTest::newRow("normalised") << QStringList{"/a/./b/../c", "d//e/"} << QStringList{"STR /a/c", "MKD /d/e/"};
    QTest::newRow("repeated member") << QStringList{"/f", "f"} << QStringList{"STR /f", "STR /f"};
    QTest::newRow("climbs out") << QStringList{"/ok", "a/../../etc/passwd"} << QStringList();
}

void tst_QCftpClient::archiveMembers()
{
    startUpload();
    QFETCH(QStringList, names);
    QFETCH(QStringList, expected);
    QList<TarEntry> entries;
    for (const QString& name : names)
        entries << member(name, name.endsWith('/') ? QByteArray() : QByteArray("data"));
    UploadObserver seen(upload.get());
    QCftpClientDirectoryUploadPrivate::get(upload.get())->uploadEntries(entries, "/tmp/pack.tar.gz");
    QTRY_VERIFY_WITH_TIMEOUT(seen.ended(), 20000);
    QCOMPARE(sentCommands(), expected);
    QCOMPARE(upload->waitForFinished(0), !expected.isEmpty());
    if (QTest::currentDataTag() == QLatin1String("climbs out"))
        QCOMPARE(upload->errorString(), QStringLiteral("Error extracting file, path: /tmp/pack.tar.gz"));
}

void tst_QCftpClient::archiveFromGnuTar_data()
{
    QTest::addColumn<QString>("format");
    for (const char* format : {"gnu", "posix", "ustar"})
        QTest::newRow(format) << QString::fromLatin1(format);
}

void tst_QCftpClient::archiveFromGnuTar()
{
    // A file at a 122-character path: the node gets the whole name, and none
    // of the records tar writes for it.
    startUpload();
    QFETCH(QString, format);
    const QString first(57, 'd');
    const QString deep = first + "/" + QString(57, 'e');
    writeFile(local.filePath("tree/" + deep + "/mod.js"), "exports.v = 7;");
    const QString archive = local.filePath("pack.tar.gz");
    writeFile(archive, gnuTarArchive(local.filePath("tree"), format));

    UploadObserver seen(upload.get());
    upload->upload(archive, "/");
    QTRY_VERIFY_WITH_TIMEOUT(seen.ended(), 20000);
    QCOMPARE(seen.events, QStringList{"finished"});
    QCOMPARE(sentCommands(),
             (QStringList{"MKD /", "MKD /" + first + "/", "MKD /" + deep + "/", "STR /" + deep + "/mod.js"}));
    QCOMPARE(server->requests.last().content, QByteArray("exports.v = 7;"));
}

void tst_QCftpClient::onlyItsOwnCommandsMoveItOn()
{
    startUpload();
    // Commands of other callers end while no upload runs, and while this
    // upload waits for its own: neither moves it on.
    UploadObserver seen(upload.get());
    QVERIFY(client->createPath("/other"));
    QTRY_COMPARE_WITH_TIMEOUT(client->state(), QCFTP::Client::Ready, 20000);

    const QString dir = local.filePath("tree");
    writeFile(dir + "/a.txt", "abc");
    writeFile(dir + "/b.txt", "de");
    bool held = true;
    server->answer = [&held](const ScriptedCftpServer::Request& r) {
        return held && r.parameters.value(0) == "/x/a.txt" ? QByteArray() : QByteArray("0\n\n");
    };
    upload->upload(dir, "/x/");
    QTRY_COMPARE_WITH_TIMEOUT(sentCommands().last(), QStringLiteral("STR /x/a.txt"), 20000);
    QVERIFY(seen.events.isEmpty());

    // Its own answer comes: on to the next.
    held = false;
    server->cargo.write("0\n\n");
    QTRY_VERIFY_WITH_TIMEOUT(seen.ended(), 20000);
    QCOMPARE(sentCommands(), (QStringList{"MKD /other", "MKD /x/", "STR /x/a.txt", "STR /x/b.txt"}));
    QCOMPARE(seen.events, QStringList{"finished"});
}

void tst_QCftpClient::anEndStillOnItsWayIsNotItsOwn()
{
    startUpload();
    // The client is Ready again before the finished() of the command that
    // ended has gone out. An upload started in between (here on the client's
    // thread, inside the report of Ready) must not take that finished() for
    // the end of its own first command.
    const QString dir = local.filePath("tree");
    writeFile(dir + "/a.txt", "abc");
    writeFile(dir + "/b.txt", "de");
    UploadObserver seen(upload.get());
    QCftpClientDirectoryUpload* u = upload.get();
    bool started = false; // the client's thread only
    const QMetaObject::Connection during = connect(client.get(), &QCFTPClient::stateChanged, client.get(),
                                                   [u, dir, &started](QCFTP::Client::State state) {
        if (state == QCFTP::Client::Ready && !started) {
            started = true;
            u->upload(dir, "/x/");
        }
    }, Qt::DirectConnection);
    QVERIFY(client->createPath("/other"));
    QTRY_VERIFY_WITH_TIMEOUT(seen.ended(), 20000);
    disconnect(during);
    QCOMPARE(seen.events, QStringList{"finished"});
    QCOMPARE(sentCommands(), (QStringList{"MKD /other", "MKD /x/", "STR /x/a.txt", "STR /x/b.txt"}));
    QVERIFY(upload->waitForFinished(0));
}

void tst_QCftpClient::gatePassesEachEndOnce()
{
    // The gate is shut from the moment the client is Ready or Disconnected
    // again until that end has come through it; inside its finished() it is
    // open. An answer without a code ends the command and then the link:
    // two ends, both passed.
    QCftpClientGate gate(client.get());
    QVERIFY(gate.isOpen());
    QStringList seen;
    connect(client.get(), &QCFTPClient::stateChanged, this, [&](QCFTP::Client::State s) {
        if (s == QCFTP::Client::Ready || s == QCFTP::Client::Disconnected)
            seen << QStringLiteral("state %1 %2").arg(int(s)).arg(gate.isOpen() ? "open" : "shut");
    });
    connect(&gate, &QCftpClientGate::finished, this, [&](QCFTP::ResponseCode code) {
        seen << QStringLiteral("end %1 %2").arg(int(code)).arg(gate.isOpen() ? "open" : "shut");
    });
    QVERIFY(login(client.get()));
    QVERIFY(client->listPath("/"));
    QTRY_COMPARE_WITH_TIMEOUT(seen.size(), 4, 20000);
    server->answer = [](const ScriptedCftpServer::Request&) { return QByteArray("yes\n\n"); };
    QVERIFY(client->movePath("/a", "/b"));
    QTRY_COMPARE_WITH_TIMEOUT(seen.size(), 7, 20000);
    // The link's end may already be announced as the command's comes through.
    seen[4].replace(QRegularExpression(" (open|shut)$"), QString());
    QCOMPARE(seen, QStringList({"state 6 shut", "end 0 open", "state 6 shut", "end 0 open", "end 1",
                                "state 0 shut", "end 127 open"}));
    QVERIFY(gate.isOpen());
}

void tst_QCftpClient::gateMadeWhileAnEndIsUnderWay()
{
    // Made on the client's thread as it reports Ready: the command's end is
    // counted, its finished() still to go out. That end counts as passed:
    // the gate is open at once and passes on only the ends that follow.
    QVERIFY(login(client.get()));
    struct Made
    {
        std::atomic<QCftpClientGate*> gate{nullptr};
        std::atomic<bool> openAtOnce{false};
    };
    const auto made = std::make_shared<Made>();
    QCFTPClient* c = client.get();
    QThread* here = QThread::currentThread();
    QList<int> passed; // this thread only
    const QMetaObject::Connection during = connect(c, &QCFTPClient::stateChanged, c,
                                                   [this, c, made, here, &passed](QCFTP::Client::State s) {
        if (s != QCFTP::Client::Ready || made->gate.load())
            return;
        auto* gate = new QCftpClientGate(c);
        made->openAtOnce = gate->isOpen();
        connect(gate, &QCftpClientGate::finished, this, [&passed](QCFTP::ResponseCode code) { passed << code; });
        gate->moveToThread(here); // its ends are handled here from now on
        made->gate = gate;
    }, Qt::DirectConnection);
    const auto forget = qScopeGuard([&] {
        disconnect(during);
        delete made->gate.load();
    });
    QVERIFY(client->createPath("/first"));
    QTRY_VERIFY_WITH_TIMEOUT(made->gate.load(), 20000);
    QVERIFY(made->openAtOnce.load());
    server->answer = [](const ScriptedCftpServer::Request&) { return QByteArray("20\nAction is not allowed\n\n"); };
    QVERIFY(client->createPath("/second"));
    QTRY_VERIFY_WITH_TIMEOUT(!passed.isEmpty(), 20000);
    QCOMPARE(passed, QList<int>{20});
    QVERIFY(made->gate.load()->isOpen());
}

void tst_QCftpClient::readyOnlyWithItsEndCounted()
{
    // A command ends by making the client Ready and counting its end in one
    // step. Were Ready seen first, a command started from another thread in
    // between would take the old end for its own. A second thread samples
    // the client's status while the client runs command after command (each
    // started on the client's thread by the end of the one before): a Ready
    // never comes with fewer ends than a Busy seen before it.
    QVERIFY(login(client.get()));
    constexpr int Commands = 3000;
    constexpr qint64 BoundMs = 8000;
    struct Run
    {
        std::atomic<bool> stop{false};
        std::atomic<int> ended{0};
        std::atomic<quint64> fault{0}; // the status word seen Ready with its end uncounted
        std::atomic<int> busySeen{0}, readySeen{0};
    };
    const auto run = std::make_shared<Run>();
    QCFTPClientPrivate* p = QCFTPClientPrivate::get(client.get());
    std::thread sampler([run, p] {
        quint64 busyEnds = 0;
        int busy = 0, ready = 0;
        while (!run->stop.load() && !run->fault.load()) {
            const quint64 word = p->status.load();
            const quint64 ends = QCFTPClientPrivate::endsOf(word);
            const int state = QCFTPClientPrivate::stateOf(word);
            if (state == QCFTP::Client::Busy) {
                busyEnds = ends;
                ++busy;
            } else if (state == QCFTP::Client::Ready) {
                if (busy > 0 && ends <= busyEnds)
                    run->fault = word;
                ++ready;
            }
        }
        run->busySeen = busy;
        run->readySeen = ready;
    });
    const auto join = qScopeGuard([&] {
        run->stop = true;
        if (sampler.joinable())
            sampler.join();
    });
    QCFTPClient* c = client.get();
    // Direct: on the client's thread, Ready already, before the end goes on.
    const QMetaObject::Connection next = connect(c, &QCFTPClient::finished, c, [c, run] {
        if (++run->ended < Commands && !run->stop.load() && !run->fault.load())
            c->createPath("/n");
    }, Qt::DirectConnection);
    const auto forget = qScopeGuard([&] { disconnect(next); });
    QElapsedTimer clock;
    clock.start();
    QVERIFY(client->createPath("/n"));
    // An event loop that waits for events, so that the server answers at once.
    QEventLoop loop;
    QTimer check;
    connect(&check, &QTimer::timeout, &loop, [&] {
        if (run->ended.load() >= Commands || run->fault.load() || clock.hasExpired(BoundMs))
            loop.quit();
    });
    check.start(5);
    loop.exec();
    run->stop = true;
    disconnect(next);
    sampler.join();
    QVERIFY(QTest::qWaitFor([&] { return client->state() == QCFTP::Client::Ready; }, 20000));
    const quint64 fault = run->fault.load();
    QVERIFY2(!fault, qPrintable(QStringLiteral("Ready with %1 ends after a Busy with as many, command %2")
                                    .arg(QCFTPClientPrivate::endsOf(fault))
                                    .arg(run->ended.load())));
    QVERIFY(run->busySeen.load() > 0 && run->readySeen.load() > 0);
}

void tst_QCftpClient::linkLostBeforeTheFirstCommand_data()
{
    QTest::addColumn<bool>("archive");
    QTest::newRow("folder") << false;
    QTest::newRow("archive") << true;
}

void tst_QCftpClient::linkLostBeforeTheFirstCommand()
{
    // The server ends the connection. Its end has reached the client's
    // thread, queued there, while the client still says Ready: an upload
    // started now has its first command taken, and the finished(127) that
    // comes next, before that command went out, must end the upload.
    QFETCH(bool, archive);
    startUpload();
    const QString dir = local.filePath("tree");
    writeFile(dir + "/s/a.txt", "abc");
    const QString pack = local.filePath("pack.tar.gz");
    writeFile(pack, packFolder(dir));

    // The client's thread is held inside the stream's report of the end,
    // just after the client queued its own handling of it.
    struct Hold
    {
        QSemaphore reached, resume;
        bool held = false; // the client's thread only
    };
    const auto hold = std::make_shared<Hold>();
    QCargo* stream = QCFTPClientPrivate::get(client.get())->cargo;
    // It holds once; the connection goes with the stream, on the client's thread.
    connect(stream, &QCargo::stateChanged, stream, [hold](QCargo::CargoState state) {
        if (state != QCargo::StateDisconnected || hold->held)
            return;
        hold->held = true;
        hold->reached.release();
        hold->resume.tryAcquire(1, 20000);
    }, Qt::DirectConnection);
    const auto release = qScopeGuard([hold] { hold->resume.release(); });
    server->cargo.disconnectFromNode();
    QVERIFY(hold->reached.tryAcquire(1, 20000));
    QCOMPARE(client->state(), QCFTP::Client::Ready);

    UploadObserver seen(upload.get());
    Observer ends(client.get()); // connected after the upload: its reports come after the upload's
    upload->upload(archive ? pack : dir, "/x/");
    QCOMPARE(client->state(), QCFTP::Client::Busy); // the first command was taken
    hold->resume.release();
    QTRY_COMPARE_WITH_TIMEOUT(ends.codes, QList<int>{127}, 20000);
    QCOMPARE(seen.events, (QStringList{"error Disconnected from server", "finished"}));
    QVERIFY(!upload->waitForFinished(0));
    QCOMPARE(upload->errorString(), QStringLiteral("Disconnected from server"));
    QCOMPARE(client->state(), QCFTP::Client::Disconnected);
    QVERIFY(server->requests.isEmpty());
}

QTEST_GUILESS_MAIN(tst_QCftpClient)
#include "tst_qcftpclient.moc"
