#ifndef JSQERFC_H
#define JSQERFC_H

#include "jsrteextension.h"

#include <QScriptValue>
#include <QVariantList>

class QErfcStack;
class JsQErfcPrivate;

// The script extension "erfc": how the scripts of a node user interface reach
// the Erfc network. Scripts send requests and datagrams with typed payloads,
// offer functions and events, subscribe to remote events and watch and query
// nodes. Its public slots are the script functions; the constants below are
// put on the script object when the engine installs it.
//
// Errors in a script's arguments become script errors raised in the calling
// script; nothing here throws. Everything runs on the GUI thread.
class JsQErfc : public JsRteExtension
{
    Q_OBJECT
public:
    enum ResponseCodeConstants {
        RSP_OK = 0,
        RSP_SPECIFIC_1 = 1,
        RSP_SPECIFIC_2 = 2,
        RSP_SPECIFIC_3 = 3,
        RSP_SPECIFIC_4 = 4,
        RSP_SPECIFIC_5 = 5,
        RSP_SPECIFIC_6 = 6,
        RSP_BUSY = 7,
        RSP_UNKNOWN_FID = 8,
        RSP_UNKNOWN_ADDR = 9,
        RSP_FUNCTION_ERROR = 10,
        RESERVED = 11,
        RSP_PAYLOAD_ERROR = 12,
        RSP_PROTOCOL_ERROR = 13,
        RSP_ROUTING_ERROR = 14,
        RSP_CRC_ERROR = 15,
        RSP_CONNECTION_ERROR = 16
    };
    enum PrivilegeConstants { PRIV_USER = 0, PRIV_OPERATOR = 1, PRIV_ADMIN = 2, PRIV_DEVELOPER = 3 };
    enum ConnectTypeConstants { CONNECT_NORMAL = 0, CONNECT_DATAGRAM = 1, CONNECT_BROADCAST = 2 };
    enum RequestTypeConstants { REQUEST_TYPE_REQUEST = 0, REQUEST_TYPE_DATAGRAM = 1 };
    enum ModeConstants { MODE_APPLICATION = 0, MODE_MAINTENANCE = 1 };
    enum EventConnectStateConstants {
        EVENT_CONNECT_STATE_DISCONNECTED = 0,
        EVENT_CONNECT_STATE_CONNECTED = 1,
        EVENT_CONNECT_STATE_ERROR = 2
    };
    enum DrcStateConstants { STATE_NEW_NODE = 0, STATE_NODE_REMOVED = 1 };

    explicit JsQErfc(QErfcStack* stack, QObject* parent = nullptr);
    ~JsQErfc() override;

    void install(QScriptEngine* engine, QScriptValue& object) override;
    void resume() override;
    void suspend() override;

public slots:
    void registerFunction(QScriptValue signature, QScriptValue function);
    void unregisterFunction(QScriptValue signature);
    void registerEvent(QScriptValue signature);
    void unregisterEvent(QScriptValue signature);
    bool send(QScriptValue node, QScriptValue signature,
              QScriptValue payload = QScriptValue(QScriptValue::NullValue),
              QScriptValue functions = QScriptValue(QScriptValue::NullValue));
    // The answer object, or false when the node names no node.
    QScriptValue sendBlocking(QScriptValue node, QScriptValue signature,
                              QScriptValue payload = QScriptValue(QScriptValue::NullValue));
    // Without a payload the private object gets no value at all (not null).
    bool emitEvent(QScriptValue signature, QScriptValue payload = QScriptValue());
    bool connectToEvent(QScriptValue signature,
                        QScriptValue functionCall = QScriptValue(QScriptValue::NullValue),
                        QScriptValue functionStateChanged = QScriptValue(QScriptValue::NullValue));
    void disconnectFromEvent(QScriptValue signature);
    bool waitForEventConnected(QScriptValue signature);
    void waitForEventDisconnected(QScriptValue signature);
    // The next event, or null when timeout ms (negative: no bound) pass
    // first or the subscription can no longer deliver one: in error, or
    // disconnected with no subscribe request on its way, then or meanwhile.
    QScriptValue waitForEvent(QScriptValue signature, int timeout);
    QScriptValue waitForEvent(QScriptValue signature);
    // Node watches: for all nodes, or for the one node named. The function is
    // stored as given; a value that is no function switches the watch off.
    void nodeUpdate(QScriptValue function);
    void nodeUpdate(QScriptValue node, QScriptValue function);
    void nodeNew(QScriptValue function);
    void nodeNew(QScriptValue node, QScriptValue function);
    void nodeRemoved(QScriptValue function);
    void nodeRemoved(QScriptValue node, QScriptValue function);
    // Whether the stack knows the node now; waits for nothing.
    bool isAvailable(QScriptValue node);
    // Waits at most timeout ms (negative: no bound) for the node, or for it
    // in the mode; false also once the stack is disabled, then or meanwhile.
    bool nodeWait(QScriptValue node, int timeout);
    bool nodeWait(QScriptValue node, int mode, int timeout);
    void nodeInfo(QScriptValue node, QScriptValue function);
    QScriptValue nodeInfo(QScriptValue node);
    void nodeStatistics(QScriptValue node, QScriptValue function);
    QScriptValue nodeStatistics(QScriptValue node);
    void ping(QScriptValue node, QScriptValue function);
    QScriptValue ping(QScriptValue node);
    QVariantList knownNodes();
    QVariantList functionIds();
    QVariantList eventIds();

private:
    friend class JsQErfcPrivate;
    Q_DISABLE_COPY(JsQErfc)
    JsQErfcPrivate* d;
};

#endif // JSQERFC_H
