// The remote file tree: its rows without a network, then every command's chain of requests
// against the test node's file service, with the signals to the owner, the
// failures, and a link dropped at each step of a chain.

#include "explorernode.h"
#include "qcftpclient.h"
#include "qcftpclientexplorertreewidget.h"
#include "qcftpclientexplorertreewidget_p.h"
#include "qcftpclientexplorertreewidgetitem.h"

#include <QDateTime>
#include <QFileIconProvider>
#include <QTreeWidgetItemIterator>
#include <QtTest>

namespace {

QCFTPFileInfo entry(const QString& path, quint32 size = 0, quint32 time = 0)
{
    QCFTPFileInfo info;
    info.setPath(path);
    info.setSize(size);
    info.setLastModified(time);
    return info;
}

QStringList names(QTreeWidgetItem* item)
{
    QStringList out;
    for (int i = 0; i < item->childCount(); ++i)
        out << item->child(i)->text(0);
    return out;
}

QImage image(const QIcon& icon)
{
    return icon.pixmap(16, 16).toImage();
}

} // namespace

class tst_ExplorerTree : public QObject
{
    Q_OBJECT
private slots:
    // Rows, no network.
    void formatSize_data();
    void formatSize();
    void rowTextsAndIcons();
    void mergeListing();

    // Against the test node.
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void chains_data();
    void chains();
    void refusals();
    void failedCommandReportsAndRefreshes_data();
    void failedCommandReportsAndRefreshes();
    void refreshPrunesVanishedDirectories();
    void linkDroppedDuringAChain_data();
    void linkDroppedDuringAChain();
    void linkDroppedBetweenTwoLinks();

private:
    bool login();
    // Waits until the chain in flight has ended and the client is ready.
    bool idle();
    void run(const QString& command);

    ExplorerNode node;
    std::unique_ptr<QCFTPClient> client;
    std::unique_ptr<QCFTPClientExplorerTreeWidget> tree;
    QStringList signalsSeen;
};

// ---------------------------------------------------------------- rows

void tst_ExplorerTree::formatSize_data()
{
    QTest::addColumn<uint>("bytes");
    QTest::addColumn<bool>("si");
    QTest::addColumn<QString>("text");
    QTest::newRow("999") << 999u << true << "999 B";
    QTest::newRow("1000") << 1000u << true << "1.0 kB";
    QTest::newRow("4294967295") << 4294967295u << true << "4.3 GB";
    QTest::newRow("1 MiB") << 1048576u << false << "1.0 MiB";
}

void tst_ExplorerTree::formatSize()
{
    QFETCH(uint, bytes);
    QFETCH(bool, si);
    QFETCH(QString, text);
    QCOMPARE(QCFTPClientExplorerTreeWidgetItem::formatSize(bytes, si), text);
}

void tst_ExplorerTree::rowTextsAndIcons()
{
    QCFTPClientExplorerTreeWidget view;
    QCOMPARE(view.topLevelItemCount(), 1);
    QVERIFY(!view.isEnabled());
    QTreeWidgetItem* root = view.topLevelItem(0);
    QCOMPARE(root->text(0) + '|' + root->text(1) + '|' + root->text(2), QStringLiteral("/||"));

    const quint32 time = 1700000000;
    const QString date = QDateTime::fromSecsSinceEpoch(time).toString("yyyy-MM-dd hh:mm.ss");
    view.mergeListing(root, {entry("/big.lua", 999999, time), entry("/Zeta/"), entry("/empty.TXT"),
                             entry("/beta/", 0, time)});
    QStringList texts;
    for (int i = 0; i < root->childCount(); ++i)
        texts << root->child(i)->text(0) + '|' + root->child(i)->text(1) + '|' + root->child(i)->text(2);
    QCOMPARE(texts, QStringList({"beta/||" + date, "Zeta/||", "big.lua|1000.0 kB (999999)|" + date, "empty.TXT|0 B (0)|"}));

    // Text files by their lower-case suffix have their own icon.
    QFileIconProvider provider;
    const auto icon = [&](const QString& path) { return image(view.itemForPath(path)->icon(0)); };
    QVERIFY(view.itemForPath("/big.lua")->isTextFile() && !view.itemForPath("/empty.TXT")->isTextFile());
    QCOMPARE(icon("/big.lua"), image(QIcon(":/img/resource/file_text.png")));
    QVERIFY(!icon("/big.lua").isNull());
    QCOMPARE(icon("/empty.TXT"), image(provider.icon(QFileIconProvider::File)));
    QCOMPARE(icon("/beta/"), image(provider.icon(QFileIconProvider::Folder)));
}

