#ifndef JSQERFCCONSTANTS_P_H
#define JSQERFCCONSTANTS_P_H

#include <QString>

// Names of the erfc object's constant values, as the script sees them. A
// value outside its table has the empty name.
QString privilegeName(int value);
QString responseCodeName(int value);
QString connectTypeName(int value);
QString requestTypeName(int value);
QString modeName(int value);
QString eventConnectStateName(int value);
QString drcStateName(int value);

// A value is valid when its table has a name for it (the response code 11,
// "RESERVED", included).
bool isValidPrivilege(uint value);
bool isValidResponseCode(uint value);
bool isValidConnectType(uint value);
bool isValidRequestType(uint value);
bool isValidMode(uint value);

// The response code a script may name (0..7, any case), or 255.
int responseCodeFromName(const QString& name);

#endif // JSQERFCCONSTANTS_P_H
