#include "jsrtefixtures.h"
#include "logdockwidget.h"
#include "mainwindow.h"
#include "modaldriver.h"
#include "qerfcstack.h"
#include "scriptwidget.h"

#include <QAction>
#include <QCheckBox>
#include <QDockWidget>
#include <QFileDialog>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QPushButton>
#include <QTabBar>
#include <QSignalSpy>
#include <QTextEdit>
#include <QtTest>

namespace {

const QByteArray form = R"(<ui version="4.0"><widget class="QWidget" name="Form">
<layout class="QVBoxLayout"><item><widget class="QLabel" name="label"/></item></layout></widget></ui>)";

// A package whose form is named "Panel" and whose entry reports the node.
QByteArray panelPackage()
{
    return handMadePackage({{"./main.js", "function Entry(ui) { print('entry', instance.currentAddr()); }\n"
                                          "print('ran');\n"
                                          "var information = {name: 'Panel', uifile: '/main.ui', entry: Entry};"},
                            {"./main.ui", form}});
}

const QByteArray plainScript = "print('plain', instance.currentAddr());";

// Answers a file dialog with a file name, or cancels it for an empty one.
void answerFileDialog(ModalDriver& driver, const QString& path)
{
    driver.answer = [path](QWidget* widget) { return ModalDriver::answerFileDialog(widget, path); };
}

} // namespace

class tst_ScriptWidget : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    void startPackage_data();
    void startPackage();
    void scriptFile_data();
    void scriptFile();
    void anyNumberOfScriptFileWindows();
    void destroyingWithdrawsFunctions();
    void busyHandlerIsEnteredOnce_data();
    void busyHandlerIsEnteredOnce();
    void windowClosedUnderAnotherScriptGoesAtOnce_data();
    void windowClosedUnderAnotherScriptGoesAtOnce();

private:
    QList<QMdiSubWindow*> subWindows() const
    {
        return window->findChild<QMdiArea*>()->subWindowList();
    }
    QList<LogDockWidget*> uiLogs() const
    {
        QList<LogDockWidget*> logs;
        for (LogDockWidget* log : window->findChildren<LogDockWidget*>())
            if (log->windowTitle().startsWith("UI Log"))
                logs << log;
        return logs;
    }
    void requestScriptFile(uchar addr)
    {
        QMetaObject::invokeMethod(window.data(), "onNodesDockWidgetScriptFileRequested", Q_ARG(uchar, addr));
    }

    QErfcStack stack;
    QPointer<MainWindow> window;
};

void tst_ScriptWidget::initTestCase()
{
    QVERIFY(!ScriptWidget::debuggerEnabled());
    window = new MainWindow(&stack);
}

void tst_ScriptWidget::cleanupTestCase()
{
    delete window;
}

void tst_ScriptWidget::cleanup()
{
    for (QMdiSubWindow* sub : subWindows())
        delete sub;
    QTRY_VERIFY(uiLogs().isEmpty());
}

void tst_ScriptWidget::startPackage_data()
{
    QTest::addColumn<QByteArray>("package");
    QTest::addColumn<bool>("started");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QStringList>("printed");
    QTest::addColumn<QStringList>("boxes");

    QTest::newRow("form") << panelPackage() << true << "Panel" << QStringList{" ran", " entry 5"}
                          << QStringList();
    QTest::newRow("no form") << handMadePackage({{"main.js", plainScript}}) << true << "Form"
                             << QStringList{" plain 5"} << QStringList();
    QTest::newRow("no main.js") << handMadePackage({{"other.js", plainScript}}) << false << "Form" << QStringList()
                                << QStringList{"critical Script Error: Error StartScriptIsMissing"};
    QTest::newRow("not an archive") << QByteArray(plainScript) << false << "Form" << QStringList()
                                    << QStringList{"critical Script Error: Error CantExtractPackage"};
}

void tst_ScriptWidget::startPackage()
{
    QFETCH(QByteArray, package);
    QFETCH(bool, started);

    ModalDriver driver;
    ScriptWidget widget(&stack, 5);
    QSignalSpy printed(&widget, &ScriptWidget::printDebugMessage);
    QCOMPARE(widget.startPackage(package), started);
    QTEST(widget.windowTitle(), "title");
    QStringList texts;
    for (const QList<QVariant>& args : printed)
        texts << args.at(0).toString();
    QTEST(texts, "printed");
    QTEST(driver.seen, "boxes");
    QCOMPARE(widget.currentAddr(), uchar(5));
}

void tst_ScriptWidget::scriptFile_data()
{
    QTest::addColumn<QString>("fileName"); // empty: the dialog is cancelled
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QString>("title");    // empty: no window
    QTest::addColumn<QString>("logged");

    QTest::newRow("package") << "ui.tar.gz" << panelPackage() << "Node 5: Panel" << "entry 5";
    QTest::newRow("suffix in capitals is a script") << "ui.TAR.GZ" << plainScript << "Node 5: Form" << "plain 5";
    QTest::newRow("error output") << "ui.js" << QByteArray("printE('failed', instance.currentAddr());")
                                  << "Node 5: Form" << "failed 5";
    QTest::newRow("cancelled") << "" << QByteArray() << "" << "";
}

