// The firmware update against the test node: the image arrives byte for
// byte, every outcome the node can report reads as it should, every way of
// ending the dialog drops the stream and sends the node back to its
// application (also a node that is restarting then), no wait of the dialog
// is endless, and a node calling the program's script meanwhile cannot
// hang the program.

#include "cargo2updatedialog.h"
#include "cargo2updatedialog_p.h"
#include "connectedwindow.h"
#include "jsqerfc.h"
#include "jsqerfcbridge_p.h"
#include "jsrte.h"
#include "jsrtetype.h"
#include "modaldriver.h"
#include "servicemenuwidget.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QtTest>

#include <functional>

// As QTRY_VERIFY/QTRY_COMPARE_WITH_TIMEOUT, but failing as soon as the bound
// is over: those wait twice as long again to tell how late the value came,
// which turns a firmware fault into minutes of waiting.
#define WAIT_VERIFY(condition, ms) \
    do { \
        (void)QTest::qWaitFor([&] { return bool(condition); }, ms); \
        QVERIFY(condition); \
    } while (false)
#define WAIT_COMPARE(actual, expected, ms) \
    do { \
        (void)QTest::qWaitFor([&] { return (actual) == (expected); }, ms); \
        QCOMPARE(actual, expected); \
    } while (false)

namespace {
constexpr uchar Node = 10;
constexpr uchar ScriptFunction = 20;

// The process's stream threads ("QCargo send", "QCargo control"), by their
// names: other threads (a file dialog's, a thread pool's) come and go on
// their own time.
int threadCount()
{
    int count = 0;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(task + QStringLiteral("/comm")));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().startsWith("QCargo"))
            ++count;
    }
    return count;
}

QByteArray randomImage(int size)
{
    QByteArray image(size, Qt::Uninitialized);
    for (char& c : image)
        c = char(QRandomGenerator::global()->bounded(256));
    return image;
}

QString logOf(Cargo2UpdateDialog* dialog)
{
    return dialog->findChild<QTextEdit*>(QStringLiteral("textEditLog"))->toPlainText();
}

QPushButton* buttonOf(Cargo2UpdateDialog* dialog)
{
    return dialog->findChild<QPushButton*>(QStringLiteral("pushButtonCancel"));
}

// The log holds the update's outcome: a flash state, or an error that ends
// it (a short upload's byte count is followed by the flash state at once).
bool outcomeDecided(const QString& log)
{
    return log.contains(QLatin1String(" - Update sucessfull")) || log.contains(QLatin1String(" - Error"));
}

QString notBackLine(int seconds)
{
    return QStringLiteral(" - Error: Node didn't come back in Maintenance within %1 s, update not started")
        .arg(seconds);
}

QString stillInMaintenanceMessage(int seconds)
{
    return QStringLiteral("Node %1 did not come back within %2 s after its firmware update was cancelled: "
                          "it may still be in Maintenance.")
        .arg(Node)
        .arg(seconds);
}
} // namespace

class TestFirmwareUpdate : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void fileChoice_data();
    void fileChoice();
    void upload();
    void ending_data();
    void ending();
    void outcomes_data();
    void outcomes();
    void waitsForMaintenance();
    void cancelWhileRestarting_data();
    void cancelWhileRestarting();
    void notBackInMaintenance_data();
    void notBackInMaintenance();
    void noDeadlock();

private:
    using Step = std::function<void(Cargo2UpdateDialog*, const QString&)>;
    // The test node with these options besides the usual ones, started
    // afresh when they differ from the running one's; waits until it is known.
    void useNode(const QStringList& options);
    // Runs the dialog choosing `path` (none: the choice is cancelled), the
    // node's restart waited for m_restartWaitMs; `step` is called on every
    // tick while the dialog runs and may end it. A dialog still open after
    // m_runBoundMs is ended (and the test's checks of it fail).
    int run(Cargo2UpdateDialog& dialog, const QString& path, const Step& step);
    QString writeImage(const QByteArray& image);
    // Runs a whole update of `image` and ends it once the log shows a
    // flash state or an error; the log and the button's text then.
    int runToEnd(const QByteArray& image, QString* log, QString* button = nullptr);
    QStringList recorded() const;
    void waitForNodeMode(QErfc::Mode mode);
    // Ends the test node; the next useNode() starts a new one.
    void stopNode();

    QTemporaryDir m_dir;
    QString m_firmwareOut;
    QString m_record;
    QString m_label; // the file name the last run showed
    QStringList m_nodeOptions;
    ConnectedWindow m_session;
    QErfcStack& m_stack = m_session.stack;
    QErfc::Mode m_lastMode = QErfc::Application;
    int m_returns = 0; // the node's (address, new) updates seen
    int m_departures = 0; // its (address, removed) updates
    int m_restartWaitMs = 0;
    int m_runBoundMs = 0;
};

