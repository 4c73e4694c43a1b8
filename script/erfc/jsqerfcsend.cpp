// Requests and datagrams: erfc.send and erfc.sendBlocking.

#include "jserfcrequest_p.h"
#include "jsrte.h"
#include "jsqerfc_p.h"
#include "jsqerfccodec_p.h"
#include "jsqerfcconstants_p.h"
#include "jsqerfcsignature_p.h"
#include "qerfcdatagram.h"
#include "qerfcexception.h"
#include "qerfcstack.h"

#include <memory>

namespace {

// What the stack says when there is no stack at all.
QString stackMissing()
{
    return QString::fromLatin1(QErfcException(QErfcException::StackDisabled).what());
}

// The optional timeout and retries of a request signature.
void readRequestTiming(const QVariantMap& signature, QErfcRequest* request)
{
    int value = 0;
    if (readIntProperty(value, 10, 255, signature, QStringLiteral("timeout")))
        request->setTimeout(quint8(value));
    if (readIntProperty(value, 0, 255, signature, QStringLiteral("retries")))
        request->setRetries(quint8(value));
}

} // namespace

bool JsQErfcPrivate::send(uchar address, QScriptValue signature, QScriptValue payload,
                          QScriptValue functions)
{
    QScriptEngine* engine = engineOf({signature, payload, functions});
    const QVariantMap map = signature.toVariant().toMap();
    quint8 fid = 0;
    int type = JsQErfc::REQUEST_TYPE_REQUEST;
    try {
        readUIntProperty(fid, 0, 128, map, QStringLiteral("fid"));
        readRequestTypeProperty(type, map, QStringLiteral("type"));
    } catch (const QString& message) {
        raise(engine, message + '!');
        return false;
    }
    const QScriptValue thisObject = callerThis(engine);

    QScriptValue always(QScriptValue::NullValue);
    QScriptValue other(QScriptValue::NullValue);
    QMap<int, QScriptValue> responseFunctions;
    if (type == JsQErfc::REQUEST_TYPE_DATAGRAM) {
        // A datagram gets no answer, so there is nothing to call back.
        if (!functions.isNull()) {
            raise(engine, QStringLiteral("For signature property %1: %2 are no functions allowed")
                              .arg(QStringLiteral("type"),
                                   requestTypeName(JsQErfc::REQUEST_TYPE_DATAGRAM)));
            return false;
        }
    } else if (functions.isFunction()) {
        always = functions;
    } else {
        // The object's own keys in the map's order, upper case first; a later
        // key naming the same code replaces an earlier one.
        const QVariantMap keys = functions.toVariant().toMap();
        for (auto it = keys.cbegin(); it != keys.cend(); ++it) {
            const QString& key = it.key();
            const QString lower = key.toLower();
            const QScriptValue value = functions.property(key);
            int code = -1;
            if (lower != QLatin1String("always") && lower != QLatin1String("other")) {
                code = responseCodeFromName(key);
                if (code == 255) {
                    raise(engine, QStringLiteral("Function for response code %1 is not known!").arg(key));
                    return false;
                }
            }
            if (!value.isFunction()) {
                raise(engine, QStringLiteral("Function %1 is not a function").arg(key));
                return false;
            }
            if (lower == QLatin1String("always"))
                always = value;
            else if (lower == QLatin1String("other"))
                other = value;
            else
                responseFunctions.insert(code, value);
        }
    }

    JsQErfcPayloadFields requestFields;
    JsQErfcResponseFields responseFields;
    QByteArray bytes;
    try {
        parseFunctionSignature(map, requestFields, responseFields);
        encodePayload(requestFields, bytes, payload);
    } catch (const QString& message) {
        raise(engine, message + '!');
        return false;
    }

    if (type == JsQErfc::REQUEST_TYPE_DATAGRAM) {
        if (!m_stack) {
            raise(engine, QStringLiteral("Can't send datagram, %1").arg(stackMissing()));
            return false;
        }
        QErfcDatagram datagram(address, fid, bytes);
        try {
            return m_stack->send(&datagram);
        } catch (const QErfcException& e) {
            raise(engine, QStringLiteral("Can't send datagram, %1").arg(QString::fromLatin1(e.what())));
            return false;
        }
    }

    std::unique_ptr<JSErfcRequest> request(new JSErfcRequest(address, fid, bytes));
    // Queued even when the stack completes the request at once on this
    // thread: no callback runs before send has returned.
    connect(request.get(), &QErfcRequest::callSignal, this, &JsQErfcPrivate::onRequestCallSignal,
            Qt::QueuedConnection);
    request->responseFields = responseFields;
    request->relatedSignature = signature;
    request->thisObject = thisObject;
    request->always = always;
    request->other = other;
    request->responseFunctions = responseFunctions;
    try {
        readRequestTiming(map, request.get());
    } catch (const QString& message) {
        raise(engine, message + '!');
        return false;
    }
    if (!m_stack) {
        raise(engine, QStringLiteral("Can't send request, %1").arg(stackMissing()));
        return false;
    }
    try {
        const bool sent = m_stack->send(request.get());
        // From here the stack completes the request, and it deletes itself
        // after that, also when nobody listens any more.
        request.release();
        return sent;
    } catch (const QErfcException& e) {
        raise(engine, QStringLiteral("Can't send request, %1").arg(QString::fromLatin1(e.what())));
        return false;
    }
}

