#ifndef JSQERFCSIGNATURE_P_H
#define JSQERFCSIGNATURE_P_H

#include "jsqerfcrecords_p.h"

#include <QVariantList>
#include <QVariantMap>

// Readers of a signature's properties and parsers of its payload
// descriptions. Each throws its message text (a QString) on failure; the
// operation that called it raises the text as a script error.

// A required unsigned property within min..max.
void readUIntProperty(quint8& out, quint8 min, quint8 max, const QVariantMap& signature,
                      const QString& key);
// An optional integer property within min..max; false (and out 0) when absent.
bool readIntProperty(int& out, int min, int max, const QVariantMap& signature, const QString& key);
// Optional enumeration properties: 0..3, 0..2, 0..1; false (and out 0) when absent.
bool readPrivilegeProperty(int& out, const QVariantMap& signature, const QString& key);
bool readConnectTypeProperty(int& out, const QVariantMap& signature, const QString& key);
bool readRequestTypeProperty(int& out, const QVariantMap& signature, const QString& key);

// Appends the fields of a description (an array of one-key objects) to out.
void parsePayloadDescription(JsQErfcPayloadFields& out, const QVariantList& description);
// The request layout and the response layouts by code from the signature's
// "request" and "response"; a missing one leaves its output empty.
void parseFunctionSignature(const QVariantMap& signature, JsQErfcPayloadFields& request,
                            JsQErfcResponseFields& responses);

#endif // JSQERFCSIGNATURE_P_H
