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

public slots:
    uchar currentAddr();

signals:
    void printDebugMessage(QString msg);

private:
    bool start(const std::function<void()>& run);

    Ui::ScriptWidget* ui;
    QErfcStack* m_stack;
    uchar m_addr;
    QString m_scriptPath;
    JsRte* m_engine = nullptr;
    QScriptEngineDebugger* m_debugger = nullptr;
};

#endif // SCRIPTWIDGET_H
