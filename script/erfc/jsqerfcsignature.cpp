#include "jsqerfc.h"
#include "jsqerfcconstants_p.h"
#include "jsqerfcsignature_p.h"
#include "jsrtetype.h"

namespace {

// Payloads are at most this long.
constexpr int MaxPayload = 32;

bool readEnumProperty(int& out, uint largest, const QVariantMap& signature, const QString& key)
{
    out = 0;
    const auto it = signature.constFind(key);
    if (it == signature.cend())
        return false;
    bool ok = false;
    const uint value = it->toUInt(&ok);
    if (!ok)
        throw QStringLiteral("property %1 must be a unsigned integer").arg(key);
    if (value > largest) {
        throw QStringLiteral("property %1, value:%2, is not known/allowed")
            .arg(key)
            .arg(int(value));
    }
    out = int(value);
    return true;
}

} // namespace

void readUIntProperty(quint8& out, quint8 min, quint8 max, const QVariantMap& signature,
                      const QString& key)
{
    const auto it = signature.constFind(key);
    if (it == signature.cend())
        throw QStringLiteral("property %1 is missing").arg(key);
    bool ok = false;
    const uint value = it->toUInt(&ok);
    if (!ok)
        throw QStringLiteral("property %1 must be a unsigned integer").arg(key);
    if (value < min || value > max)
        throw QStringLiteral("property %1 must be between %2 and %3").arg(key).arg(min).arg(max);
    out = quint8(value);
}

bool readIntProperty(int& out, int min, int max, const QVariantMap& signature, const QString& key)
{
    out = 0;
    const auto it = signature.constFind(key);
    if (it == signature.cend())
        return false;
    bool ok = false;
    const int value = it->toInt(&ok);
    if (!ok)
        throw QStringLiteral("property %1 must be a number").arg(key);
    if (value < min || value > max)
        throw QStringLiteral("property %1 must be between %2 and %3").arg(key).arg(min).arg(max);
    out = value;
    return true;
}

bool readPrivilegeProperty(int& out, const QVariantMap& signature, const QString& key)
{
    return readEnumProperty(out, 3, signature, key);
}

bool readConnectTypeProperty(int& out, const QVariantMap& signature, const QString& key)
{
    return readEnumProperty(out, 2, signature, key);
}

bool readRequestTypeProperty(int& out, const QVariantMap& signature, const QString& key)
{
    return readEnumProperty(out, 1, signature, key);
}

void parsePayloadDescription(JsQErfcPayloadFields& out, const QVariantList& description)
{
    if (description.isEmpty()) {
        throw QStringLiteral(
            "doesn't contain any possible data! If it should be empty remove the description");
    }
    int total = 0;
    for (const QVariant& element : description) {
        const QVariantMap field = element.toMap();
        if (field.size() != 1)
            throw QStringLiteral("Number of entrys is not one");
        const QString name = field.firstKey();
        bool ok = false;
        const int type = field.first().toInt(&ok);
        if (!ok || !JsRteType::isValidType(type)) {
            throw QStringLiteral("key:%1 \"%2\" is not defined as type (size: %3)")
                .arg(name, QString::number(type), QString::number(JsRteType::typeSize(type)));
        }
        out.append({name, type});
        // Declared sizes; a variable-length string counts 0 here.
        total += JsRteType::typeSize(type);
    }
    if (total > MaxPayload)
        throw QStringLiteral("size: %1 is to big").arg(total);
}

void parseFunctionSignature(const QVariantMap& signature, JsQErfcPayloadFields& request,
                            JsQErfcResponseFields& responses)
{
    const auto req = signature.constFind(QStringLiteral("request"));
    if (req != signature.cend()) {
        try {
            parsePayloadDescription(request, req->toList());
        } catch (const QString& message) {
            throw QStringLiteral("Request payload %1!").arg(message);
        }
    }
    const auto rsp = signature.constFind(QStringLiteral("response"));
    if (rsp == signature.cend())
        return;
    const QVariantMap byCode = rsp->toMap();
    if (byCode.isEmpty()) {
        // A plain description (or nothing usable) describes the OK answer.
        JsQErfcPayloadFields fields;
        try {
            parsePayloadDescription(fields, rsp->toList());
        } catch (const QString& message) {
            throw QStringLiteral("Response payload %1!").arg(message);
        }
        responses.insert(JsQErfc::RSP_OK, fields);
        return;
    }
    for (auto it = byCode.cbegin(); it != byCode.cend(); ++it) {
        const int code = responseCodeFromName(it.key());
        if (code == 255) {
            throw QStringLiteral("Response payload, response code \"%1\" is not allowed!")
                .arg(it.key());
        }
        JsQErfcPayloadFields fields;
        try {
            parsePayloadDescription(fields, it.value().toList());
        } catch (const QString& message) {
            throw QStringLiteral("Response payload(code:%1) %2!").arg(it.key(), message);
        }
        responses.insert(code, fields);
    }
}