void tst_ExplorerTree::mergeListing()
{
    QCFTPClientExplorerTreeWidget view;
    QTreeWidgetItem* root = view.topLevelItem(0);
    view.mergeListing(root, {entry("/keep.txt", 3, 10), entry("/dir/", 0, 10), entry("/gone.txt", 1, 10)});
    QTreeWidgetItem* keep = view.itemForPath("/keep.txt");
    QCFTPClientExplorerTreeWidgetItem* dir = view.itemForPath("/dir/");
    view.mergeListing(dir, {entry("/dir/inner.txt", 1, 10)});
    QCOMPARE(dir->childCount(), 1);

    // Equal entries keep their rows; a changed directory is replaced without
    // its children; a vanished entry goes; duplicates show once.
    view.mergeListing(root, {entry("/keep.txt", 3, 10), entry("/dir/", 0, 11), entry("/new.txt", 2, 10),
                             entry("/new.txt", 2, 10)});
    QCOMPARE(names(root), QStringList({"dir/", "keep.txt", "new.txt"}));
    QCOMPARE(view.itemForPath("/keep.txt"), keep);
    QCOMPARE(view.itemForPath("/dir/")->fileInfo().lastModified(), 11u);
    QCOMPARE(root->child(0)->childCount(), 0);

    QStringList loaded;
    view.mergeListing(view.itemForPath("/dir/"), {entry("/dir/x/")});
    view.mergeListing(view.itemForPath("/dir/x/"), {entry("/dir/x/y.txt")});
    view.collectLoadedPaths(root, loaded);
    QCOMPARE(loaded, QStringList({"/", "/dir/", "/dir/x/"}));
    view.clear();
    QCOMPARE(root->childCount(), 0);
    QCOMPARE(view.topLevelItemCount(), 1);
}

// ---------------------------------------------------------------- against the test node

void tst_ExplorerTree::initTestCase()
{
    QVERIFY(node.start("tree-node"));
    client.reset(new QCFTPClient(node.pair.a.get()));
    tree.reset(new QCFTPClientExplorerTreeWidget);
    tree->setClient(client.get());
    QCOMPARE(tree->headerItem()->text(0) + tree->headerItem()->text(1) + tree->headerItem()->text(2),
             QStringLiteral("PathSizeDate"));
    connect(tree.get(), &QCFTPClientExplorerTreeWidget::error, this, [this](const QString& e) { signalsSeen << "error " + e; });
    connect(tree.get(), &QCFTPClientExplorerTreeWidget::transactionBegin, this, [this] { signalsSeen << "begin"; });
    connect(tree.get(), &QCFTPClientExplorerTreeWidget::transactionProgress, this, [this] {
        if (signalsSeen.value(signalsSeen.size() - 1) != "progress")
            signalsSeen << "progress";
    });
    connect(tree.get(), &QCFTPClientExplorerTreeWidget::transactionFinished, this, [this] { signalsSeen << "finished"; });
    connect(tree.get(), &QCFTPClientExplorerTreeWidget::downloadFinished, this, [this](const QCFTPFile& f) {
        signalsSeen << QStringLiteral("download %1 %2").arg(f.path(), QString::fromLatin1(f.data().left(20)));
    });
}

void tst_ExplorerTree::cleanupTestCase()
{
    tree->setClient(nullptr);
    tree.reset();
    client.reset();
    node.stop();
}

