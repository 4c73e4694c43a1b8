// The erfc object on the network: functions and events the script offers,
// event subscriptions, node changes and node queries. The slots are declared
// with the object so that its method list is complete; they do nothing yet.

#include "jsqerfc_p.h"

void JsQErfcPrivate::registerFunction(QScriptValue, QScriptValue) {}
void JsQErfcPrivate::unregisterFunction(QScriptValue) {}
void JsQErfcPrivate::registerEvent(QScriptValue) {}
void JsQErfcPrivate::unregisterEvent(QScriptValue) {}
bool JsQErfcPrivate::emitEvent(QScriptValue, QScriptValue) { return false; }
bool JsQErfcPrivate::connectToEvent(QScriptValue, QScriptValue, QScriptValue) { return false; }
void JsQErfcPrivate::disconnectFromEvent(QScriptValue) {}
bool JsQErfcPrivate::waitForEventConnected(QScriptValue) { return false; }
void JsQErfcPrivate::waitForEventDisconnected(QScriptValue) {}
QScriptValue JsQErfcPrivate::waitForEvent(QScriptValue, int) { return QScriptValue(QScriptValue::NullValue); }
bool JsQErfcPrivate::nodeWait(QScriptValue, int) { return false; }
bool JsQErfcPrivate::nodeWait(QScriptValue, int, int) { return false; }
void JsQErfcPrivate::nodeInfo(QScriptValue, QScriptValue) {}
QScriptValue JsQErfcPrivate::nodeInfo(QScriptValue) { return QScriptValue(QScriptValue::NullValue); }
void JsQErfcPrivate::nodeStatistics(QScriptValue, QScriptValue) {}
QScriptValue JsQErfcPrivate::nodeStatistics(QScriptValue) { return QScriptValue(QScriptValue::NullValue); }
void JsQErfcPrivate::ping(QScriptValue, QScriptValue, uchar) {}
QScriptValue JsQErfcPrivate::ping(QScriptValue, uchar) { return QScriptValue(QScriptValue::NullValue); }
QVariantList JsQErfcPrivate::knownNodes() { return QVariantList(); }
QVariantList JsQErfcPrivate::functionIds() { return QVariantList(); }
QVariantList JsQErfcPrivate::eventIds() { return QVariantList(); }

void JsQErfcPrivate::onFunctionCallSignal(QErfcIncomingRequest&, QErfcResponse&, QErfc::ResponseCode&) {}
void JsQErfcPrivate::onEventCallSignal(QErfcIncomingEvent) {}
void JsQErfcPrivate::onEventstateChangedSignal(QErfc::EventState) {}
void JsQErfcPrivate::onEventDisconnectedSignal() {}
void JsQErfcPrivate::onDrcUpdate(uchar, QErfc::DrcUpdate, QErfc::Mode) {}
void JsQErfcPrivate::onNodeInformationRefreshed(QErfcNodeInfo::NodeInfoState) {}
void JsQErfcPrivate::onNodeInfoStatisticsRefreshed(QErfcStatistics) {}
void JsQErfcPrivate::onNodeInfoPingFinished(uint) {}
