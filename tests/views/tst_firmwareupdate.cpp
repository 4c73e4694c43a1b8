// The firmware update against the test node: the image arrives byte for
// byte, and every way of ending the dialog drops the stream and sends the
// node back to its application.

#include "cargo2updatedialog.h"
#include "erfcnodemanager.h"
#include "modaldriver.h"
#include "mainwindow.h"
#include "qerfcstack.h"
#include "testnodeprocess.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QtTest>

#include <functional>

namespace {
constexpr uchar Node = 10;

int threadCount()
{
    return QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size();
}

QByteArray randomImage(int size)
{
    QByteArray image(size, Qt::Uninitialized);
    for (char& c : image)
        c = char(QRandomGenerator::global()->bounded(256));
    return image;
}
} // namespace

class TestFirmwareUpdate : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void upload();
    void ending_data();
    void ending();

private:
    // Runs the dialog for `image`; `step` is called on every tick while the
    // dialog runs, with its log, and may end it.
    int run(const QByteArray& image, const std::function<void(Cargo2UpdateDialog*, const QString&)>& step);
    void waitForNodeMode(QErfc::Mode mode);

    QTemporaryDir m_dir;
    QString m_firmwareOut;
    TestNodeProcess m_node{QStringLiteral(TESTNODE_PATH)};
    QErfcStack m_stack; // outlives the window, as in the program
    std::unique_ptr<MainWindow> m_window;
    QErfc::Mode m_lastMode = QErfc::Application;
    int m_returns = 0; // the node's (address, new) updates seen
};

void TestFirmwareUpdate::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_firmwareOut = m_dir.filePath(QStringLiteral("received.bin"));
    const quint16 port = m_node.listen(
        {"--address", QString::number(Node), "--tick", "0", "--firmware-out", m_firmwareOut});
    QVERIFY(port);
    m_window = std::make_unique<MainWindow>(&m_stack);
    m_window->show();
    connect(ErfcNodeManager::instance(), &ErfcNodeManager::drcUpdate, this,
            [this](uchar addr, QErfc::DrcUpdate state, QErfc::Mode mode) {
                if (addr != Node || state != QErfc::NewNode)
                    return;
                m_lastMode = mode;
                ++m_returns;
            });
    m_window->openTcpConnection(QStringLiteral("127.0.0.1"), port, 1);
    QTRY_VERIFY_WITH_TIMEOUT(ErfcNodeManager::instance()->nodeInfo(Node), 20000);
}

void TestFirmwareUpdate::cleanupTestCase()
{
    m_window.reset();
    m_node.process.kill();
    m_node.process.waitForFinished(10000);
}

void TestFirmwareUpdate::waitForNodeMode(QErfc::Mode mode)
{
    QTRY_VERIFY_WITH_TIMEOUT(m_returns > 0 && m_lastMode == mode, 20000);
}

int TestFirmwareUpdate::run(const QByteArray& image,
                            const std::function<void(Cargo2UpdateDialog*, const QString&)>& step)
{
    const QString path = m_dir.filePath(QStringLiteral("image.bin"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(image) != image.size())
        return -2;
    file.close();

    Cargo2UpdateDialog dialog(&m_stack, Node, m_window.get());
    ModalDriver driver(120000);
    driver.answer = [&](QWidget* widget) {
        if (auto* files = qobject_cast<QFileDialog*>(widget)) {
            files->selectFile(path);
            static_cast<QDialog*>(files)->done(QDialog::Accepted);
            return true;
        }
        return widget == &dialog; // ended by the test's own step
    };
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [&] {
        if (dialog.isVisible())
            step(&dialog, dialog.findChild<QTextEdit*>(QStringLiteral("textEditLog"))->toPlainText());
    });
    ticker.start(10);
    m_returns = 0;
    return dialog.exec();
}

void TestFirmwareUpdate::upload()
{
    const QByteArray image = randomImage(3000);
    QString log;
    QString button;
    const int result = run(image, [&](Cargo2UpdateDialog* dialog, const QString& text) {
        if (!text.contains(QLatin1String(" - Update sucessfull")) && !text.contains(QLatin1String(" - Error")))
            return;
        log = text;
        auto* close = dialog->findChild<QPushButton*>(QStringLiteral("pushButtonCancel"));
        button = close->text();
        close->click();
    });
    QCOMPARE(result, 0);
    QCOMPARE(log, QStringLiteral(" - connecting ...\n - uploading ...\n - Update sucessfull"));
    QCOMPARE(button, QStringLiteral("close"));
    QFile received(m_firmwareOut);
    QVERIFY(received.open(QIODevice::ReadOnly));
    QVERIFY(received.readAll() == image);
    waitForNodeMode(QErfc::Application); // "close" sent it back
}

void TestFirmwareUpdate::ending_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("cancel") << "cancel";
    QTest::newRow("escape") << "escape";
    QTest::newRow("close button") << "close";
}

void TestFirmwareUpdate::ending()
{
    QFETCH(QString, how);
    int baseline = -1;
    bool ended = false;
    QString log;
    // Large enough to still be under way when the test ends the dialog.
    const int result = run(randomImage(512 * 1024), [&](Cargo2UpdateDialog* dialog, const QString& text) {
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
            dialog->findChild<QPushButton*>(QStringLiteral("pushButtonCancel"))->click();
        else if (how == QLatin1String("escape"))
            QTest::keyClick(dialog, Qt::Key_Escape);
        else
            dialog->close();
    });
    QCOMPARE(result, 0);
    QVERIFY(ended);
    QCOMPARE(log, QStringLiteral(" - connecting ...\n - uploading ..."));
    // The node went to maintenance and is sent back to its application.
    waitForNodeMode(QErfc::Application);
    // The stream is gone with its threads.
    QTRY_COMPARE_WITH_TIMEOUT(threadCount(), baseline, 20000);
}

QTEST_MAIN(TestFirmwareUpdate)
#include "tst_firmwareupdate.moc"
