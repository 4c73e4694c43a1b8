// The file explorer window against the test node: login and re-login,
// progress, menus, keys, the commands' dialogs, downloads that never cost
// the user a file, drag and drop, uploads of an archive and a folder, names
// the node would not get as typed, and closing the window while the client
// talks.

#include "answerlogin.h"
#include "explorernode.h"
#include "modaldriver.h"
#include "qcftpclientexplorertreewidget.h"
#include "qcftpclientexplorertreewidget_p.h"
#include "qcftpclientexplorertreewidgetitem.h"
#include "qcftpfileexplorerwidget.h"
#include "qcftpfileexplorerwidget_p.h"
#include "texteditorwindow.h"
#include "usercredentialcache.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMimeData>
#include <QProcess>
#include <QProgressBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollBar>
#include <QSettings>
#include <QStatusBar>
#include <QtTest>

namespace {

const QByteArray NodeId = "window-node";

// What the test answers the window's dialogs and menus with, and what it saw.
struct Script
{
    QString user = QStringLiteral("user");
    QString password = QStringLiteral("secret");
    bool remember = true;
    bool cancelLogin = false;
    QString text;     // an input dialog's answer; empty: cancel
    QString file;     // a file dialog's answer; empty: cancel
    QString menuItem; // the menu entry to choose; empty: close the menu
    bool saveAsShown = false; // the next file dialog: Save pressed, its name field untouched
    QString shown;            // that dialog's name field as it came
    QStringList seen; // "<title>|<label or default>" per dialog, entries per menu

    bool operator()(QWidget* widget)
    {
        if (qobject_cast<GetUserDialog*>(widget)) {
            seen << "login|" + widget->windowTitle();
            return !cancelLogin && answerLogin(widget, user, password, remember);
        }
        if (auto* input = qobject_cast<QInputDialog*>(widget)) {
            seen << input->windowTitle() + '|' + input->labelText() + '|' + input->textValue();
            if (text.isEmpty())
                return false;
            input->setTextValue(text);
            input->accept();
            return true;
        }
        if (auto* dialog = qobject_cast<QFileDialog*>(widget)) {
            seen << dialog->windowTitle() + '|' + dialog->selectedFiles().value(0) + '|'
                    + dialog->nameFilters().join(';');
            if (saveAsShown) {
                // As a user would: Save, from the dialog's own loop, so that
                // a question it asks meets the driver; met again, it is ended.
                saveAsShown = false;
                auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
                shown = name ? name->text() : QString();
                QPushButton* save = nullptr;
                for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
                    if (button->text().remove('&') == "Save" && button->isEnabled())
                        save = button;
                }
                if (!save)
                    return false;
                QTimer::singleShot(0, save, [save] { QTest::mouseClick(save, Qt::LeftButton); });
                return true;
            }
            if (file.isEmpty())
                return false;
            return ModalDriver::answerFileDialog(dialog, file);
        }
        if (auto* menu = qobject_cast<QMenu*>(widget)) {
            QStringList entries;
            QAction* chosen = nullptr;
            for (QAction* action : menu->actions()) {
                entries << action->text() + (action->isEnabled() ? "" : " (off)");
                if (action->text() == menuItem)
                    chosen = action;
            }
            seen << entries.join(", ");
            if (chosen) {
                menu->setActiveAction(chosen);
                QTest::keyClick(menu, Qt::Key_Return);
            } else {
                menu->close();
            }
            return true;
        }
        return false;
    }
};

} // namespace

class tst_ExplorerWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void loginCancelledThenReconnectWhileConnecting();
    void opensShowingSizeAndDate();
    void refusedLoginThenReconnect();
    void automaticRelogin();
    void progress();
    void menuCommands();
    void keysAndDoubleClick();
    void downloadsNeverCostTheLocalFile();
    void downloadSavesUnderTheNameShown_data();
    void downloadSavesUnderTheNameShown();
    void dragAndDrop_data();
    void dragAndDrop();
    void dropFromElsewhereChangesNothing();
    void archiveAndFolderUpload();
    void impossibleNames_data();
    void impossibleNames();
    void closeWhileTalking_data();
    void closeWhileTalking();
    void commandsAtTheEndOfALogin_data();
    void commandsAtTheEndOfALogin();

private:
    // A shown explorer; with a script that logs in, waits for the first refresh.
    QCFTPFileExplorerWidget* open(bool loggedIn = true);
    QCFTPClient& client() { return QCFTPFileExplorerWidgetPrivate::get(explorer)->m_cftpClient; }
    QCFTPClientExplorerTreeWidget* tree() { return explorer->findChild<QCFTPClientExplorerTreeWidget*>("treeWidgetExplorer"); }
    QProgressBar* bar() { return explorer->findChild<QProgressBar*>("progressBar"); }
    QPushButton* reconnect() { return explorer->findChild<QPushButton*>("pushButtonReconnect"); }
    bool idle();
    QTreeWidgetItem* row(const QString& path);
    QPoint at(const QString& path) { return tree()->visualItemRect(row(path)).center(); }
    void keyRelease(const QString& path, Qt::Key key);
    QStringList boxes() const { return driver->seen.filter(QRegularExpression("^critical|^information")); }
    // The titles of the explorer's editor windows, shown, in opening order.
    QStringList editorTitles() const
    {
        QStringList titles;
        for (TextEditorWindow* editor : explorer->findChildren<TextEditorWindow*>())
            titles << editor->windowTitle() + (editor->isVisible() ? "" : " (hidden)");
        return titles;
    }

    ExplorerNode node;
    QTemporaryDir local;
    Script script;
    std::unique_ptr<ModalDriver> driver;
    QCFTPFileExplorerWidget* explorer = nullptr;
};

