#include "qerfccrc16.h"
#include "qerfccrypto.h"
#include "qerfcdatagram.h"
#include "qerfcemitevent.h"
#include "qerfcmsg.h"
#include "qerfcrequest_p.h"
#include "qerfcsubscriber.h"

#include <QtTest>

namespace {

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(text);
}

// The decoded fields of one frame, as a table column.
struct Fields
{
    quint8 destination = 0;
    quint8 source = 0;
    bool response = false;
    bool routed = false;
    bool window = false;
    bool event = false;
    quint8 functionId = 0;
    quint8 requestId = 0;
    int privilegeOrCode = 0;
    bool noResponse = false;
    bool retransmit = false;
    quint8 routeAddress = 0;
    QByteArray routeBytes;
    QByteArray payload;
};

void apply(const Fields& f, QErfcMsg& msg)
{
    msg.setDestination(f.destination);
    msg.setSource(f.source);
    msg.setResponse(f.response);
    msg.setRouted(f.routed);
    msg.setWindowBit(f.window);
    msg.setEvent(f.event);
    msg.setFunctionId(f.functionId);
    msg.setRequestId(f.requestId);
    if (f.response)
        msg.setResponseCode(QErfc::ResponseCode(f.privilegeOrCode));
    else
        msg.setPrivilege(QErfc::Privilege(f.privilegeOrCode));
    msg.setNoResponse(f.noResponse);
    msg.setRetransmit(f.retransmit);
    msg.setRouteAddress(f.routeAddress);
    msg.setRouteBytes(f.routeBytes);
    msg.setPayload(f.payload);
}

void verifyFields(const QErfcMsg& msg, const Fields& f)
{
    QCOMPARE(msg.destination(), f.destination);
    QCOMPARE(msg.source(), f.source);
    QCOMPARE(msg.isResponse(), f.response);
    QCOMPARE(msg.isRouted(), f.routed);
    QCOMPARE(msg.windowBit(), f.window);
    QCOMPARE(msg.isEvent(), f.event);
    QCOMPARE(msg.functionId(), f.functionId);
    QCOMPARE(msg.requestId(), f.requestId);
    QCOMPARE(f.response ? int(msg.responseCode()) : int(msg.privilege()), f.privilegeOrCode);
    QCOMPARE(msg.noResponse(), f.noResponse);
    QCOMPARE(msg.retransmit(), f.retransmit);
    QCOMPARE(msg.routeAddress(), f.routeAddress);
    QCOMPARE(msg.routeBytes(), f.routeBytes);
    QCOMPARE(msg.payload(), f.payload);
}

// Request 5 -> 7, function 16, request id 3, privilege 3, payload 01 02.
Fields exampleRequest()
{
    return Fields{7, 5, false, false, false, false, 16, 3, QErfc::Developer, false, false, 0, {},
                  hex("0102")};
}

const char* const exampleRequestFrame = "1C58103C01021767";
const char* const exampleResponseFrame = "14701030DB09";

// XORs the payload with 0x55; refuses to decrypt when told to.
class XorCipher : public QErfcCrypto
{
public:
    void encrypt(quint32, const QByteArray& plain, QByteArray* out) override
    {
        ++encrypted;
        *out = scramble(plain);
    }
    bool decrypt(quint32, const QByteArray& raw, QByteArray* out) override
    {
        ++decrypted;
        if (refuse)
            return false;
        *out = scramble(raw);
        return true;
    }
    static QByteArray scramble(QByteArray bytes)
    {
        for (char& c : bytes)
            c ^= 0x55;
        return bytes;
    }
    bool refuse = false;
    int encrypted = 0;
    int decrypted = 0;
};

} // namespace

Q_DECLARE_METATYPE(Fields)

class tst_QErfcMsg : public QObject
{
    Q_OBJECT

private slots:
    void crc_data();
    void crc();
    void encodeDecode_data();
    void encodeDecode();
    void decodeRefuses_data();
    void decodeRefuses();
    void crcErrorStillDecodes();
    void makeResponse_data();
    void makeResponse();
    void makeResponseRefuses_data();
    void makeResponseRefuses();
    void toString_data();
    void toString();
    void fromRequest();
    void fromDatagram();
    void fromEmitEvent_data();
    void fromEmitEvent();
    void cipherAboveFifteen_data();
    void cipherAboveFifteen();
};

void tst_QErfcMsg::crc_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("crc");
    QTest::newRow("check string") << QByteArray("123456789") << 0x4B37;
    QTest::newRow("empty") << QByteArray() << 0xFFFF;
    QTest::newRow("example header") << hex("1C58103C0102") << 0x1767;
    QTest::newRow("example answer header") << hex("14701030") << 0xDB09;
}