bool tst_ExplorerTree::login()
{
    if (client->state() != QCFTP::Client::Ready) {
        if (!QTest::qWaitFor([&] { return client->state() == QCFTP::Client::Disconnected; }, 20000))
            return false;
        if (!client->connectToServer("user", "secret", ExplorerNode::Address, TestCftpServer::Channel))
            return false;
        // One attempt, also right after a dropped link: logged in, or refused.
        const bool ended = QTest::qWaitFor([&] {
            const QCFTP::Client::State s = client->state();
            return s == QCFTP::Client::Ready || s == QCFTP::Client::Disconnected;
        }, 20000);
        if (!ended || client->state() != QCFTP::Client::Ready) {
            qWarning("login failed: %s", qPrintable(client->errorString()));
            return false;
        }
    }
    return idle() && QTest::qWaitFor([&] { return tree->isEnabled(); }, 20000);
}

bool tst_ExplorerTree::idle()
{
    auto* d = QCFTPClientExplorerTreeWidgetPrivate::get(tree.get());
    return waitUnlessStalled(*client, [&] {
        return d->m_step == QCFTPClientExplorerTreeWidgetPrivate::NoStep && !d->m_busy
            && client->state() == QCFTP::Client::Ready;
    });
}

void tst_ExplorerTree::init()
{
    if (QTest::currentTestFunction() == QByteArray("initTestCase"))
        return;
    QVERIFY(login());
    QVERIFY(idle());
    node.server->clearFault();
    node.wipe();
    QVERIFY(node.write("/a.txt", "alpha"));
    QVERIFY(node.write("/b/x.txt", "x"));
    tree->clear();
    node.server->clearCommands();
    signalsSeen.clear();
}

void tst_ExplorerTree::cleanup()
{
    // A failed test may leave a command that never ends: the next one starts
    // from a new login rather than waiting for it.
    if (QTest::currentTestFailed() && client && client->state() != QCFTP::Client::Disconnected)
        client->disconnectFromServer();
}

void tst_ExplorerTree::run(const QString& command)
{
    QCFTPFile upload;
    upload.setPath("/b/u.txt");
    upload.setData("hello");
    upload.setLastModified(1234567890);
    bool ok = false;
    if (command == "list")
        ok = tree->listPath("/b/");
    else if (command == "move")
        ok = tree->movePath("/a.txt", "/b/a.txt");
    else if (command == "copy")
        ok = tree->copyPath("/a.txt", "/b/c.txt");
    else if (command == "delete")
        ok = tree->deletePath("/b/x.txt");
    else if (command == "upload")
        ok = tree->uploadFile(upload);
    else if (command == "download")
        ok = tree->downloadFile("/a.txt");
    QVERIFY2(ok, qPrintable(command));
}

void tst_ExplorerTree::chains_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QStringList>("requests");
    QTest::addColumn<QStringList>("owner");
    QTest::addColumn<QString>("rows"); // what the tree holds afterwards, "/" first

    QTest::newRow("list") << "list" << QStringList{"LST /b/"} << QStringList{} << "b/ x.txt";
    QTest::newRow("upload") << "upload"
                            << QStringList{"LST /b/", "STR /b/u.txt 1234567890 5", "LST /b/", "LST /b/"}
                            << QStringList{"begin", "finished"} << "b/ u.txt x.txt";
    QTest::newRow("download") << "download" << QStringList{"GET /a.txt"}
                              << QStringList{"begin", "finished", "download /a.txt alpha"} << "";
}

void tst_ExplorerTree::chains()
{
    QFETCH(QString, command);
    QFETCH(QStringList, requests);
    QFETCH(QStringList, owner);
    QFETCH(QString, rows);
    run(command);
    QVERIFY(idle());
    QCOMPARE(node.server->commands(), requests);
    signalsSeen.removeAll("progress"); // small files may or may not report any
    QCOMPARE(signalsSeen, owner);

    // The rows follow the listings: each listed directory's rows, in order.
    QStringList seen;
    for (QTreeWidgetItemIterator it(tree.get()); *it; ++it)
        seen << (*it)->text(0);
    QCOMPARE(seen.mid(1).join(' '), rows);
    if (command == "upload") {
        QCOMPARE(node.read("/b/u.txt"), QByteArray("hello"));
        QVERIFY(tree->itemForPath("/b/")->isExpanded());
    }
}

