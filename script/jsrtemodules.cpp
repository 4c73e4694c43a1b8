// Evaluation of text, files and package members; resolving, reading and
// evaluating the scripts that load and require name.

#include "jsrte_p.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScriptContext>
#include <QScriptContextInfo>
#include <QTextStream>

namespace {

const QString dummyFile = QStringLiteral("/dummy.js");

// Bytes as UTF-8 up to the first NUL byte.
QString utf8UpToNul(const QByteArray& bytes)
{
    const int nul = bytes.indexOf('\0');
    return QString::fromUtf8(bytes.constData(), nul < 0 ? bytes.size() : nul);
}

QString readText(QFile& file)
{
    QTextStream stream(&file);
    return stream.readAll();
}

} // namespace

void JsRtePrivate::checkInitialised() const
{
    if (!m_initialised)
        throw JsRteException(JsRteException::NotInitialised);
}

QScriptValue JsRtePrivate::evaluateText(const QString& text, const QString& fileName)
{
    const Evaluation counted(this);
    return q->QScriptEngine::evaluate(text, fileName, 1);
}

bool JsRte::evaluate(const QByteArray& code, bool packageOnly)
{
    d->m_packageOnly = packageOnly;
    d->checkInitialised();
    d->rebuildJs();
    d->setCurrentFile(dummyFile);
    d->evaluateText(utf8UpToNul(code), dummyFile);
    return true;
}

bool JsRte::evaluateFile(const QString& path, bool packageOnly)
{
    d->m_packageOnly = packageOnly;
    d->checkInitialised();
    QFile file(path);
    if (!file.exists())
        throw JsRteException(JsRteException::FileNotExists);
    if (!file.open(QIODevice::ReadOnly))
        throw JsRteException(JsRteException::CantOpenFile);
    const QString text = readText(file);
    file.close();
    d->rebuildJs();
    d->setCurrentFile(path);
    return !d->evaluateText(text, path).isError();
}

bool JsRtePrivate::evaluateEntry(const TarEntry& entry)
{
    checkInitialised();
    rebuildJs();
    setCurrentFile(entry.name);
    evaluateText(utf8UpToNul(entry.data), entry.name);
    return true;
}

JsRtePrivate::Resolved JsRtePrivate::resolveScript(QScriptContext* context, QString name)
{
    static const QRegularExpression scriptName(QStringLiteral(".+js$"));

    // The directory of the file the calling code was evaluated under.
    const QString callerDir =
        QFileInfo(QScriptContextInfo(context->parentContext()).fileName()).path();
    QStringList directories = m_searchPaths;
    directories.prepend(callerDir);

    if (!scriptName.match(name).hasMatch())
        name += QStringLiteral(".js");

    if (m_files.contains(name))
        return {name, true};
    const QString joined = QDir(callerDir).filePath(name);
    if (m_files.contains(joined))
        return {joined, true};
    const QString notFound = QStringLiteral("File: %1 not found").arg(name);
    // A module required as "lib/util" evaluates under that name, so its own
    // relative names join to "lib/..." while members are keyed from the root:
    // tried last, where the name would otherwise not be found.
    QString rooted = QDir::cleanPath(joined);
    if (!rooted.startsWith(QLatin1Char('/')))
        rooted.prepend(QLatin1Char('/'));
    if (m_packageOnly) {
        if (m_files.contains(rooted))
            return {rooted, true};
        context->throwError(notFound);
        return {name, false};
    }
    if (QFileInfo(name).isFile())
        return {name, true};
    QString candidate = name;
    for (const QString& directory : qAsConst(directories)) {
        candidate = QDir(directory).filePath(name);
        if (QFileInfo(candidate).isFile())
            return {candidate, true};
    }
    if (m_files.contains(rooted))
        return {rooted, true};
    context->throwError(notFound);
    return {candidate, false};
}

QString JsRtePrivate::readScript(QScriptContext* context, const QString& path)
{
    const auto member = m_files.constFind(path);
    if (member != m_files.cend())
        return utf8UpToNul(member->data);
    if (m_packageOnly || !QFileInfo(path).isFile())
        return QString();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        context->throwError(
            QStringLiteral("Can't open path: %1").arg(QFileInfo(path).absolutePath()));
        return QString();
    }
    return readText(file);
}

QString JsRtePrivate::namedScript(QScriptContext* context, const QString& name, QString* path)
{
    const Resolved resolved = resolveScript(context, name);
    if (!resolved.found)
        return QString();
    *path = resolved.path;
    return readScript(context, resolved.path);
}

QScriptValue JsRtePrivate::require(QScriptContext* context)
{
    const QString name = context->argument(0).toString();
    QString path;
    const QString text = namedScript(context, name, &path);
    if (text.isEmpty())
        return QScriptValue();

    const CurrentFile saved = currentFile();
    // The module's top-level declarations stay in its own context.
    QScriptContext* moduleContext = q->pushContext();
    rebuildJs();
    setCurrentFile(path);
    QScriptValue activation = moduleContext->activationObject();
    activation.setProperty(QStringLiteral("exports"), q->newObject());
    evaluateText(text, name);
    const QScriptValue exports = activation.property(QStringLiteral("exports"));
    q->popContext();
    restoreCurrentFile(saved);
    return exports;
}

QScriptValue JsRtePrivate::load(QScriptContext* context)
{
    const QString name = context->argument(0).toString();
    QString path;
    const QString text = namedScript(context, name, &path);
    if (text.isEmpty())
        return QScriptValue();

    const CurrentFile saved = currentFile();
    setCurrentFile(path);
    evaluateText(text, name);
    restoreCurrentFile(saved);
    return context->activationObject().property(QStringLiteral("exports"));
}