void tst_QErfcMsg::crc()
{
    QFETCH(QByteArray, data);
    QFETCH(int, crc);
    QCOMPARE(int(QErfcCrc16::calculate(data)), crc);
    // A length limits the bytes covered; one beyond the data means all of it.
    QCOMPARE(int(QErfcCrc16::calculate(data + "xyz", data.size())), crc);
    QCOMPARE(int(QErfcCrc16::calculate(data, data.size() + 10)), crc);
    // Fed in two pieces.
    const auto* bytes = reinterpret_cast<const uchar*>(data.constData());
    quint16 pieces;
    QErfcCrc16::init(&pieces);
    QErfcCrc16::update(bytes, uint(data.size() / 2), &pieces);
    QErfcCrc16::update(bytes + data.size() / 2, uint(data.size() - data.size() / 2), &pieces);
    QCOMPARE(int(pieces), crc);
}

void tst_QErfcMsg::encodeDecode_data()
{
    QTest::addColumn<Fields>("fields");
    QTest::addColumn<QByteArray>("frame");
    // Fields: destination, source, response, routed, window, event, function id,
    // request id, privilege or code, no-response, retransmit, route address,
    // route bytes, payload.
    QTest::newRow("example request") << exampleRequest() << hex(exampleRequestFrame);
    QTest::newRow("example answer, 6 bytes")
        << Fields{5, 7, true, false, false, false, 16, 3, 0, false, false, 0, {}, {}}
        << hex(exampleResponseFrame);
    QTest::newRow("routed, two route bytes")
        << Fields{7, 5, false, true, false, false, 16, 3, 3, false, false, 9, hex("0B0C"), hex("AA01")}
        << hex("1C5C103C890B0CAA013C23");
    QTest::newRow("routed, no route bytes, 7 bytes")
        << Fields{7, 5, false, true, false, false, 16, 0, 0, false, false, 9, {}, {}}
        << hex("1C5C1000095126");
    QTest::newRow("event with window bit")
        << Fields{7, 5, false, false, true, true, 20, 1, 0, false, false, 0, {}, {}}
        << hex("1C5A9410AB48");
    QTest::newRow("wire code 11")
        << Fields{5, 7, true, false, false, false, 16, 3, QErfc::ConnectionError, false, false, 0, {}, {}}
        << hex("1470103B1C48");
}

void tst_QErfcMsg::encodeDecode()
{
    QFETCH(Fields, fields);
    QFETCH(QByteArray, frame);

    QErfcMsg out;
    apply(fields, out);
    QCOMPARE(out.encode().toHex(' ').toUpper(), frame.toHex(' ').toUpper());

    QErfcMsg in;
    QVERIFY(in.decode(frame));
    QVERIFY(!in.crcError());
    verifyFields(in, fields);
    // Re-encoding what was decoded gives the same bytes (a forwarded frame is unchanged).
    QCOMPARE(in.encode().toHex(' ').toUpper(), frame.toHex(' ').toUpper());
}

void tst_QErfcMsg::decodeRefuses_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("5 bytes") << hex("1470103000");
    QTest::newRow("43 bytes") << QByteArray(43, '\x01');
    // Routed frames whose route info or route bytes would lie in the CRC.
    QTest::newRow("routed, 6 bytes") << hex("1C5C100066CA");
    QTest::newRow("routed, 7 bytes, one route byte") << hex("1C5C100049A127");
    QTest::newRow("routed, 8 bytes, three route bytes") << hex("1C5C1000C9011234");
    QTest::newRow("routed, 9 bytes, three route bytes") << hex("1C5C1000C90102F15B");
}

void tst_QErfcMsg::decodeRefuses()
{
    QFETCH(QByteArray, frame);
    QErfcMsg msg;
    QVERIFY(msg.decode(hex(exampleRequestFrame)));
    QVERIFY(!msg.decode(frame));
    // Nothing changed.
    verifyFields(msg, exampleRequest());
    QVERIFY(!msg.crcError());
}

void tst_QErfcMsg::crcErrorStillDecodes()
{
    QByteArray frame = hex(exampleRequestFrame);
    frame[5] = char(0x03);
    QErfcMsg msg;
    QVERIFY(msg.decode(frame));
    QVERIFY(msg.crcError());
    Fields expected = exampleRequest();
    expected.payload = hex("0103");
    verifyFields(msg, expected);

    // A good frame decoded into the same message clears the mark.
    QVERIFY(msg.decode(hex(exampleRequestFrame)));
    QVERIFY(!msg.crcError());
}