void tst_ExplorerWindow::initTestCase()
{
    QVERIFY(node.start(NodeId));
}

void tst_ExplorerWindow::cleanupTestCase()
{
    node.stop();
}

void tst_ExplorerWindow::init()
{
    node.server->clearFault();
    // The previous test's connection may still be ending: every test starts
    // with the server listening again.
    QTRY_COMPARE_WITH_TIMEOUT(node.server->state(), QCFTP::Server::Listening, 20000);
    node.wipe();
    QVERIFY(node.write("/a.txt", "alpha"));
    QVERIFY(node.write("/b/x.txt", "x"));
    QVERIFY(node.write("/c/d/e.txt", "e"));
    QVERIFY(node.write("/init.lua", "print(1)"));
    QVERIFY(node.write("/notes.TXT", "notes"));
    node.server->clearCommands();
    GetUserDialog::credentialCache()->remove(NodeId);
    script = Script();
    driver.reset(new ModalDriver(120000));
    driver->answer = [this](QWidget* w) { return script(w); };
}

void tst_ExplorerWindow::cleanup()
{
    delete explorer;
    explorer = nullptr;
    driver.reset();
}

QCFTPFileExplorerWidget* tst_ExplorerWindow::open(bool loggedIn)
{
    explorer = new QCFTPFileExplorerWidget(node.pair.a.get(), ExplorerNode::Address);
    explorer->resize(640, 480);
    explorer->show();
    if (loggedIn && !idle())
        return nullptr;
    return explorer;
}

bool tst_ExplorerWindow::idle()
{
    auto* d = QCFTPClientExplorerTreeWidgetPrivate::get(tree());
    auto* e = QCFTPFileExplorerWidgetPrivate::get(explorer);
    // A login reports Ready (and the tree turns on) before its finished(),
    // which starts the first listing, has reached the explorer: until it
    // has, the explorer is not idle.
    return waitUnlessStalled(client(), [&] {
        return d->m_step == QCFTPClientExplorerTreeWidgetPrivate::NoStep && !d->m_busy
            && client().state() == QCFTP::Client::Ready && tree()->isEnabled() && !e->m_loginConnection
            && !e->m_reconnectConnection;
    });
}

QTreeWidgetItem* tst_ExplorerWindow::row(const QString& path)
{
    QTreeWidgetItem* item = tree()->itemForPath(path);
    tree()->scrollToItem(item);
    return item;
}

void tst_ExplorerWindow::keyRelease(const QString& path, Qt::Key key)
{
    tree()->setCurrentItem(row(path));
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
    QCoreApplication::sendEvent(tree(), &release);
    QCoreApplication::processEvents(); // the command runs once the key is delivered
}

// ---------------------------------------------------------------- login

void tst_ExplorerWindow::loginCancelledThenReconnectWhileConnecting()
{
    script.cancelLogin = true;
    open(false);
    QCOMPARE(script.seen, QStringList{"login|Filesystem access password"});
    QCOMPARE(client().state(), QCFTP::Client::Disconnected);
    QVERIFY(!reconnect()->isHidden() && bar()->isHidden() && !tree()->isEnabled());

    // Reconnect while connecting disconnects, and asks nothing. The server
    // is closed meanwhile, so that the connect stays under way (a refused
    // connect is repeated for about 2 s) however fast the other threads are.
    node.server->close();
    QTRY_VERIFY_WITH_TIMEOUT(!node.pair.b->functionIds().contains(TestCftpServer::Channel), 20000);
    script.cancelLogin = false;
    explorer->login();
    QCOMPARE(client().state(), QCFTP::Client::Connecting);
    explorer->login();
    QCOMPARE(client().state(), QCFTP::Client::Disconnected);
    QCOMPARE(script.seen.size(), 2);
    QTRY_VERIFY_WITH_TIMEOUT(!reconnect()->isHidden(), 20000);
    QVERIFY(node.server->listen(QErfc::User, TestCftpServer::Channel));
}

void tst_ExplorerWindow::opensShowingSizeAndDate()
{
    // As the main window opens it: in a multi-document area, sized by what
    // it asks for before its first listing, and cascaded later. A listing
    // longer than the window, with a file of almost a megabyte.
    for (int i = 0; i < 24; ++i)
        QVERIFY(node.write(QStringLiteral("/f%1.txt").arg(i, 2, 10, QLatin1Char('0')), "f"));
    QVERIFY(node.write("/big.bin", QByteArray(999999, 'b')));
    QMdiArea area;
    area.resize(1200, 800);
    area.show();
    explorer = new QCFTPFileExplorerWidget(node.pair.a.get(), ExplorerNode::Address);
    const auto forget = qScopeGuard([this] { explorer = nullptr; }); // the area deletes it
    QMdiSubWindow* sub = area.addSubWindow(explorer);
    explorer->show();
    QVERIFY(idle());
    QCOMPARE(tree()->topLevelItem(0)->childCount(), 30);
    // Path and size as wide as they are, the date in full beside them.
    const auto uncut = [this] {
        const QAbstractItemView* view = tree();
        return tree()->columnWidth(0) + tree()->columnWidth(1) + view->sizeHintForColumn(2)
                   <= tree()->viewport()->width()
            && !tree()->horizontalScrollBar()->isVisible();
    };
    QTRY_VERIFY_WITH_TIMEOUT(uncut(), 5000);
    QVERIFY(tree()->verticalScrollBar()->isVisible());
    QVERIFY(sub->height() >= 400); // the form's size at least
    sub->resize(150, 100);
    area.cascadeSubWindows();
    QTRY_VERIFY_WITH_TIMEOUT(uncut(), 5000);
}

