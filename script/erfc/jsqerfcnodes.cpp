// Node changes and node queries: nodeUpdate/nodeNew/nodeRemoved deliveries,
// nodeWait, nodeInfo, nodeStatistics, ping and the three id lists.

#include "jserfcnodeinfo_p.h"
#include "jsrte.h"
#include "jsqerfc_p.h"
#include "qerfcexception.h"
#include "qerfcstack.h"

#include <QMutex>
#include <QWaitCondition>

#include <memory>

namespace {

// What a node client's request waits for at most: the stack gives up after
// its retries of its time-out; the second more covers its checks.
constexpr int RequestRetries = 3;
constexpr int RequestTimeoutMs = 250;

int queryBound(int requests)
{
    return requests * (RequestRetries + 1) * RequestTimeoutMs + 1000;
}

// The ping result that says no answer came.
constexpr double NoAnswer = -1;

} // namespace

// The end of one blocking query, signalled on the stack thread.
struct JsQErfcPrivate::Completion
{
    void complete(int result)
    {
        QMutexLocker lock(&m_lock);
        m_value = result;
        m_done = true;
        m_changed.wakeAll();
    }
    bool wait(int msecs)
    {
        const QDeadlineTimer deadline(msecs);
        QMutexLocker lock(&m_lock);
        while (!m_done) {
            if (!m_changed.wait(&m_lock, deadline))
                return m_done;
        }
        return true;
    }
    int value()
    {
        QMutexLocker lock(&m_lock);
        return m_value;
    }

private:
    QMutex m_lock;
    QWaitCondition m_changed;
    bool m_done = false;
    int m_value = 0;
};

namespace {

QString modeText(int mode)
{
    return mode == 0 ? QStringLiteral("Application") : QStringLiteral("Maintenance");
}

QString hexText(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toHex());
}

QScriptValue nodeInfoToScriptValue(QScriptEngine* engine, const QErfcNodeInfo& info,
                                   const QScriptValue& node)
{
    QScriptValue o = engine->newObject();
    o.setProperty(QStringLiteral("address"), int(info.address()));
    o.setProperty(QStringLiteral("available"), info.isAvailable());
    o.setProperty(QStringLiteral("mode"), int(info.mode()));
    o.setProperty(QStringLiteral("modeText"), modeText(info.mode()));
    o.setProperty(QStringLiteral("protocolVersion"), info.protocolVersion());
    o.setProperty(QStringLiteral("nodeDescription"), info.nodeDescription());
    o.setProperty(QStringLiteral("softwareVersion"), info.softwareVersion());
    o.setProperty(QStringLiteral("softwareHash"), hexText(info.softwareHash()));
    o.setProperty(QStringLiteral("bootloaderVersion"), info.bootloaderVersion());
    o.setProperty(QStringLiteral("bootloaderHash"), hexText(info.bootloaderHash()));
    o.setProperty(QStringLiteral("hardwareDescription"), info.hardwareDescription());
    o.setProperty(QStringLiteral("hardwareRevision"), info.hardwareRevision());
    o.setProperty(QStringLiteral("serial"), info.serial());
    o.setProperty(QStringLiteral("uniqueId"), hexText(info.uniqueId()));
    o.setProperty(QStringLiteral("node"), node);
    return o;
}

QScriptValue statisticsToScriptValue(QScriptEngine* engine, const QErfcStatistics& s,
                                     const QScriptValue& node)
{
    QScriptValue o = engine->newObject();
    o.setProperty(QStringLiteral("frameTx"), double(s.frameTx));
    o.setProperty(QStringLiteral("frameRx"), double(s.frameRx));
    o.setProperty(QStringLiteral("crcError"), int(s.crcError));
    o.setProperty(QStringLiteral("routing"), double(s.routing));
    o.setProperty(QStringLiteral("routingError"), int(s.routingError));
    o.setProperty(QStringLiteral("retries"), int(s.retries));
    o.setProperty(QStringLiteral("maxRetries"), int(s.maxRetries));
    o.setProperty(QStringLiteral("retransmit"), int(s.retransmit));
    o.setProperty(QStringLiteral("unknownNode"), int(s.unknownNode));
    o.setProperty(QStringLiteral("unknownFunction"), int(s.unknownFunction));
    o.setProperty(QStringLiteral("unknownEvent"), int(s.unknownEvent));
    o.setProperty(QStringLiteral("unexpResponse"), int(s.unexpResponse));
    o.setProperty(QStringLiteral("rxqueueFull"), int(s.rxqueueFull));
    o.setProperty(QStringLiteral("node"), node);
    return o;
}

