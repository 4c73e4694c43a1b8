// Payload descriptions, signature readers and the payload codec, byte-exact.

#include "jsqerfccodec_p.h"
#include "jsqerfcconstants_p.h"
#include "jsqerfcsignature_p.h"
#include "jsrtetype.h"

#include <QScriptEngine>
#include <QtTest>

class tst_JsQErfcCodec : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();

    void names();
    void responseCodeFromName_data();
    void responseCodeFromName();

    void encode_data();
    void encode();
    void decode_data();
    void decode();

    void notANumber_data();
    void notANumber();
    void description_data();
    void description();
    void functionSignature_data();
    void functionSignature();
    void readers_data();
    void readers();

private:
    QScriptValue js(const QString& code) { return m_engine.evaluate('(' + code + ')'); }
    JsQErfcPayloadFields fields(const QString& description);
    QString decoded(const JsQErfcPayloadFields& fields, const QByteArray& bytes);

    QScriptEngine m_engine;
};

void tst_JsQErfcCodec::initTestCase()
{
    QScriptValue dtype = m_engine.newObject();
    JsRteType type;
    type.install(&m_engine, dtype);
    m_engine.globalObject().setProperty("dtype", dtype);
}

JsQErfcPayloadFields tst_JsQErfcCodec::fields(const QString& description)
{
    JsQErfcPayloadFields out;
    if (!description.isEmpty())
        parsePayloadDescription(out, js(description).toVariant().toList());
    return out;
}

QString tst_JsQErfcCodec::decoded(const JsQErfcPayloadFields& fields, const QByteArray& bytes)
{
    QScriptValue object = m_engine.newObject();
    decodePayload(fields, bytes, object);
    return m_engine.globalObject().property("JSON").property("stringify").call(QScriptValue(), QScriptValueList{object}).toString();
}

void tst_JsQErfcCodec::names()
{
    QCOMPARE(responseCodeName(11), QStringLiteral("RESERVED"));
    QCOMPARE(drcStateName(1), QStringLiteral("STATE_NODE_REMOVED"));
    // Outside the tables: the empty name, never a read past the end.
    const QStringList outside = {responseCodeName(-1), responseCodeName(17), privilegeName(4), connectTypeName(3),
                                 requestTypeName(2), modeName(2), eventConnectStateName(3), drcStateName(2)};
    QCOMPARE(outside.join(QString()), QString());
    QVERIFY(isValidResponseCode(11) && !isValidResponseCode(17));
    QVERIFY(isValidPrivilege(3) && !isValidPrivilege(4) && !isValidPrivilege(uint(-1)));
}

void tst_JsQErfcCodec::responseCodeFromName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("code");
    QTest::newRow("lower specific 3") << "rsp_specific_3" << 3;
    QTest::newRow("mixed busy") << "Rsp_Busy" << 7;
    QTest::newRow("unknown fid") << "RSP_UNKNOWN_FID" << 255;
    QTest::newRow("function error") << "RSP_FUNCTION_ERROR" << 255;
    QTest::newRow("bare OK") << "OK" << 255;
}

void tst_JsQErfcCodec::responseCodeFromName()
{
    QFETCH(QString, name);
    QTEST(::responseCodeFromName(name), "code");
}