void tst_ExplorerWindow::refusedLoginThenReconnect()
{
    script.password = "wrong";
    open(false);
    QTRY_COMPARE_WITH_TIMEOUT(boxes(), QStringList{"critical Node: 2 Explorer Error: Disconnected from server"}, 30000);
    QTRY_VERIFY_WITH_TIMEOUT(client().state() == QCFTP::Client::Disconnected && !reconnect()->isHidden(), 20000);

    script.password = "secret";
    QTest::mouseClick(reconnect(), Qt::LeftButton);
    QVERIFY(idle());
    QVERIFY(reconnect()->isHidden());
    QCOMPARE(node.server->commands().mid(2), QStringList({"HND", "LOG user", "LST /"}));
    QCOMPARE(tree()->topLevelItem(0)->childCount(), 5);
}

void tst_ExplorerWindow::automaticRelogin()
{
    QVERIFY(open());
    auto* d = QCFTPFileExplorerWidgetPrivate::get(explorer);
    QCOMPARE(d->m_nodeUniqueId, NodeId);
    QVERIFY(GetUserDialog::credentialCache()->contains(NodeId));
    ErfcNodeInfo* record = ErfcNodeManager::instance()->nodeInfo(ExplorerNode::Address);

    // Another device at the address: no attempt. The same device back: one
    // attempt by itself, and the tree is listed again.
    node.pair.b->disable();
    QTRY_COMPARE_WITH_TIMEOUT(client().state(), QCFTP::Client::Disconnected, 20000);
    node.pair.b->setUniqueId("someone else");
    node.pair.b->enable();
    QTRY_COMPARE_WITH_TIMEOUT(record->uniqueId(), QByteArray("someone else"), 20000);
    QTest::qWait(100);
    QVERIFY(!d->m_reconnectTimer.isActive());
    node.pair.b->disable();
    node.pair.b->setUniqueId(NodeId);
    node.server->clearCommands();
    node.pair.b->enable();
    QTRY_VERIFY_WITH_TIMEOUT(d->m_reconnectTimer.isActive(), 20000);
    QVERIFY(idle());
    QCOMPARE(node.server->commands(), QStringList({"HND", "LOG user", "LST /"}));
    QCOMPARE(script.seen.filter("login").size(), 1);

    // Credentials not remembered: no attempt.
    GetUserDialog::credentialCache()->remove(NodeId);
    client().disconnectFromServer();
    explorer->onErfcNodeManagerNodeInfoRefreshed(ExplorerNode::Address, record);
    QVERIFY(!d->m_reconnectTimer.isActive());
}

// ---------------------------------------------------------------- progress

void tst_ExplorerWindow::progress()
{
    script.cancelLogin = true;
    open(false);
    auto* d = QCFTPFileExplorerWidgetPrivate::get(explorer);
    qint64 now = 0;
    d->m_elapsed = [&now] { return now; };

    explorer->onClientTransactionBegin();
    QVERIFY(!bar()->isHidden());
    now = 1000;
    explorer->onClientTransactionProgress(2048, 4096);
    QCOMPARE(bar()->text(), QStringLiteral("2048/4096 @2.000 kB/s"));

    now = 2000;
    explorer->onClientUploadFilesystemTransactionProgress("/lua/main.lua", 100, 400, 1124, 8192);
    QCOMPARE(bar()->text(), QStringLiteral("/lua/main.lua - 100/400 (1124/8192) @0.549 kB/s"));
    QCOMPARE(bar()->value() + bar()->maximum(), 1124 + 8192);

    // Beyond the bar's int range: scaled alike, the real numbers in the text.
    explorer->onClientTransactionProgress(3000000000LL, 6000000000LL);
    QCOMPARE(bar()->text(), QStringLiteral("3000000000/6000000000 @1464843.750 kB/s"));
    QVERIFY(bar()->maximum() > 0);
    QCOMPARE(bar()->value() * 2 / 10, bar()->maximum() / 10);

    explorer->onClientStateChanged(QCFTP::Client::Disconnected); // a dropped link ends it
    QVERIFY(bar()->isHidden());
}

// ---------------------------------------------------------------- menus, keys, double-click

void tst_ExplorerWindow::menuCommands()
{
    QVERIFY(open());
    // Menus for a file, a folder, the top-level entry; none for empty space.
    for (const char* path : {"/a.txt", "/b/", "/", ""})
        explorer->on_treeWidgetExplorer_customContextMenuRequested(*path ? at(path) : QPoint(5, tree()->viewport()->height() - 3));
    QCOMPARE(script.seen.mid(1), QStringList({"Edit File, DownloadFile, Move File or Directory, Delete",
        "New File, Upload File, Refresh Direcotry, Create Directory, Move File or Directory, Delete",
        "New File, Upload File, Refresh Direcotry, Create Directory, Move File or Directory (off), Delete (off), "
        "Upload fileystem"}));
    node.server->clearCommands();
    // Create Directory: "logs" on /b/ creates /b/logs/; an empty answer sends nothing.
    script.menuItem = "Create Directory";
    script.text = "logs";
    explorer->on_treeWidgetExplorer_customContextMenuRequested(at("/b/"));
    QVERIFY(idle());
    QCOMPARE(node.server->commands(), QStringList({"MKD /b/logs/", "LST /b/logs/"}));
    QCOMPARE(script.seen.last(), QStringLiteral("Create new Directory|The relative path from current directory|"));

    // Move File takes an absolute path.
    script.text = "/b/moved.txt";
    explorer->moveItem(row("/a.txt"));
    QVERIFY(idle());
    QCOMPARE(script.seen.last(), QStringLiteral("Move File or Direcotry|The absolute path for the new file|/a.txt"));
    QCOMPARE(node.read("/b/moved.txt"), QByteArray("alpha"));

    // New File on / of node 2: an editor with its title, nothing sent.
    node.server->clearCommands();
    script.text = "new.txt";
    explorer->createNewFile(row("/"));
    QCOMPARE(script.seen.last(), QStringLiteral("Create new File|Please enter the filename for the new file|"));
    QCOMPARE(editorTitles(), QStringList{"Node: 2 - Create New File /new.txt"});
    QVERIFY(node.server->commands().isEmpty());

    // Upload File asks for a local file; cancelled, nothing goes.
    explorer->uploadFile(row("/b/"));
    QCOMPARE(script.seen.last(), QStringLiteral("Select file||All Files (*)"));

    // A command the client refuses shows its text and sends nothing.
    client().disconnectFromServer();
    node.server->clearCommands();
    explorer->openDirectory(row("/b/"));
    explorer->deleteItem(row("/a.txt"));
    script.file = local.filePath("fs.tar.gz");
    explorer->uploadArchive(row("/"));
    QCOMPARE(boxes(), QStringList({"critical Node: 2 Explorer Error: Can't send list request to target, target is busy",
                                   "critical Node: 2 Explorer Error: Can't send delete path to target, target is busy",
                                   "critical Node: 2 Explorer Error: Can't send upload file to target, target is busy"}));
    QCOMPARE(script.seen.last(), QStringLiteral("Select Archive||Archive (*.tar.gz)"));
    QVERIFY(node.server->commands().isEmpty());
}