void tst_QErfcMsg::makeResponse_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("answer");
    QTest::newRow("example") << hex(exampleRequestFrame) << hex(exampleResponseFrame);
    // Event bit, event id, window bit and request id carried over.
    QTest::newRow("event") << hex("1C5A9410AB48") << hex("14729410C3CA");
}

void tst_QErfcMsg::makeResponse()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, answer);
    QErfcMsg in;
    QVERIFY(in.decode(request));
    QErfcMsg out;
    QVERIFY(in.makeResponse(&out));
    QCOMPARE(out.encode().toHex(' '), answer.toHex(' '));

    QErfcMsg back;
    QVERIFY(back.decode(answer));
    QVERIFY(back.isResponse());
    QCOMPARE(back.destination(), in.source());
    QCOMPARE(back.source(), in.destination());
    QCOMPARE(back.functionId(), in.functionId());
    QCOMPARE(back.requestId(), in.requestId());
    QCOMPARE(back.isEvent(), in.isEvent());
    QCOMPARE(back.windowBit(), in.windowBit());
    QCOMPARE(back.responseCode(), QErfc::OK);
    QVERIFY(back.payload().isEmpty());
}

void tst_QErfcMsg::makeResponseRefuses_data()
{
    QTest::addColumn<Fields>("fields");
    Fields f = exampleRequest();
    f.response = true;
    f.privilegeOrCode = 0;
    QTest::newRow("a response") << f;
    f = exampleRequest();
    f.destination = 63;
    QTest::newRow("to 63") << f;
    f = exampleRequest();
    f.source = 63;
    QTest::newRow("from 63") << f;
    f = exampleRequest();
    f.noResponse = true;
    QTest::newRow("no-response") << f;
}

void tst_QErfcMsg::makeResponseRefuses()
{
    QFETCH(Fields, fields);
    QErfcMsg msg;
    apply(fields, msg);
    QErfcMsg answer;
    QVERIFY(!msg.makeResponse(&answer));
}

void tst_QErfcMsg::toString_data()
{
    QTest::addColumn<Fields>("fields");
    QTest::addColumn<bool>("received");
    QTest::addColumn<QString>("text");

    QTest::newRow("received request") << exampleRequest() << true
        << "RX:REQ   ADDR= 5, FID= 16, RQID= 3, WIN=0, PRIV= 3, LEN= 2 [0102]";
    QTest::newRow("sent request") << exampleRequest() << false
        << "TX:REQ   ADDR= 7, FID= 16, RQID= 3, WIN=0, PRIV= 3, LEN= 2 [0102]";
    QTest::newRow("broadcast")
        << Fields{63, 5, false, false, false, false, 2, 0, 0, true, false, 0, {}, {}} << false
        << "TX:REQ#  ADDR=63, FID=  2, RQID= 0, WIN=0, PRIV= 0, LEN= 0 []";
    QTest::newRow("no-response, retransmitted")
        << Fields{7, 5, false, false, true, false, 100, 15, 1, true, true, 0, {}, hex("abcdef")}
        << false << "TX:REQ!$ ADDR= 7, FID=100, RQID=15, WIN=1, PRIV= 1, LEN= 3 [ABCDEF]";
    QTest::newRow("retransmitted")
        << Fields{7, 5, false, false, false, false, 16, 3, 3, false, true, 0, {}, hex("0102")}
        << true << "RX:REQ $ ADDR= 5, FID= 16, RQID= 3, WIN=0, PRIV= 3, LEN= 2 [0102]";
    // The retransmit bit has no meaning in a response.
    QTest::newRow("response")
        << Fields{5, 7, true, false, false, false, 16, 3, QErfc::Busy, false, true, 0, {}, hex("0a")}
        << true << "RX:RSP   ADDR= 7, FID= 16, RQID= 3, WIN=0, RSPC= 7, LEN= 1 [0A]";
    QTest::newRow("event")
        << Fields{7, 5, false, false, false, true, 20, 1, 0, false, false, 0, {}, {}}
        << true << "RX:REQ   ADDR= 5, EID= 20, RQID= 1, WIN=0, PRIV= 0, LEN= 0 []";
}

void tst_QErfcMsg::toString()
{
    QFETCH(Fields, fields);
    QFETCH(bool, received);
    QFETCH(QString, text);
    QErfcMsg msg;
    apply(fields, msg);
    QCOMPARE(msg.toString(received), text);
}

