#ifndef JSQERFCCODEC_P_H
#define JSQERFCCODEC_P_H

#include "jsqerfcrecords_p.h"

#include <QByteArray>
#include <QScriptValue>

// The payload codec: script objects to Erfc payload bytes and back, field by
// field in a description's order. Multi-byte numbers are little-endian.

// Appends the object's fields to out. Throws the message text (a QString) on
// the first field that cannot be written, or when the payload is longer than
// 32 bytes; out then holds a partial payload to be discarded.
void encodePayload(const JsQErfcPayloadFields& fields, QByteArray& out, const QScriptValue& object);
// Sets one property per field on object. Never fails: a field beyond the
// payload's end reads as 0, false or the text up to the end.
void decodePayload(const JsQErfcPayloadFields& fields, const QByteArray& payload,
                   QScriptValue& object);

#endif // JSQERFCCODEC_P_H
