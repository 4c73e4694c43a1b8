// The debug log view on a disabled stack, driven through its slots: rows,
// colours and fonts, the flush with its cap and scrolling, the node's
// return, the dump file, and the export of rows.

#include "erfcdebuglogdockwidget.h"
#include "filebytes.h"
#include "erfcnodemanager.h"
#include "modaldriver.h"
#include "qerfcincomingevent.h"
#include "qerfcstack.h"

#include <QAbstractButton>
#include <QAction>
#include <QClipboard>
#include <QFileDialog>
#include <QHeaderView>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QScrollBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <ctime>
#include <sys/resource.h>

namespace {

constexpr uchar Node = 5;

QTableWidget* tableOf(ErfcDebugLogDockWidget& view)
{
    return view.findChild<QTableWidget*>(QStringLiteral("tableWidget"));
}

ErfcDebugLogEntry entry(const QString& text, quint8 flags = 0, quint8 colour = 6)
{
    return ErfcDebugLogEntry(flags, colour, 42, "CORE", "main.c", "init", 7, "ctx", text);
}

// The Text cells of all rows, and "-" for a row that has any other cell.
QStringList textColumn(QTableWidget* table)
{
    QStringList texts;
    for (int row = 0; row < table->rowCount(); ++row)
        texts << table->item(row, 7)->text();
    return texts;
}

// Queues `count` one-line entries "row <n>" and flushes until all are in
// (a flush adds a bounded number, the rest in further passes).
void fill(ErfcDebugLogDockWidget& view, int from, int count)
{
    for (int i = from; i < from + count; ++i)
        view.queueEntry(entry(QStringLiteral("row %1").arg(i)));
    QTableWidget* table = tableOf(view);
    const QString last = QStringLiteral("row %1").arg(from + count - 1);
    for (int passes = 0; passes < 1000; ++passes) {
        view.onPrintBufferTimerTimeout();
        if (table->item(table->rowCount() - 1, 7)->text() == last)
            break;
    }
}

// Chooses the menu entry `text` when a popup menu opens.
bool chooseEntry(QWidget* widget, const QString& text)
{
    auto* menu = qobject_cast<QMenu*>(widget);
    if (!menu)
        return false;
    for (QAction* action : menu->actions()) {
        if (action->text() == text) {
            menu->setActiveAction(action);
            QTest::keyClick(menu, Qt::Key_Return);
            return true;
        }
    }
    return false;
}

bool chooseFile(QWidget* widget, const QString& path)
{
    auto* dialog = qobject_cast<QFileDialog*>(widget);
    if (!dialog)
        return false;
    if (dialog->windowTitle() != QLatin1String("Please select file name"))
        return false;
    return ModalDriver::answerFileDialog(dialog, path);
}

} // namespace

class TestErfcDebugLogDockWidget : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void rows_data();
    void rows();
    void cells_data();
    void cells();
    void nodeReturnAndTitle();
    void flush();
    void dump();
    void exportForms();
    void menuAndCopyKey();
    void saveFailures();

private:
    QErfcStack m_stack; // never enabled: every subscription attempt is refused
};

void TestErfcDebugLogDockWidget::initTestCase()
{
    // System times below are shown in UTC.
    qputenv("TZ", "UTC");
    tzset();
}

void TestErfcDebugLogDockWidget::rows_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("rows");

    QTest::newRow("tab to column 8") << "a\tb" << QStringList{"a       b"};
    QTest::newRow("CR LF as LF, a trailing one adds no row") << "a\r\nb\r\n" << QStringList{"a", "b"};
}

void TestErfcDebugLogDockWidget::rows()
{
    QFETCH(QString, text);
    QFETCH(QStringList, rows);

    ErfcDebugLogDockWidget view(&m_stack, Node);
    QTableWidget* table = tableOf(view);
    view.appendEntry(entry(text, 2));
    QCOMPARE(textColumn(table), rows);
    const int height = QFontMetrics([] { QFont f = QApplication::font(); f.setBold(true); return f; }()).height() + 3;
    for (int row = 0; row < table->rowCount(); ++row) {
        QCOMPARE(table->rowHeight(row), height);
        for (int column = 0; column < 7; ++column)
            QCOMPARE(table->item(row, column) != nullptr, row == 0);
    }
}

