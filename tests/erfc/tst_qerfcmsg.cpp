#include "qerfccrc16.h"
#include "qerfccrypto.h"
#include "qerfcmsg.h"
#include "qerfcrequest.h"

#include <QtTest>

namespace {

QByteArray hex(const char* text) { return QByteArray::fromHex(text); }

// Request 5 -> 7, function 16, request id 3, privilege 3, payload 01 02, and its answer.
const char* const exampleRequest = "1C58103C01021767";
const char* const exampleAnswer = "14701030DB09";

// XORs the payload with 0x55; refuses to decrypt when told to.
struct XorCipher : QErfcCrypto
{
    void encrypt(quint32, const QByteArray& plain, QByteArray* out) override
    {
        *out = plain;
        for (char& c : *out)
            c ^= 0x55;
    }
    bool decrypt(quint32 header, const QByteArray& raw, QByteArray* out) override
    {
        encrypt(header, raw, out);
        return !refuse;
    }
    bool refuse = false;
};

} // namespace

class tst_QErfcMsg : public QObject
{
    Q_OBJECT

private slots:
    void decodeEncode_data();
    void decodeEncode();
    void decodeRefuses_data();
    void decodeRefuses();
    void crcErrorStillDecodes();
    void makeResponse_data();
    void makeResponse();
    void cipherAboveFifteen();
};

void tst_QErfcMsg::decodeEncode_data()
{
    // A frame, what it reads as (toString, "RX" rows as received), and for
    // routed frames the route address byte followed by the route bytes.
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("route");
    const QByteArray none;
    QTest::newRow("request") << hex(exampleRequest)
                             << "RX:REQ   ADDR= 5, FID= 16, RQID= 3, WIN=0, PRIV= 3, LEN= 2 [0102]" << none;
    QTest::newRow("answer") << hex(exampleAnswer)
                            << "RX:RSP   ADDR= 7, FID= 16, RQID= 3, WIN=0, RSPC= 0, LEN= 0 []" << none;
    QTest::newRow("wire code 11") << hex("1470103B1C48")
                                  << "RX:RSP   ADDR= 7, FID= 16, RQID= 3, WIN=0, RSPC=16, LEN= 0 []" << none;
    QTest::newRow("routed, 7 bytes") << hex("1C5C1000095126")
                                     << "RX:REQ   ADDR= 5, FID= 16, RQID= 0, WIN=0, PRIV= 0, LEN= 0 []" << hex("09");
    // The longest frames: 42 bytes, routed with three route bytes or not.
    QTest::newRow("routed, 42 bytes")
        << hex("1C5C103CC90B0C0D000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F7679")
        << "RX:REQ   ADDR= 5, FID= 16, RQID= 3, WIN=0, PRIV= 3, LEN=32 "
           "[000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F]"
        << hex("090B0C0D");
    QTest::newRow("unrouted, 42 bytes")
        << hex("1C58103C202122232425262728292A2B2C2D2E2F303132333435363738393A3B3C3D3E3F40414243EBDA")
        << "RX:REQ   ADDR= 5, FID= 16, RQID= 3, WIN=0, PRIV= 3, LEN=36 "
           "[202122232425262728292A2B2C2D2E2F303132333435363738393A3B3C3D3E3F40414243]"
        << none;
    QTest::newRow("event") << hex("1C5A9410AB48")
                           << "RX:REQ   ADDR= 5, EID= 20, RQID= 1, WIN=1, PRIV= 0, LEN= 0 []" << none;
    QTest::newRow("broadcast") << hex("FC5802020631")
                               << "TX:REQ#  ADDR=63, FID=  2, RQID= 0, WIN=0, PRIV= 0, LEN= 0 []" << none;
    QTest::newRow("no-response, retransmitted") << hex("1C5A64F7ABCDEF7BED")
        << "TX:REQ!$ ADDR= 7, FID=100, RQID=15, WIN=1, PRIV= 1, LEN= 3 [ABCDEF]" << none;
}