// The node client's ping result as the script sees it.
double pingValue(uint delay)
{
    return delay == QErfcNodeInfo::NoPing ? NoAnswer : double(delay);
}

QVariantList numbers(const QList<uchar>& list)
{
    QVariantList out;
    out.reserve(list.size());
    for (uchar value : list)
        out.append(int(value));
    return out;
}

} // namespace

// ---------------------------------------------------------------- node changes

void JsQErfcPrivate::deliverNodeChange(JsQErfcCallback callback, uchar addr,
                                       QErfc::DrcUpdate state, QErfc::Mode mode)
{
    if (m_suspended || !callback.function.isFunction())
        return;
    QScriptEngine* engine = callbackEngine(callback.thisObject, callback.function);
    if (!engine)
        return;
    QScriptValue o = engine->newObject();
    o.setProperty(QStringLiteral("address"), int(addr));
    o.setProperty(QStringLiteral("mode"), int(mode));
    o.setProperty(QStringLiteral("modeText"), modeText(mode));
    o.setProperty(QStringLiteral("state"), int(state));
    o.setProperty(QStringLiteral("stateText"),
                  state == QErfc::NewNode ? QStringLiteral("New") : QStringLiteral("Removed"));
    o.setProperty(QStringLiteral("node"), callback.node);
    JsRte::callWhenIdle(callback.function, callback.thisObject, QScriptValueList{o});
}

void JsQErfcPrivate::onDrcUpdate(uchar addr, QErfc::DrcUpdate state, QErfc::Mode mode)
{
    // Each callback is taken as a copy: one may register others meanwhile.
    const auto perAddress = [addr](const QHash<quint8, JsQErfcCallback>& table) {
        return table.value(addr);
    };
    deliverNodeChange(m_updateCallback, addr, state, mode);
    deliverNodeChange(perAddress(m_updateCallbacks), addr, state, mode);
    if (state != QErfc::NewNode) {
        deliverNodeChange(m_removedNodeCallback, addr, state, mode);
        deliverNodeChange(perAddress(m_removedNodeCallbacks), addr, state, mode);
    } else {
        deliverNodeChange(m_newNodeCallback, addr, state, mode);
        deliverNodeChange(perAddress(m_newNodeCallbacks), addr, state, mode);
    }
}

// ---------------------------------------------------------------- node queries

bool JsQErfcPrivate::queryAddress(QScriptEngine* engine, const QScriptValue& node,
                                  const char* action, uchar* address)
{
    try {
        *address = scriptNodeAddress(node);
    } catch (const QString& message) {
        raise(engine, message + '!');
        return false;
    }
    // The node client takes 0..62 only: nothing is sent for another.
    if (*address > 62 || !m_stack) {
        const QErfcException error(m_stack ? QErfcException::AddressError : QErfcException::StackDisabled);
        raise(engine, QStringLiteral("Can't %1, %2")
                          .arg(QLatin1String(action), QString::fromLatin1(error.what())));
        return false;
    }
    return true;
}

JSErfcNodeInfo* JsQErfcPrivate::newQuery(const QScriptValue& node, const QScriptValue& function,
                                         const char* action)
{
    QScriptEngine* engine = engineOf({node, function});
    uchar address = 0;
    if (!queryAddress(engine, node, action, &address))
        return nullptr;
    QScriptValue callback;
    try {
        callback = scriptCallbackFunction(function);
    } catch (const QString& message) {
        raise(engine, message + '!');
        return nullptr;
    }
    // A child: a query still running when the binding goes goes with it.
    auto* query = new JSErfcNodeInfo(m_stack, address, this);
    query->callback.node = node;
    query->callback.thisObject = callerThis(engine);
    query->callback.function = callback;
    return query;
}

