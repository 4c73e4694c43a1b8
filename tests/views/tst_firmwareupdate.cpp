// The firmware update against the test node: the image arrives byte for
// byte, every outcome the node can report reads as it should, every way of
// ending the dialog drops the stream and sends the node back to its
// application, and a node calling the program's script meanwhile cannot
// hang the program.

#include "cargo2updatedialog.h"
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
} // namespace

class TestFirmwareUpdate : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void fileChoice_data();
    void fileChoice();
    void upload();
    void ending_data();
    void ending();
    void outcomes_data();
    void outcomes();
    void noDeadlock();

private:
    using Step = std::function<void(Cargo2UpdateDialog*, const QString&)>;
    // The test node with these options besides the usual ones, started
    // afresh when they differ from the running one's; waits until it is known.
    void useNode(const QStringList& options);
    // Runs the dialog choosing `path` (none: the choice is cancelled);
    // `step` is called on every tick while the dialog runs and may end it.
    int run(Cargo2UpdateDialog& dialog, const QString& path, const Step& step);
    QString writeImage(const QByteArray& image);
    // Runs a whole update of `image` and ends it once the log shows a
    // flash state or an error; the log and the button's text then.
    int runToEnd(const QByteArray& image, QString* log, QString* button = nullptr);
    QStringList recorded() const;
    void waitForNodeMode(QErfc::Mode mode);

    QTemporaryDir m_dir;
    QString m_firmwareOut;
    QString m_record;
    QString m_label; // the file name the last run showed
    QStringList m_nodeOptions;
    ConnectedWindow m_session;
    QErfcStack& m_stack = m_session.stack;
    QErfc::Mode m_lastMode = QErfc::Application;
    int m_returns = 0; // the node's (address, new) updates seen
};

void TestFirmwareUpdate::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_firmwareOut = m_dir.filePath(QStringLiteral("received.bin"));
    m_record = m_dir.filePath(QStringLiteral("record.txt"));
    connect(ErfcNodeManager::instance(), &ErfcNodeManager::drcUpdate, this,
            [this](uchar addr, QErfc::DrcUpdate state, QErfc::Mode mode) {
                if (addr != Node || state != QErfc::NewNode)
                    return;
                m_lastMode = mode;
                ++m_returns;
            });
    useNode({});
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
    QTRY_VERIFY_WITH_TIMEOUT(m_returns > 0 && m_lastMode == mode, 20000);
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
    ModalDriver driver(120000);
    driver.answer = [&](QWidget* widget) {
        if (auto* files = qobject_cast<QFileDialog*>(widget)) {
            if (path.isEmpty())
                return false; // rejected: the choice is cancelled
            return ModalDriver::answerFileDialog(files, path);
        }
        return widget == &dialog; // ended by the test's own step
    };
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [&] {
        if (dialog.isVisible())
            step(&dialog, logOf(&dialog));
    });
    ticker.start(10);
    m_returns = 0;
    return dialog.exec();
}

int TestFirmwareUpdate::runToEnd(const QByteArray& image, QString* log, QString* button)
{
    Cargo2UpdateDialog dialog(&m_stack, Node, m_session.window.get());
    return run(dialog, writeImage(image), [&](Cargo2UpdateDialog* d, const QString& text) {
        if (!text.contains(QLatin1String(" - Update sucessfull")) && !text.contains(QLatin1String(" - Error"))
            && !text.contains(QLatin1String(" - ERROR")))
            return;
        // A short upload's flash state follows its byte check at once.
        if (text.contains(QLatin1String(" - ERROR")) && !text.contains(QLatin1String(" - Error")))
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
    QTest::addColumn<QStringList>("boxes"); // the main window's
    const QStringList none{"QFileDialog"};
    const QStringList cantRead{"QFileDialog", "information Error: Can't read File."};
    QTest::newRow("cancelled") << QString() << 0 << none;
    QTest::newRow("missing") << QStringLiteral("/nonexistent/image.bin") << -1 << cantRead;
}

void TestFirmwareUpdate::fileChoice()
{
    QFETCH(QString, path);
    QFETCH(int, result);
    QFETCH(QStringList, boxes);
    {
        Cargo2UpdateDialog dialog(&m_stack, Node, m_session.window.get());
        QCOMPARE(run(dialog, path, [](Cargo2UpdateDialog*, const QString&) {}), result);
        QCOMPARE(dialog.errorString(), result ? QStringLiteral("Can't read File.") : QString());
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
    QTRY_VERIFY_WITH_TIMEOUT(received() == image, 10000);
    waitForNodeMode(QErfc::Application); // "close" sent it back
    // Into maintenance, five catches, the flash state, back to the application.
    QTRY_COMPARE_WITH_TIMEOUT(recorded(), QStringList({"00 01", "00", "00", "00", "00", "00", "14", "00 00"}),
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
        if (!text.contains(QLatin1String(" - uploading ..."))) {
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
    QTRY_COMPARE_WITH_TIMEOUT(threadCount(), baseline, 20000);
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
    QTest::newRow("refused") << QStringList{"--firmware-refuse"}
                             << " - connecting ...\n - Error: ErrorConnectionRefused";
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
    QTRY_VERIFY_WITH_TIMEOUT(recorded().contains(QStringLiteral("00 00")), 10000);
    QCOMPARE(recorded().contains(QStringLiteral("14")), !log.contains(QLatin1String("ErrorConnection")));
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
