#include "jsrtefilesystem.h"
#include "jsrte.h"
#include "jsrtefilehelper_p.h"
#include "jsrtefilesystem_p.h"

#include <QIODevice>
#include <QScriptContext>
#include <QScriptEngine>
#include <QVariantMap>

namespace {

enum State { StateOk = 0, StateError = 1 };

// Bytes as UTF-8 up to the first zero byte; malformed sequences become U+FFFD.
QString utf8UpToNul(const QByteArray& bytes)
{
    const int nul = bytes.indexOf('\0');
    return QString::fromUtf8(bytes.constData(), nul < 0 ? bytes.size() : nul);
}

const QScriptValue nullValue(QScriptValue::NullValue);

} // namespace

JsRteFileSystemPrivate::JsRteFileSystemPrivate(JsRteFileSystem* q)
    : QObject(q)
    , q(q)
    , m_helper(new JsRteFileHelper)
{
}

JsRteFileSystemPrivate::~JsRteFileSystemPrivate()
{
    shutdown();
}

JsRteFileAction* JsRteFileSystemPrivate::createAction(const QScriptValue& handle,
                                                      JsRteFileAction::Kind kind,
                                                      const QScriptValue& function)
{
    QScriptContext* context = q->context();
    auto fail = [context](const QString& message) -> JsRteFileAction* {
        if (context)
            context->throwError(message);
        return nullptr;
    };

    int id = -1;
    if (kind != JsRteFileAction::Open) {
        const QScriptValue value = handle.property(QStringLiteral("id"));
        if (!value.isNumber())
            return fail(QStringLiteral("Parameter handle is not a valid handle"));
        id = value.toInt32();
    }

    QScriptValue thisObject = nullValue;
    QScriptValue okFunction = nullValue;
    QScriptValue errorFunction = nullValue;
    QScriptValue alwaysFunction = nullValue;
    if (!function.isNull()) {
        // The callbacks run with the this of the code that made the call.
        if (context && context->parentContext())
            thisObject = context->parentContext()->thisObject();
        if (function.isFunction()) {
            okFunction = function;
        } else {
            // Keys in the map's order, so of "Ok" and "ok" the later wins.
            const QVariantMap keys = function.toVariant().toMap();
            for (auto it = keys.cbegin(); it != keys.cend(); ++it) {
                const QString key = it.key();
                const QString lower = key.toLower();
                QScriptValue* slot = nullptr;
                if (lower == QLatin1String("ok"))
                    slot = &okFunction;
                else if (lower == QLatin1String("error"))
                    slot = &errorFunction;
                else if (lower == QLatin1String("always"))
                    slot = &alwaysFunction;
                else
                    return fail(QStringLiteral("Function %1 is not a known").arg(key));
                const QScriptValue callback = function.property(key);
                if (!callback.isFunction())
                    return fail(QStringLiteral("Function %1 is not a function").arg(key));
                *slot = callback;
            }
        }
    }
    if (kind == JsRteFileAction::Open && !okFunction.isFunction()) {
        return fail(QStringLiteral("To open a file you need a \"OK\" fuction to receive the "
                                   "created file handle!"));
    }

    auto* action = new JsRteFileAction(kind, id);
    action->m_thisObject = thisObject;
    action->m_okFunction = okFunction;
    action->m_errorFunction = errorFunction;
    action->m_alwaysFunction = alwaysFunction;
    // The worker emits on its own thread; the outcome is delivered here, on
    // the GUI thread, where the script runs.
    connect(action, &JsRteFileAction::doneSignal, this, &JsRteFileSystemPrivate::onFileActionDone,
            Qt::QueuedConnection);
    connect(action, &JsRteFileAction::errorSignal, this,
            &JsRteFileSystemPrivate::onFileActionError, Qt::QueuedConnection);
    m_actions.insert(action);
    return action;
}

void JsRteFileSystemPrivate::queue(JsRteFileAction* action)
{
    if (!m_closing) {
        m_helper->enqueue(action);
        return;
    }
    // A call from a callback of the teardown fails at once. A call made from
    // the callbacks of such a failure is dropped, so a script that retries
    // on every failure cannot keep the teardown going.
    if (m_failingLate) {
        m_actions.remove(action);
        delete action;
        return;
    }
    m_failingLate = true;
    deliver(action, false, QStringLiteral("deleted"));
    m_failingLate = false;
}

void JsRteFileSystemPrivate::shutdown()
{
    if (m_closing)
        return;
    m_closing = true;

    // Run while the extension and the engine are whole: the callbacks may
    // use anything the script can reach.
    const QList<JsRteFileAction*> queued = m_helper->takeQueued();
    for (JsRteFileAction* action : queued)
        deliver(action, false, QStringLiteral("deleted"));

    JsRteFileAction* held = nullptr;
    if (!JsRteFileHelper::stop(m_helper, StopTimeoutMs, &held)) {
        // The worker is left in a blocking call; it frees that action itself.
        m_actions.remove(held);
    }
    m_helper = nullptr;

    // Outcomes on their way are never delivered now.
    qDeleteAll(m_actions);
    m_actions.clear();
    for (const QPointer<JsRteFileAction>& action : qAsConst(m_retired))
        delete action.data();
    m_retired.clear();
}

void JsRteFileSystemPrivate::open(const QString& path, int mode, const QScriptValue& function)
{
    JsRteFileAction* action = createAction(nullValue, JsRteFileAction::Open, function);
    if (!action)
        return;
    action->m_path = path;
    action->m_mode = mode;
    queue(action);
}

void JsRteFileSystemPrivate::close(const QScriptValue& handle, const QScriptValue& function)
{
    if (JsRteFileAction* action = createAction(handle, JsRteFileAction::Close, function))
        queue(action);
}

