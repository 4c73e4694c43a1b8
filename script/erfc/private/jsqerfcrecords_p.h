#ifndef JSQERFCRECORDS_P_H
#define JSQERFCRECORDS_P_H

#include <QList>
#include <QMap>
#include <QScriptValue>
#include <QString>

class JsQErfcEventConnect;
class QErfcEvent;
class QErfcFunction;

// One field of a payload description: the property name a payload object
// carries and its payload type code (only the low 16 bits count).
struct JsQErfcPayloadField
{
    QString name;
    int type = 0;
};

// A payload's fields in wire order; empty for an empty payload.
using JsQErfcPayloadFields = QList<JsQErfcPayloadField>;
// A function's response layouts by response code (0..7).
using JsQErfcResponseFields = QMap<int, JsQErfcPayloadFields>;

// One script callback with its context. All three values start as null
// values (not invalid ones); the function is called only if it is one.
struct JsQErfcCallback
{
    QScriptValue node{QScriptValue::NullValue};
    QScriptValue thisObject{QScriptValue::NullValue};
    QScriptValue function{QScriptValue::NullValue};
};

// A script function offered to other nodes, by function id.
struct JsQErfcFunctionEntry
{
    JsQErfcPayloadFields requestDescription;
    JsQErfcResponseFields responseDescriptions;
    QScriptValue signature;
    QScriptValue thisObject;
    QScriptValue function;
    QErfcFunction* functionObject = nullptr; // owned by the entry's registry, no parent
};

// An event the script offers, by event id.
struct JsQErfcEventEntry
{
    JsQErfcPayloadFields payloadDescription;
    QErfcEvent* eventObject = nullptr; // owned by the entry's registry
};

// A subscription to a remote node's event.
struct JsQErfcEventConnectEntry
{
    JsQErfcPayloadFields payloadDescription;
    QScriptValue signature;
    QScriptValue thisObject;
    QScriptValue functionCall;
    QScriptValue functionStateChanged;
    // Deletes itself once disconnected; null after a failed replacement.
    // One the binding lets go belongs to the reaper.
    JsQErfcEventConnect* eventConnect = nullptr;
};

#endif // JSQERFCRECORDS_P_H