void tst_JsQErfcCodec::encode_data()
{
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("object");
    QTest::addColumn<QByteArray>("bytes"); // hex
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("back"); // the bytes decoded, as JSON

    const QString ok;
    QTest::newRow("int16 string bool")
        << "[{a: dtype.INT16}, {s: dtype.STRING()}, {b: dtype.BOOL}]" << "{a: -2, s: 'hi', b: true}"
        << QByteArray("feff68690001") << ok << R"({"a":-2,"s":"hi","b":true})";
    QTest::newRow("full fixed string, terminated")
        << "[{s: dtype.STRING(4)}, {n: dtype.INT8U}]" << "{s: 'abcd', n: 7}"
        << QByteArray("616263640007") << ok << R"({"s":"abcd","n":7})";
    QTest::newRow("short fixed string, padded")
        << "[{s: dtype.STRING(4)}, {n: dtype.INT8U}]" << "{s: 'ab', n: 7}"
        << QByteArray("6162000007") << ok << R"({"s":"ab","n":7})";
    QTest::newRow("last fixed string, unpadded") << "[{s: dtype.STRING(4)}]" << "{s: 'ab'}"
        << QByteArray("6162") << ok << R"({"s":"ab"})";
    QTest::newRow("fixed string too long") << "[{s: dtype.STRING(4)}]" << "{s: 'abcde'}"
        << QByteArray() << "property: s, type:string, does not fit its size" << "";
    QTest::newRow("latin-1 or ?") << "[{s: dtype.STRING()}]" << "{s: '\\u00e9\\u20ac'}"
        << QByteArray("e93f") << ok << "{\"s\":\"\u00e9?\"}";
    QTest::newRow("object as string") << "[{s: dtype.STRING()}]" << "{s: {}}"
        << QByteArray() << "property: s, type:String, is not a string" << "";
    QTest::newRow("int8 200") << "[{a: dtype.INT8}]" << "{a: 200}"
        << QByteArray("c8") << ok << R"({"a":-56})";
    QTest::newRow("int32u numeric text") << "[{a: dtype.INT32U}]" << "{a: '4294967295'}"
        << QByteArray("ffffffff") << ok << R"({"a":4294967295})";
    QTest::newRow("int text") << "[{a: dtype.INT16}]" << "{a: 'x'}"
        << QByteArray() << "property: a, type:int, is no number" << "";
    QTest::newRow("float 0.1") << "[{f: dtype.FLOAT}]" << "{f: 0.1}"
        << QByteArray("cdcccc3d") << ok << R"({"f":0.10000000149011612})";
    QTest::newRow("double -2.5") << "[{d: dtype.DOUBLE}]" << "{d: -2.5}"
        << QByteArray("00000000000004c0") << ok << R"({"d":-2.5})";
    QTest::newRow("bool from null") << "[{b: dtype.BOOL}]" << "{b: null}"
        << QByteArray() << "property: b, type:bool, is not a bool" << "";
    QTest::newRow("char e-acute") << "[{c: dtype.CHAR8}]" << "{c: '\\u00e9'}"
        << QByteArray("e9") << ok << R"({"c":-23})";
    QTest::newRow("char beyond latin-1") << "[{c: dtype.CHAR8}]" << "{c: '\\u0100'}"
        << QByteArray("00") << ok << R"({"c":0})";
    QTest::newRow("name case") << "[{a: dtype.INT8}]" << "{A: 1}"
        << QByteArray() << "property: a is missing" << "";
    const QString fourDoubles = "{d1: dtype.DOUBLE}, {d2: dtype.DOUBLE}, {d3: dtype.DOUBLE}, {d4: dtype.DOUBLE}";
    QTest::newRow("33 bytes") << "[" + fourDoubles + ", {s: dtype.STRING()}]"
        << "{d1: 0, d2: 0, d3: 0, d4: 0, s: 'x'}"
        << QByteArray() << "is to big, does not fit erfc payload" << "";
    QTest::newRow("32 bytes") << "[" + fourDoubles + ", {s: dtype.STRING()}]"
        << "{d1: 0, d2: 0, d3: 0, d4: 1, s: ''}" << QByteArray(QByteArray(48, '0') + "000000000000f03f")
        << ok << R"({"d1":0,"d2":0,"d3":0,"d4":1,"s":""})";
}

void tst_JsQErfcCodec::encode()
{
    QFETCH(QString, description);
    QFETCH(QString, object);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, error);
    QFETCH(QString, back);

    const JsQErfcPayloadFields list = fields(description);
    QByteArray out;
    QString thrown;
    try {
        encodePayload(list, out, js(object));
    } catch (const QString& message) {
        thrown = message;
    }
    QCOMPARE(thrown, error);
    if (!error.isEmpty())
        return;
    QCOMPARE(out.toHex(), bytes);
    QCOMPARE(decoded(list, out), back);
}

