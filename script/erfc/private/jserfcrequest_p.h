#ifndef JSERFCREQUEST_P_H
#define JSERFCREQUEST_P_H

#include "jsqerfcrecords_p.h"
#include "qerfcrequest.h"

#include <QMap>
#include <QScriptValue>

// A request a script sends: the stack completes it like any request; it
// carries what the answer needs on the GUI thread, the response layouts and
// the script's callbacks.
//
// Nobody owns one: it deletes itself (deleteLater, on the GUI thread) once the
// stack has completed it, whether or not anyone still listens. Only a request
// the stack refused may be deleted at once.
class JSErfcRequest : public QErfcRequest
{
    Q_OBJECT
public:
    JSErfcRequest(uchar address, uchar fid, const QByteArray& payload);
    ~JSErfcRequest() override;

    // Requests alive in the process.
    static int instances();

    JsQErfcResponseFields responseFields;
    QScriptValue relatedSignature;
    QScriptValue thisObject{QScriptValue::NullValue};
    QScriptValue always{QScriptValue::NullValue};
    QScriptValue other{QScriptValue::NullValue};
    QMap<int, QScriptValue> responseFunctions;

private:
    Q_DISABLE_COPY(JSErfcRequest)
};

#endif // JSERFCREQUEST_P_H