void TestFirmwareUpdate::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_firmwareOut = m_dir.filePath(QStringLiteral("received.bin"));
    m_record = m_dir.filePath(QStringLiteral("record.txt"));
    connect(ErfcNodeManager::instance(), &ErfcNodeManager::drcUpdate, this,
            [this](uchar addr, QErfc::DrcUpdate state, QErfc::Mode mode) {
                if (addr != Node)
                    return;
                if (state == QErfc::RemovedNode) {
                    ++m_departures;
                    return;
                }
                m_lastMode = mode;
                ++m_returns;
            });
    useNode({});
}

void TestFirmwareUpdate::init()
{
    // As generous as the node's own waits below; a dialog stuck for longer
    // shows its state in the failed comparison instead of holding the run.
    m_restartWaitMs = 20000;
    m_runBoundMs = 60000;
}

void TestFirmwareUpdate::stopNode()
{
    if (m_session.node)
        QVERIFY(m_session.node->stop());
    m_session.node.reset();
}

void TestFirmwareUpdate::useNode(const QStringList& options)
{
    QFile::remove(m_record);
    if (m_session.node && options == m_nodeOptions)
        return;
    m_nodeOptions = options;
    m_returns = 0;
    QVERIFY(m_session.connect(Node, QStringList{"--firmware-out", m_firmwareOut, "--record", m_record} + options));
    waitForNodeMode(QErfc::Application);
}

void TestFirmwareUpdate::waitForNodeMode(QErfc::Mode mode)
{
    WAIT_VERIFY(m_returns > 0 && m_lastMode == mode, 20000);
}