void tst_QErfcMsg::decodeEncode()
{
    QFETCH(QByteArray, frame);
    QFETCH(QString, text);
    QFETCH(QByteArray, route);
    QErfcMsg msg;
    QVERIFY(msg.decode(frame));
    QVERIFY(!msg.crcError());
    QCOMPARE(msg.toString(text.startsWith("RX")), text);
    QCOMPARE(msg.isRouted(), !route.isEmpty());
    if (msg.isRouted())
        QCOMPARE(char(msg.routeAddress()) + msg.routeBytes(), route);
    // Re-encoding gives the same bytes: a forwarded frame leaves unchanged.
    QCOMPARE(msg.encode().toHex(' '), frame.toHex(' '));
}

void tst_QErfcMsg::decodeRefuses_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("5 bytes") << hex("1470103000");
    QTest::newRow("43 bytes") << QByteArray(43, '\x01');
    // Routed frames whose route info or route bytes would lie in the CRC.
    QTest::newRow("routed, 6 bytes") << hex("1C5C100066CA");
    QTest::newRow("routed, 7 bytes, one route byte") << hex("1C5C100049A127");
    QTest::newRow("routed, 9 bytes, three route bytes") << hex("1C5C1000C90102F15B");
}

void tst_QErfcMsg::decodeRefuses()
{
    QFETCH(QByteArray, frame);
    QErfcMsg msg;
    QVERIFY(msg.decode(hex(exampleRequest)));
    QVERIFY(!msg.decode(frame));
    QCOMPARE(msg.encode(), hex(exampleRequest)); // unchanged
}

void tst_QErfcMsg::crcErrorStillDecodes()
{
    QByteArray frame = hex(exampleRequest);
    frame[5] = char(0x03);
    QErfcMsg msg;
    QVERIFY(msg.decode(frame));
    QVERIFY(msg.crcError());
    QCOMPARE(msg.payload(), hex("0103"));
    QVERIFY(msg.decode(hex(exampleRequest)));
    QVERIFY(!msg.crcError());
}

void tst_QErfcMsg::makeResponse_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("answer"); // empty: may not be answered
    QTest::newRow("example") << hex(exampleRequest) << hex(exampleAnswer);
    // Event bit, event id, window bit and request id carried over.
    QTest::newRow("event") << hex("1C5A9410AB48") << hex("14729410C3CA");
    QTest::newRow("a response") << hex(exampleAnswer) << QByteArray();
    QTest::newRow("to 63") << hex("FC58103C01027771") << QByteArray();
    QTest::newRow("from 63") << hex("1FF8103C01023DE7") << QByteArray();
    QTest::newRow("no-response") << hex("1C58103E0102D7C6") << QByteArray();
}

void tst_QErfcMsg::makeResponse()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, answer);
    QErfcMsg in;
    QVERIFY(in.decode(request));
    QErfcMsg out;
    QCOMPARE(in.makeResponse(&out), !answer.isEmpty());
    if (!answer.isEmpty())
        QCOMPARE(out.encode().toHex(' '), answer.toHex(' '));
}

void tst_QErfcMsg::cipherAboveFifteen()
{
    for (const quint8 functionId : {15, 16}) {
        const bool ciphered = functionId > 15;
        QErfcMsg msg;
        QVERIFY(msg.decode(hex(exampleRequest)));
        msg.setFunctionId(functionId);
        XorCipher cipher;
        const QByteArray frame = msg.encode(&cipher);
        QCOMPARE(frame.mid(4, 2), ciphered ? hex("5457") : hex("0102"));
        QVERIFY(msg.decode(frame, &cipher));
        QVERIFY(!msg.crcError());
        QCOMPARE(msg.payload(), hex("0102"));
        // A payload the cipher refuses counts as a CRC error.
        cipher.refuse = true;
        QVERIFY(msg.decode(frame, &cipher));
        QCOMPARE(msg.crcError(), ciphered);
    }
}

QTEST_GUILESS_MAIN(tst_QErfcMsg)
#include "tst_qerfcmsg.moc"
