// The engine's initialisation, the global script functions and the js object.

#include "jsrte_p.h"
#include "jsrteextension.h"

#include <QApplication>
#include <QFileInfo>
#include <QJsonDocument>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QScriptContext>
#include <QThread>

#include <limits>

namespace {

// One text of all arguments: a space before each unless the text so far ends
// in white space; objects as indented JSON.
QString outputText(QScriptContext* context)
{
    static const QRegularExpression trailingSpace(QStringLiteral("\\s\\Z"));
    QString text;
    for (int i = 0; i < context->argumentCount(); ++i) {
        if (!trailingSpace.match(text).hasMatch())
            text += QLatin1Char(' ');
        const QScriptValue argument = context->argument(i);
        if (argument.isObject())
            text += QString::fromUtf8(QJsonDocument::fromVariant(argument.toVariant()).toJson());
        else
            text += argument.toString();
    }
    return text;
}

QScriptValue printFunction(QScriptContext* context, QScriptEngine* engine)
{
    emit static_cast<JsRte*>(engine)->print(outputText(context));
    return context->callee();
}

QScriptValue printEFunction(QScriptContext* context, QScriptEngine* engine)
{
    emit static_cast<JsRte*>(engine)->printE(outputText(context));
    return context->callee();
}

QScriptValue sleepFunction(QScriptContext* context, QScriptEngine*)
{
    if (context->argumentCount() > 0) {
        // A value beyond the signed 32-bit range counts as negative.
        const double ms = context->argument(0).toInteger();
        if (ms > 0 && ms <= std::numeric_limits<int>::max())
            QThread::msleep(ulong(ms));
    }
    return context->callee();
}

QScriptValue requireFunction(QScriptContext* context, QScriptEngine* engine)
{
    return JsRtePrivate::get(engine)->require(context);
}

QScriptValue loadFunction(QScriptContext* context, QScriptEngine* engine)
{
    return JsRtePrivate::get(engine)->load(context);
}

QScriptValue importExtensionFunction(QScriptContext* context, QScriptEngine* engine)
{
    return engine->importExtension(context->argument(0).toString());
}

QScriptValue beepFunction(QScriptContext* context, QScriptEngine*)
{
    QApplication::beep();
    return context->callee();
}

// The global js: a getter that gives the current object and a setter that
// ignores writes (a read-only flag on a global does not hold).
QScriptValue jsAccessor(QScriptContext* context, QScriptEngine* engine)
{
    if (context->argumentCount() == 1)
        return QScriptValue();
    return JsRtePrivate::get(engine)->m_js;
}

} // namespace

void JsRtePrivate::init()
{
    if (m_initialised)
        throw JsRteException(JsRteException::AlreadyInitialised);

    QScriptValue global = q->globalObject();
    global.setProperty(QStringLiteral("print"), q->newFunction(printFunction, 0));
    global.setProperty(QStringLiteral("printE"), q->newFunction(printEFunction, 0));
    global.setProperty(QStringLiteral("sleep"), q->newFunction(sleepFunction, 0));
    global.setProperty(QStringLiteral("load"), q->newFunction(loadFunction, 0));
    global.setProperty(QStringLiteral("require"), q->newFunction(requireFunction, 0));
    global.setProperty(QStringLiteral("importExtension"),
                       q->newFunction(importExtensionFunction, 0));
    QScriptValue system = q->newObject();
    system.setProperty(QStringLiteral("beep"), q->newFunction(beepFunction, 0));
    global.setProperty(QStringLiteral("system"), system);
    wrapSignalHandlers();

    // In name order.
    const QMap<QString, QPointer<JsRteExtension>> extensions = m_extensions;
    for (auto it = extensions.cbegin(); it != extensions.cend(); ++it) {
        JsRteExtension* extension = it.value();
        if (!extension)
            continue;
        QScriptValue wrapper = q->newQObject(extension, QScriptEngine::QtOwnership);
        global.setProperty(it.key(), wrapper);
        extension->install(q, wrapper);
    }

    if (m_instance) {
        global.setProperty(QStringLiteral("instance"),
                           q->newQObject(m_instance, QScriptEngine::QtOwnership,
                                         QScriptEngine::ExcludeSuperClassMethods
                                             | QScriptEngine::ExcludeSuperClassProperties
                                             | QScriptEngine::SkipMethodsInEnumeration));
    }
    m_initialised = true;
}

void JsRtePrivate::rebuildJs()
{
    m_js = q->newObject();
    q->globalObject().setProperty(QStringLiteral("js"), q->newFunction(jsAccessor),
                                  QScriptValue::PropertyGetter | QScriptValue::PropertySetter);

    QScriptValue system = q->newObject();
    m_js.setProperty(QStringLiteral("system"), system, QScriptValue::ReadOnly);
    system.setProperty(QStringLiteral("os"), QStringLiteral("windows"));

    // Name, "=", value; a value holding "=" is cut there. Sorted by name.
    QMap<QString, QString> environment;
    const QStringList entries = QProcess::systemEnvironment();
    for (const QString& entry : entries) {
        const QStringList parts = entry.split(QLatin1Char('='));
        environment.insert(parts.at(0), parts.size() == 1 ? QString() : parts.at(1));
    }
    QScriptValue env = q->newObject();
    for (auto it = environment.cbegin(); it != environment.cend(); ++it)
        env.setProperty(it.key(), it.value());
    system.setProperty(QStringLiteral("env"), env);
}

void JsRtePrivate::setCurrentFile(const QString& path)
{
    if (!m_js.isObject())
        return;
    const QFileInfo file(path);
    // A package member has no directory on disk.
    m_js.setProperty(QStringLiteral("currentPath"),
                     file.exists() ? file.canonicalPath() : QString(), QScriptValue::ReadOnly);
    m_js.setProperty(QStringLiteral("currentFilePath"), file.absoluteFilePath(),
                     QScriptValue::ReadOnly);
    m_js.setProperty(QStringLiteral("fileName"), file.fileName(), QScriptValue::ReadOnly);
}

JsRtePrivate::CurrentFile JsRtePrivate::currentFile() const
{
    return {m_js.property(QStringLiteral("currentPath")),
            m_js.property(QStringLiteral("currentFilePath")),
            m_js.property(QStringLiteral("fileName"))};
}

void JsRtePrivate::restoreCurrentFile(const CurrentFile& saved)
{
    if (!m_js.isObject())
        return;
    m_js.setProperty(QStringLiteral("currentPath"), saved.path, QScriptValue::ReadOnly);
    m_js.setProperty(QStringLiteral("currentFilePath"), saved.filePath, QScriptValue::ReadOnly);
    m_js.setProperty(QStringLiteral("fileName"), saved.fileName, QScriptValue::ReadOnly);
}
