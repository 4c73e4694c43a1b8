// Starting a script package or a plain script file: the start script, its
// information object, the form and the entry object.

#include "jsrte_p.h"
#include "tarreader.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

// Clears what the start left pending, however it ends.
class ClearExceptionsOnExit
{
public:
    explicit ClearExceptionsOnExit(QScriptEngine* engine)
        : m_engine(engine)
    {
    }
    ~ClearExceptionsOnExit() { m_engine->clearExceptions(); }

private:
    QScriptEngine* m_engine;
};

} // namespace

void JsRtePrivate::writeMembers()
{
    // Without a temporary directory its path would be empty and the members
    // would land at the root of the file system.
    if (!m_tempDir.isValid())
        return;
    static const QRegularExpression script(QStringLiteral(".+js$"));
    static const QRegularExpression form(QStringLiteral(".+ui$"));
    const QString root = QDir::cleanPath(m_tempDir.path());
    for (auto it = m_files.cbegin(); it != m_files.cend(); ++it) {
        const QString& name = it.key();
        if (script.match(name).hasMatch() || form.match(name).hasMatch())
            continue;
        // Names with ".." components must not reach outside the directory.
        const QString target = QDir::cleanPath(root + QLatin1Char('/') + name);
        if (!target.startsWith(root + QLatin1Char('/')))
            continue;
        if (name.endsWith(QLatin1Char('/'))) {
            QDir().mkpath(target);
            continue;
        }
        QDir().mkpath(QFileInfo(target).path());
        QFile file(target);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            file.write(it->data);
            file.close();
        }
    }
}

void JsRtePrivate::startUi(const QString& formDirectory, bool package)
{
    // A property, not an evaluation: an undefined information raises nothing.
    const QScriptValue information = q->globalObject().property(QStringLiteral("information"));
    const QScriptValue name = information.property(QStringLiteral("name"));
    const QScriptValue uifile = information.property(QStringLiteral("uifile"));
    QScriptValue entry = information.property(QStringLiteral("entry"));

    if (m_uiHost && uifile.isString()) {
        QScriptValue ui;
        if (package) {
            QString member = uifile.toString();
            if (!member.startsWith(QLatin1Char('/')))
                member.prepend(QLatin1Char('/'));
            const auto it = m_files.constFind(member);
            if (it == m_files.cend())
                throw JsRteException(JsRteException::UiFileNotExists);
            QBuffer buffer;
            buffer.setData(it->data);
            buffer.open(QIODevice::ReadOnly);
            ui = loadUi(name, m_tempDir.path(), &buffer);
        } else {
            QFile file(formDirectory + QLatin1Char('/') + uifile.toString());
            if (!file.exists())
                throw JsRteException(JsRteException::UiFileNotExists);
            if (!file.open(QIODevice::ReadOnly))
                throw JsRteException(JsRteException::CantOpenUiFile);
            ui = loadUi(name, formDirectory, &file);
            file.close();
        }
        if (entry.isFunction())
            q->constructFunction(entry, QScriptValueList{ui});
    } else {
        if (m_uiHost)
            m_uiHost->hide();
        if (entry.isFunction())
            q->constructFunction(entry, QScriptValueList());
    }
}

void JsRte::startPackage(const QByteArray& archive, bool packageOnly)
{
    d->m_packageOnly = packageOnly;
    bool ok = false;
    d->m_files = tarEntriesByName(readTarGz(archive, &ok));
    if (!ok)
        throw JsRteException(JsRteException::CantExtractPackage);
    const auto mainScript = d->m_files.constFind(QStringLiteral("/main.js"));
    if (mainScript == d->m_files.cend())
        throw JsRteException(JsRteException::StartScriptIsMissing);
    d->writeMembers();
    d->init();

    const ClearExceptionsOnExit clear(this);
    d->evaluateEntry(*mainScript);
    d->startUi(QString(), true);
}

void JsRte::startScript(const QString& path, bool packageOnly)
{
    d->m_packageOnly = packageOnly;
    d->init();

    const ClearExceptionsOnExit clear(this);
    if (!evaluateFile(path, packageOnly))
        return;
    d->startUi(QFileInfo(path).path(), false);
}
