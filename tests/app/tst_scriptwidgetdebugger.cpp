// The script window as the program runs it, with the script debugger
// attached: started, closed while running, and closed while the debugger
// holds the script. Nothing may hang or touch what is gone.

#include "qerfcstack.h"
#include "scriptwidget.h"
#include "tarwriter.h"

#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QScriptEngineDebugger>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

namespace {

const QByteArray form = R"(<ui version="4.0"><widget class="QWidget" name="Form">
<layout class="QVBoxLayout"><item><widget class="QLabel" name="label"/></item></layout></widget></ui>)";

// A package with a form; its main script runs `body` after the entry.
QByteArray package(const QByteArray& body)
{
    return handMadePackage({{"./main.js", "function Entry(ui) { print('entry', instance.currentAddr()); }\n"
                                          "var information = {name: 'Panel', uifile: '/main.ui', entry: Entry};\n"
                                          + body},
                            {"./main.ui", form}});
}

} // namespace

class tst_ScriptWidgetDebugger : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void startAndClose();
    void closeWhileHeldByDebugger();

private:
    QErfcStack stack;
};

void tst_ScriptWidgetDebugger::initTestCase()
{
    // The program attaches the debugger unless told not to.
    qunsetenv("QUORVEL_SCRIPT_NO_DEBUGGER");
    QVERIFY(ScriptWidget::debuggerEnabled());
}

void tst_ScriptWidgetDebugger::startAndClose()
{
    QMdiArea area;
    area.resize(600, 400);
    area.show();
    auto* script = new ScriptWidget(&stack, 5);
    QSignalSpy printed(script, &ScriptWidget::printDebugMessage);
    QVERIFY(script->startPackage(package("timer.start(5, function () { print('tick'); });")));
    QPointer<QScriptEngineDebugger> debugger = script->findChild<QScriptEngineDebugger*>();
    QVERIFY(debugger);
    QCOMPARE(script->windowTitle(), QStringLiteral("Panel"));
    QCOMPARE(printed.value(0).value(0).toString(), QStringLiteral(" entry 5"));

    QPointer<QMdiSubWindow> window = area.addSubWindow(script);
    window->show();
    // Its timer runs while the debugger watches.
    QTRY_VERIFY_WITH_TIMEOUT(printed.count() >= 3, 20000);
    QCOMPARE(printed.last().value(0).toString(), QStringLiteral(" tick"));

    // Closed as the user closes it: the window, the engine and the debugger go.
    QPointer<ScriptWidget> watch(script);
    window->close();
    QTRY_VERIFY_WITH_TIMEOUT(window.isNull() && watch.isNull() && debugger.isNull(), 20000);
}

void tst_ScriptWidgetDebugger::closeWhileHeldByDebugger()
{
    QMdiArea area;
    area.resize(600, 400);
    area.show();
    QStringList texts;
    bool closedWhileSuspended = false;
    bool stuck = false;
    QPointer<QMdiSubWindow> window;
    QObject guard; // ends the connections below with this function
    auto* script = new ScriptWidget(&stack, 6);
    connect(script, &ScriptWidget::printDebugMessage, &guard, [&texts](const QString& text) { texts << text; });
    // A timer function stops at a debugger statement; what follows must never run.
    QVERIFY(script->startPackage(package("timer.singleShot(10, function () { print('before'); debugger;"
                                         " print('after'); });")));
    QPointer<QScriptEngineDebugger> debugger = script->findChild<QScriptEngineDebugger*>();
    QVERIFY(debugger);
    window = area.addSubWindow(script);
    window->show();
    QPointer<ScriptWidget> watch(script);

    // The debugger holds the script in a loop of its own: the window is closed
    // from there, as the user would close it while the debugger shows.
    connect(debugger.data(), &QScriptEngineDebugger::evaluationSuspended, &guard, [&] {
        QTimer::singleShot(10, &guard, [&] {
            closedWhileSuspended = true;
            window->close();
            // Should the debugger's loop not end, end every loop from here
            // and fail, rather than hang.
            QTimer::singleShot(30000, &guard, [&stuck] {
                stuck = true;
                QCoreApplication::exit();
            });
        });
    });

    QTRY_VERIFY_WITH_TIMEOUT(closedWhileSuspended, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(watch.isNull() && window.isNull(), 40000);
    QVERIFY2(!stuck, "the debugger kept the closed window's script suspended");
    // The engine and its debugger go once the evaluation has unwound.
    QTRY_VERIFY_WITH_TIMEOUT(debugger.isNull(), 40000);
    // Its log ends with the line that says it was stopped.
    QCOMPARE(texts, (QStringList{" entry 6", " before",
                                 "Node 6: the script was stopped, its window was closed while it was running"}));
}

QTEST_MAIN(tst_ScriptWidgetDebugger)
#include "tst_scriptwidgetdebugger.moc"