void tst_JsQErfcCodec::decode_data()
{
    QTest::addColumn<QString>("description");
    QTest::addColumn<QByteArray>("bytes"); // hex
    QTest::addColumn<QString>("object");

    QTest::newRow("empty payload") << "[{a: dtype.INT16}, {s: dtype.STRING()}]" << QByteArray()
                                   << R"({"a":0,"s":""})";
    QTest::newRow("ends inside int32") << "[{a: dtype.INT32}]" << QByteArray("0102") << R"({"a":0})";
    QTest::newRow("ends inside double") << "[{d: dtype.DOUBLE}]" << QByteArray("00000000000004")
                                        << R"({"d":0})";
    QTest::newRow("ends before bool and char") << "[{a: dtype.INT8}, {b: dtype.BOOL}, {c: dtype.CHAR8}]"
                                               << QByteArray("05") << R"({"a":5,"b":false,"c":0})";
    QTest::newRow("ends inside fixed string") << "[{s: dtype.STRING(8)}, {n: dtype.INT8U}]"
                                              << QByteArray("6162") << R"({"s":"ab","n":0})";
    QTest::newRow("fixed string without terminator")
        << "[{s: dtype.STRING(4)}, {n: dtype.INT8U}]" << QByteArray("6162636407") << R"({"s":"abcd","n":0})";
    QTest::newRow("variable string to the end") << "[{a: dtype.INT8}, {s: dtype.STRING()}]"
                                                << QByteArray("016869") << R"({"a":1,"s":"hi"})";
    QTest::newRow("later field wins") << "[{a: dtype.INT8}, {a: dtype.INT8}]" << QByteArray("0102")
                                      << R"({"a":2})";
}

void tst_JsQErfcCodec::decode()
{
    QFETCH(QString, description);
    QFETCH(QByteArray, bytes);
    QTEST(decoded(fields(description), QByteArray::fromHex(bytes)), "object");
}

void tst_JsQErfcCodec::notANumber_data()
{
    QTest::addColumn<QString>("description");
    QTest::addColumn<QByteArray>("bytes"); // hex
    // Found by the fuzzer: NaN bit patterns other than the engine's own used
    // to crash the engine once the property was set.
    QTest::newRow("float ff ff ff ff") << "[{f: dtype.FLOAT}]" << QByteArray("ffffffff");
    QTest::newRow("double signalling") << "[{d: dtype.DOUBLE}]" << QByteArray("010000000000f07f");
}

void tst_JsQErfcCodec::notANumber()
{
    QFETCH(QString, description);
    QFETCH(QByteArray, bytes);
    QScriptValue object = m_engine.newObject();
    decodePayload(fields(description), QByteArray::fromHex(bytes), object);
    m_engine.globalObject().setProperty("decoded", object);
    QCOMPARE(m_engine.evaluate("var v = decoded.f === undefined ? decoded.d : decoded.f;"
                               " [typeof v, isNaN(v), v + 1, String(v)].join()").toString(),
             QStringLiteral("number,true,NaN,NaN"));
    m_engine.collectGarbage();
}

void tst_JsQErfcCodec::description_data()
{
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("result"); // the field types, or the message

    QTest::newRow("two fields") << "[{a: dtype.INT16U}, {s: dtype.STRING(8)}]" << "770,264";
    QTest::newRow("high bits kept") << "[{a: 0x10201}]" << "66049";
    QTest::newRow("int size 3") << "[{a: 0x203}]" << "key:a \"515\" is not defined as type (size: 3)";
    QTest::newRow("many variable strings")
        << "[{a: dtype.STRING()}, {b: dtype.STRING()}, {c: dtype.STRING()}, {d: dtype.STRING()}]"
        << "256,256,256,256";
}

void tst_JsQErfcCodec::description()
{
    QFETCH(QString, description);
    JsQErfcPayloadFields out;
    QString result;
    try {
        parsePayloadDescription(out, js(description).toVariant().toList());
        QStringList types;
        for (const JsQErfcPayloadField& field : qAsConst(out))
            types << QString::number(field.type);
        result = types.join(',');
    } catch (const QString& message) {
        result = message;
    }
    QTEST(result, "result");
}