void tst_ExplorerWindow::keysAndDoubleClick()
{
    QVERIFY(open());
    QVERIFY(tree()->listPath("/b/") && idle());
    node.server->clearCommands();

    // Only on release; Delete not on the top-level entry.
    tree()->setCurrentItem(row("/a.txt"));
    QTest::keyPress(tree(), Qt::Key_Delete);
    keyRelease("/", Qt::Key_Delete);
    QTest::qWait(200);
    QVERIFY(node.server->commands().isEmpty());
    QCOMPARE(script.seen.size(), 1);

    keyRelease("/a.txt", Qt::Key_F2);
    QTRY_COMPARE_WITH_TIMEOUT(script.seen.last(),
                              QStringLiteral("Move File or Direcotry|The absolute path for the new file|/a.txt"), 20000);
    // Commands run in the order of their keys: a delete of the top-level
    // entry would have run, or been refused with a box, before this dialog.
    QCOMPARE(script.seen.size(), 2);
    QCOMPARE(boxes(), QStringList());
    keyRelease("/b/", Qt::Key_Return);
    QVERIFY(idle());
    keyRelease("/b/x.txt", Qt::Key_F5);
    QVERIFY(idle());
    keyRelease("/b/x.txt", Qt::Key_Delete);
    QVERIFY(idle());
    QCOMPARE(node.server->commands(),
             QStringList({"LST /b/", "LST /", "LST /b/", "LST /b/", "DEL /b/x.txt", "LST /b/"}));

    // A double-click opens text files only; Edit File in the menu applies no such test.
    node.server->clearCommands();
    explorer->on_treeWidgetExplorer_itemDoubleClicked(row("/notes.TXT"), 0);
    explorer->on_treeWidgetExplorer_itemDoubleClicked(row("/init.lua"), 1);
    QVERIFY(idle());
    script.menuItem = "Edit File";
    explorer->on_treeWidgetExplorer_customContextMenuRequested(at("/notes.TXT"));
    QVERIFY(idle());
    QCOMPARE(node.server->commands(), QStringList({"GET /init.lua", "GET /notes.TXT"}));
    QTRY_COMPARE(editorTitles(), QStringList({"Node: 2 - Edit  /init.lua", "Node: 2 - Edit  /notes.TXT"}));
}

// ---------------------------------------------------------------- downloads

void tst_ExplorerWindow::downloadsNeverCostTheLocalFile()
{
    QVERIFY(open());
    QByteArray bytes(4 << 20, Qt::Uninitialized);
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 7 + i / 251);
    QVERIFY(node.write("/b/data.bin", bytes));
    QVERIFY(tree()->listPath("/b/") && idle());
    const QString mine = local.filePath("data.bin");
    QVERIFY(writeFile(mine, "the user's own file"));

    // Cancel: nothing.
    explorer->downloadFile(row("/b/data.bin"));
    QCOMPARE(script.seen.last(), "Select save path|" + QDir::homePath() + "/data.bin|All Files (*)");

    // Cut off halfway: the local file stays as it was.
    script.file = mine;
    node.server->setFault("GET=half");
    explorer->downloadFile(row("/b/data.bin"));
    QTRY_COMPARE_WITH_TIMEOUT(client().state(), QCFTP::Client::Disconnected, 60000);
    QTRY_VERIFY_WITH_TIMEOUT(bar()->isHidden(), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(boxes(), QStringList{"critical Node: 2 Explorer Error: Disconnected from server"}, 20000);
    QCOMPARE(readFile(mine), QByteArray("the user's own file"));

    // Logged in again, the next download lands where it was asked to, exact.
    QTest::mouseClick(reconnect(), Qt::LeftButton);
    QVERIFY(idle() || (QTest::mouseClick(reconnect(), Qt::LeftButton), idle()));
    script.file = local.filePath("second.bin");
    explorer->downloadFile(row("/b/data.bin"));
    QVERIFY(idle());
    QTRY_COMPARE_WITH_TIMEOUT(readFile(script.file), bytes, 20000);
    QCOMPARE(readFile(mine), QByteArray("the user's own file"));
    QCOMPARE(QDir(local.path()).entryList({"data.bin*", "second.bin*"}, QDir::Files), QStringList({"data.bin", "second.bin"}));
}

