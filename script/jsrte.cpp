#include "jsrte.h"
#include "jsrte_p.h"
#include "jsrteextension.h"
#include "jsrtewidgetfactory.h"

JsRte::JsRte(QObject* parent)
    : QScriptEngine(parent)
    , d(new JsRtePrivate(this))
{
    setProcessEventsInterval(ProcessEventsMs);
}

JsRte::~JsRte()
{
    delete d;
}

void JsRte::registerExtension(JsRteExtension* extension, int ownership)
{
    if (d->m_initialised)
        throw JsRteException(JsRteException::AlreadyInitialised);
    const QString name = extension->name();
    if (d->m_extensions.contains(name))
        throw JsRteException(JsRteException::NameAlreadyUsed);
    d->m_extensions.insert(name, extension);
    if (ownership == DeleteOnReset)
        d->m_extensionsDeleteOnReset.append(extension);
    else if (ownership == DeleteOnDestroy)
        d->m_extensionsDeleteOnDestroy.append(extension);
}

void JsRte::registerWidgetFactory(JsRteWidgetFactory* factory, int ownership)
{
    if (d->m_initialised)
        throw JsRteException(JsRteException::AlreadyInitialised);
    const QString className = factory->className();
    if (d->m_factories.contains(className))
        throw JsRteException(JsRteException::NameAlreadyUsed);
    d->m_factories.insert(className, factory);
    if (ownership == DeleteOnReset)
        d->m_factoriesDeleteOnReset.append(factory);
    else if (ownership == DeleteOnDestroy)
        d->m_factoriesDeleteOnDestroy.append(factory);
}

void JsRte::init()
{
    d->init();
}

void JsRte::setInstance(QObject* instance)
{
    d->m_instance = instance;
}

void JsRte::setUiHost(QWidget* host)
{
    d->m_uiHost = host;
}

QScriptValue JsRte::callFunction(const QScriptValue& function, const QScriptValue& thisObject,
                                const QScriptValueList& arguments)
{
    return d->invoke(function, thisObject, d->arrayOf(arguments), false);
}

QScriptValue JsRte::call(const QScriptValue& function, const QScriptValue& thisObject,
                         const QScriptValueList& arguments)
{
    if (auto* rte = qobject_cast<JsRte*>(function.engine()))
        return rte->callFunction(function, thisObject, arguments);
    return QScriptValue(function).call(thisObject, arguments);
}

QScriptValue JsRte::constructFunction(const QScriptValue& function, const QScriptValueList& arguments)
{
    return d->invoke(function, QScriptValue(), d->arrayOf(arguments), true);
}

void JsRte::stop()
{
    d->m_stopped = true;
    d->m_waiting.clear();
    d->m_waitingTimer.stop();
    if (isEvaluating())
        abortEvaluation();
}

bool JsRte::isStopped() const
{
    return d->m_stopped;
}

void JsRte::runWhenIdle(const std::function<void()>& callback)
{
    if (d->m_stopped)
        return;
    if (d->m_tearingDown || (!isEvaluating() && d->m_waiting.isEmpty())) {
        callback();
        return;
    }
    d->m_waiting.append(callback);
    if (!d->m_waitingTimer.isActive())
        d->m_waitingTimer.start();
}

void JsRte::runWhenIdle(QScriptEngine* engine, const std::function<void()>& callback)
{
    if (auto* rte = qobject_cast<JsRte*>(engine))
        rte->runWhenIdle(callback);
    else
        callback();
}

void JsRte::callWhenIdle(const QScriptValue& function, const QScriptValue& thisObject,
                         const QScriptValueList& arguments)
{
    if (!function.isFunction())
        return;
    runWhenIdle(function.engine(), [function, thisObject, arguments] { call(function, thisObject, arguments); });
}

bool JsRte::isPackageOnly() const
{
    return d->m_packageOnly;
}

QStringList JsRte::searchPaths() const
{
    return d->m_searchPaths;
}

void JsRte::setSearchPaths(const QStringList& paths)
{
    d->m_searchPaths = paths;
}

bool JsRte::hasFile(const QString& name) const
{
    return d->m_files.contains(name);
}

QByteArray JsRte::fileData(const QString& name) const
{
    return d->m_files.value(name).data;
}

void JsRte::addFile(const QString& name, const TarEntry& entry)
{
    TarEntry stored = entry;
    stored.name = name;
    d->m_files.insert(name, stored);
}

void JsRte::addFile(const QString& name, const QByteArray& data)
{
    TarEntry entry;
    entry.name = name;
    entry.data = data;
    d->m_files.insert(name, entry);
}

void JsRte::onDebuggerResume()
{
    // A copy: an extension may go away while the others are told.
    const QList<QPointer<JsRteExtension>> extensions = d->m_extensions.values();
    for (const QPointer<JsRteExtension>& extension : extensions) {
        if (extension)
            extension->resume();
    }
}

void JsRte::onDebuggerSuspend()
{
    const QList<QPointer<JsRteExtension>> extensions = d->m_extensions.values();
    for (const QPointer<JsRteExtension>& extension : extensions) {
        if (extension)
            extension->suspend();
    }
}
