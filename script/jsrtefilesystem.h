#ifndef JSRTEFILESYSTEM_H
#define JSRTEFILESYSTEM_H

#include "jsrteextension.h"

#include <QScriptable>
#include <QScriptValue>
#include <QString>
#include <memory>

class JsRteFileSystemPrivate;

// The script extension "fs": asynchronous access to local files. Every call
// checks its arguments at once (a script error for bad ones) and queues one
// file action for the extension's worker thread; the outcome comes back on
// the GUI thread through the callbacks given as the last argument: a
// function (called on success only) or an object with "ok", "error" and
// "always" functions. A handle is any object whose "id" is a number, such as
// the result object of an open.
//
// While the debugger holds the script, outcomes are dropped. Destroying the
// extension fails the queued actions with "deleted" and closes every file.
class JsRteFileSystem : public JsRteExtension, protected QScriptable
{
    Q_OBJECT
public:
    explicit JsRteFileSystem(QObject* parent = nullptr);
    ~JsRteFileSystem() override;

    void install(QScriptEngine* engine, QScriptValue& object) override;
    void resume() override;
    void suspend() override;

public slots:
    void open(const QString& path, int mode, const QScriptValue& function);
    void close(const QScriptValue& handle, const QScriptValue& function);
    void close(const QScriptValue& handle);
    void write(const QScriptValue& handle, const QScriptValue& data, const QScriptValue& function);
    void write(const QScriptValue& handle, const QScriptValue& data);
    void read(const QScriptValue& handle, int size, const QScriptValue& function);
    void read(const QScriptValue& handle, int size);
    void flush(const QScriptValue& handle, const QScriptValue& function);
    void flush(const QScriptValue& handle);

private:
    friend class JsRteFileSystemPrivate;
    Q_DISABLE_COPY(JsRteFileSystem)
    std::unique_ptr<JsRteFileSystemPrivate> d;
};

#endif // JSRTEFILESYSTEM_H