void JsQErfcPrivate::onRequestCallSignal(QErfcIncomingResponse response)
{
    // The request's own deletion is queued behind this delivery, so it is
    // still there; take copies all the same, since a callback may run an
    // event loop in which it goes.
    auto* request = qobject_cast<JSErfcRequest*>(response.request());
    if (!request)
        return;
    const QScriptValue thisObject = request->thisObject;
    const QScriptValue always = request->always;
    const QScriptValue other = request->other;
    const QScriptValue relatedSignature = request->relatedSignature;
    const QMap<int, QScriptValue> responseFunctions = request->responseFunctions;
    const JsQErfcResponseFields responseFields = request->responseFields;
    request = nullptr;

    QScriptEngine* engine = thisObject.engine();
    if (!engine)
        return;
    const int code = response.responseCode();
    QScriptValue answer = engine->newObject();
    QScriptValue payload = engine->newObject();
    const auto fields = responseFields.constFind(code);
    if (fields != responseFields.cend())
        decodePayload(*fields, response.payload(), payload);
    answer.setProperty(QStringLiteral("fid"), int(response.functionId()));
    answer.setProperty(QStringLiteral("address"), int(response.address()));
    answer.setProperty(QStringLiteral("code"), code);
    answer.setProperty(QStringLiteral("codeText"), response.responseCodeString());
    answer.setProperty(QStringLiteral("payload"), payload);
    answer.setProperty(QStringLiteral("length"), response.payload().size());
    answer.setProperty(QStringLiteral("relatedSignature"), relatedSignature);

    // One answer object for all callbacks; results and script errors ignored.
    const QScriptValueList arguments{answer};
    auto run = [&](QScriptValue function) {
        if (!m_suspended)
            JsRte::callWhenIdle(function, thisObject, arguments);
    };
    const auto own = responseFunctions.constFind(code);
    if (own != responseFunctions.cend())
        run(*own);
    else
        run(other);
    run(always);
}

QScriptValue JsQErfcPrivate::sendBlocking(uchar address, QScriptValue signature, QScriptValue payload)
{
    QScriptEngine* engine = engineOf({signature, payload});
    if (!engine)
        return QScriptValue();
    const QVariantMap map = signature.toVariant().toMap();
    QScriptValue result = engine->newObject();
    QScriptValue payloadObject = engine->newObject();
    result.setProperty(QStringLiteral("code"), int(JsQErfc::RSP_FUNCTION_ERROR));

    // "type" is not read: this always sends a request.
    quint8 fid = 0;
    JsQErfcPayloadFields requestFields;
    JsQErfcResponseFields responseFields;
    QByteArray bytes;
    try {
        readUIntProperty(fid, 0, 128, map, QStringLiteral("fid"));
        parseFunctionSignature(map, requestFields, responseFields);
        encodePayload(requestFields, bytes, payload);
    } catch (const QString& message) {
        raise(engine, message + '!');
        return result;
    }
    std::unique_ptr<JSErfcRequest> request(new JSErfcRequest(address, fid, bytes));
    try {
        readRequestTiming(map, request.get());
    } catch (const QString& message) {
        raise(engine, message + '!');
        return result;
    }
    if (!m_stack) {
        raise(engine, QStringLiteral("Can't send request, %1").arg(stackMissing()));
        return result;
    }
    try {
        m_stack->send(request.get());
    } catch (const QErfcException& e) {
        raise(engine, QStringLiteral("Can't send request, %1").arg(QString::fromLatin1(e.what())));
        return result;
    }
    // The stack now holds the request; it deletes itself once completed, so
    // a wait that runs out leaves it to the stack.
    JSErfcRequest* pending = request.release();
    // The stack gives up after its last retransmission; the extra second
    // covers its 25 ms check. Longer only when the stack thread is held up.
    const int bound = (pending->retries() + 1) * pending->timeout() + 1000;
    const bool completed =
        blockingWait(bound, [pending](int msecs) { return pending->waitForResponse(msecs); });
    const QErfcIncomingResponse response =
        completed ? pending->response()
                  : QErfcIncomingResponse(address, fid, QErfc::ConnectionError, QByteArray(), nullptr);

    const int code = response.responseCode();
    const auto fields = responseFields.constFind(code);
    if (fields != responseFields.cend())
        decodePayload(*fields, response.payload(), payloadObject);
    result.setProperty(QStringLiteral("fid"), int(response.functionId()));
    result.setProperty(QStringLiteral("address"), int(response.address()));
    result.setProperty(QStringLiteral("code"), code);
    result.setProperty(QStringLiteral("codeText"), response.responseCodeString());
    result.setProperty(QStringLiteral("payload"), payloadObject);
    result.setProperty(QStringLiteral("length"), response.payload().size());
    result.setProperty(QStringLiteral("signature"), signature);
    return result;
}
