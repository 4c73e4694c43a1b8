// The real client against the test node's file service: a tree of files up
// and back down, moving, copying and deleting, a quarter mebibyte through a
// relay that loses frames, and a login and download against the
// erfc-testnode program.

#include "lossyrelay.h"
#include "scriptedcftpserver.h"
#include "qcftpclient.h"
#include "qcftpclientdirectoryupload.h"
#include "stackpair.h"
#include "testcftpserver.h"
#include "testnodeprocess.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr quint8 Port = TestCftpServer::Channel;

QByteArray randomBytes(int size, quint32 seed)
{
    QRandomGenerator generator(seed);
    QByteArray out(size, Qt::Uninitialized);
    for (char& c : out)
        c = char(generator.bounded(256));
    return out;
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

bool login(QCFTPClient* client, quint8 address)
{
    return cftpFinishes(client, [&] { return client->connectToServer("user", "secret", address, Port); }, 60000) == 0;
}

} // namespace

class tst_QCftpEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void treeUpAndDown();
    void throughLossyRelay();
    void testNodeProgram();

private:
    void serve();

    std::unique_ptr<StackPair> pair;
    std::unique_ptr<QTemporaryDir> root;
    std::unique_ptr<TestCftpServer> server;
    std::unique_ptr<QCFTPClient> client;
};

void tst_QCftpEndToEnd::init()
{
    root.reset(new QTemporaryDir);
    pair.reset(new StackPair);
}

void tst_QCftpEndToEnd::serve()
{
    QVERIFY(pair->connectAndDiscover());
    server.reset(new TestCftpServer(pair->b.get(), "user", "secret"));
    server->setRootPath(root->path());
    QVERIFY(server->listen(QErfc::User, Port));
    client.reset(new QCFTPClient(pair->a.get()));
    QVERIFY(login(client.get(), pair->b->address()));
}

void tst_QCftpEndToEnd::cleanup()
{
    client.reset();
    server.reset();
    pair.reset();
    root.reset();
}

void tst_QCftpEndToEnd::treeUpAndDown()
{
    serve();
    QTemporaryDir local;
    QStringList files;
    for (int i = 0; i < 50; ++i) {
        const QString rel = i % 10 == 0 ? QStringLiteral("top%1.bin").arg(i)
                                        : QStringLiteral("d%1/%2f%3.bin").arg(i % 5).arg(i % 3 ? "s/" : "").arg(i);
        QVERIFY(QDir().mkpath(QFileInfo(local.filePath(rel)).path()));
        QFile f(local.filePath(rel));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(randomBytes(int(QRandomGenerator(i).bounded(3000)), quint32(i)));
        files << rel;
    }

    QCftpClientDirectoryUpload upload(client.get());
    bool ended = false;
    connect(&upload, &QCftpClientDirectoryUpload::finished, this, [&ended] { ended = true; }, Qt::QueuedConnection);
    upload.upload(local.path(), "/up");
    QTRY_VERIFY_WITH_TIMEOUT(ended, 120000);
    QCOMPARE(upload.errorString(), QString());

    for (const QString& rel : files) {
        const QByteArray original = readFile(local.filePath(rel));
        QCOMPARE(readFile(root->filePath("up/" + rel)), original);
        QCOMPARE(cftpFinishes(client.get(), [&] { return client->downloadFile("/up/" + rel); }), 0);
        QCOMPARE(client->downloadedFile().data(), original);
    }
    QCOMPARE(cftpFinishes(client.get(), [&] { return client->listPath("/up/d1/"); }), 0);
    QCOMPARE(client->fileInfoList().first().path(), QStringLiteral("/up/d1/s/"));
}

void tst_QCftpEndToEnd::throughLossyRelay()
{
    LossyRelay relay(pair->deviceA->port());
    QVERIFY(relay.port() != 0);
    pair->deviceB.reset(new TcpClientTestDevice(relay.port()));
    pair->linkB.reset(new QErfcStreamInterface(pair->deviceB.get()));
    serve();
    LossyRelay::Rule rule;
    rule.probability = 0.01;
    rule.seed = 11;
    relay.setRule(rule);

    QCFTPFile file;
    file.setPath("/big.bin");
    file.setData(randomBytes(256 * 1024, 5));
    QCOMPARE(cftpFinishes(client.get(), [&] { return client->uploadFile(file); }, 300000), 0);
    QCOMPARE(readFile(root->filePath("big.bin")), file.data());
    QCOMPARE(cftpFinishes(client.get(), [&] { return client->downloadFile("/big.bin"); }, 300000), 0);
    QCOMPARE(client->downloadedFile().data(), file.data());
    QVERIFY(relay.dropped() > 0);
}

void tst_QCftpEndToEnd::testNodeProgram()
{
    QFile f(root->filePath("hello.txt"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("hello from the node");
    f.close();
    TestNodeProcess node(QStringLiteral(TESTNODE_PATH));
    const quint16 port = node.listen({"--tick", "0", "--cftp-root", root->path()});
    QVERIFY(port != 0);

    QErfcStack stack(1);
    TcpClientTestDevice device(port);
    QErfcStreamInterface link(&device);
    stack.bindInterface(&link);
    stack.enable();
    QTRY_VERIFY_WITH_TIMEOUT(stack.knownNodes().contains(10), 20000);
    {
        QCFTPClient nodeClient(&stack);
        QVERIFY(login(&nodeClient, 10));
        QCOMPARE(cftpFinishes(&nodeClient, [&] { return nodeClient.downloadFile("/hello.txt"); }), 0);
        QCOMPARE(nodeClient.downloadedFile().data(), QByteArray("hello from the node"));
        // A wrong password is refused: the stream closes.
        nodeClient.disconnectFromServer();
        QVERIFY(nodeClient.connectToServer("user", "wrong", 10, Port));
        QTRY_COMPARE_WITH_TIMEOUT(nodeClient.state(), QCFTP::Client::Disconnected, 20000);
    }
    stack.releaseInterface(&link);
}

QTEST_GUILESS_MAIN(tst_QCftpEndToEnd)
#include "tst_qcftpendtoend.moc"