void tst_ScriptWidget::scriptFile()
{
    QFETCH(QString, fileName);
    QFETCH(QByteArray, contents);
    QFETCH(QString, title);
    QFETCH(QString, logged);

    QTemporaryDir dir;
    QString path;
    if (!fileName.isEmpty()) {
        writeFiles(dir.path(), {{fileName, contents}});
        path = dir.path() + '/' + fileName;
    }
    ModalDriver driver;
    answerFileDialog(driver, path);
    requestScriptFile(5);
    QCOMPARE(driver.seen.filter("Script Error"), QStringList());

    if (title.isEmpty()) {
        QVERIFY(subWindows().isEmpty() && uiLogs().isEmpty());
        return;
    }
    QCOMPARE(subWindows().size(), 1);
    QCOMPARE(subWindows().first()->windowTitle(), title);
    QCOMPARE(uiLogs().size(), 1);
    QCOMPARE(uiLogs().first()->windowTitle(), QStringLiteral("UI Log Node 5"));
    QTextEdit* text = uiLogs().first()->findChild<QTextEdit*>();
    QTRY_VERIFY(text->toPlainText().contains(logged));
    // Neither the script's log nor the system log keeps an undo history.
    QTextEdit* systemLog = window->findChild<QDockWidget*>(QStringLiteral("systemLog"))->findChild<QTextEdit*>();
    for (QTextEdit* log : {text, systemLog}) {
        QVERIFY(!log->document()->isUndoRedoEnabled());
        QCOMPARE(log->document()->availableUndoSteps(), 0);
    }

    // The log goes with its window.
    delete subWindows().first();
    QTRY_VERIFY(uiLogs().isEmpty());
}

void tst_ScriptWidget::anyNumberOfScriptFileWindows()
{
    QTemporaryDir dir;
    writeFiles(dir.path(), {{"ui.js", plainScript}});
    ModalDriver driver;
    answerFileDialog(driver, dir.path() + "/ui.js");
    requestScriptFile(7);
    requestScriptFile(7);
    QCOMPARE(subWindows().size(), 2);
    QCOMPARE(uiLogs().size(), 2);
}

void tst_ScriptWidget::destroyingWithdrawsFunctions()
{
    auto* widget = new ScriptWidget(&stack, 5);
    QVERIFY(widget->startPackage(
        handMadePackage({{"main.js", "erfc.registerFunction({fid: 40}, function() {});"}})));
    QVERIFY(stack.functionIds().contains(40));
    delete widget;
    QTRY_VERIFY(!stack.functionIds().contains(40));
}