bool JsQErfcPrivate::waitQuery(int requests, Completion& done)
{
    return blockingWait(queryBound(requests), [&done](int msecs) { return done.wait(msecs); });
}

bool JsQErfcPrivate::waitForPresence(int msecs, const std::function<bool(int)>& waitSome, QScriptEngine* engine)
{
    // A disabled stack knows no node, and none joins it before it is enabled
    // again, which the user does on this thread: the wait ends, unfound.
    bool found = false;
    QErfcStack* stack = m_stack;
    blockingWait(msecs, [stack, &waitSome, &found](int slice) {
        if (!stack->isEnabled())
            return true;
        found = waitSome(slice);
        return found;
    }, engine);
    return found;
}

bool JsQErfcPrivate::nodeWait(QScriptValue node, int timeout)
{
    uchar address = 0;
    if (!queryAddress(engineOf({node}), node, "wait for node", &address))
        return false;
    QErfcNodeInfo info(m_stack, address);
    return waitForPresence(timeout, [&info](int msecs) { return info.waitForNode(msecs); }, engineOf({node}));
}

bool JsQErfcPrivate::nodeWait(QScriptValue node, int mode, int timeout)
{
    uchar address = 0;
    if (!queryAddress(engineOf({node}), node, "wait for node", &address))
        return false;
    // No node is ever in another mode.
    if (mode != QErfc::Application && mode != QErfc::Maintenance)
        return false;
    QErfcNodeInfo info(m_stack, address);
    const QErfc::Mode wanted = QErfc::Mode(mode);
    return waitForPresence(timeout, [&info, wanted](int msecs) { return info.waitForMode(wanted, msecs); },
                           engineOf({node}));
}

void JsQErfcPrivate::nodeInfo(QScriptValue node, QScriptValue function)
{
    JSErfcNodeInfo* query = newQuery(node, function, "get node info");
    if (!query)
        return;
    // A node that came or went between the batch's start and its delivery
    // here has had its items emptied: that is no answer.
    const quint64 updates = query->updateCount();
    connect(query, &QErfcNodeInfo::nodeInfoRefreshed, query,
            [this, query, updates](QErfcNodeInfo::NodeInfoState state) {
                onNodeInformationRefreshed(query, updates == query->updateCount() ? state
                                                                                 : QErfcNodeInfo::NodeInfoError);
            },
            Qt::QueuedConnection);
    query->refreshNodeInfo();
}

QScriptValue JsQErfcPrivate::nodeInfo(QScriptValue node)
{
    QScriptEngine* engine = engineOf({node});
    uchar address = 0;
    if (!queryAddress(engine, node, "get node info", &address) || !engine)
        return QScriptValue();
    JSErfcNodeInfo query(m_stack, address);
    query.callback.node = node;
    query.callback.thisObject = callerThis(engine);
    // The batch's own state; the wait ends with the signal, not before it.
    const auto done = std::make_shared<Completion>();
    connect(&query, &QErfcNodeInfo::nodeInfoRefreshed, &query,
            [done](QErfcNodeInfo::NodeInfoState state) { done->complete(state); }, Qt::DirectConnection);
    const quint64 updates = query.updateCount();
    query.refreshNodeInfo();
    const bool completed = waitQuery(13, *done);
    QScriptValue result = nodeInfoToScriptValue(engine, query, node);
    // Read after a restart emptied the items: no answer either.
    const bool current = updates == query.updateCount();
    result.setProperty(QStringLiteral("state"),
                       completed && current ? done->value() : int(QErfcNodeInfo::NodeInfoError));
    return result;
}