void tst_ExplorerWindow::downloadSavesUnderTheNameShown_data()
{
    QTest::addColumn<bool>("tailExists"); // the folder holds a file named as the part after the quote
    QTest::newRow("new name") << false;
    QTest::newRow("the part after the quote exists") << true;
}

void tst_ExplorerWindow::downloadSavesUnderTheNameShown()
{
    // A remote name the save dialog could read as several: saved, with the
    // dialog accepted as it comes, under the name it showed, and nothing
    // else in the folder touched.
    QFETCH(bool, tailExists);
    // The file dialog keeps its settings below the home folder the process
    // first saw: fixed now, before the home folder becomes the test's own.
    QSettings(QSettings::UserScope, QStringLiteral("QtProject")).fileName();
    QTemporaryDir home;
    const QByteArray oldHome = qgetenv("HOME");
    qputenv("HOME", home.path().toLocal8Bit());
    const auto restore = qScopeGuard([&] { qputenv("HOME", oldHome); });
    const QString remote = QStringLiteral("sp#%&;'\"x.txt");
    QVERIFY(node.write("/b/" + remote, "odd name"));
    if (tailExists)
        QVERIFY(writeFile(home.filePath("x.txt"), "the user's own file"));
    QVERIFY(open());
    QVERIFY(tree()->listPath("/b/") && idle());

    script.saveAsShown = true;
    explorer->downloadFile(row("/b/" + remote));
    QVERIFY(idle());
    QCOMPARE(script.seen.last(), "Select save path|" + home.filePath(script.shown) + "|All Files (*)");
    QTRY_COMPARE_WITH_TIMEOUT(readFile(home.filePath(script.shown)), QByteArray("odd name"), 20000);
    QCOMPARE(script.shown, QStringLiteral("sp#%&;'_x.txt"));
    QStringList expected{script.shown};
    if (tailExists) {
        QCOMPARE(readFile(home.filePath("x.txt")), QByteArray("the user's own file"));
        expected.append("x.txt");
    }
    QCOMPARE(QDir(home.path()).entryList(QDir::Files | QDir::Hidden), expected);
    QCOMPARE(boxes(), QStringList());
}

// ---------------------------------------------------------------- drag and drop

void tst_ExplorerWindow::dragAndDrop_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("action");
    QTest::addColumn<QStringList>("requests");
    QTest::addColumn<QString>("result"); // a path that must exist afterwards in the served folder

    const int move = Qt::MoveAction, copy = Qt::CopyAction;
    QTest::newRow("move file") << "/a.txt" << "/b/" << move
                               << QStringList{"LST /b/", "MOV /a.txt /b/a.txt", "LST /", "LST /b/"} << "/b/a.txt";
    QTest::newRow("copy file") << "/a.txt" << "/b/" << copy
                               << QStringList{"LST /b/", "CPY /a.txt /b/a.txt", "LST /", "LST /b/"} << "/a.txt";
    QTest::newRow("directory below itself") << "/c/" << "/c/d/" << copy << QStringList{} << "/c/d/e.txt";
}

