#include "jsqerfccodec_p.h"
#include "jsrtetype.h"

#include <QVariantMap>
#include <QtEndian>

#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr int MaxPayload = 32;

void appendInteger(QByteArray& out, quint32 value, int size)
{
    for (int i = 0; i < size; ++i)
        out.append(char((value >> (8 * i)) & 0xFF));
}

// Any NaN as the one NaN the script engine stores as a number: it keeps
// other bit patterns of NaN in a way that it may take for an object, which
// crashes it when the value is used.
QScriptValue numberValue(double number)
{
    return QScriptValue(std::isnan(number) ? std::numeric_limits<double>::quiet_NaN() : number);
}

// The little-endian unsigned value of size bytes at offset, or 0 when they
// are not all there.
quint64 readUnsigned(const QByteArray& payload, qint64 offset, int size)
{
    if (offset < 0 || offset + size > payload.size())
        return 0;
    quint64 value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = (value << 8) | quint8(payload.at(int(offset) + i));
    return value;
}

void encodeField(const JsQErfcPayloadField& field, bool last, const QVariant& value,
                 QByteArray& out)
{
    const QString& name = field.name;
    const int size = JsRteType::typeSize(field.type);
    switch (JsRteType::typeKind(field.type)) {
    case JsRteType::KindString: {
        if (!value.canConvert<QString>())
            throw QStringLiteral("property: %1, type:String, is not a string").arg(name);
        // Latin-1; other characters become "?".
        const QByteArray bytes = value.toString().toLatin1();
        if (size != 0 && bytes.size() > size)
            throw QStringLiteral("property: %1, type:string, does not fit its size").arg(name);
        out.append(bytes);
        if (!last) {
            // Padded to the declared size, but always terminated.
            const int pad = size - bytes.size();
            out.append(QByteArray(pad >= 1 ? pad : 1, '\0'));
        }
        return;
    }
    case JsRteType::KindInt:
    case JsRteType::KindIntU: {
        const bool isSigned = JsRteType::typeKind(field.type) == JsRteType::KindInt;
        bool ok = false;
        const quint32 number = isSigned ? quint32(value.toInt(&ok)) : value.toUInt(&ok);
        if (!ok) {
            throw (isSigned ? QStringLiteral("property: %1, type:int, is no number")
                            : QStringLiteral("property: %1, type:INTU, is no number"))
                .arg(name);
        }
        if (size != 1 && size != 2 && size != 4) {
            throw QStringLiteral("property: %1, wrong size, size: %2")
                .arg(name, QString::number(size));
        }
        // No range check: the low bits are written.
        appendInteger(out, number, size);
        return;
    }
    case JsRteType::KindDouble: {
        bool ok = false;
        const double number = value.toDouble(&ok);
        if (!ok)
            throw QStringLiteral("property: %1, type:double, is no number").arg(name);
        quint64 bits;
        std::memcpy(&bits, &number, sizeof bits);
        bits = qToLittleEndian(bits);
        out.append(reinterpret_cast<const char*>(&bits), sizeof bits);
        return;
    }
    case JsRteType::KindFloat: {
        bool ok = false;
        const float number = value.toFloat(&ok);
        if (!ok)
            throw QStringLiteral("property: %1, type:float, is no number").arg(name);
        quint32 bits;
        std::memcpy(&bits, &number, sizeof bits);
        appendInteger(out, bits, 4);
        return;
    }
    case JsRteType::KindBool:
        if (!value.canConvert<bool>())
            throw QStringLiteral("property: %1, type:bool, is not a bool").arg(name);
        out.append(char(value.toBool() ? 1 : 0));
        return;
    case JsRteType::KindChar: {
        if (!value.canConvert<QString>())
            throw QStringLiteral("property: %1, type:char, is not a string/char").arg(name);
        const QString text = value.toString();
        if (text.size() != 1)
            throw QStringLiteral("property: %1, type:char, is not one element!").arg(name);
        const ushort unit = text.at(0).unicode();
        out.append(char(unit <= 0xFF ? unit : 0));
        return;
    }
    default:
        throw QStringLiteral("property: %1, type not known").arg(name);
    }
}

} // namespace

void encodePayload(const JsQErfcPayloadFields& fields, QByteArray& out, const QScriptValue& object)
{
    const QVariantMap map = object.toVariant().toMap();
    for (int i = 0; i < fields.size(); ++i) {
        const JsQErfcPayloadField& field = fields.at(i);
        const auto it = map.constFind(field.name);
        if (it == map.cend())
            throw QStringLiteral("property: %1 is missing").arg(field.name);
        encodeField(field, i == fields.size() - 1, *it, out);
    }
    // The whole payload is built before its length is checked.
    if (out.size() > MaxPayload)
        throw QStringLiteral("is to big, does not fit erfc payload");
}

void decodePayload(const JsQErfcPayloadFields& fields, const QByteArray& payload,
                   QScriptValue& object)
{
    // 64 bits: a long field list cannot wrap the offset.
    qint64 offset = 0;
    const qint64 end = payload.size();
    for (const JsQErfcPayloadField& field : fields) {
        const int size = JsRteType::typeSize(field.type);
        QScriptValue value;
        switch (JsRteType::typeKind(field.type)) {
        case JsRteType::KindString: {
            qint64 limit = size != 0 ? qMin(offset + size, end) : end;
            qint64 stop = offset;
            while (stop < limit && payload.at(int(stop)) != '\0')
                ++stop;
            const qint64 length = qMax<qint64>(0, stop - offset);
            value = QString::fromLatin1(payload.constData() + qMin(offset, end), int(length));
            // Past the text, its terminator and any padding.
            offset += qMax<qint64>(size, length + 1);
            object.setProperty(field.name, value, QScriptValue::KeepExistingFlags);
            continue;
        }
        case JsRteType::KindInt:
            switch (size) {
            case 1:
                value = QScriptValue(int(qint8(readUnsigned(payload, offset, 1))));
                break;
            case 2:
                value = QScriptValue(int(qint16(readUnsigned(payload, offset, 2))));
                break;
            case 4:
                value = QScriptValue(int(qint32(readUnsigned(payload, offset, 4))));
                break;
            default:
                value = QScriptValue(0);
                break;
            }
            break;
        case JsRteType::KindIntU:
            value = (size == 1 || size == 2 || size == 4)
                        ? QScriptValue(uint(readUnsigned(payload, offset, size)))
                        : QScriptValue(0);
            break;
        case JsRteType::KindDouble: {
            const quint64 bits = readUnsigned(payload, offset, 8);
            double number;
            std::memcpy(&number, &bits, sizeof number);
            value = numberValue(number);
            break;
        }
        case JsRteType::KindFloat: {
            const quint32 bits = quint32(readUnsigned(payload, offset, 4));
            float number;
            std::memcpy(&number, &bits, sizeof number);
            value = numberValue(double(number));
            break;
        }
        case JsRteType::KindBool:
            value = QScriptValue(readUnsigned(payload, offset, 1) != 0);
            break;
        case JsRteType::KindChar:
            value = QScriptValue(int(qint8(readUnsigned(payload, offset, 1))));
            break;
        default:
            // Descriptions hold no other kinds; skip the field's bytes.
            offset += size;
            continue;
        }
        object.setProperty(field.name, value, QScriptValue::KeepExistingFlags);
        offset += size;
    }
}