void tst_ExplorerTree::refusals()
{
    // A move or copy onto itself sends nothing.
    QVERIFY(!tree->movePath("/a.txt", "/a.txt"));
    QVERIFY(!tree->copyPath("/b/", "/b/"));
    // While a chain runs every command is refused, also between its links.
    QVERIFY(tree->movePath("/a.txt", "/b/a.txt"));
    QVERIFY(!tree->uploadFilesystem(node.root.path()));
    int refused = 0;
    QVERIFY(QTest::qWaitFor([&] {
        if (QCFTPClientExplorerTreeWidgetPrivate::get(tree.get())->m_step
            == QCFTPClientExplorerTreeWidgetPrivate::NoStep)
            return true;
        refused += !tree->listPath("/") && !tree->downloadFile("/a.txt");
        return false;
    }, 60000));
    QVERIFY(refused > 0);
    QVERIFY(idle());
    QCOMPARE(node.server->commands(), QStringList({"LST /b/", "MOV /a.txt /b/a.txt", "LST /", "LST /b/"}));
    QCOMPARE(signalsSeen, QStringList{"finished"});

    // Not logged in: refused, nothing sent, nothing emitted.
    client->disconnectFromServer();
    node.server->clearCommands();
    signalsSeen.clear();
    QVERIFY(!tree->deletePath("/a.txt"));
    tree->refresh();
    QVERIFY(QTest::qWaitFor([&] { return !tree->isEnabled(); }, 20000));
    QVERIFY(node.server->commands().isEmpty());
    QVERIFY(signalsSeen.isEmpty());
}

void tst_ExplorerTree::failedCommandReportsAndRefreshes_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QStringList>("requests");
    QTest::addColumn<QStringList>("owner");

    const QString error = "error Injected fault";
    // The refresh lists the root and the directories loaded so far.
    QTest::newRow("delete refused") << "delete" << "DEL=8"
                                    << QStringList{"LST /b/", "DEL /b/x.txt", "LST /", "LST /b/"}
                                    << QStringList{error};
    QTest::newRow("listing after copy") << "copy" << "LST=20@3"
                                        << QStringList{"LST /b/", "CPY /a.txt /b/c.txt", "LST /", "LST /b/",
                                                       "LST /"} // /b/ changed: its row came back empty
                                        << QStringList{"finished", error};
    QTest::newRow("upload listing") << "upload" << "LST=8" << QStringList{"LST /b/", "LST /"}
                                    << QStringList{error}; // no begin: the file never went
    QTest::newRow("upload refused") << "upload" << "STR=20"
                                    << QStringList{"LST /b/", "STR /b/u.txt 1234567890 5", "LST /", "LST /b/"}
                                    << QStringList{"begin", error};
    QTest::newRow("download") << "download" << "GET=9" << QStringList{"GET /a.txt", "LST /"}
                              << QStringList{"begin", "finished", error};
}

void tst_ExplorerTree::failedCommandReportsAndRefreshes()
{
    QFETCH(QString, command);
    QFETCH(QString, fault);
    QFETCH(QStringList, requests);
    QFETCH(QStringList, owner);
    QVERIFY(node.server->setFault(fault));
    run(command);
    QVERIFY(idle());
    signalsSeen.removeAll("progress");
    QCOMPARE(signalsSeen, owner);
    QCOMPARE(node.server->commands(), requests);
}

void tst_ExplorerTree::refreshPrunesVanishedDirectories()
{
    QVERIFY(node.write("/d/e/f.txt", "f"));
    QVERIFY(node.write("/d/g.txt", "g"));
    QVERIFY(tree->listPath("/") && idle());
    QVERIFY(tree->listPath("/d/") && idle());
    QVERIFY(tree->listPath("/d/e/") && idle());
    node.server->clearCommands();
    tree->refresh();
    QVERIFY(idle());
    QCOMPARE(node.server->commands(), QStringList({"LST /", "LST /d/", "LST /d/e/"}));

    // All of /d/ gone: only the root is listed.
    QVERIFY(QDir(node.local("/d")).removeRecursively());
    node.server->clearCommands();
    tree->refresh();
    QVERIFY(idle());
    QCOMPARE(node.server->commands(), QStringList{"LST /"});
    QCOMPARE(names(tree->topLevelItem(0)), QStringList({"b/", "a.txt"}));
    QVERIFY(signalsSeen.isEmpty());
}

