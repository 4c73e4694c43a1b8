#include "jsrte.h"
#include "jsrte_p.h"
#include "jsrteextension.h"
#include "jsrtewidgetfactory.h"

JsRte::JsRte(QObject* parent)
    : QScriptEngine(parent)
    , d(new JsRtePrivate(this))
{
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