void JsRteFileSystemPrivate::write(const QScriptValue& handle, const QScriptValue& data,
                                   const QScriptValue& function)
{
    JsRteFileAction* action = createAction(handle, JsRteFileAction::Write, function);
    if (!action)
        return;
    // Latin-1: characters above U+00FF are written as "?".
    action->m_data = data.toString().toLatin1();
    queue(action);
}

void JsRteFileSystemPrivate::read(const QScriptValue& handle, int size,
                                  const QScriptValue& function)
{
    JsRteFileAction* action = createAction(handle, JsRteFileAction::Read, function);
    if (!action)
        return;
    action->m_size = size;
    queue(action);
}

void JsRteFileSystemPrivate::flush(const QScriptValue& handle, const QScriptValue& function)
{
    if (JsRteFileAction* action = createAction(handle, JsRteFileAction::Flush, function))
        queue(action);
}

void JsRteFileSystemPrivate::onFileActionDone()
{
    auto* action = static_cast<JsRteFileAction*>(sender());
    // During the teardown the action in progress is never delivered.
    if (m_closing || !m_actions.contains(action))
        return;
    deliver(action, true, QString());
}

void JsRteFileSystemPrivate::onFileActionError(const QString& message)
{
    auto* action = static_cast<JsRteFileAction*>(sender());
    if (m_closing || !m_actions.contains(action))
        return;
    deliver(action, false, message);
}

void JsRteFileSystemPrivate::deliver(JsRteFileAction* action, bool ok, const QString& message)
{
    m_actions.remove(action);
    // Copies: the action is gone once a callback runs an event loop.
    const int id = action->m_id;
    const bool read = action->m_kind == JsRteFileAction::Read;
    const QByteArray data = action->m_data;
    const QScriptValue thisObject = action->m_thisObject;
    const QScriptValue first = ok ? action->m_okFunction : action->m_errorFunction;
    const QScriptValue always = action->m_alwaysFunction;
    retire(action);

    // A fresh result object for every call.
    auto call = [&](QScriptValue function) {
        // A callback whose engine is gone is not called.
        QScriptEngine* engine = function.engine();
        if (!engine || !function.isFunction())
            return;
        QScriptValue result = engine->newObject();
        result.setProperty(QStringLiteral("id"), id);
        result.setProperty(QStringLiteral("state"), ok ? StateOk : StateError);
        if (!ok) {
            result.setProperty(QStringLiteral("message"), message);
        } else if (read) {
            result.setProperty(QStringLiteral("data"), utf8UpToNul(data));
            result.setProperty(QStringLiteral("data_length"), data.size());
        }
        JsRte::callWhenIdle(function, thisObject, QScriptValueList() << result);
    };

    if (m_suspended)
        return;
    call(first);
    // The first callback may have made the debugger suspend the script.
    if (m_suspended)
        return;
    call(always);
}

void JsRteFileSystemPrivate::retire(JsRteFileAction* action)
{
    m_retired.removeAll(nullptr);
    m_retired.append(action);
    action->deleteLater();
}

JsRteFileSystem::JsRteFileSystem(QObject* parent)
    : JsRteExtension(parent)
    , d(new JsRteFileSystemPrivate(this))
{
    setName(QStringLiteral("fs"));
}

JsRteFileSystem::~JsRteFileSystem()
{
    // Before the members go: "deleted" callbacks may still call fs.
    d->shutdown();
}

void JsRteFileSystem::install(QScriptEngine*, QScriptValue& object)
{
    static const struct
    {
        const char* name;
        int value;
    } constants[] = {
        {"FS_OK", StateOk},
        {"FS_ERROR", StateError},
        {"READ_LINE", -2},
        {"READ_ALL", -1},
        {"OPEN_READ_ONLY", QIODevice::ReadOnly},
        {"OPEN_WRITE_ONLY", QIODevice::WriteOnly},
        {"OPEN_READ_WRITE", QIODevice::ReadWrite},
        {"OPEN_APPEND", QIODevice::Append},
        {"OPEN_TRUNCATE", QIODevice::Truncate},
        {"OPEN_TEXT", QIODevice::Text},
        {"OPEN_UNBUFFERED", QIODevice::Unbuffered},
    };
    for (const auto& constant : constants)
        object.setProperty(QString::fromLatin1(constant.name), constant.value,
                           QScriptValue::ReadOnly);
}

void JsRteFileSystem::resume()
{
    d->m_suspended = false;
}

void JsRteFileSystem::suspend()
{
    d->m_suspended = true;
}

void JsRteFileSystem::open(const QString& path, int mode, const QScriptValue& function)
{
    d->open(path, mode, function);
}

void JsRteFileSystem::close(const QScriptValue& handle, const QScriptValue& function)
{
    d->close(handle, function);
}

void JsRteFileSystem::close(const QScriptValue& handle)
{
    d->close(handle, nullValue);
}

void JsRteFileSystem::write(const QScriptValue& handle, const QScriptValue& data,
                            const QScriptValue& function)
{
    d->write(handle, data, function);
}

void JsRteFileSystem::write(const QScriptValue& handle, const QScriptValue& data)
{
    d->write(handle, data, nullValue);
}

void JsRteFileSystem::read(const QScriptValue& handle, int size, const QScriptValue& function)
{
    d->read(handle, size, function);
}

void JsRteFileSystem::read(const QScriptValue& handle, int size)
{
    d->read(handle, size, nullValue);
}

void JsRteFileSystem::flush(const QScriptValue& handle, const QScriptValue& function)
{
    d->flush(handle, function);
}

void JsRteFileSystem::flush(const QScriptValue& handle)
{
    d->flush(handle, nullValue);
}
