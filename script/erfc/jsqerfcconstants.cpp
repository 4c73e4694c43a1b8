#include "jsqerfc_p.h"
#include "jsqerfcconstants_p.h"

#include <QScriptEngine>

namespace {

// Name tables indexed by value.
const char* const responseCodeNames[] = {
    "RSP_OK",           "RSP_SPECIFIC_1",     "RSP_SPECIFIC_2",     "RSP_SPECIFIC_3",
    "RSP_SPECIFIC_4",   "RSP_SPECIFIC_5",     "RSP_SPECIFIC_6",     "RSP_BUSY",
    "RSP_UNKNOWN_FID",  "RSP_UNKNOWN_ADDR",   "RSP_FUNCTION_ERROR", "RESERVED",
    "RSP_PAYLOAD_ERROR", "RSP_PROTOCOL_ERROR", "RSP_ROUTING_ERROR", "RSP_CRC_ERROR",
    "RSP_CONNECTION_ERROR",
};
const char* const privilegeNames[] = {"PRIV_USER", "PRIV_OPERATOR", "PRIV_ADMIN",
                                      "PRIV_DEVELOPER"};
const char* const connectTypeNames[] = {"CONNECT_NORMAL", "CONNECT_DATAGRAM", "CONNECT_BROADCAST"};
const char* const requestTypeNames[] = {"REQUEST_TYPE_REQUEST", "REQUEST_TYPE_DATAGRAM"};
const char* const modeNames[] = {"MODE_APPLICATION", "MODE_MAINTENANCE"};
const char* const eventConnectStateNames[] = {"EVENT_CONNECT_STATE_DISCONNECTED",
                                              "EVENT_CONNECT_STATE_CONNECTED",
                                              "EVENT_CONNECT_STATE_ERROR"};
const char* const drcStateNames[] = {"STATE_NEW_NODE", "STATE_NODE_REMOVED"};

template <int N>
QString tableName(const char* const (&table)[N], int value)
{
    if (value < 0 || value >= N)
        return QString();
    return QString::fromLatin1(table[value]);
}

template <int N>
void installGroup(QScriptValue& object, const char* const (&table)[N], int skip = -1)
{
    for (int value = 0; value < N; ++value) {
        if (value != skip)
            object.setProperty(QString::fromLatin1(table[value]), value, QScriptValue::ReadOnly);
    }
}

} // namespace

QString privilegeName(int value) { return tableName(privilegeNames, value); }
QString responseCodeName(int value) { return tableName(responseCodeNames, value); }
QString connectTypeName(int value) { return tableName(connectTypeNames, value); }
QString requestTypeName(int value) { return tableName(requestTypeNames, value); }
QString modeName(int value) { return tableName(modeNames, value); }
QString eventConnectStateName(int value) { return tableName(eventConnectStateNames, value); }
QString drcStateName(int value) { return tableName(drcStateNames, value); }

bool isValidPrivilege(uint value) { return value < 4; }
bool isValidResponseCode(uint value) { return value < 17; }
bool isValidConnectType(uint value) { return value < 3; }
bool isValidRequestType(uint value) { return value < 2; }
bool isValidMode(uint value) { return value < 2; }

int responseCodeFromName(const QString& name)
{
    // Only the codes up to RSP_BUSY may be named in a callback object or a
    // response description.
    const QString lower = name.toLower();
    for (int code = 0; code <= JsQErfc::RSP_BUSY; ++code) {
        if (lower == QString::fromLatin1(responseCodeNames[code]).toLower())
            return code;
    }
    return 255;
}

void JsQErfcPrivate::installConstants(QScriptEngine*, QScriptValue& object)
{
    // Read-only alone: enumerable and deletable. There is no constant for 11.
    installGroup(object, responseCodeNames, JsQErfc::RESERVED);
    installGroup(object, privilegeNames);
    installGroup(object, connectTypeNames);
    installGroup(object, requestTypeNames);
    installGroup(object, modeNames);
    installGroup(object, eventConnectStateNames);
    installGroup(object, drcStateNames);
}
