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
#include <QScopeGuard>
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
    void progressCountsTheFileOnly();
    void failedCommandReportsAndRefreshes_data();
    void failedCommandReportsAndRefreshes();
    void refreshPrunesVanishedDirectories();
    void linkDroppedDuringAChain_data();
    void linkDroppedDuringAChain();
    void linkDroppedBetweenTwoLinks();
    void commandsAtTheEndOfALogin_data();
    void commandsAtTheEndOfALogin();

private:
    bool login();
    // Waits until the chain in flight has ended and the client is ready.
    bool idle();
    // Starts a command by its name (see run()); whether the tree took it.
    bool start(const QString& command);
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
        return d->m_step == QCFTPClientExplorerTreeWidgetPrivate::NoStep && !d->m_busy && d->clientReady();
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

bool tst_ExplorerTree::start(const QString& command)
{
    QCFTPFile upload;
    upload.setPath("/b/u.txt");
    upload.setData("hello");
    upload.setLastModified(1234567890);
    if (command == "list")
        return tree->listPath("/b/");
    if (command == "move")
        return tree->movePath("/a.txt", "/b/a.txt");
    if (command == "copy")
        return tree->copyPath("/a.txt", "/b/c.txt");
    if (command == "delete")
        return tree->deletePath("/b/x.txt");
    if (command == "upload")
        return tree->uploadFile(upload);
    if (command == "download")
        return tree->downloadFile("/a.txt");
    if (command == "create")
        return tree->createPath("/b/new/");
    if (command == "refresh") {
        tree->refresh();
        return QCFTPClientExplorerTreeWidgetPrivate::get(tree.get())->m_step
            != QCFTPClientExplorerTreeWidgetPrivate::NoStep;
    }
    return false;
}

void tst_ExplorerTree::run(const QString& command)
{
    QVERIFY2(start(command), qPrintable(command));
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

void tst_ExplorerTree::progressCountsTheFileOnly()
{
    // A file of several windows up and down: the progress counts the file's
    // bytes of its size, not the request's header.
    QByteArray bytes(50000, Qt::Uninitialized);
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 13 + i / 199);
    QCFTPFile upload;
    upload.setPath("/b/big.bin");
    upload.setData(bytes);
    upload.setLastModified(1234567890);
    QList<QPair<qlonglong, qlonglong>> reports;
    const QMetaObject::Connection spy = connect(tree.get(), &QCFTPClientExplorerTreeWidget::transactionProgress, this,
                                                [&](qlonglong current, qlonglong total) { reports.append({current, total}); });
    const auto forget = qScopeGuard([&] { disconnect(spy); });
    const auto check = [&] {
        QVERIFY(!reports.isEmpty());
        for (int i = 0; i < reports.size(); ++i) {
            QCOMPARE(reports.at(i).second, qlonglong(bytes.size()));
            QVERIFY(reports.at(i).first >= (i ? reports.at(i - 1).first : 0));
            QVERIFY(reports.at(i).first <= bytes.size());
        }
    };

    QVERIFY(tree->uploadFile(upload));
    QVERIFY(idle());
    QCOMPARE(node.read("/b/big.bin"), bytes);
    check();
    reports.clear();
    QVERIFY(tree->downloadFile("/b/big.bin"));
    QVERIFY(idle());
    check();
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

// ---------------------------------------------------------------- the end of a login

void tst_ExplorerTree::commandsAtTheEndOfALogin_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QStringList>("requests"); // of the same command once the login's end is in
    QTest::addColumn<QString>("outcome");      // what the node and the tree hold afterwards

    QTest::newRow("download") << "download" << QStringList{"GET /a.txt"} << "download /a.txt alpha";
    QTest::newRow("list") << "list" << QStringList{"LST /b/"} << "b/ x.txt";
    QTest::newRow("refresh") << "refresh" << QStringList{"LST /"} << "b/ a.txt";
    QTest::newRow("create") << "create" << QStringList{"MKD /b/new/", "LST /b/new/"} << "b/ new/";
    QTest::newRow("delete") << "delete" << QStringList{"LST /b/", "DEL /b/x.txt", "LST /b/"} << "b/";
    QTest::newRow("move") << "move" << QStringList{"LST /b/", "MOV /a.txt /b/a.txt", "LST /", "LST /b/"}
                          << "b/ a.txt x.txt";
    QTest::newRow("copy") << "copy" << QStringList{"LST /b/", "CPY /a.txt /b/c.txt", "LST /", "LST /b/"}
                          << "b/ c.txt x.txt a.txt";
    QTest::newRow("upload") << "upload" << QStringList{"LST /b/", "STR /b/u.txt 1234567890 5", "LST /b/", "LST /b/"}
                            << "b/ u.txt x.txt";
}

void tst_ExplorerTree::commandsAtTheEndOfALogin()
{
    QFETCH(QString, command);
    QFETCH(QStringList, requests);
    QFETCH(QString, outcome);
    client->disconnectFromServer();
    QVERIFY(QTest::qWaitFor([&] { return !tree->isEnabled(); }, 20000));
    node.server->clearCommands();

    // The client says Ready before the login's finished() has reached this
    // thread: a command started from that report must not take the login's
    // end for its own. It is refused, as by a busy client, and sends nothing.
    bool tried = false;
    bool taken = true;
    bool enabled = true;
    int state = -1;
    const QMetaObject::Connection during = connect(client.get(), &QCFTPClient::stateChanged, this,
                                                   [&](QCFTP::Client::State s) {
        if (s != QCFTP::Client::Ready || tried)
            return;
        tried = true;
        state = tree->clientState();
        enabled = tree->isEnabled();
        taken = start(command);
    });
    const auto forget = qScopeGuard([&] { disconnect(during); });
    QVERIFY(login());
    QVERIFY(idle());
    QVERIFY(tried);
    QVERIFY(!taken);
    QCOMPARE(state, int(QCFTP::Client::Busy));
    QVERIFY(!enabled);
    QVERIFY(tree->isEnabled()); // on once the end is in
    QCOMPARE(node.server->commands(), QStringList({"HND", "LOG user"}));
    QVERIFY(signalsSeen.isEmpty());
    QCOMPARE(node.read("/a.txt"), QByteArray("alpha"));
    QCOMPARE(node.read("/b/x.txt"), QByteArray("x"));
    QVERIFY(!QFileInfo::exists(node.local("/b/u.txt")) && !QFileInfo::exists(node.local("/b/new")));
    QCOMPARE(tree->topLevelItem(0)->childCount(), 0); // no row for what is not there

    // Later the same command goes through and pairs with its own end.
    node.server->clearCommands();
    run(command);
    QVERIFY(idle());
    QCOMPARE(node.server->commands(), requests);
    signalsSeen.removeAll("progress");
    signalsSeen.removeAll("begin");
    signalsSeen.removeAll("finished");
    QStringList rows;
    for (QTreeWidgetItemIterator it(tree.get()); *it; ++it)
        rows << (*it)->text(0);
    QCOMPARE(command == "download" ? signalsSeen.join(' ') : rows.mid(1).join(' '), outcome);
}

QTEST_MAIN(tst_ExplorerTree)
#include "tst_explorertree.moc"
