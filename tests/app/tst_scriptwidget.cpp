#include "jsrtefixtures.h"
#include "logdockwidget.h"
#include "mainwindow.h"
#include "modaldriver.h"
#include "qerfcstack.h"
#include "scriptwidget.h"

#include <QDockWidget>
#include <QFileDialog>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
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

QTEST_MAIN(tst_ScriptWidget)
#include "tst_scriptwidget.moc"