void tst_QErfcMsg::fromRequest()
{
    QErfcRequest request(7, 16, hex("0102"));
    request.setRetries(5);
    request.setTimeout(100);
    // An answer from an earlier sending is forgotten by the new frame.
    QVERIFY(QErfcRequestPrivate::get(&request)->m_handle->complete(7, 16, QErfc::OK, hex("99")));
    QVERIFY(!request.response().isNull());

    QErfcMsg msg(&request, 5);
    QVERIFY(request.response().isNull());
    QVERIFY(!request.waitForResponse(0));
    QCOMPARE(msg.request(), &request);
    QCOMPARE(msg.header(), 0x1C581000u); // 5 -> 7, function 16
    QCOMPARE(msg.payload(), hex("0102"));
    QCOMPARE(msg.retries(), quint8(5));
    QCOMPARE(msg.timeout(), quint8(100));

    // A copy carries the same request.
    QErfcMsg copy(msg);
    QCOMPARE(copy.request(), &request);

    // A no-response request is not kept, and its frame leaves the bit clear.
    request.setNoResponse(true);
    QErfcMsg silent(&request, 5);
    QVERIFY(!silent.hasRequest());
    QCOMPARE(silent.header(), 0x1C581000u);
}

void tst_QErfcMsg::fromDatagram()
{
    QErfcDatagram datagram(9, 33, hex("0405"));
    QErfcMsg msg(&datagram, 5);
    QCOMPARE(msg.header(), 0x24582102u); // 5 -> 9, function 33, no-response
    QCOMPARE(msg.payload(), hex("0405"));
    QCOMPARE(msg.retries(), quint8(0));
    QCOMPARE(msg.timeout(), quint8(0));
    QVERIFY(!msg.hasRequest());
}

void tst_QErfcMsg::fromEmitEvent_data()
{
    QTest::addColumn<quint32>("deliveryType");
    QTest::addColumn<quint32>("header"); // 5 -> 12, event 21
    QTest::newRow("normal") << quint32(QErfcSubscriber::Normal) << 0x30589500u;
    QTest::newRow("datagram") << quint32(QErfcSubscriber::Datagram) << 0x30589502u;
    QTest::newRow("broadcast") << quint32(QErfcSubscriber::Broadcast) << 0x30589502u;
}

void tst_QErfcMsg::fromEmitEvent()
{
    QFETCH(quint32, deliveryType);
    QFETCH(quint32, header);
    QErfcEmitEvent event(21, hex("07"));
    QErfcSubscriber subscriber;
    subscriber.address = 12;
    subscriber.eventId = 21;
    subscriber.deliveryType = deliveryType;
    subscriber.retries = 2;
    subscriber.timeout = 40;

    QErfcMsg msg(&event, 5, subscriber);
    QCOMPARE(msg.header(), header);
    QCOMPARE(msg.payload(), hex("07"));
    QCOMPARE(msg.retries(), quint8(2));
    QCOMPARE(msg.timeout(), quint8(40));
}

void tst_QErfcMsg::cipherAboveFifteen_data()
{
    QTest::addColumn<int>("functionId");
    QTest::addColumn<bool>("ciphered");
    QTest::newRow("15") << 15 << false;
    QTest::newRow("16") << 16 << true;
    QTest::newRow("127") << 127 << true;
}

void tst_QErfcMsg::cipherAboveFifteen()
{
    QFETCH(int, functionId);
    QFETCH(bool, ciphered);
    Fields f = exampleRequest();
    f.functionId = quint8(functionId);
    QErfcMsg msg;
    apply(f, msg);

    XorCipher cipher;
    const QByteArray frame = msg.encode(&cipher);
    QCOMPARE(frame.mid(4, 2), ciphered ? XorCipher::scramble(f.payload) : f.payload);
    QCOMPARE(cipher.encrypted, ciphered ? 1 : 0);

    QErfcMsg in;
    QVERIFY(in.decode(frame, &cipher));
    QVERIFY(!in.crcError());
    QCOMPARE(in.payload(), f.payload);
    QCOMPARE(cipher.decrypted, ciphered ? 1 : 0);

    // A payload the cipher refuses counts as a CRC error.
    cipher.refuse = true;
    QVERIFY(in.decode(frame, &cipher));
    QCOMPARE(in.crcError(), ciphered);
    QCOMPARE(in.functionId(), quint8(functionId));
}

QTEST_GUILESS_MAIN(tst_QErfcMsg)
#include "tst_qerfcmsg.moc"
