#ifndef SCRIPTWIDGET_H
#define SCRIPTWIDGET_H

#include <QByteArray>
#include <QString>
#include <QWidget>

#include <functional>

class JsRte;
class QErfcStack;
class QScriptEngineDebugger;

namespace Ui {
class ScriptWidget;
}

// The window in which one run of a node's script user interface lives: a
// fresh script engine with the extensions and widget factories scripts may
// use, this window as the scripts' "instance" object and as the host of the
// script's form. The scripts' output leaves through printDebugMessage.
//
// A window is started once, with startPackage or loadScriptFile; a false
// result means nothing runs and the caller deletes the window.
//
// Scripts run on the GUI thread and handle the application's events during
// a long evaluation (see JsRte). Meanwhile the window takes no input, no
// click, key or shortcut (a handler would run inside the evaluation), and
// closing it stops the evaluation and says so: the window leaves the screen
// at once and is deleted, its engine with it, once the evaluation has
// unwound, never under it. Until then it waits hidden, out of its area.
class ScriptWidget : public QWidget
{
    Q_OBJECT
public:
    // The stack must outlive the window.
    ScriptWidget(QErfcStack* stack, uchar addr, QWidget* parent = nullptr);
    ~ScriptWidget() override;

    // Builds the engine with its extensions and factories; once per window.
    void setupEngine();
    // Runs a gzip-compressed tar package held in memory, using only its files.
    bool startPackage(const QByteArray& data);
    // Asks for a file and runs it: a name containing ".tar.gz" is a package,
    // anything else a plain script that may use files beside it.
    bool loadScriptFile();

    // Whether script windows attach the script debugger. True unless the
    // environment variable QUORVEL_SCRIPT_NO_DEBUGGER is set to a non-empty
    // value when it is first asked; automated runs set it, because the
    // debugger stops at an uncaught script error in a window of its own.
    static bool debuggerEnabled();

    // The engine of the run; null before setupEngine.
    JsRte* engine() const { return m_engine; }

public slots:
    uchar currentAddr();

signals:
    void printDebugMessage(QString msg);
    // The engine is set up and the script is about to run: a window that
    // is to be seen while the script starts is shown now.
    void aboutToRun();
    // The script was stopped by closing the window while it ran.
    void stopped(QString message);

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool start(const std::function<void()>& run);
    bool isEvaluating() const;
    // Closes the window (its sub-window, when it has one) once no
    // evaluation is under way any more.
    void closeAfterEvaluation();
    // Grows the sub-window holding this window to the size the form asks
    // for, as far as its area has room.
    void fitWindowToForm();

    Ui::ScriptWidget* ui;
    QErfcStack* m_stack;
    uchar m_addr;
    QString m_scriptPath;
    JsRte* m_engine = nullptr;
    QScriptEngineDebugger* m_debugger = nullptr;
    bool m_stopping = false;
    bool m_fitted = false;
};

#endif // SCRIPTWIDGET_H