void tst_ExplorerTree::linkDroppedDuringAChain_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("served"); // commands the node saw before the drop, the dropped one included

    QTest::newRow("move, MOV") << "move" << "MOV=drop" << 2;
    QTest::newRow("upload, halfway") << "upload-big" << "STR=half" << 1;
    QTest::newRow("refresh, second listing") << "refresh" << "LST=drop@2" << 2;
}

void tst_ExplorerTree::linkDroppedDuringAChain()
{
    QFETCH(QString, command);
    QFETCH(QString, fault);
    QFETCH(int, served);
    const QByteArray big(4 << 20, 'z');
    QVERIFY(node.write("/big.bin", big));
    QVERIFY(tree->listPath("/b/") && idle()); // a loaded directory for the refresh
    node.server->clearCommands();
    signalsSeen.clear();
    QVERIFY(node.server->setFault(fault));
    QSignalSpy dropped(node.server.get(), &TestCftpServer::linkDropped);

    if (command == "upload-big") {
        QCFTPFile file;
        file.setPath("/up.bin");
        file.setData(big);
        QVERIFY(tree->uploadFile(file));
    } else if (command == "refresh") {
        tree->refresh();
    } else {
        run(command);
    }
    QVERIFY(dropped.wait(60000) || dropped.count() == 1);
    QVERIFY(QTest::qWaitFor([&] { return client->state() == QCFTP::Client::Disconnected; }, 20000));
    QTRY_VERIFY_WITH_TIMEOUT(signalsSeen.filter("error").size() == 1, 20000);
    QCOMPARE(node.server->commands().size(), served);

    // After a new login the next command sends its own requests only, and
    // nothing of the old chain wakes up.
    QVERIFY(login());
    node.server->clearCommands();
    signalsSeen.clear();
    QVERIFY(tree->createPath("/z"));
    QVERIFY(idle());
    QCOMPARE(node.server->commands(), QStringList({"MKD /z/", "LST /z/"}));
    QCOMPARE(signalsSeen, QStringList{"finished"});
    QVERIFY(!QFileInfo::exists(node.local("/up.bin")));
}

void tst_ExplorerTree::linkDroppedBetweenTwoLinks()
{
    // The listing before a delete succeeded, and the link dropped before
    // its end was handled: the DEL is refused, and the chain ends there
    // with one error instead of waiting for a later, unrelated result.
    QVERIFY(tree->deletePath("/a.txt"));
    QVERIFY(idle());
    client->disconnectFromServer();
    QTRY_VERIFY_WITH_TIMEOUT(!tree->isEnabled(), 20000);
    signalsSeen.clear();
    auto* d = QCFTPClientExplorerTreeWidgetPrivate::get(tree.get());
    d->m_step = QCFTPClientExplorerTreeWidgetPrivate::ListDeleteStep;
    d->m_actionPath = "/b/x.txt";
    d->m_sourceDir = "/b/";
    QVERIFY(QMetaObject::invokeMethod(tree.get(), "onCftpFinished", Q_ARG(QCFTP::ResponseCode, 0)));
    QCOMPARE(signalsSeen, QStringList{"error Disconnected from server"});
    QVERIFY(QMetaObject::invokeMethod(tree.get(), "onCftpFinished", Q_ARG(QCFTP::ResponseCode, 127)));
    QCOMPARE(signalsSeen.size(), 1);

    QVERIFY(login());
    node.server->clearCommands();
    QVERIFY(tree->createPath("/z"));
    QVERIFY(idle());
    QCOMPARE(node.server->commands(), QStringList({"MKD /z/", "LST /z/"}));
    QVERIFY(QFileInfo::exists(node.local("/b/x.txt")));
}

QTEST_MAIN(tst_ExplorerTree)
#include "tst_explorertree.moc"