QStringList TestFirmwareUpdate::recorded() const
{
    QFile file(m_record);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromLatin1(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

QString TestFirmwareUpdate::writeImage(const QByteArray& image)
{
    const QString path = m_dir.filePath(QStringLiteral("image.bin"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(image) != image.size())
        return QString();
    return path;
}

int TestFirmwareUpdate::run(Cargo2UpdateDialog& dialog, const QString& path, const Step& step)
{
    ModalDriver driver(m_runBoundMs + 30000);
    driver.answer = [&](QWidget* widget) {
        if (auto* files = qobject_cast<QFileDialog*>(widget)) {
            if (path.isEmpty())
                return false; // rejected: the choice is cancelled
            return ModalDriver::answerFileDialog(files, path);
        }
        return widget == &dialog; // ended by the test's own step
    };
    QElapsedTimer running;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [&] {
        if (!dialog.isVisible())
            return;
        if (running.hasExpired(m_runBoundMs)) {
            qWarning("the dialog was still open after %d ms: %s", m_runBoundMs, qPrintable(logOf(&dialog)));
            dialog.reject();
            return;
        }
        step(&dialog, logOf(&dialog));
    });
    ticker.start(10);
    Cargo2UpdateDialogPrivate::get(&dialog)->m_restartWaitMs = m_restartWaitMs;
    m_returns = 0;
    m_departures = 0;
    running.start();
    return dialog.exec();
}

int TestFirmwareUpdate::runToEnd(const QByteArray& image, QString* log, QString* button)
{
    Cargo2UpdateDialog dialog(&m_stack, Node, m_session.window.get());
    return run(dialog, writeImage(image), [&](Cargo2UpdateDialog* d, const QString& text) {
        if (!outcomeDecided(text))
            return;
        *log = text;
        m_label = d->findChild<QLabel*>(QStringLiteral("labelPath"))->text();
        if (button)
            *button = buttonOf(d)->text();
        buttonOf(d)->click();
    });
}

void TestFirmwareUpdate::fileChoice_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QStringList>("boxes"); // the main window's
    const QStringList none{"QFileDialog"};
    const QString cantRead = QStringLiteral("Can't read File.");
    // Nothing to send: refused before the node is reset.
    const QString empty = QStringLiteral("The firmware file is empty.");
    const QString emptyPath = m_dir.filePath(QStringLiteral("empty.bin"));
    QFile emptyFile(emptyPath);
    QVERIFY(emptyFile.open(QIODevice::WriteOnly));
    QTest::newRow("cancelled") << QString() << 0 << QString() << none;
    QTest::newRow("missing") << QStringLiteral("/nonexistent/image.bin") << -1 << cantRead
                             << QStringList{"QFileDialog", "information Error: " + cantRead};
    QTest::newRow("empty") << emptyPath << -1 << empty << QStringList{"QFileDialog", "information Error: " + empty};
}

void TestFirmwareUpdate::fileChoice()
{
    QFETCH(QString, path);
    QFETCH(int, result);
    QFETCH(QString, error);
    QFETCH(QStringList, boxes);
    {
        Cargo2UpdateDialog dialog(&m_stack, Node, m_session.window.get());
        // Never shown: ended at once if it is.
        QCOMPARE(run(dialog, path, [](Cargo2UpdateDialog* d, const QString&) { d->reject(); }), result);
        QCOMPARE(dialog.errorString(), error);
    }
    ModalDriver driver;
    driver.answer = [&](QWidget* widget) {
        auto* files = qobject_cast<QFileDialog*>(widget);
        if (!files || path.isEmpty())
            return false;
        driver.seen << QStringLiteral("QFileDialog");
        return ModalDriver::answerFileDialog(files, path);
    };
    QVERIFY(QMetaObject::invokeMethod(m_session.window.get(), "onNodesDockWidgetUpdateRequested", Q_ARG(uchar, Node)));
    QCOMPARE(driver.seen, boxes);
    // Nothing reached the node: no reset, no catch.
    QCOMPARE(recorded(), QStringList());
}

void TestFirmwareUpdate::upload()
{
    useNode({});
    const QByteArray image = randomImage(3000);
    QString log;
    QString button;
    QCOMPARE(runToEnd(image, &log, &button), 0);
    QCOMPARE(log, QStringLiteral(" - connecting ...\n - uploading ...\n - Update sucessfull"));
    QCOMPARE(button, QStringLiteral("close"));
    QCOMPARE(m_label, QStringLiteral("image.bin")); // the name only, not the path
    // The node writes what it received on its own main thread, which may
    // come a moment after the stream's end and the flash state.
    const auto received = [this] {
        QFile file(m_firmwareOut);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    WAIT_VERIFY(received() == image, 10000);
    waitForNodeMode(QErfc::Application); // "close" sent it back
    // Into maintenance, five catches, the flash state, back to the application.
    WAIT_COMPARE(recorded(), QStringList({"00 01", "00", "00", "00", "00", "00", "14", "00 00"}),
                              10000);
}

void TestFirmwareUpdate::ending_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("cancel") << "cancel";
    QTest::newRow("close button") << "close";
}

void TestFirmwareUpdate::ending()
{
    QFETCH(QString, how);
    useNode({});
    int baseline = -1;
    bool ended = false;
    QString log;
    Cargo2UpdateDialog dialog(&m_stack, Node, m_session.window.get());
    // Large enough to still be under way when the test ends the dialog.
    const int result = run(dialog, writeImage(randomImage(512 * 1024)), [&](Cargo2UpdateDialog* d, const QString& text) {
        // An update that ended before its upload fails the checks below.
        if (!text.contains(QLatin1String(" - uploading ...")) && !outcomeDecided(text)) {
            if (baseline < 0)
                baseline = threadCount(); // before the stream's threads
            return;
        }
        if (ended)
            return;
        ended = true;
        log = text;
        if (how == QLatin1String("cancel"))
            buttonOf(d)->click();
        else
            d->close();
    });
    QCOMPARE(result, 0);
    QVERIFY(ended);
    // The node went to maintenance and is sent back to its application.
    waitForNodeMode(QErfc::Application);
    QVERIFY(recorded().contains(QStringLiteral("00 00")));
    // The stream is gone with its threads, and no flash state was asked for.
    WAIT_COMPARE(threadCount(), baseline, 20000);
    QVERIFY(!recorded().contains(QStringLiteral("14")));
    QCOMPARE(logOf(&dialog), log);
    QCOMPARE(log, QStringLiteral(" - connecting ...\n - uploading ..."));
}

void TestFirmwareUpdate::outcomes_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("log");
    const QString start = QStringLiteral(" - connecting ...\n - uploading ...\n");
    QTest::newRow("dropped") << QStringList{"--firmware-window", "500", "--firmware-drop-after", "1000"}
                             << start + " - ERROR: Only 1000 of 4096 Bytes written\n"
                                        " - Error: 0, no flash state available";
    QTest::newRow("status 22") << QStringList{"--flash-status", "22"} << start + " - Error: 22, header crc error";
    QTest::newRow("status FF") << QStringList{"--flash-status", "ff"} << start + " - Error: FF, ";
    QTest::newRow("empty payload") << QStringList{"--answer", "14=0"}
                                   << start + " - Error: 0, no flash state available";
    // Ended at once, not left connecting.
    QTest::newRow("refused") << QStringList{"--firmware-refuse"}
                             << " - connecting ...\n - Error: ErrorConnectionRefused\n"
                                " - Error: Can't connect to the firmware channel, update not started";
}