void tst_JsQErfcCodec::functionSignature_data()
{
    QTest::addColumn<QString>("signature");
    QTest::addColumn<QString>("result"); // request fields; code:fields per response; or the message

    QTest::newRow("request and plain response")
        << "{request: [{a: dtype.INT8}], response: [{b: dtype.BOOL}, {c: dtype.INT8U}]}" << "a|0:b,c";
    QTest::newRow("codes in key order, later replaces")
        << "{response: {RSP_OK: [{a: dtype.INT8}], Rsp_Ok: [{b: dtype.INT8}], RSP_SPECIFIC_1: [{c: dtype.INT8}]}}"
        << "|0:b 1:c";
    QTest::newRow("request fails before response")
        << "{request: [{a: 0}], response: {BAD: []}}"
        << "Request payload key:a \"0\" is not defined as type (size: 0)!";
    QTest::newRow("empty response object")
        << "{response: {}}"
        << "Response payload doesn't contain any possible data! If it should be empty remove the description!";
}

void tst_JsQErfcCodec::functionSignature()
{
    QFETCH(QString, signature);
    JsQErfcPayloadFields request;
    JsQErfcResponseFields responses;
    QString result;
    auto names = [](const JsQErfcPayloadFields& list) {
        QStringList out;
        for (const JsQErfcPayloadField& field : list)
            out << field.name;
        return out.join(',');
    };
    try {
        parseFunctionSignature(js(signature).toVariant().toMap(), request, responses);
        QStringList codes;
        for (auto it = responses.cbegin(); it != responses.cend(); ++it)
            codes << QString::number(it.key()) + ':' + names(it.value());
        result = names(request) + '|' + codes.join(' ');
    } catch (const QString& message) {
        result = message;
    }
    QTEST(result, "result");
}

void tst_JsQErfcCodec::readers_data()
{
    QTest::addColumn<QString>("reader");
    QTest::addColumn<QString>("signature");
    QTest::addColumn<QString>("result"); // the value read, "absent", or the message

    // Required unsigned: registerFunction's 16..128, send's 0..128.
    QTest::newRow("fid 128 in 16..128") << "fid16" << "{fid: 128}" << "128";
    QTest::newRow("fid 15 in 16..128") << "fid16" << "{fid: 15}" << "property fid must be between 16 and 128";
    QTest::newRow("fid 16.4") << "fid0" << "{fid: 16.4}" << "16";
    QTest::newRow("fid as text") << "fid0" << "{fid: '17'}" << "17";
    // Optional integers (their range errors as the script sees them: tst_jsqerfc).
    QTest::newRow("timeout absent") << "timeout" << "{}" << "absent";
    // Enumerations.
    QTest::newRow("privilege 3") << "privilege" << "{privilege: 3}" << "3";
    QTest::newRow("privilege -1") << "privilege" << "{privilege: -1}" << "property privilege, value:-1, is not known/allowed";
    QTest::newRow("privilege text") << "privilege" << "{privilege: 'x'}" << "property privilege must be a unsigned integer";
    QTest::newRow("connect type 3") << "connect" << "{type: 3}" << "property type, value:3, is not known/allowed";
}

void tst_JsQErfcCodec::readers()
{
    QFETCH(QString, reader);
    QFETCH(QString, signature);
    const QVariantMap map = js(signature).toVariant().toMap();
    QString result;
    try {
        int value = -1;
        bool present = true;
        quint8 u = 0;
        if (reader.startsWith("fid")) {
            readUIntProperty(u, reader == "fid16" ? 16 : 0, 128, map, "fid");
            value = u;
        } else if (reader == "timeout") {
            present = readIntProperty(value, 10, 255, map, "timeout");
        } else if (reader == "privilege") {
            present = readPrivilegeProperty(value, map, "privilege");
        } else if (reader == "connect") {
            present = readConnectTypeProperty(value, map, "type");
        }
        result = present ? QString::number(value) : (value == 0 ? "absent" : "absent but set");
    } catch (const QString& message) {
        result = message;
    }
    QTEST(result, "result");
}

QTEST_GUILESS_MAIN(tst_JsQErfcCodec)
#include "tst_jsqerfccodec.moc"
