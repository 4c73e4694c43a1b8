// Decodes arbitrary payloads by arbitrary field lists, as the script binding
// does with the bytes of remote nodes. The input is: a field count (low four
// bits of the first byte), then per field a name byte and a 16-bit type code
// (any kind and size, not only what the description parser lets through),
// then the payload (up to 64 bytes). For every input:
//  - nothing crashes or reads outside the payload;
//  - every field of a known kind is set on the object;
//  - a text is never longer than the payload.

#include "fuzzcheck.h"
#include "jsqerfccodec_p.h"
#include "jsrtetype.h"

#include <QCoreApplication>
#include <QScriptEngine>
#include <QScriptValueIterator>

namespace {

QScriptEngine* engine()
{
    static int argc = 1;
    static char name[] = "fuzz_payloaddecoder";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    static QScriptEngine engine;
    return &engine;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const int count = data[0] & 0x0F;
    size_t at = 1;
    JsQErfcPayloadFields fields;
    for (int i = 0; i < count && at + 3 <= size; ++i, at += 3) {
        // Few names, so later fields overwrite earlier ones.
        const QString name = QStringLiteral("f%1").arg(data[at] & 0x07);
        fields.append({name, int(data[at + 1]) | (int(data[at + 2]) << 8)});
    }
    if (size - at > 64)
        return 0;
    const QByteArray payload(reinterpret_cast<const char*>(data + at), int(size - at));

    QScriptEngine* e = engine();
    QScriptValue object = e->newObject();
    decodePayload(fields, payload, object);

    for (const JsQErfcPayloadField& field : fields) {
        const int kind = JsRteType::typeKind(field.type);
        if (kind >= JsRteType::KindString && kind <= JsRteType::KindChar)
            FUZZ_CHECK(object.property(field.name).isValid());
    }
    QScriptValueIterator it(object);
    while (it.hasNext()) {
        it.next();
        if (it.value().isString())
            FUZZ_CHECK(it.value().toString().size() <= payload.size());
    }
    e->collectGarbage();
    return 0;
}
