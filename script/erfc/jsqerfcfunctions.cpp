// Functions the script offers to other nodes: registerFunction,
// unregisterFunction and the script's handling of a node's call.

#include "jsqerfc_p.h"
#include "jsrte.h"
#include "jsqerfcbridge_p.h"
#include "jsqerfccodec_p.h"
#include "jsqerfcconstants_p.h"
#include "jsqerfcsignature_p.h"
#include "qerfcexception.h"
#include "qerfcfunction.h"
#include "qerfcstack.h"

#include <memory>

void JsQErfcPrivate::registerFunction(QScriptValue signature, QScriptValue function)
{
    QScriptEngine* engine = engineOf({signature, function});
    QMutexLocker lock(&m_functionMutex);
    const QVariantMap map = signature.toVariant().toMap();
    quint8 fid = 0;
    int privilege = 0;
    try {
        readUIntProperty(fid, 16, 128, map, QStringLiteral("fid"));
        readPrivilegeProperty(privilege, map, QStringLiteral("privilege"));
    } catch (const QString& message) {
        raise(engine, message + '!');
        return;
    }
    const QString description = map.value(QStringLiteral("description")).toString();
    if (!function.isFunction()) {
        raise(engine, QStringLiteral("Second parameter is not a function"));
        return;
    }
    const QScriptValue thisObject = callerThis(engine);
    if (m_functionRegistry.contains(fid)) {
        raise(engine, QStringLiteral("Function id %1 is already defined").arg(fid));
        return;
    }
    JsQErfcFunctionEntry entry;
    try {
        parseFunctionSignature(map, entry.requestDescription, entry.responseDescriptions);
    } catch (const QString& message) {
        raise(engine, message + '!');
        return;
    }
    if (!m_stack) {
        raise(engine, QStringLiteral("Can't register function, %1")
                          .arg(QString::fromLatin1(QErfcException(QErfcException::StackDisabled).what())));
        return;
    }
    std::unique_ptr<QErfcFunction> object(
        new QErfcFunction(fid, description, QErfc::Privilege(privilege)));
    m_bridge->attach(object.get());
    try {
        m_stack->registerFunction(object.get());
    } catch (const QErfcException& e) {
        raise(engine, QStringLiteral("Can't register function, %1").arg(QString::fromLatin1(e.what())));
        return;
    }
    entry.signature = signature;
    entry.thisObject = thisObject;
    entry.function = function;
    entry.functionObject = object.release();
    m_functionRegistry.insert(fid, entry);
}

void JsQErfcPrivate::unregisterFunction(QScriptValue signature)
{
    QScriptEngine* engine = engineOf({signature});
    QMutexLocker lock(&m_functionMutex);
    quint8 fid = 0;
    try {
        readUIntProperty(fid, 16, 128, signature.toVariant().toMap(), QStringLiteral("fid"));
    } catch (const QString& message) {
        raise(engine, QStringLiteral("Request ") + message);
        return;
    }
    const auto it = m_functionRegistry.find(fid);
    if (it == m_functionRegistry.end())
        return;
    QErfcFunction* object = it->functionObject;
    m_functionRegistry.erase(it);
    // A node's call of it may be in progress (this may be its handler): the
    // stack deletes it once the call is over.
    if (m_stack)
        m_stack->releaseFunction(object);
    else
        delete object;
}

void JsQErfcPrivate::onFunctionCallSignal(QErfcIncomingRequest& request, QErfcResponse& response,
                                          QErfc::ResponseCode& responseCode, bool fromEventLoop)
{
    const quint8 fid = request.functionId();
    QMutexLocker lock(&m_functionMutex);
    const auto it = m_functionRegistry.constFind(fid);
    if (it == m_functionRegistry.cend())
        return;
    // A copy: the handler may unregister its own function.
    JsQErfcFunctionEntry entry = *it;
    QScriptEngine* engine = entry.thisObject.engine();
    if (!engine)
        engine = entry.function.engine();
    if (!engine)
        return;
    QScriptValue call = engine->newObject();
    QScriptValue payload = engine->newObject();
    decodePayload(entry.requestDescription, request.payload(), payload);
    call.setProperty(QStringLiteral("fid"), int(fid));
    call.setProperty(QStringLiteral("address"), int(request.address()));
    call.setProperty(QStringLiteral("privilege"), int(request.privilege()));
    call.setProperty(QStringLiteral("payload"), payload);
    call.setProperty(QStringLiteral("length"), request.payload().size());
    call.setProperty(QStringLiteral("relatedSignature"), entry.signature);
    lock.unlock();
    // From the event loop while the script is inside an evaluation: events
    // are handled during a long one, and the handler would run inside it,
    // maybe inside itself. The call fails instead, as while the debugger
    // holds the script.
    if (m_suspended || (fromEventLoop && engine->isEvaluating()))
        return;

    const QScriptValue result = JsRte::call(entry.function, entry.thisObject, QScriptValueList{call});

    lock.relock();
    // Every error answers FunctionError with nothing in the payload.
    const auto fail = [&](const QString& message) {
        responseCode = QErfc::FunctionError;
        response.payload().clear();
        forceFunctionException(fid, QStringLiteral("Calling function(fid:%1), ").arg(fid) + message);
    };
    int code = 0;
    if (result.isUndefined() || result.isNull()) {
        fail(QStringLiteral("It's not allowed to return null!"));
        return;
    }
    if (result.isNumber()) {
        code = result.toInt32();
        if (!entry.responseDescriptions.value(code).isEmpty()) {
            fail(QStringLiteral("response code:%1, It's not allowed to return without a payload, see definition!")
                     .arg(responseCodeName(code)));
            return;
        }
    } else {
        const QVariantMap map = result.toVariant().toMap();
        const auto codeValue = map.constFind(QStringLiteral("code"));
        if (codeValue == map.cend()) {
            fail(QStringLiteral("response property %1 is necessary!").arg(QStringLiteral("code")));
            return;
        }
        bool ok = false;
        code = codeValue->toInt(&ok);
        if (!ok) {
            fail(QStringLiteral("response code is not valid, must be a number!"));
            return;
        }
        const auto fields = entry.responseDescriptions.constFind(code);
        if (fields != entry.responseDescriptions.cend()) {
            QByteArray bytes;
            try {
                encodePayload(*fields, bytes, result.property(QStringLiteral("payload")));
            } catch (const QString& message) {
                fail(QStringLiteral("parsing response payload failed, %1!").arg(message));
                return;
            }
            response.payload() = bytes;
        }
    }
    if (uint(code) > uint(QErfc::ConnectionError)) {
        fail(QStringLiteral("response code:%1 is not allowed, see definition!").arg(code));
        return;
    }
    responseCode = QErfc::ResponseCode(code);
}
