#ifndef JSRTE_H
#define JSRTE_H

#include "jsrteexception.h"
#include "tarentry.h"

#include <QByteArray>
#include <QScriptEngine>
#include <QScriptValueList>
#include <QString>
#include <QStringList>

#include <functional>

class QWidget;
class JsRteExtension;
class JsRteWidgetFactory;
class JsRtePrivate;

// The script engine of one run of a script user interface: a fresh engine per
// run. The host registers extensions and widget factories, sets the instance
// object and the widget that receives the form, and then starts a package or
// a script file once; a second start throws AlreadyInitialised.
//
// Failures of the engine's own operations are JsRteExceptions; errors inside
// scripts are script errors. Everything runs on the GUI thread. During a long
// evaluation (an endless loop included) the engine handles the
// application's events every ProcessEventsMs, so that the program stays
// responsive and the evaluation can be aborted; a callback into the scripts
// that such an event brings, the handler of a Qt signal included, waits
// until the evaluation has ended (see runWhenIdle).
//
// Delete the engine with deleteLater(), never from inside its own evaluation
// (a script callback, a slot called by a script, a timer expiry): its
// destruction aborts the evaluation and tears down the objects the script is
// running in.
class JsRte : public QScriptEngine
{
    Q_OBJECT
public:
    // Who deletes a registered extension or factory. Other values act as
    // NoOwnership.
    enum Ownership { NoOwnership = 0, DeleteOnReset = 1, DeleteOnDestroy = 2 };
    enum { ProcessEventsMs = 50 };

    explicit JsRte(QObject* parent = nullptr);
    ~JsRte() override;

    // Before initialisation only (AlreadyInitialised); a used name or class
    // name throws NameAlreadyUsed and leaves the registries unchanged.
    void registerExtension(JsRteExtension* extension, int ownership);
    void registerWidgetFactory(JsRteWidgetFactory* factory, int ownership);

    // Installs the global functions and objects; AlreadyInitialised when done before.
    void init();
    // The object scripts see as "instance"; only its own class's members show.
    void setInstance(QObject* instance);
    // The widget that receives the form; without one no form is loaded.
    void setUiHost(QWidget* host);

    using QScriptEngine::evaluate;
    // Evaluates text as the file "/dummy.js"; always true. NotInitialised.
    bool evaluate(const QByteArray& code, bool packageOnly);
    // Evaluates a file from disk; false when an uncaught exception ended it.
    // NotInitialised, FileNotExists, CantOpenFile.
    bool evaluateFile(const QString& path, bool packageOnly);

    // Runs a plain script file with its form and entry object.
    // AlreadyInitialised, FileNotExists, CantOpenFile, UiFileNotExists, CantOpenUiFile.
    void startScript(const QString& path, bool packageOnly);
    // Runs a script package (gzip-compressed tar with "/main.js").
    // CantExtractPackage, StartScriptIsMissing, AlreadyInitialised,
    // UiFileNotExists, CantOpenUiFile.
    void startPackage(const QByteArray& archive, bool packageOnly);

    // Calls a script function as an evaluation of its own, so that the
    // engine counts as evaluating while it runs: a callback waits for it
    // (runWhenIdle) and stop() ends it. Every call into the scripts goes so,
    // the handlers of Qt signals the scripts connect included; such a
    // handler runs at once when the script under way emits the signal
    // itself, and waits when an event delivered meanwhile brings it.
    // Nothing runs once the engine is stopped.
    QScriptValue callFunction(const QScriptValue& function, const QScriptValue& thisObject,
                              const QScriptValueList& arguments = QScriptValueList());
    // callFunction on the function's engine when it is a JsRte, a plain call otherwise.
    static QScriptValue call(const QScriptValue& function, const QScriptValue& thisObject,
                             const QScriptValueList& arguments = QScriptValueList());
    // The same for a function called with `new`.
    QScriptValue constructFunction(const QScriptValue& function, const QScriptValueList& arguments);
    // Ends what the engine runs and runs nothing more: no waiting callback,
    // no handler, no further call.
    void stop();
    bool isStopped() const;

    // Runs a callback into the scripts (a timer's, a node's answer or event,
    // a file action's) now, or, while the engine is inside an evaluation,
    // once it has ended: one handler never runs inside another, nor twice
    // at once. Callbacks run in the order asked for.
    void runWhenIdle(const std::function<void()>& callback);
    // The same for the engine of a script value; an engine that is not a
    // JsRte (or none) runs it now.
    static void runWhenIdle(QScriptEngine* engine, const std::function<void()>& callback);
    // Calls a script function so, with what the script gets; nothing for
    // what is not a function.
    static void callWhenIdle(const QScriptValue& function, const QScriptValue& thisObject,
                             const QScriptValueList& arguments = QScriptValueList());

    bool isPackageOnly() const;
    QStringList searchPaths() const;
    void setSearchPaths(const QStringList& paths);

    // The package file table, keyed by member path ("/main.js").
    bool hasFile(const QString& name) const;
    QByteArray fileData(const QString& name) const;
    void addFile(const QString& name, const TarEntry& entry);
    void addFile(const QString& name, const QByteArray& data);

public slots:
    void onDebuggerResume();
    void onDebuggerSuspend();

signals:
    void print(QString text);
    void printE(QString text);

private:
    friend class JsRtePrivate;
    Q_DISABLE_COPY(JsRte)
    JsRtePrivate* const d;
};

#endif // JSRTE_H
