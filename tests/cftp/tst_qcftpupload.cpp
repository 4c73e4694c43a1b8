// QCftpClientDirectoryUpload through a logged-in client against the scripted
// server: the order of commands and the byte counts, failures before and
// during the upload, archive member names, and which finished() moves it on.

#include "qcftpclient.h"
#include "qcftpclientdirectoryupload.h"
#include "qcftpclientdirectoryupload_p.h"
#include "scriptedcftpserver.h"
#include "stackpair.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

namespace {

constexpr quint8 Port = 125;

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
class Observer : public QObject
{
public:
    explicit Observer(QCftpClientDirectoryUpload* upload)
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

class tst_QCftpUpload : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void directoryTree_data();
    void directoryTree();
    void emptyFolder();
    void refusedCommandStopsTheUpload();
    void failuresBeforeAnyCommand();
    void archiveMembers_data();
    void archiveMembers();
    void archiveFile();
    void onlyItsOwnCommandsMoveItOn();

private:
    QStringList commands() const;

    std::unique_ptr<StackPair> pair;
    std::unique_ptr<ScriptedCftpServer> server;
    std::unique_ptr<QCFTPClient> client;
    std::unique_ptr<QCftpClientDirectoryUpload> upload;
    std::unique_ptr<QTemporaryDir> temp;
    QDir local;
};

void tst_QCftpUpload::init()
{
    temp.reset(new QTemporaryDir);
    local.setPath(temp->path());
    pair.reset(new StackPair);
    QVERIFY(pair->connectAndDiscover());
    server.reset(new ScriptedCftpServer(pair->b.get(), Port));
    QVERIFY(server->listen());
    client.reset(new QCFTPClient(pair->a.get()));
    upload.reset(new QCftpClientDirectoryUpload(client.get()));
    QVERIFY(client->connectToServer("user", "secret", pair->b->address(), Port));
    QTRY_COMPARE_WITH_TIMEOUT(client->state(), QCFTP::Client::Ready, 20000);
    server->requests.clear();
}

void tst_QCftpUpload::cleanup()
{
    upload.reset();
    client.reset();
    server.reset();
    pair.reset();
    temp.reset();
}

QStringList tst_QCftpUpload::commands() const
{
    QStringList out;
    for (const ScriptedCftpServer::Request& r : server->requests)
        out << r.command + " " + r.parameters.value(0);
    return out;
}

void tst_QCftpUpload::directoryTree_data()
{
    QTest::addColumn<QString>("remote");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("to /x/") << "/x/" << QStringList{"MKD /x/", "MKD /x/s/", "STR /x/s/b.bin", "STR /x/a.txt"};
    QTest::newRow("to /x") << "/x" << QStringList{"MKD /x/", "MKD /x/s/", "STR /x/s/b.bin", "STR /x/a.txt"};
    QTest::newRow("to /") << "/" << QStringList{"MKD /s/", "STR /s/b.bin", "STR /a.txt"};
}

void tst_QCftpUpload::directoryTree()
{
    QFETCH(QString, remote);
    QFETCH(QStringList, expected);

    const QString dir = local.filePath("tree");
    writeFile(dir + "/a.txt", "abc");
    writeFile(dir + "/s/b.bin", "12345");
    writeFile(dir + "/.hidden", "h");
    // Links are not followed, in or out of the tree.
    QVERIFY(QFile::link(dir + "/s", dir + "/linkdir"));
    QVERIFY(QFile::link(dir + "/a.txt", dir + "/linkfile"));

    Observer seen(upload.get());
    upload->upload(dir, remote);
    QTRY_VERIFY_WITH_TIMEOUT(seen.ended(), 20000);
    QCOMPARE(seen.events, QStringList{"finished"});
    QCOMPARE(commands(), expected);
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

void tst_QCftpUpload::emptyFolder()
{
    QVERIFY(QDir().mkpath(local.filePath("empty")));
    Observer seen(upload.get());
    upload->upload(local.filePath("empty"), "/");
    QVERIFY(upload->waitForFinished(0)); // ended within the call
    QTRY_COMPARE_WITH_TIMEOUT(seen.events, QStringList{"finished"}, 20000);
    QVERIFY(server->requests.isEmpty());
}

void tst_QCftpUpload::refusedCommandStopsTheUpload()
{
    const QString dir = local.filePath("tree");
    writeFile(dir + "/a.txt", "abc");
    writeFile(dir + "/s/b.bin", "12345");
    server->answer = [](const ScriptedCftpServer::Request& r) {
        return r.command == "STR" ? QByteArray("20\nAction is not allowed\n\n") : QByteArray("0\n\n");
    };
    Observer seen(upload.get());
    upload->upload(dir, "/x/");
    QTRY_VERIFY_WITH_TIMEOUT(seen.ended(), 20000);
    QCOMPARE(seen.events, (QStringList{"error Action is not allowed", "finished"}));
    QCOMPARE(commands(), (QStringList{"MKD /x/", "MKD /x/s/", "STR /x/s/b.bin"}));
    QVERIFY(!upload->waitForFinished(0));
    QCOMPARE(client->state(), QCFTP::Client::Ready);

    // Nothing of the failed upload is left to go out with the next one.
    server->answer = ScriptedCftpServer::defaultAnswer;
    server->requests.clear();
    QVERIFY(QDir().mkpath(local.filePath("other/o")));
    upload->upload(local.filePath("other"), "/");
    QTRY_COMPARE_WITH_TIMEOUT(commands(), QStringList{"MKD /o/"}, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(seen.events.size() == 3, 20000);
    QCOMPARE(seen.events.last(), QStringLiteral("finished"));
    QVERIFY(upload->waitForFinished(0));
}

void tst_QCftpUpload::failuresBeforeAnyCommand()
{
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
        {clash, QString::fromUtf8("Two files would have the same name on the node, path: /é€")}};
    for (const auto& c : cases) {
        Observer seen(upload.get());
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

void tst_QCftpUpload::archiveMembers_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("expected"); // empty: fails before any command

    QTest::newRow("dot slash") << QStringList{"./dir/", "./dir/f"} << QStringList{"MKD /dir/", "STR /dir/f"};
    QTest::newRow("root member") << QStringList{"./"} << QStringList{"MKD /"};
    QTest::newRow("normalised") << QStringList{"/a/./b/../c", "d//e/"} << QStringList{"STR /a/c", "MKD /d/e/"};
    QTest::newRow("repeated member") << QStringList{"/f", "f"} << QStringList{"STR /f", "STR /f"};
    QTest::newRow("climbs out") << QStringList{"/ok", "a/../../etc/passwd"} << QStringList();
    QTest::newRow("Latin-1 clash") << QStringList{QString::fromUtf8("/€"), "/?"} << QStringList();
}

void tst_QCftpUpload::archiveMembers()
{
    QFETCH(QStringList, names);
    QFETCH(QStringList, expected);
    QList<TarEntry> entries;
    for (const QString& name : names)
        entries << member(name, name.endsWith('/') ? QByteArray() : QByteArray("data"));
    Observer seen(upload.get());
    QCftpClientDirectoryUploadPrivate::get(upload.get())->uploadEntries(entries, "/tmp/pack.tar.gz");
    QTRY_VERIFY_WITH_TIMEOUT(seen.ended(), 20000);
    QCOMPARE(commands(), expected);
    QCOMPARE(upload->waitForFinished(0), !expected.isEmpty());
    if (QTest::currentDataTag() == QLatin1String("climbs out"))
        QCOMPARE(upload->errorString(), QStringLiteral("Error extracting file, path: /tmp/pack.tar.gz"));
}

// A package made by GNU tar goes through the archive reader into the queue.
void tst_QCftpUpload::archiveFile()
{
    writeFile(local.filePath("root/dir/f"), "abc");
    const QString archive = local.filePath("p.tar.gz");
    QProcess tar;
    tar.start("tar", {"czf", archive, "-C", local.filePath("root"), "."});
    QVERIFY(tar.waitForFinished(20000));
    QCOMPARE(tar.exitCode(), 0);
    Observer seen(upload.get());
    upload->upload(archive, "/");
    QTRY_VERIFY_WITH_TIMEOUT(seen.ended(), 20000);
    QCOMPARE(commands(), (QStringList{"MKD /", "MKD /dir/", "STR /dir/f"}));
    QVERIFY(upload->waitForFinished(0));
}

void tst_QCftpUpload::onlyItsOwnCommandsMoveItOn()
{
    // Commands of other callers end while no upload runs, and while this
    // upload waits for its own: neither moves it on.
    Observer seen(upload.get());
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
    QTRY_COMPARE_WITH_TIMEOUT(commands().last(), QStringLiteral("STR /x/a.txt"), 20000);
    QVERIFY(!client->createPath("/busy")); // one command at a time
    QVERIFY(seen.events.isEmpty());

    // Its own answer comes: on to the next.
    held = false;
    server->cargo.write("0\n\n");
    QTRY_VERIFY_WITH_TIMEOUT(seen.ended(), 20000);
    QCOMPARE(commands(), (QStringList{"MKD /other", "MKD /x/", "STR /x/a.txt", "STR /x/b.txt"}));
    QCOMPARE(seen.events, QStringList{"finished"});
}

QTEST_GUILESS_MAIN(tst_QCftpUpload)
#include "tst_qcftpupload.moc"