void TestFirmwareUpdate::outcomes()
{
    QFETCH(QStringList, options);
    QFETCH(QString, log);
    useNode(options);
    QString seen;
    QString button;
    QCOMPARE(runToEnd(randomImage(4096), &seen, &button), 0);
    QCOMPARE(seen, log);
    // A flash state read turns the button; a refused stream leaves it.
    QCOMPARE(button, log.contains(QLatin1String("ErrorConnection")) ? QStringLiteral("cancel") : QStringLiteral("close"));
    waitForNodeMode(QErfc::Application);
    WAIT_VERIFY(recorded().contains(QStringLiteral("00 00")), 10000);
    QCOMPARE(recorded().contains(QStringLiteral("14")), !log.contains(QLatin1String("ErrorConnection")));
}

void TestFirmwareUpdate::waitsForMaintenance()
{
    // The node's first reset into Maintenance brings it back in its
    // application: nothing may be sent to it then. Reset into Maintenance
    // once more, it takes the image.
    useNode({"--reset-to-application", "1"});
    WAIT_COMPARE(threadCount(), 0, 20000); // earlier streams gone
    const QByteArray image = randomImage(3000);
    bool reset = false;
    QErfc::Mode backIn = QErfc::Maintenance;
    int streams = -1;
    QString waiting;
    QString log;
    Cargo2UpdateDialog dialog(&m_stack, Node, m_session.window.get());
    const int result = run(dialog, writeImage(image), [&](Cargo2UpdateDialog* d, const QString& text) {
        if (!reset) {
            // A tick after the report: the dialog has seen it too.
            if (m_returns == 0)
                return;
            reset = true;
            backIn = m_lastMode;
            streams = threadCount();
            waiting = text;
            ErfcNodeManager::instance()->resetNode(Node, QErfc::Maintenance);
            return;
        }
        if (!outcomeDecided(text) || !log.isEmpty())
            return;
        log = text;
        buttonOf(d)->click();
    });
    QCOMPARE(result, 0);
    QCOMPARE(backIn, QErfc::Application);
    QCOMPARE(streams, 0);
    QCOMPARE(waiting, QStringLiteral(" - connecting ..."));
    QCOMPARE(log, QStringLiteral(" - connecting ...\n - uploading ...\n - Update sucessfull"));
    const auto received = [this] {
        QFile file(m_firmwareOut);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    WAIT_VERIFY(received() == image, 10000);
    waitForNodeMode(QErfc::Application);
    // Caught only once in Maintenance.
    WAIT_COMPARE(recorded(), QStringList({"00 01", "00 01", "00", "00", "00", "00", "00", "14", "00 00"}),
                              10000);
}

void TestFirmwareUpdate::cancelWhileRestarting_data()
{
    QTest::addColumn<bool>("returns");
    QTest::newRow("node back") << true;
    QTest::newRow("node gone") << false;
}

void TestFirmwareUpdate::cancelWhileRestarting()
{
    // Cancelled while the node is down for its reset into Maintenance: the
    // reset back finds no node then. A node back in Maintenance gets it; of
    // a node that stays away the system log says it may be in Maintenance.
    QFETCH(bool, returns);
    useNode({});
    if (!returns)
        m_restartWaitMs = 3000;
    bool down = false;
    QString log;
    std::unique_ptr<QSignalSpy> messages;
    Cargo2UpdateDialog dialog(&m_stack, Node, m_session.window.get());
    const int result = run(dialog, writeImage(randomImage(100)), [&](Cargo2UpdateDialog* d, const QString& text) {
        if (m_departures == 0 || messages)
            return;
        down = m_returns == 0; // it is back a second after it left
        log = text;
        if (!returns)
            stopNode();
        messages.reset(new QSignalSpy(ErfcNodeManager::instance(), &ErfcNodeManager::message));
        buttonOf(d)->click();
    });
    QCOMPARE(result, 0);
    QVERIFY(messages);
    QVERIFY(down);
    QCOMPARE(log, QStringLiteral(" - connecting ..."));
    const auto told = [&messages](const QString& line) {
        for (const QList<QVariant>& message : qAsConst(*messages)) {
            if (message.value(0).toString() == line)
                return true;
        }
        return false;
    };
    if (!returns) {
        WAIT_VERIFY(told(stillInMaintenanceMessage(3)), 30000);
        return;
    }
    // Back in Maintenance, then sent back to the application; neither
    // caught nor asked for its flash state.
    waitForNodeMode(QErfc::Application);
    const QStringList record = recorded();
    QCOMPARE(record.value(0), QStringLiteral("00 01"));
    QCOMPARE(record.value(record.size() - 1), QStringLiteral("00 00"));
    QVERIFY(!record.contains(QStringLiteral("00")));
    QVERIFY(!record.contains(QStringLiteral("14")));
    QVERIFY(!told(stillInMaintenanceMessage(20)));
}

void TestFirmwareUpdate::notBackInMaintenance_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("offline") << "offline";
    QTest::newRow("killed") << "killed";
    QTest::newRow("back in application") << "application";
}