void JsQErfcPrivate::onNodeInformationRefreshed(JSErfcNodeInfo* query,
                                                QErfcNodeInfo::NodeInfoState state)
{
    JsQErfcCallback callback = query->callback;
    QScriptEngine* engine = callback.thisObject.engine();
    if (!m_suspended && engine && callback.function.isFunction()) {
        QScriptValue result = nodeInfoToScriptValue(engine, *query, callback.node);
        result.setProperty(QStringLiteral("state"), int(state));
        JsRte::callWhenIdle(callback.function, callback.thisObject, QScriptValueList{result});
    }
    query->deleteLater();
}

void JsQErfcPrivate::nodeStatistics(QScriptValue node, QScriptValue function)
{
    JSErfcNodeInfo* query = newQuery(node, function, "get node statistics");
    if (!query)
        return;
    // refreshFinished ends every statistics query once, answered or not
    // (a failed one leaves the counters at zero).
    connect(query, &QErfcNodeInfo::refreshFinished, query,
            [this, query] { onNodeInfoStatisticsRefreshed(query); }, Qt::QueuedConnection);
    query->refreshStatistics();
}

QScriptValue JsQErfcPrivate::nodeStatistics(QScriptValue node)
{
    QScriptEngine* engine = engineOf({node});
    uchar address = 0;
    if (!queryAddress(engine, node, "get node statistics", &address) || !engine)
        return QScriptValue();
    JSErfcNodeInfo query(m_stack, address);
    const auto done = std::make_shared<Completion>();
    connect(&query, &QErfcNodeInfo::refreshFinished, &query, [done] { done->complete(0); },
            Qt::DirectConnection);
    query.refreshStatistics();
    const bool completed = waitQuery(1, *done);
    return statisticsToScriptValue(engine, completed ? query.statistics() : QErfcStatistics(), node);
}

void JsQErfcPrivate::onNodeInfoStatisticsRefreshed(JSErfcNodeInfo* query)
{
    JsQErfcCallback callback = query->callback;
    QScriptEngine* engine = callback.thisObject.engine();
    if (!m_suspended && engine && callback.function.isFunction()) {
        const QScriptValue result = statisticsToScriptValue(engine, query->statistics(), callback.node);
        JsRte::callWhenIdle(callback.function, callback.thisObject, QScriptValueList{result});
    }
    query->deleteLater();
}

void JsQErfcPrivate::ping(QScriptValue node, QScriptValue function, uchar size)
{
    JSErfcNodeInfo* query = newQuery(node, function, "ping node");
    if (!query)
        return;
    connect(query, &QErfcNodeInfo::pingFinished, query,
            [this, query](uint delay) { onNodeInfoPingFinished(query, delay); }, Qt::QueuedConnection);
    query->ping(size);
}

QScriptValue JsQErfcPrivate::ping(QScriptValue node, uchar size)
{
    QScriptEngine* engine = engineOf({node});
    uchar address = 0;
    if (!queryAddress(engine, node, "ping node", &address))
        return QScriptValue();
    JSErfcNodeInfo query(m_stack, address);
    const auto done = std::make_shared<Completion>();
    connect(&query, &QErfcNodeInfo::pingFinished, &query, [done](uint delay) { done->complete(int(delay)); },
            Qt::DirectConnection);
    query.ping(size);
    const bool completed = waitQuery(1, *done);
    return QScriptValue(completed ? pingValue(uint(done->value())) : NoAnswer);
}

void JsQErfcPrivate::onNodeInfoPingFinished(JSErfcNodeInfo* query, uint delay)
{
    JsQErfcCallback callback = query->callback;
    if (!m_suspended && callback.function.isFunction())
        JsRte::callWhenIdle(callback.function, callback.thisObject, QScriptValueList{QScriptValue(pingValue(delay))});
    query->deleteLater();
}

QVariantList JsQErfcPrivate::knownNodes()
{
    return m_stack ? numbers(m_stack->knownNodes()) : QVariantList();
}

QVariantList JsQErfcPrivate::functionIds()
{
    return m_stack ? numbers(m_stack->functionIds()) : QVariantList();
}

QVariantList JsQErfcPrivate::eventIds()
{
    return m_stack ? numbers(m_stack->eventIds()) : QVariantList();
}
