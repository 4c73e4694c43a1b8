#ifndef JSQERFC_P_H
#define JSQERFC_P_H

#include "jsqerfc.h"
#include "jsqerfcrecords_p.h"
#include "qerfc.h"
#include "qerfcincomingevent.h"
#include "qerfcincomingrequest.h"
#include "qerfcincomingresponse.h"
#include "qerfcnodeinfo.h"
#include "qerfcresponse.h"
#include "qerfcstatistics.h"

#include <QHash>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QScriptEngine>
#include <QScriptValue>

#include <functional>
#include <initializer_list>
#include <memory>

class JSErfcNodeInfo;
class JsQErfcEventConnect;
class JsQErfcFunctionBridge;
class QErfcStack;

// The engine behind the script object "erfc": its registries, callbacks and
// the work of every script call. Lives on the GUI thread; the stack thread
// reaches it only through signal connections.
class JsQErfcPrivate : public QObject
{
    Q_OBJECT
public:
    JsQErfcPrivate(QErfcStack* stack, JsQErfc* q);
    ~JsQErfcPrivate() override;

    static JsQErfcPrivate* get(JsQErfc* q) { return q->d; }

    // Puts the constants on the erfc script object.
    void installConstants(QScriptEngine* engine, QScriptValue& object);

    // The node a script value names: a number, or an object whose "address"
    // (own or inherited) is one, finite and truncated toward zero into
    // 0..255. Throws "No node address available" for anything else.
    static uchar scriptNodeAddress(const QScriptValue& node);
    // A function, or an object's "function" or else "callback" property that
    // is one. Throws "No function available".
    static QScriptValue scriptCallbackFunction(const QScriptValue& value);

    // Raises message in the script later, from the event loop, as long as
    // the function fid is still registered then.
    void forceFunctionException(quint8 fid, const QString& message);

    // The engine of the first value that has one, else the engine the object
    // was installed in; null when there is neither.
    QScriptEngine* engineOf(std::initializer_list<QScriptValue> values) const;
    // The this of the script code calling the slot in progress; the global
    // object when no script called.
    static QScriptValue callerThis(QScriptEngine* engine);
    // Raises text as a script error in the script call in progress.
    static void raise(QScriptEngine* engine, const QString& text);

    // Every wait of the GUI thread in the binding: waitSome(ms) waits at most
    // ms and says whether the awaited thing happened. Waits in short slices
    // for at most msecs (negative: no bound); false when the time ran out.
    // The GUI thread is marked as waiting meanwhile (QErfcGuiWait), so a
    // node's call of a script function gives up instead of waiting for it.
    // A wait with no bound on the script of `engine` handles the
    // application's events between its slices, as the engine does during
    // a long evaluation, and ends once that script is stopped (its window
    // closed); the caller holds no lock then.
    bool blockingWait(int msecs, const std::function<bool(int)>& waitSome, QScriptEngine* engine = nullptr);

    // A wait for a node's presence, as blockingWait, that ends unfound once
    // the stack is disabled; whether the node was found.
    bool waitForPresence(int msecs, const std::function<bool(int)>& waitSome, QScriptEngine* engine);
    // The node a query names: the address, or a script error raised with
    // the action's text and false.
    bool queryAddress(QScriptEngine* engine, const QScriptValue& node, const char* action,
                      uchar* address);
    // A node query with a script callback, a child of this object; null,
    // with a script error raised, when the node or the function is wrong.
    JSErfcNodeInfo* newQuery(const QScriptValue& node, const QScriptValue& function, const char* action);
    // Waits for a blocking query of so many requests to complete; false
    // when it did not in time.
    struct Completion;
    bool waitQuery(int requests, Completion& done);
    // Reads the pair a subscription signature names; false, with the
    // reader's message raised, when it names none. *entry is the pair's
    // registered subscription, or null.
    // The registered subscription of a pair, or null; m_eventConnectsMutex held.
    JsQErfcEventConnectEntry* subscriptionEntry(quint8 address, quint8 eid);
    // The engine a callback runs in: its this object's, else its function's.
    static QScriptEngine* callbackEngine(const QScriptValue& thisObject, const QScriptValue& function);
    // The entry of the subscription a signature names, with its stream (the
    // caller holds the table lock); null after raising a bad signature's error,
    // or for no entry (raising "not registered" when asked) or no stream.
    JsQErfcEventConnectEntry* findSubscription(QScriptEngine* engine, const QScriptValue& signature,
                                               bool raiseMissing);
    // Calls one node-change callback with the update, unless suspended.
    void deliverNodeChange(JsQErfcCallback callback, uchar addr, QErfc::DrcUpdate state,
                           QErfc::Mode mode);