void TestErfcDebugLogDockWidget::cells_data()
{
    QTest::addColumn<int>("flags");
    QTest::addColumn<int>("colour");
    QTest::addColumn<QVariant>("foreground"); // of columns 0 to 6

    QTest::newRow("colour 0 is transparent") << 0 << 0 << QVariant(QColor(0, 0, 0, 0));
    QTest::newRow("other flag bits ignored, colour 1") << 0xFC << 1 << QVariant(QColor(255, 0, 255));
    QTest::newRow("colour above 6 has none") << 0 << 7 << QVariant();
}

void TestErfcDebugLogDockWidget::cells()
{
    QFETCH(int, flags);
    QFETCH(int, colour);
    QFETCH(QVariant, foreground);

    ErfcDebugLogDockWidget view(&m_stack, Node);
    QTableWidget* table = tableOf(view);
    ErfcDebugLogEntry e(quint8(flags), quint8(colour), 123456789, "MOD", "file.c", "fn", 99, "ctx", "text");
    e.systemTime = 1234; // 1970-01-01 00:00:01.234 UTC
    view.appendEntry(e);
    e.timestamp = 42;
    view.appendEntry(e);

    const QStringList shown{"1970-01-01 00:00:01.234", "123456789", "99", "file.c", "MOD", "ctx", "fn", "text"};
    for (int c = 0; c < 8; ++c) {
        const QTableWidgetItem* item = table->item(0, c);
        QCOMPARE(item->text(), shown.at(c));
        QCOMPARE(item->textAlignment(), int(Qt::AlignLeft | Qt::AlignVCenter));
        const QVariant brush = item->data(Qt::ForegroundRole);
        if (c == 7 || !foreground.isValid())
            QVERIFY(!brush.isValid());
        else
            QCOMPARE(brush.value<QBrush>().color(), foreground.value<QColor>());
        if (c != 5)
            QVERIFY(!item->data(Qt::FontRole).isValid());
    }
    QCOMPARE(table->item(1, 1)->text(), QStringLiteral("00000042"));
    QVERIFY(table->isColumnHidden(3));

    const QFont context = table->item(0, 5)->font();
    QCOMPARE(context.italic(), bool(flags & 1));
    QCOMPARE(context.bold(), bool(flags & 2));
    QCOMPARE(table->rowHeight(0), QFontMetrics(context).height() + 3);
}

void TestErfcDebugLogDockWidget::nodeReturnAndTitle()
{
    ErfcDebugLogDockWidget view(&m_stack, Node);
    QTableWidget* table = tableOf(view);
    QCOMPARE(view.windowTitle(), QStringLiteral("Log Node 5"));
    view.onEventConnectStateChangedSignal(QErfc::EventConnected);
    QCOMPARE(view.windowTitle(), QStringLiteral("Log Node 5 (Connected)"));
    view.onEventConnectStateChangedSignal(QErfc::EventError);
    QCOMPARE(view.windowTitle(), QStringLiteral("Log Node 5 (Disconnected)"));

    // Only this node, found again, in Application mode counts.
    view.onNodeManagerDrcUpdate(Node + 1, QErfc::NewNode, QErfc::Application);
    view.onNodeManagerDrcUpdate(Node, QErfc::RemovedNode, QErfc::Application);
    view.onNodeManagerDrcUpdate(Node, QErfc::NewNode, QErfc::Maintenance);
    view.onPrintBufferTimerTimeout();
    QCOMPARE(table->rowCount(), 0);

    view.onNodeManagerDrcUpdate(Node, QErfc::NewNode, QErfc::Application);
    QTRY_COMPARE(table->rowCount(), 1); // by the flush timer
    QCOMPARE(table->item(0, 7)->text(), QStringLiteral("RECONNECT"));
    QCOMPARE(table->item(0, 0)->foreground().color(), QColor(185, 0, 0));
}