void TestFirmwareUpdate::notBackInMaintenance()
{
    // A node that is not back in Maintenance within the wait ends the
    // update with a line; Cancel then still sends the node back.
    QFETCH(QString, how);
    useNode(how == QLatin1String("application") ? QStringList{"--reset-to-application", "1000"} : QStringList{});
    if (how == QLatin1String("offline")) {
        stopNode();
        WAIT_VERIFY(!m_stack.knownNode(Node), 20000);
    }
    m_restartWaitMs = 3000;
    m_runBoundMs = 30000;
    QString log;
    Cargo2UpdateDialog dialog(&m_stack, Node, m_session.window.get());
    const int result = run(dialog, writeImage(randomImage(100)), [&](Cargo2UpdateDialog* d, const QString& text) {
        if (how == QLatin1String("killed") && m_departures > 0 && m_session.node)
            stopNode();
        if (!outcomeDecided(text) || !log.isEmpty())
            return;
        log = text;
        buttonOf(d)->click();
    });
    QCOMPARE(result, 0);
    QCOMPARE(log, QStringLiteral(" - connecting ...\n") + notBackLine(3));
    if (how != QLatin1String("application")) {
        stopNode();
        return;
    }
    // Never caught, no flash state asked for; Cancel's reset arrives.
    WAIT_VERIFY(recorded().contains(QStringLiteral("00 00")), 20000);
    const QStringList record = recorded();
    QCOMPARE(record.value(0), QStringLiteral("00 01"));
    QVERIFY(!record.contains(QStringLiteral("00")));
    QVERIFY(!record.contains(QStringLiteral("14")));
    waitForNodeMode(QErfc::Application);
}

void TestFirmwareUpdate::noDeadlock()
{
    // The node calls the script's function right before each answer, while
    // the program waits for that answer on its GUI thread.
    useNode({"--poke", QString::number(ScriptFunction), "--answer", "80=7"});
    JsRte engine;
    engine.registerExtension(new JsRteType, JsRte::DeleteOnDestroy);
    engine.registerExtension(new JsQErfc(&m_stack), JsRte::DeleteOnDestroy);
    engine.init();
    engine.QScriptEngine::evaluate(
        QStringLiteral("erfc.registerFunction({fid: %1}, function () { return 0 })").arg(ScriptFunction));
    QVERIFY(m_stack.functionIds().contains(ScriptFunction));
    // Each call comes while the GUI thread waits, so it must be given up on
    // the stack thread at once, never handed to the GUI thread to wait for:
    // counted by the binding, whatever the machine's speed (a node's repeat
    // of a call answered late on a loaded machine says nothing about that).
    const int posted = JsQErfcFunctionBridge::postedCalls();
    const int abandoned = JsQErfcFunctionBridge::abandonedCalls();

    {
        ServiceMenuWidget view(&m_stack, Node);
        ModalDriver driver;
        view.findChild<QPushButton*>(QStringLiteral("pushButtonErfcAddressSet"))->click();
        QCOMPARE(driver.seen, QStringList{"critical Error: Set address fail: Busy"});
    }
    QCOMPARE(m_session.node->readUntil("call "), QByteArray("address=1 code=10")); // FunctionError

    QString log;
    QCOMPARE(runToEnd(randomImage(100), &log), 0);
    QCOMPARE(log, QStringLiteral(" - connecting ...\n - uploading ...\n - Update sucessfull"));
    QCOMPARE(m_session.node->readUntil("call "), QByteArray("address=1 code=10"));
    QCOMPARE(JsQErfcFunctionBridge::postedCalls(), posted);
    QCOMPARE(JsQErfcFunctionBridge::abandonedCalls(), abandoned + 2);
    waitForNodeMode(QErfc::Application);
}

QTEST_MAIN(TestFirmwareUpdate)
#include "tst_firmwareupdate.moc"