void tst_ExplorerWindow::dragAndDrop()
{
    QFETCH(QString, source);
    QFETCH(QString, target);
    QFETCH(int, action);
    QFETCH(QStringList, requests);
    QFETCH(QString, result);
    QVERIFY(open());
    QVERIFY(tree()->listPath("/c/") && idle());
    QVERIFY(tree()->listPath("/c/d/") && idle());
    node.server->clearCommands();

    tree()->setCurrentItem(row(source));
    const QModelIndexList selected = tree()->selectionModel()->selectedIndexes();
    std::unique_ptr<QMimeData> mime(tree()->model()->mimeData(selected));
    QVERIFY(mime);
    const QPoint pos = at(target);
    const Qt::DropActions actions(action);
    QDragEnterEvent enter(pos, actions, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(tree()->viewport(), &enter);
    QDragMoveEvent moveEvent(pos, actions, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(tree()->viewport(), &moveEvent);
    QDropEvent drop(pos, actions, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QCOMPARE(int(drop.dropAction()), action);
    QCoreApplication::sendEvent(tree()->viewport(), &drop);
    QCOMPARE(drop.isAccepted(), !requests.isEmpty());
    QVERIFY(idle());
    QTest::qWait(100);
    QCOMPARE(node.server->commands(), requests);
    QVERIFY2(QFileInfo::exists(node.local(result)), qPrintable(result));
}

void tst_ExplorerWindow::dropFromElsewhereChangesNothing()
{
    // Rows dragged from another node's explorer, or from a tree of another
    // kind, onto a folder here, while this tree has a file selected of its
    // own: refused from the start and nothing sent. The source, told of no
    // drop (QDrag::exec() ends with no action), removes no row of its own.
    QVERIFY(open());
    tree()->setCurrentItem(row("/a.txt"));
    node.server->clearCommands();

    QCFTPClientExplorerTreeWidget otherExplorer;
    QCFTPFileInfo bom;
    bom.setPath("/bom.txt");
    bom.setSize(3);
    bom.setLastModified(1);
    otherExplorer.mergeListing(otherExplorer.topLevelItem(0), {bom});
    otherExplorer.setCurrentItem(otherExplorer.itemForPath("/bom.txt"));
    QTreeWidget plain;
    plain.addTopLevelItem(new QTreeWidgetItem(QStringList{"bom.txt"}));
    plain.setCurrentItem(plain.topLevelItem(0));

    for (QTreeWidget* source : {static_cast<QTreeWidget*>(&otherExplorer), &plain}) {
        for (const Qt::DropAction action : {Qt::MoveAction, Qt::CopyAction}) {
            std::unique_ptr<QMimeData> mime(source->model()->mimeData(source->selectionModel()->selectedIndexes()));
            QVERIFY(mime);
            const QPoint pos = at("/b/");
            QDragEnterEvent enter(pos, action, mime.get(), Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(tree()->viewport(), &enter);
            QVERIFY(!enter.isAccepted());
            QDragMoveEvent moveEvent(pos, action, mime.get(), Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(tree()->viewport(), &moveEvent);
            QDropEvent drop(pos, action, mime.get(), Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(tree()->viewport(), &drop);
            QVERIFY(!drop.isAccepted());
            // A command would have started at once.
            QCOMPARE(QCFTPClientExplorerTreeWidgetPrivate::get(tree())->m_step,
                     QCFTPClientExplorerTreeWidgetPrivate::NoStep);
        }
    }
    QVERIFY(idle());
    QCOMPARE(node.server->commands(), QStringList());
    QCOMPARE(node.read("/a.txt"), QByteArray("alpha"));
    QVERIFY(!QFileInfo::exists(node.local("/b/a.txt")));
    QCOMPARE(tree()->selectedItems(), QList<QTreeWidgetItem*>{row("/a.txt")});
}

// ---------------------------------------------------------------- uploads

void tst_ExplorerWindow::archiveAndFolderUpload()
{
    QVERIFY(open());
    // A folder to upload to /, and the same as a .tar.gz archive holding arc/.
    QTemporaryDir folder;
    const QList<QPair<QString, QByteArray>> files{
        {"top.txt", "top level\n"}, {"lua/lib/util.lua", QByteArray(5000, 'u')}, {"data/blob.bin", QByteArray(40000, '\x01')}};
    for (const auto& f : files) {
        QVERIFY(writeFile(folder.filePath("tree/" + f.first), f.second));
        QVERIFY(writeFile(folder.filePath("arc/arc/" + f.first), f.second));
    }
    const QString archive = local.filePath("fs.tar.gz");
    QProcess tar;
    tar.setWorkingDirectory(folder.filePath("arc"));
    tar.start("tar", {"czf", archive, "arc"});
    QVERIFY(tar.waitForFinished(30000) && tar.exitCode() == 0);

    QSignalSpy finished(tree(), &QCFTPClientExplorerTreeWidget::transactionFinished);
    script.menuItem = "Upload fileystem";
    script.file = archive;
    explorer->on_treeWidgetExplorer_customContextMenuRequested(at("/"));
    QVERIFY2(finished.wait(120000) || finished.count() > 0, qPrintable(driver->seen.join(" / ")));
    QVERIFY(idle());
    QVERIFY(tree()->uploadFilesystem(folder.filePath("tree")));
    QVERIFY(!tree()->isEnabled());
    QVERIFY(finished.wait(120000) || finished.count() > 1);
    QVERIFY(idle());
    QVERIFY2(boxes().isEmpty(), qPrintable(driver->seen.join(" / ")));
    for (const auto& f : files) {
        QCOMPARE(node.read("/arc/" + f.first), f.second);
        QCOMPARE(node.read("/" + f.first), f.second);
    }
}

void tst_ExplorerWindow::impossibleNames_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("name");    // as the user gives it, or as the node lists it
    QTest::addColumn<QString>("message"); // the box, or the editor's status
    QTest::addColumn<QString>("alike");   // a listed name's look-alike, also served

    // The name in quotes: a blank at either end shows.
    const auto box = [](const QString& path) {
        return "critical Node: 2 Explorer Error: File name not possible on the node: \"" + path + '"';
    };
    const QString chinese = QString::fromUtf8("up 中文.txt");
    const QString latin1 = QString::fromUtf8("äöü.txt");
    QTest::newRow("upload, not Latin-1") << "upload" << chinese << box("/" + chinese) << QString();
    QTest::newRow("upload, Latin-1 letters") << "upload" << latin1 << box("/" + latin1) << QString();
    QTest::newRow("upload, trailing blank") << "upload" << "x.txt " << box("/x.txt ") << QString();
    QTest::newRow("new folder") << "folder" << chinese << box("/b/" + chinese + "/") << QString();
    QTest::newRow("move target") << "move" << "/b/" + latin1 << box("/b/" + latin1) << QString();
    QTest::newRow("move target, trailing blank") << "move" << "/b/a.txt " << box("/b/a.txt ") << QString();
    QTest::newRow("new file saved") << "editor" << chinese
                                    << "Can't upload, file name not possible on the node: /" + chinese << QString();
    // Every refused member is named; none of the upload goes out.
    const QString members = QString::fromUtf8("critical Node: 2 Explorer Error: "
                                              "File name not allowed on the node, path: /ümlaut dir/\n"
                                              "File name not allowed on the node, path: /ümlaut dir/a.txt");
    QTest::newRow("folder upload") << "folder upload" << QString::fromUtf8("ümlaut dir/a.txt") << members
                                   << QString();
    QTest::newRow("archive upload") << "archive upload" << QString::fromUtf8("ümlaut dir/a.txt") << members
                                    << QString();
    // Entries the node lists keep their rows, but a command on one would
    // reach the node as the name of its look-alike, and act on that. The
    // node's Latin-1 "grüße.txt" reads as "gr\uFFFD\uFFFDe.txt" here, which
    // goes back as "gr??e.txt".
    const QString umlauts = QString::fromUtf8("/grüße.txt");
    const QString umlautRow = QStringLiteral("/gr%1%1e.txt").arg(QChar(0xFFFD));
    QTest::newRow("delete, listed umlauts") << "delete listed" << umlauts << box(umlautRow) << "/gr??e.txt";
    QTest::newRow("delete, listed trailing blank") << "delete listed" << "/tr.txt " << box("/tr.txt ") << "/tr.txt";
    QTest::newRow("download, listed") << "download listed" << umlauts << box(umlautRow) << "/gr??e.txt";
    QTest::newRow("edit, listed") << "edit listed" << "/tr.lua " << box("/tr.lua ") << "/tr.lua";
    QTest::newRow("move, listed source") << "move listed" << umlauts << box(umlautRow) << "/gr??e.txt";
    QTest::newRow("open folder, listed") << "open listed" << QString::fromUtf8("/grüße/")
                                         << box(QStringLiteral("/gr%1%1e/").arg(QChar(0xFFFD))) << "/gr??e/";
}

void tst_ExplorerWindow::impossibleNames()
{
    QFETCH(QString, command);
    QFETCH(QString, name);
    QFETCH(QString, message);
    QFETCH(QString, alike);
    const bool listed = !alike.isEmpty();
    QString listedAs; // the row of the served `name`, as the tree lists it
    if (listed) {
        const QString file = name.endsWith('/') ? "f.txt" : "";
        QVERIFY(node.write(name + file, "listed"));
        QVERIFY(node.write(alike + file, "alike"));
        listedAs = QString::fromUtf8(name.toLatin1());
    }
    QVERIFY(open());
    QVERIFY(tree()->listPath("/b/") && idle());
    const auto rootRows = [this] {
        QStringList paths;
        QTreeWidgetItem* root = tree()->topLevelItem(0);
        for (int i = 0; i < root->childCount(); ++i)
            paths << static_cast<QCFTPClientExplorerTreeWidgetItem*>(root->child(i))->fileInfo().path();
        return paths;
    };
    if (listed)
        QVERIFY2(rootRows().contains(listedAs) && rootRows().contains(alike), qPrintable(rootRows().join('|')));
    const auto served = [this] {
        QStringList paths;
        QDirIterator it(node.root.path(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            paths << it.next();
        paths.sort();
        return paths;
    };
    const QStringList before = served();
    node.server->clearCommands();

    const int asked = script.seen.size();
    if (listed) {
        // Refused before any dialog asks for more.
        script.text = "/b/moved.txt";
        script.file = local.filePath("saved.txt");
        QTreeWidgetItem* item = row(listedAs);
        if (command == "delete listed")
            explorer->deleteItem(item);
        else if (command == "download listed")
            explorer->downloadFile(item);
        else if (command == "edit listed")
            explorer->editFile(item);
        else if (command == "move listed")
            explorer->moveItem(item);
        else
            explorer->openDirectory(item);
    } else if (command == "upload") {
        script.file = local.filePath(name);
        QVERIFY(writeFile(script.file, "data"));
        explorer->uploadFile(row("/"));
    } else if (command == "folder" || command == "move") {
        script.text = name;
        if (command == "folder")
            explorer->createDirectory(row("/b/"));
        else
            explorer->moveItem(row("/a.txt"));
    } else if (command == "editor") {
        script.text = name;
        explorer->createNewFile(row("/"));
        auto* editor = explorer->findChild<TextEditorWindow*>();
        QVERIFY(editor);
        editor->findChild<QPlainTextEdit*>("plainTextEdit")->insertPlainText("text");
        editor->findChild<QAction*>("actionSave")->trigger();
        QCOMPARE(editor->statusBar()->currentMessage(), message);
        QVERIFY(editor->hasUnsavedChanges());
        delete editor; // with its text unsaved it would outlive the explorer
    } else {
        QTemporaryDir folder;
        QVERIFY(writeFile(folder.filePath("ok.txt"), "ok"));
        QVERIFY(writeFile(folder.filePath(name), "data"));
        if (command == "folder upload") {
            QVERIFY(tree()->uploadFilesystem(folder.path()));
        } else {
            script.file = local.filePath("fs.tar.gz");
            QProcess tar;
            tar.setWorkingDirectory(folder.path());
            tar.start("tar", {"czf", script.file, "ok.txt", name.section('/', 0, 0)});
            QVERIFY(tar.waitForFinished(30000) && tar.exitCode() == 0);
            script.menuItem = "Upload fileystem";
            explorer->on_treeWidgetExplorer_customContextMenuRequested(at("/"));
        }
    }
    if (command != "editor")
        QTRY_COMPARE_WITH_TIMEOUT(boxes(), QStringList{message}, 20000);
    QVERIFY(idle());
    // An upload's end lists the tree again; nothing else went out.
    QCOMPARE(node.server->commands().filter(QRegularExpression("^(?!LST )")), QStringList());
    QCOMPARE(served(), before);
    if (listed) {
        QCOMPARE(node.server->commands(), QStringList());
        QVERIFY(rootRows().contains(listedAs) && rootRows().contains(alike));
        QCOMPARE(script.seen.size(), asked);
        QVERIFY(!QFileInfo::exists(script.file));
    }
}

// ---------------------------------------------------------------- closing

void tst_ExplorerWindow::closeWhileTalking_data()
{
    QTest::addColumn<QString>("during");
    QTest::newRow("download") << "download";
    QTest::newRow("chain") << "chain";
    QTest::newRow("archive upload") << "archive";
}

void tst_ExplorerWindow::closeWhileTalking()
{
    QFETCH(QString, during);
    QVERIFY(open());
    QVERIFY(node.write("/big.bin", QByteArray(2 << 20, 'w')));
    QVERIFY(tree()->listPath("/") && idle());
    QTemporaryDir folder;
    for (int i = 0; i < 20; ++i)
        QVERIFY(writeFile(folder.filePath(QString("f%1.bin").arg(i)), QByteArray(20000, 'f')));

    if (during == "download") {
        script.file = local.filePath("big.bin");
        explorer->downloadFile(row("/big.bin"));
        QTRY_VERIFY_WITH_TIMEOUT(bar()->value() > 0, 60000);
    } else if (during == "chain") {
        QVERIFY(tree()->movePath("/a.txt", "/b/a.txt"));
        QTRY_VERIFY_WITH_TIMEOUT(node.server->commands().contains("MOV /a.txt /b/a.txt"), 60000);
    } else {
        QVERIFY(tree()->uploadFilesystem(folder.path()));
        QTRY_VERIFY_WITH_TIMEOUT(node.server->commands().filter("STR").size() > 2, 60000);
    }
    QPointer<QCFTPFileExplorerWidget> gone = explorer;
    delete explorer;
    explorer = nullptr;
    QVERIFY(!gone);
    QTest::qWait(300); // whatever the client still had queued finds nobody
    QVERIFY(!QFileInfo::exists(local.filePath("big.bin")));
}

// ---------------------------------------------------------------- the end of a login

void tst_ExplorerWindow::commandsAtTheEndOfALogin_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("automatic"); // the re-login by itself, not the button's

    QTest::newRow("double-click") << "double-click" << false;
    QTest::newRow("delete") << "delete" << false;
    QTest::newRow("save-back") << "save-back" << true;
    QTest::newRow("re-login") << "re-login" << true;
}

void tst_ExplorerWindow::commandsAtTheEndOfALogin()
{
    QFETCH(QString, command);
    QFETCH(bool, automatic);
    QVERIFY(open());
    QPointer<TextEditorWindow> editor;
    if (command == "save-back") {
        explorer->on_treeWidgetExplorer_itemDoubleClicked(row("/a.txt"), 0);
        QTRY_VERIFY_WITH_TIMEOUT(editor = explorer->findChild<TextEditorWindow*>(), 20000);
        auto* edit = editor->findChild<QPlainTextEdit*>("plainTextEdit");
        QCOMPARE(edit->toPlainText(), QStringLiteral("alpha"));
        edit->moveCursor(QTextCursor::End);
        edit->insertPlainText(" and more");
        QVERIFY(idle());
    }
    const auto act = [&] {
        if (command == "double-click")
            explorer->on_treeWidgetExplorer_itemDoubleClicked(row("/a.txt"), 0);
        else if (command == "delete")
            explorer->deleteItem(row("/b/x.txt"));
        else if (command == "save-back")
            editor->findChild<QAction*>("actionSave")->trigger();
    };

    bool tried = false;
    QMetaObject::Connection during;
    const auto forget = qScopeGuard([&] { disconnect(during); });
    if (command == "re-login") {
        // The connection before ends; a re-login started from the report of
        // Disconnected, with that connection's finished() still to come,
        // must not take it for the end of its own login.
        during = connect(&client(), &QCFTPClient::stateChanged, this, [&](QCFTP::Client::State s) {
            if (s == QCFTP::Client::Disconnected && !tried) {
                tried = true;
                explorer->onTimerReconnectClient();
            }
        });
        node.server->clearCommands();
        client().disconnectFromServer();
    } else {
        // Each command is started from the report of Ready, before the
        // login's finished() has reached the window: refused as by a busy
        // client, nothing sent, nothing changed.
        client().disconnectFromServer();
        QTRY_VERIFY_WITH_TIMEOUT(!tree()->isEnabled(), 20000);
        node.server->clearCommands();
        during = connect(&client(), &QCFTPClient::stateChanged, this, [&](QCFTP::Client::State s) {
            if (s == QCFTP::Client::Ready && !tried) {
                tried = true;
                act();
            }
        });
        if (automatic)
            explorer->onTimerReconnectClient();
        else
            explorer->login();
    }
    QVERIFY(idle());
    QVERIFY(tried);
    // The login's own end came through: the tree was listed again, and
    // nothing else was sent.
    const QStringList sent = node.server->commands();
    QCOMPARE(sent.mid(0, 3), QStringList({"HND", "LOG user", "LST /"}));
    QCOMPARE(sent.filter(QRegularExpression("^(?!LST )")).size(), 2);
    QCOMPARE(node.read("/a.txt"), QByteArray("alpha"));
    QCOMPARE(node.read("/b/x.txt"), QByteArray("x"));
    if (command == "double-click") {
        QCOMPARE(boxes(), QStringList{"critical Node: 2 Explorer Error: Can't send download file to target, target is busy"});
        QCOMPARE(editorTitles(), QStringList());
    } else if (command == "delete") {
        QCOMPARE(boxes(), QStringList{"critical Node: 2 Explorer Error: Can't send delete path to target, target is busy"});
    } else if (command == "save-back") {
        QCOMPARE(editor->statusBar()->currentMessage(), QStringLiteral("Can't upload, device is busy"));
        QVERIFY(editor->hasUnsavedChanges());
    } else {
        QCOMPARE(boxes(), QStringList());
    }

    // Afterwards the command goes through and pairs with its own end.
    node.server->clearCommands();
    act();
    QVERIFY(idle());
    if (command == "double-click") {
        QTRY_COMPARE_WITH_TIMEOUT(editorTitles(), QStringList{"Node: 2 - Edit  /a.txt"}, 20000);
        QCOMPARE(explorer->findChild<TextEditorWindow*>()->findChild<QPlainTextEdit*>("plainTextEdit")->toPlainText(),
                 QStringLiteral("alpha"));
    } else if (command == "delete") {
        QVERIFY(!QFileInfo::exists(node.local("/b/x.txt")));
    } else if (command == "save-back") {
        QTRY_VERIFY_WITH_TIMEOUT(!editor->hasUnsavedChanges(), 20000);
        QCOMPARE(node.read("/a.txt"), QByteArray("alpha and more"));
    }
}

QTEST_MAIN(tst_ExplorerWindow)
#include "tst_explorerwindow.moc"
