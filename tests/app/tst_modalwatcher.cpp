// The modal watcher every widget test program runs with: a modal nobody
// answers fails its test function, named, with the modal's text, and is
// ended; modals a test answers itself or leaves to its ModalDriver are left
// alone; a test function still running after its modal was ended ends the
// program. The cases run in a child of this program (--child FUNCTION...),
// the watcher's times shortened.

#include "childprocess.h"
#include "modaldriver.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <cstring>

namespace {
constexpr int WatchMs = 2000;
} // namespace

class Child : public QObject
{
    Q_OBJECT
private slots:
    void box()
    {
        QMessageBox::warning(nullptr, QStringLiteral("Node log"), QStringLiteral("Node log is already open!"));
    }

    void answered()
    {
        QTimer::singleShot(0, this, [] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                box->button(QMessageBox::Yes)->click();
        });
        QCOMPARE(QMessageBox::question(nullptr, QStringLiteral("Quit"), QStringLiteral("Really?")), QMessageBox::Yes);
    }

    // Left to the test by its driver, and held longer than the watcher waits.
    void claimed()
    {
        QDialog dialog;
        ModalDriver driver;
        driver.answer = [&dialog](QWidget* widget) { return widget == &dialog; };
        QElapsedTimer held;
        QTimer step;
        connect(&step, &QTimer::timeout, &dialog, [&] {
            if (held.elapsed() > 2 * WatchMs)
                dialog.accept();
        });
        held.start();
        step.start(10);
        QCOMPARE(dialog.exec(), int(QDialog::Accepted));
        QCOMPARE(driver.seen, QStringList());
    }

    void stuck()
    {
        QMessageBox::critical(nullptr, QStringLiteral("Check port"), QStringLiteral("No port selected"));
        QVERIFY(QTest::qWaitFor([] { return false; }, 120000));
    }
};

class tst_ModalWatcher : public QObject
{
    Q_OBJECT
private slots:
    void unansweredModalFailsItsTest();
    void stuckTestEndsTheProgram();

private:
    // The child's output, and its exit code in `code`; empty when it did not end.
    static QByteArray run(const QStringList& functions, int* code);
};

QByteArray tst_ModalWatcher::run(const QStringList& functions, int* code)
{
    ChildProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QUORVEL_MODAL_WATCH_MS"), QString::number(WatchMs));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(), QStringList{QStringLiteral("--child")} + functions);
    if (!child.waitForFinished(120000)) {
        child.kill();
        child.waitForFinished(10000);
        return QByteArray();
    }
    *code = child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1;
    return child.readAll();
}

void tst_ModalWatcher::unansweredModalFailsItsTest()
{
    int code = 0;
    const QByteArray out = run({"box", "answered", "claimed"}, &code);
    QVERIFY2(out.contains("FAIL!  : Child::box() unexpected modal: warning Node log: Node log is already open!\n"),
             out.constData());
    QVERIFY2(out.contains("PASS   : Child::answered()\n"), out.constData());
    QVERIFY2(out.contains("PASS   : Child::claimed()\n"), out.constData());
    QVERIFY2(out.contains("Totals: 4 passed, 1 failed"), out.constData());
    QCOMPARE(code, 1);
}

void tst_ModalWatcher::stuckTestEndsTheProgram()
{
    int code = 0;
    const QByteArray out = run({"stuck", "answered"}, &code);
    QVERIFY2(out.contains("FAIL!  : Child::stuck() unexpected modal: critical Check port: No port selected\n"),
             out.constData());
    QVERIFY2(out.contains("FAIL!  : stuck() did not end within 2000 ms after the unexpected modal: critical Check "
                          "port: No port selected; the test program ends here\n"),
             out.constData());
    QVERIFY2(!out.contains("Child::answered()"), out.constData());
    QCOMPARE(code, 1);
}

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], "--child") == 0) {
        QStringList arguments{QString::fromLocal8Bit(argv[0])};
        for (int i = 2; i < argc; ++i)
            arguments << QString::fromLocal8Bit(argv[i]);
        Child child;
        return QTest::qExec(&child, arguments);
    }
    tst_ModalWatcher test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_modalwatcher.moc"