namespace {

// A handler that stays busy until the form's box "release" is checked,
// started by the button "&Go", the action's Ctrl+K, any edit and Return in
// the edit (a handler named as a member of an object).
QByteArray busyPackage()
{
    return handMadePackage({{"main.js", "var depth = 0;\n"
                                        "function go() {\n"
                                        "    print('enter', ++depth);\n"
                                        "    while (!ui.release.checked) {}\n"
                                        "    --depth;\n"
                                        "    print('leave');\n"
                                        "}\n"
                                        "var information = {name: 'Busy', uifile: 'main.ui', entry: function (ui) {\n"
                                        "    ui.go.clicked.connect(go);\n"
                                        "    ui.goAction.triggered.connect(go);\n"
                                        "    ui.edit.textChanged.connect(go);\n"
                                        "    ui.edit.returnPressed.connect({go: go}, 'go');\n"
                                        "}};\n"},
                            {"main.ui", R"(<ui version="4.0"><widget class="QWidget" name="Form">
<addaction name="goAction"/>
<layout class="QVBoxLayout">
<item><widget class="QPushButton" name="go"><property name="text"><string>&amp;Go</string></property></widget></item>
<item><widget class="QLineEdit" name="edit"/></item>
<item><widget class="QCheckBox" name="release"/></item>
</layout>
<action name="goAction"><property name="shortcut"><string>Ctrl+K</string></property></action>
</widget></ui>)"}});
}

} // namespace

void tst_ScriptWidget::busyHandlerIsEnteredOnce_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QStringList>("printed");

    const QStringList once{" enter 1", " leave"};
    QTest::newRow("click") << "click" << once;
    QTest::newRow("Space on the focused button") << "space" << once;
    QTest::newRow("mnemonic") << "mnemonic" << once;
    QTest::newRow("action shortcut") << "shortcut" << once;
    // Not input: the handler it starts waits until the busy one has ended.
    QTest::newRow("signal of another widget") << "signal" << once + once;
    QTest::newRow("signal to a named function") << "named" << once + once;
}

void tst_ScriptWidget::busyHandlerIsEnteredOnce()
{
    QFETCH(QString, input);
    // A click starts the handler, which stays busy while the events are
    // handled; meanwhile the input tries to start it again, from inside.
    // Then the box is checked and the busy handler returns.
    ScriptWidget widget(&stack, 5);
    QStringList log;
    connect(&widget, &ScriptWidget::printDebugMessage, this, [&](const QString& text) { log << text; });
    QVERIFY(widget.startPackage(busyPackage()));
    widget.show();
    widget.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&widget));
    auto* go = widget.findChild<QPushButton*>("go");
    auto* edit = widget.findChild<QLineEdit*>("edit");
    auto* release = widget.findChild<QCheckBox*>("release");
    QVERIFY(go && edit && release && widget.findChild<QAction*>("goAction"));

    bool returned = false;
    bool tried = false;
    bool attempted = false;
    QElapsedTimer running;
    running.start();
    QTimer probe;
    connect(&probe, &QTimer::timeout, this, [&] {
        if (!tried && log.contains(" enter 1")) {
            tried = true;
            // From a single shot: a handler it starts would hold up this
            // timer, which releases the busy one.
            QTimer::singleShot(0, &probe, [&] {
                attempted = true;
                if (input == "click") {
                    QTest::mouseClick(go, Qt::LeftButton);
                } else if (input == "space") {
                    go->setFocus();
                    QTest::keyClick(go, Qt::Key_Space);
                } else if (input == "mnemonic") {
                    QTest::keyClick(&widget, Qt::Key_G, Qt::AltModifier);
                } else if (input == "shortcut") {
                    QTest::keyClick(&widget, Qt::Key_K, Qt::ControlModifier);
                } else if (input == "signal") {
                    edit->setText("typed");
                } else {
                    emit edit->returnPressed();
                }
            });
        } else if ((attempted && !go->isDown()) || running.hasExpired(20000)) {
            // A mnemonic that got through presses the button and clicks it
            // a moment later.
            release->setChecked(true);
        }
    });
    probe.start(20);
    QTimer::singleShot(0, &probe, [&] {
        QTest::mouseClick(go, Qt::LeftButton);
        returned = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(returned, 30000);
    // What still waits for the evaluation runs before this.
    bool drained = false;
    widget.engine()->runWhenIdle([&] { drained = true; });
    QTRY_VERIFY(drained);
    QTEST(log, "printed");
}

void tst_ScriptWidget::windowClosedUnderAnotherScriptGoesAtOnce_data()
{
    QTest::addColumn<bool>("tabs");
    QTest::newRow("windows") << false;
    QTest::newRow("tabs") << true;
}

void tst_ScriptWidget::windowClosedUnderAnotherScriptGoesAtOnce()
{
    QFETCH(bool, tabs);
    // Two windows whose scripts never return: the second one's evaluation
    // runs inside the first one's, which cannot unwind before it. Closing
    // the first takes it, its tab and its log off the screen at once; it is
    // freed once the second has been closed too.
    QMdiArea* area = window->findChild<QMdiArea*>();
    area->setViewMode(tabs ? QMdiArea::TabbedView : QMdiArea::SubWindowView);
    const auto subWindowView = qScopeGuard([area] { area->setViewMode(QMdiArea::SubWindowView); });
    QTemporaryDir dir;
    writeFiles(dir.path(), {{"loop.js", "print('looping'); while (true) {}"}});
    ModalDriver driver;
    answerFileDialog(driver, dir.path() + "/loop.js");
    const auto running = [](QMdiSubWindow* sub) {
        auto* script = qobject_cast<ScriptWidget*>(sub->widget());
        return script && script->engine() && script->engine()->isEvaluating();
    };
    QPointer<QMdiSubWindow> first;
    QPointer<QMdiSubWindow> second;
    QPointer<JsRte> firstEngine;
    QPointer<JsRte> secondEngine;
    QPointer<LogDockWidget> firstLog;
    bool gone = false;
    int step = 0;
    QElapsedTimer closed;
    QTimer probe;
    connect(&probe, &QTimer::timeout, this, [&] {
        const QList<QMdiSubWindow*> subs = subWindows();
        if (step == 0 && subs.size() == 1 && running(subs.first())) {
            first = subs.first();
            firstEngine = qobject_cast<ScriptWidget*>(first->widget())->engine();
            firstLog = uiLogs().value(0);
            QTimer::singleShot(0, this, [this] { requestScriptFile(11); });
            step = 1;
        } else if (step == 1 && subs.size() == 2 && running(subs.last())) {
            second = subs.last();
            secondEngine = qobject_cast<ScriptWidget*>(second->widget())->engine();
            first->close();
            closed.start();
            step = 2;
        } else if (step == 2) {
            gone = (!first || (first->isHidden() && !subs.contains(first))) && (!firstLog || firstLog->isHidden())
                && (!tabs || area->findChild<QTabBar*>()->count() == 1);
            if (gone || closed.hasExpired(10000)) {
                second->close();
                step = 3;
            }
        }
    });
    probe.start(20);
    QTimer::singleShot(0, this, [this] { requestScriptFile(10); });
    QTRY_VERIFY_WITH_TIMEOUT(step == 3, 30000);
    QVERIFY(gone);
    QTRY_VERIFY_WITH_TIMEOUT(!first && !second && !firstEngine && !secondEngine && !firstLog, 30000);
    QCOMPARE(driver.seen.filter("Script Error"), QStringList());
}

QTEST_MAIN(tst_ScriptWidget)
#include "tst_scriptwidget.moc"
