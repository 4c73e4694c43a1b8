#ifndef JSRTEEXTENSION_H
#define JSRTEEXTENSION_H

#include <QObject>
#include <QScriptValue>
#include <QString>
#include <memory>

class QScriptEngine;
class JsRteExtensionPrivate;

// The base of script extensions: a named object that the engine installs as
// the global script object of that name. Its slots and properties are what
// scripts see. Subclasses set the name in their constructor.
class JsRteExtension : public QObject
{
    Q_OBJECT
public:
    explicit JsRteExtension(QObject* parent = nullptr);
    ~JsRteExtension() override;

    QString name() const;
    void setName(const QString& name);

    // Called once when the engine initialises, right after object (this
    // extension's script wrapper) became the global of the extension's name.
    virtual void install(QScriptEngine* engine, QScriptValue& object);
    // The debugger resumed evaluation.
    virtual void resume();
    // The debugger suspended evaluation: callbacks into scripts are dropped.
    virtual void suspend();

private:
    Q_DISABLE_COPY(JsRteExtension)
    std::unique_ptr<JsRteExtensionPrivate> d;
};

#endif // JSRTEEXTENSION_H