void TestErfcDebugLogDockWidget::flush()
{
    ErfcDebugLogDockWidget view(&m_stack, Node);
    QTableWidget* table = tableOf(view);
    QScrollBar* bar = table->verticalScrollBar();
    view.resize(900, 300);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));

    fill(view, 0, ErfcDebugLogDockWidget::MaxRows + 1);
    QCOMPARE(table->rowCount(), ErfcDebugLogDockWidget::MaxRows + 1);
    QTRY_COMPARE(bar->value(), bar->maximum()); // it was at the bottom

    // Scrolled up: the cap takes the first row before the new ones come,
    // and the rows in view stay in view.
    bar->setValue(1000);
    const QString top = table->item(table->rowAt(0), 7)->text();
    fill(view, ErfcDebugLogDockWidget::MaxRows + 1, 2);
    QCOMPARE(table->rowCount(), ErfcDebugLogDockWidget::MaxRows + 2);
    QCOMPARE(table->item(0, 7)->text(), QStringLiteral("row 1"));
    QTRY_COMPARE(table->item(table->rowAt(0), 7)->text(), top);
    QCOMPARE(bar->value(), 999);

    // A large batch comes in passes, by itself.
    view.onClearPushButtonClicked();
    for (int i = 0; i < 4500; ++i)
        view.queueEntry(entry(QStringLiteral("batch %1").arg(i)));
    view.onPrintBufferTimerTimeout();
    QVERIFY(table->rowCount() < 4500);
    QTRY_COMPARE(table->rowCount(), 4500);
    QCOMPARE(table->item(4499, 7)->text(), QStringLiteral("batch 4499"));

    // Clear empties the table at once; what was queued comes with the next flush.
    view.queueEntry(entry("queued"));
    view.onClearPushButtonClicked();
    QCOMPARE(table->rowCount(), 0);
    QTRY_COMPARE(textColumn(table), QStringList{"queued"});
}

void TestErfcDebugLogDockWidget::dump()
{
    QTemporaryDir dir;
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    ErfcNodeManager::instance()->setDumpLog(true);
    auto restore = qScopeGuard([&] {
        ErfcNodeManager::instance()->setDumpLog(false);
        QDir::setCurrent(previous);
    });

    // An earlier dump and an earlier kept one: the earlier dump goes to ".2".
    QFile earlier(QStringLiteral("log_5.txt"));
    QVERIFY(earlier.open(QIODevice::WriteOnly));
    earlier.write("earlier");
    earlier.close();
    QFile kept(QStringLiteral("log_5.txt.1"));
    QVERIFY(kept.open(QIODevice::WriteOnly));
    kept.close();

    {
        ErfcDebugLogDockWidget view(&m_stack, Node);
        // The ten-field record goes only to the dump.
        view.onEventConnectCallSignal(QErfcIncomingEvent(Node, 127, QErfc::User,
            "\x02" "2\x03" "3\x03" "1234\x03" "CORE\x03" "main.c\x03" "init\x03" "42\x03" "ctx\x03" "Hello\x1d"
            "\x02" "1\x03" "1\x03" "1\x03\x03\x03\x03\x03\x03\x03" "ten\x1d"
            "\x02\x03\x03\x03\x03\x03\x03\x03\x03" "\xc3\xa9\xe2\x82\xac\x1d"));
    }
    QCOMPARE(readFile("log_5.txt.2"), QByteArray("earlier"));
    const QByteArray dump = readFile("log_5.txt");
    QCOMPARE(dump, QByteArray("LOG OF NODE 5\r\n"
                              "2\x03" "3\x03" "1234\x03" "CORE\x03" "main.c\x03" "init\x03" "42\x03" "ctx\x03" "Hello\r\n"
                              "1\x03" "1\x03" "1\x03\x03\x03\x03\x03\x03\x03" "ten\r\n"
                              "\x03\x03\x03\x03\x03\x03\x03\x03" "\xe9?\r\n"));

    // Opened again: the dump of the first view is kept.
    { ErfcDebugLogDockWidget again(&m_stack, Node); }
    QCOMPARE(readFile("log_5.txt.3"), dump);

    // A dump that cannot be opened: one line in the system log, and the
    // view works on without it.
    QVERIFY(QDir().mkdir(QStringLiteral("log_9.txt")));
    QSignalSpy lines(ErfcNodeManager::instance(), &ErfcNodeManager::message);
    ErfcDebugLogDockWidget undumped(&m_stack, 9);
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines.at(0).at(0).toString().contains("log_9.txt"), qPrintable(lines.at(0).at(0).toString()));
    undumped.onEventConnectCallSignal(QErfcIncomingEvent(9, 127, QErfc::User, "\x02\x03\x03\x03\x03\x03\x03\x03\x03x\x1d"));
    undumped.onPrintBufferTimerTimeout();
    QCOMPARE(textColumn(tableOf(undumped)), QStringList{"x"});
}

