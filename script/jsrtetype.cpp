#include "jsrtetype.h"

#include <QScriptContext>
#include <QScriptEngine>

JsRteType::JsRteType(QObject* parent)
    : JsRteExtension(parent)
{
    setName(QStringLiteral("dtype"));
}

int JsRteType::typeKind(int code)
{
    return code & 0xFF00;
}

quint8 JsRteType::typeSize(int code)
{
    return quint8(code & 0xFF);
}

bool JsRteType::isValidType(int code)
{
    const int size = typeSize(code);
    switch (typeKind(code)) {
    case KindString:
        return true;
    case KindInt:
    case KindIntU:
        return size == 1 || size == 2 || size == 4;
    case KindDouble:
        return size == 8;
    case KindFloat:
        return size == 4;
    case KindBool:
    case KindChar:
        return size == 1;
    default:
        return false;
    }
}

QString JsRteType::typeName(int code)
{
    static const char* const templates[] = {
        "UNKNOWN", "STRING", "INT%1", "INT%1U", "DOUBLE", "FLOAT", "BOOL", "CHAR%1",
    };
    const int kind = code >> 8;
    if (kind < 0 || kind >= int(sizeof(templates) / sizeof(templates[0])))
        return QStringLiteral("UNKNOWN");
    const QString name = QString::fromLatin1(templates[kind]);
    if (kind == 2 || kind == 3 || kind == 7)
        return name.arg(typeSize(code) * 8);
    return name;
}

QList<int> JsRteType::fixedSizeTypes()
{
    return {Int8U, Int16U, Int32U, Int8, Int16, Int32, Double, Float, Bool, Char8};
}

void JsRteType::install(QScriptEngine* engine, QScriptValue& object)
{
    const QList<int> codes = fixedSizeTypes();
    for (int code : codes)
        object.setProperty(typeName(code), code, QScriptValue::ReadOnly);
    object.setProperty(QStringLiteral("INT8S"), int(Int8), QScriptValue::ReadOnly);
    object.setProperty(QStringLiteral("INT16S"), int(Int16), QScriptValue::ReadOnly);
    object.setProperty(QStringLiteral("INT32S"), int(Int32), QScriptValue::ReadOnly);
    object.setProperty(QStringLiteral("STRING"), engine->newFunction(stringType, 0),
                       QScriptValue::KeepExistingFlags);
}

QScriptValue JsRteType::stringType(QScriptContext* context, QScriptEngine*)
{
    const QScriptValue argument = context->argument(0);
    if (argument.isUndefined())
        return int(KindString);
    if (!argument.isNumber())
        return context->throwError(QStringLiteral("is not a number"));
    const double n = argument.toInteger();
    if (!(n > 0)) {
        return context->throwError(
            QStringLiteral("%1 is not in range must greater 0").arg(QString::number(n, 'g')));
    }
    // toInt32 wraps a value beyond 32 bits instead of an undefined cast.
    return int(argument.toInt32() | KindString);
}