    JsQErfc* const q;
    QErfcStack* const m_stack;
    QPointer<QScriptEngine> m_engine; // the engine install was given
    bool m_suspended = false;

    QHash<quint8, JsQErfcFunctionEntry> m_functionRegistry;
    QMutex m_functionMutex;
    QHash<quint8, JsQErfcEventEntry> m_eventRegistry;
    QMutex m_eventMutex;
    QHash<quint8, QHash<quint8, JsQErfcEventConnectEntry>> m_eventConnects;
    QMutex m_eventConnectsMutex;

    JsQErfcCallback m_updateCallback;
    JsQErfcCallback m_newNodeCallback;
    JsQErfcCallback m_removedNodeCallback;
    QHash<quint8, JsQErfcCallback> m_updateCallbacks;
    QHash<quint8, JsQErfcCallback> m_newNodeCallbacks;
    QHash<quint8, JsQErfcCallback> m_removedNodeCallbacks;

    // Hands nodes' calls of the script's functions to this thread.
    const std::shared_ptr<JsQErfcFunctionBridge> m_bridge;

public slots:
    void registerFunction(QScriptValue signature, QScriptValue function);
    void unregisterFunction(QScriptValue signature);
    void registerEvent(QScriptValue signature);
    void unregisterEvent(QScriptValue signature);
    bool emitEvent(QScriptValue signature, QScriptValue payload);
    bool connectToEvent(QScriptValue signature, QScriptValue functionCall,
                        QScriptValue functionStateChanged);
    void disconnectFromEvent(QScriptValue signature);
    bool waitForEventConnected(QScriptValue signature);
    void waitForEventDisconnected(QScriptValue signature);
    QScriptValue waitForEvent(QScriptValue signature, int timeout = 0);
    bool send(uchar address, QScriptValue signature, QScriptValue payload, QScriptValue functions);
    QScriptValue sendBlocking(uchar address, QScriptValue signature, QScriptValue payload);
    bool nodeWait(QScriptValue node, int timeout);
    bool nodeWait(QScriptValue node, int mode, int timeout);
    void nodeInfo(QScriptValue node, QScriptValue function);
    QScriptValue nodeInfo(QScriptValue node);
    void nodeStatistics(QScriptValue node, QScriptValue function);
    QScriptValue nodeStatistics(QScriptValue node);
    void ping(QScriptValue node, QScriptValue function, uchar size = 32);
    QScriptValue ping(QScriptValue node, uchar size = 32);
    QVariantList knownNodes();
    QVariantList functionIds();
    QVariantList eventIds();

private slots:
    // Runs the script's handler for a node's call, on this thread; reached
    // through the function bridge, on copies of the call.
    void onFunctionCallSignal(QErfcIncomingRequest& request, QErfcResponse& response,
                              QErfc::ResponseCode& responseCode,
                              bool fromEventLoop = false);
    void onForceFunctionExceptionCtxSwitch(uchar fid, QString message);
    // A subscription's signals, queued with the subscription as the
    // receiver: nothing queued for one outlives it.
    void onEventCallSignal(JsQErfcEventConnect* subscription, QErfcIncomingEvent event);
    void onEventstateChangedSignal(JsQErfcEventConnect* subscription, QErfc::EventState state);
    void onEventDisconnectedSignal(JsQErfcEventConnect* subscription);
    void onRequestCallSignal(QErfcIncomingResponse response);
    void onDrcUpdate(uchar addr, QErfc::DrcUpdate state, QErfc::Mode mode);
    // A query's results, queued with the query (a child of this object) as
    // the receiver; each frees its query.
    void onNodeInformationRefreshed(JSErfcNodeInfo* query, QErfcNodeInfo::NodeInfoState state);
    void onNodeInfoStatisticsRefreshed(JSErfcNodeInfo* query);
    void onNodeInfoPingFinished(JSErfcNodeInfo* query, uint delay);

private:
    friend class JsQErfcFunctionBridge;
    Q_DISABLE_COPY(JsQErfcPrivate)
};

#endif // JSQERFC_P_H