void TestErfcDebugLogDockWidget::exportForms()
{
    ErfcDebugLogDockWidget view(&m_stack, Node);
    ErfcDebugLogEntry e(0, 3, 42, "CORE", "main.c", "init", 7, "ctx", "He said \"hi\"\nsecond");
    e.systemTime = 1234;
    view.appendEntry(e);

    QCOMPARE(view.rowsAsText(0, ErfcDebugLogDockWidget::TextForm),
             QStringLiteral("1970-01-01 00:00:01.234\t00000042\t7\tCORE\tctx\tinit\tHe said \"hi\"\t\r\n"));
    QCOMPARE(view.rowsAsText(1, ErfcDebugLogDockWidget::TextForm), QStringLiteral("second\t\r\n"));
    QCOMPARE(view.rowsAsText(0, ErfcDebugLogDockWidget::CsvForm),
             QStringLiteral("\"1970-01-01 00:00:01.234\"; \"00000042\"; \"7\"; \"CORE\"; \"ctx\"; \"init\"; "
                            "\"He said \"\"hi\"\"\"\r\n"));
    QCOMPARE(view.rowsAsText(1, ErfcDebugLogDockWidget::CsvForm),
             QStringLiteral("\"\"; \"\"; \"\"; \"\"; \"\"; \"\"; \"second\"\r\n"));
}

void TestErfcDebugLogDockWidget::menuAndCopyKey()
{
    QTemporaryDir dir;
    QMainWindow window;
    auto* view = new ErfcDebugLogDockWidget(&m_stack, Node, &window);
    window.addDockWidget(Qt::BottomDockWidgetArea, view);
    // A window-wide Copy action must not take the key from the table.
    QAction windowCopy(&window);
    windowCopy.setShortcut(QKeySequence::Copy);
    window.addAction(&windowCopy);
    QSignalSpy windowCopies(&windowCopy, &QAction::triggered);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QTableWidget* table = tableOf(*view);
    view->appendEntry(entry(QStringLiteral("caf\u00e9 \u20ac\nnext")));
    view->appendEntry(entry("other"));
    table->selectRow(0);
    table->setFocus();
    QClipboard* clipboard = QGuiApplication::clipboard();
    const QString selected = view->selectedRowsText(ErfcDebugLogDockWidget::TextForm);
    QVERIFY(selected.contains(QStringLiteral("caf\u00e9 \u20ac\t\r\n")));
    QTest::keyClick(table, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(clipboard->text(), selected);
    QCOMPARE(windowCopies.size(), 0);

    // Saved as Latin-1, the clipboard untouched; copied, no file.
    const QString path = dir.filePath(QStringLiteral("saved.txt"));
    for (const QString& choice : {QStringLiteral("Save selection to text file"), QStringLiteral("Copy all to clipboard")}) {
        clipboard->setText(QStringLiteral("before"));
        ModalDriver driver;
        driver.answer = [&](QWidget* w) { return chooseEntry(w, choice) || chooseFile(w, path); };
        view->onTableWidgetMenuRequested(QPoint(5, 5));
        QCOMPARE(driver.seen, QStringList());
    }
    QByteArray latin1 = selected.toUtf8();
    QCOMPARE(readFile(path), latin1.replace("\xc3\xa9", "\xe9").replace("\xe2\x82\xac", "?"));
    QCOMPARE(clipboard->text(), view->allRowsText(ErfcDebugLogDockWidget::TextForm));
}

void TestErfcDebugLogDockWidget::saveFailures()
{
    QTemporaryDir dir;
    ErfcDebugLogDockWidget view(&m_stack, Node);

    {   // No file can be made in /proc, not even by root.
        ModalDriver driver;
        driver.answer = [&](QWidget* w) { return chooseFile(w, "/proc/quorvel-debuglog-test.txt"); };
        view.saveToFile(QStringLiteral("text"));
        QCOMPARE(driver.seen, QStringList{"critical Can't save to file: Can't open the file to write"});
    }
    // A write that fails (the file-size limit stands in for a full disk):
    // reported with the file's error, and the older file stays as it was.
    const QString path = dir.filePath("old.txt");
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("older content");
    old.close();
    {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit saved;
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit limit = saved;
        limit.rlim_cur = 1024;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &limit), 0);
        auto restore = qScopeGuard([&] { setrlimit(RLIMIT_FSIZE, &saved); });

        ModalDriver driver;
        driver.answer = [&](QWidget* w) { return chooseFile(w, path); };
        view.saveToFile(QString(100000, QLatin1Char('x')));
        QCOMPARE(driver.seen.size(), 1);
        QVERIFY2(driver.seen.at(0).startsWith("critical Can't save to file: ")
                     && driver.seen.at(0) != "critical Can't save to file: ",
                 qPrintable(driver.seen.join('|')));
    }
    QCOMPARE(readFile(path), QByteArray("older content"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"old.txt"});
}

QTEST_MAIN(TestErfcDebugLogDockWidget)
#include "tst_erfcdebuglogdockwidget.moc"
