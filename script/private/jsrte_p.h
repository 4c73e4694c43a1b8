#ifndef JSRTE_P_H
#define JSRTE_P_H

#include "jsrte.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QScriptProgram>
#include <QScriptValue>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <functional>

class QIODevice;
class QScriptContext;

class JsRtePrivate : public QObject
{
    Q_OBJECT
public:
    explicit JsRtePrivate(JsRte* q);
    ~JsRtePrivate() override;

    static JsRtePrivate* get(QScriptEngine* engine) { return static_cast<JsRte*>(engine)->d; }

    // Deletes what is owned until reset (extensions first, while the form is
    // still there) and takes the form away.
    void reset();
    void stopEvaluation();
    void deleteExtensionsOnReset();

    // Globals and the js object.
    void init();
    void rebuildJs();
    void setCurrentFile(const QString& path);
    struct CurrentFile
    {
        QScriptValue path, filePath, fileName;
    };
    CurrentFile currentFile() const;
    void restoreCurrentFile(const CurrentFile& saved);

    // Evaluation and modules.
    void checkInitialised() const;
    QScriptValue evaluateText(const QString& text, const QString& fileName);
    bool evaluateEntry(const TarEntry& entry);
    struct Resolved
    {
        QString path;
        bool found = false;
    };
    Resolved resolveScript(QScriptContext* context, QString name);
    QString readScript(QScriptContext* context, const QString& path);
    // The text of the script require() or load() names, and its path; empty
    // when it is not found or not read (a script error tells which).
    QString namedScript(QScriptContext* context, const QString& name, QString* path);
    QScriptValue require(QScriptContext* context);
    QScriptValue load(QScriptContext* context);

    // Package start.
    void writeMembers();
    void startUi(const QString& formDirectory, bool package);

    // Forms.
    QScriptValue loadUi(const QScriptValue& title, const QString& workingDirectory,
                        QIODevice* device);
    void exposeChildren(QScriptValue& ui, QObject* object);

    JsRte* const q;
    bool m_packageOnly = false;
    QHash<QString, TarEntry> m_files;
    QTemporaryDir m_tempDir;
    QStringList m_searchPaths;
    // Extensions are QObjects: one deleted elsewhere is dropped, not touched.
    QMap<QString, QPointer<JsRteExtension>> m_extensions;
    QList<QPointer<JsRteExtension>> m_extensionsDeleteOnReset;
    QList<QPointer<JsRteExtension>> m_extensionsDeleteOnDestroy;
    QMap<QString, JsRteWidgetFactory*> m_factories;
    QList<JsRteWidgetFactory*> m_factoriesDeleteOnReset;
    QList<JsRteWidgetFactory*> m_factoriesDeleteOnDestroy;
    bool m_initialised = false;
    QPointer<QObject> m_instance;
    // The host and the form may be deleted by others; the reset checks.
    QPointer<QWidget> m_uiHost;
    QPointer<QWidget> m_form;
    // The current js object, returned by the global js getter.
    QScriptValue m_js;

    // Runs f.apply(t, a), or new f(...a), as an evaluation (see JsRte::callFunction).
    QScriptValue invoke(const QScriptValue& function, const QScriptValue& thisObject,
                        const QScriptValue& arguments, bool construct);
    // A script array holding the values, for invoke.
    QScriptValue arrayOf(const QScriptValueList& values);
    // Makes the handlers the scripts connect to Qt signals run through invoke.
    void wrapSignalHandlers();
    // A signal handler's start: now, or, when the signal comes from an event
    // delivered while an evaluation runs, once that evaluation has ended.
    QScriptValue enterHandler(const QScriptValue& function, const QScriptValue& thisObject,
                              const QScriptValue& arguments);
    bool m_stopped = false;

    // Counts an evaluation of the engine while it runs. The first one notes
    // how deep the thread is in the delivery of events as it begins: deeper
    // than that, the code runs inside an event that was delivered during the
    // evaluation (the engine and the scripts' waits handle events then), and
    // whatever such an event starts in the scripts would run inside them.
    class Evaluation
    {
    public:
        explicit Evaluation(JsRtePrivate* d);
        ~Evaluation();

    private:
        Q_DISABLE_COPY(Evaluation)
        QPointer<JsRtePrivate> m_d;
    };
    bool insideLaterEvent() const;
    int m_evaluations = 0;
    int m_eventLevel = 0;

    // Callbacks waiting for the evaluation under way to end, in order, and
    // the timer that looks for that end.
    void runWaiting();
    QList<std::function<void()>> m_waiting;
    bool m_tearingDown = false;
    QTimer m_waitingTimer;
};

#endif // JSRTE_P_H
