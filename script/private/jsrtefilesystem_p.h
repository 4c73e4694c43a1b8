#ifndef JSRTEFILESYSTEM_P_H
#define JSRTEFILESYSTEM_P_H

#include "jsrtefileaction_p.h"
#include "jsrtefilesystem.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QScriptValue>
#include <QSet>

class JsRteFileHelper;

class JsRteFileSystemPrivate : public QObject
{
    Q_OBJECT
public:
    // How long the teardown waits for the worker before leaving it behind.
    static constexpr int StopTimeoutMs = 2000;

    explicit JsRteFileSystemPrivate(JsRteFileSystem* q);
    ~JsRteFileSystemPrivate() override;

    static JsRteFileSystemPrivate* get(JsRteFileSystem* q) { return q->d.get(); }

    // Checks the handle and the callbacks and builds the action; null after
    // a script error was thrown.
    JsRteFileAction* createAction(const QScriptValue& handle, JsRteFileAction::Kind kind,
                                  const QScriptValue& function);
    // Hands the action to the worker, or fails it with "deleted" once the
    // extension is going.
    void queue(JsRteFileAction* action);
    // Fails what is queued with "deleted", stops the worker and frees every
    // action; runs once, while the extension is still whole.
    void shutdown();

    void open(const QString& path, int mode, const QScriptValue& function);
    void close(const QScriptValue& handle, const QScriptValue& function);
    void write(const QScriptValue& handle, const QScriptValue& data, const QScriptValue& function);
    void read(const QScriptValue& handle, int size, const QScriptValue& function);
    void flush(const QScriptValue& handle, const QScriptValue& function);

    JsRteFileSystem* const q;
    // Not held by value: a worker stuck in a blocking call outlives the
    // extension and frees itself (null once stopped).
    JsRteFileHelper* m_helper = nullptr;
    bool m_suspended = false;
    bool m_closing = false;
    // Set while a call made during the teardown is being failed: calls its
    // callbacks make are dropped, so a retrying script cannot recurse.
    bool m_failingLate = false;
    // Actions made and not yet delivered (queued, in progress, or with an
    // outcome on its way); freed by the teardown.
    QSet<JsRteFileAction*> m_actions;
    // Delivered actions awaiting their deferred deletion.
    QList<QPointer<JsRteFileAction>> m_retired;

public slots:
    void onFileActionDone();
    void onFileActionError(const QString& message);

private:
    void deliver(JsRteFileAction* action, bool ok, const QString& message);
    void retire(JsRteFileAction* action);
};

#endif // JSRTEFILESYSTEM_P_H
