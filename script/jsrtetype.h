#ifndef JSRTETYPE_H
#define JSRTETYPE_H

#include "jsrteextension.h"

#include <QList>
#include <QScriptValue>
#include <QString>

class QScriptContext;
class QScriptEngine;

// Payload type codes and the script extension "dtype" that names them.
// A code is 16 bits: the kind in the high byte, the field size in bytes in
// the low byte.
class JsRteType : public JsRteExtension
{
    Q_OBJECT
public:
    // A payload type code as it travels.
    using DataType = quint16;

    enum Kind {
        KindString = 0x100,
        KindInt = 0x200,
        KindIntU = 0x300,
        KindDouble = 0x400,
        KindFloat = 0x500,
        KindBool = 0x600,
        KindChar = 0x700
    };

    enum FixedType {
        Int8U = 0x301,
        Int16U = 0x302,
        Int32U = 0x304,
        Int8 = 0x201,
        Int16 = 0x202,
        Int32 = 0x204,
        Double = 0x408,
        Float = 0x504,
        Bool = 0x601,
        Char8 = 0x701
    };

    explicit JsRteType(QObject* parent = nullptr);

    static int typeKind(int code);
    static quint8 typeSize(int code);
    // On the low 16 bits of code.
    static bool isValidType(int code);
    // "INT32", "INT16U", "CHAR8", "STRING", ...; "UNKNOWN" for kind 0 and
    // kinds 8 and above.
    static QString typeName(int code);
    // The ten fixed-size codes, unsigned integers first.
    static QList<int> fixedSizeTypes();

    void install(QScriptEngine* engine, QScriptValue& object) override;

    // dtype.STRING(n): n with bit 8 set; 256 without argument.
    static QScriptValue stringType(QScriptContext* context, QScriptEngine* engine);
};

#endif // JSRTETYPE_H
