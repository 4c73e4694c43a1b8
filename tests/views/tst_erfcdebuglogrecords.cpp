// Debug-log records: reassembly from event payloads, and the nine fields.

#include "erfcdebuglogentry.h"
#include "erfcdebuglogreassembler_p.h"

#include <QDateTime>
#include <QtTest>

using Payloads = QList<QByteArray>;

namespace {

// Record A: flags 2, colour 3, timestamp 1234, "CORE", "main.c", "init",
// line 42, "ctx", "Hello"; 40 bytes with its STX and GS.
const QByteArray RecordA = QByteArray::fromHex(
    "02320333033132333403434f5245036d61696e2e6303696e697403343203637478034865"
    "6c6c6f1d");
const QString FieldsA = QStringLiteral("2\x03" "3\x03" "1234\x03" "CORE\x03" "main.c\x03" "init\x03"
                                       "42\x03" "ctx\x03" "Hello");

} // namespace

class TestErfcDebugLogRecords : public QObject
{
    Q_OBJECT
private slots:
    void reassembly_data();
    void reassembly();
    void cap();
    void gap();
    void fields_data();
    void fields();
};

void TestErfcDebugLogRecords::reassembly_data()
{
    QTest::addColumn<Payloads>("payloads");
    // Records completed by each payload, and all records in order.
    QTest::addColumn<QList<int>>("completed");
    QTest::addColumn<QStringList>("records");
    QTest::addColumn<QString>("left");

    QCOMPARE(RecordA.size(), 40);
    QTest::newRow("three events, one record at the third")
        << Payloads{RecordA.left(12), RecordA.mid(12, 15), RecordA.mid(27)} << QList<int>{0, 0, 1}
        << QStringList{FieldsA} << QString();
    QTest::newRow("a NUL ends the payload's text")
        << Payloads{RecordA.left(20) + QByteArray("\0\x1dZZ", 4), RecordA.mid(20)} << QList<int>{0, 1}
        << QStringList{FieldsA} << QString();
    QTest::newRow("noise, then two records in one event, both at once")
        << Payloads{QByteArray("xy\x02one\x1d\x02two\x1d\x02thr")} << QList<int>{2}
        << QStringList{"one", "two"} << QStringLiteral("\x02thr");
    QTest::newRow("a character split across events arrives whole")
        << Payloads{"\x02" "caf\xc3", "\xa9\xe2\x82", "\xac\x1d"} << QList<int>{0, 0, 1}
        << QStringList{QStringLiteral("caf\u00e9\u20ac")} << QString();
    QTest::newRow("invalid bytes become replacement characters")
        << Payloads{"\x02" "a\xff" "b\x1d"} << QList<int>{1} << QStringList{QStringLiteral("a\ufffdb")}
        << QString();
    QTest::newRow("a second STX is field text")
        << Payloads{"\x02" "a\x02" "b\x1d"} << QList<int>{1} << QStringList{QStringLiteral("a\x02" "b")}
        << QString();
    QTest::newRow("a GS with no STX empties the buffer")
        << Payloads{"tail\x1d" "more"} << QList<int>{0} << QStringList() << QString();
}

void TestErfcDebugLogRecords::reassembly()
{
    QFETCH(Payloads, payloads);
    QFETCH(QList<int>, completed);
    QFETCH(QStringList, records);
    QFETCH(QString, left);

    ErfcDebugLogReassembler reassembler;
    QStringList all;
    for (int i = 0; i < payloads.size(); ++i) {
        const QStringList got = reassembler.feed(payloads.at(i));
        QCOMPARE(got.size(), completed.at(i));
        all += got;
    }
    QCOMPARE(all, records);
    QCOMPARE(reassembler.buffer(), left);
}

void TestErfcDebugLogRecords::cap()
{
    // Past the cap without a GS, the partial record goes; a later STX that
    // fits starts over.
    ErfcDebugLogReassembler small(16);
    QVERIFY(small.feed("\x02" + QByteArray(12, 'x')).isEmpty());
    QCOMPARE(small.buffer().size(), 13);
    QVERIFY(small.feed(QByteArray(4, 'x') + "\x02yy").isEmpty());
    QCOMPARE(small.buffer(), QStringLiteral("\x02yy"));
    QVERIFY(small.feed(QByteArray(20, 'z')).isEmpty());
    QCOMPARE(small.buffer(), QString());
    QCOMPARE(small.feed("\x02ok\x1d"), QStringList{"ok"});

    // The default cap: a node that never ends its record holds at most
    // 64 Ki characters, and the next whole record still comes through.
    ErfcDebugLogReassembler endless;
    endless.feed("\x02");
    for (int i = 0; i < 3000; ++i) {
        endless.feed(QByteArray(32, 'x'));
        QVERIFY(endless.buffer().size() <= ErfcDebugLogReassembler::DefaultCap);
    }
    QCOMPARE(endless.feed("\x02" "a\x1d"), QStringList{"a"});
}

void TestErfcDebugLogRecords::gap()
{
    // Payloads were lost: the record they cut is not joined to what follows.
    ErfcDebugLogReassembler reassembler;
    QVERIFY(reassembler.feed("\x02" "a\x03" "b\xc3").isEmpty());
    reassembler.restart();
    QCOMPARE(reassembler.feed("c\x1d\x02" "d\x1d"), QStringList{"d"});
}

void TestErfcDebugLogRecords::fields_data()
{
    QTest::addColumn<QString>("record");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<int>("flags");
    QTest::addColumn<int>("colour");
    QTest::addColumn<quint64>("timestamp");
    QTest::addColumn<uint>("line");
    QTest::addColumn<QStringList>("texts"); // module, file, function, context, text

    const auto rec = [](const QStringList& fields) { return fields.join(QChar(0x03)); };
    const auto same = [](int n, const QString& field) { return QVector<QString>(n, field).toList(); };
    QTest::newRow("record A") << FieldsA << true << 2 << 3 << quint64(1234) << 42u
                              << QStringList{"CORE", "main.c", "init", "ctx", "Hello"};
    QTest::newRow("numbers: low 8 bits, spaces, junk, overflow")
        << rec({" 258 ", "x", "4294967296", "m", "f", "fn", "-1", "c", "t"}) << true << 2 << 0
        << quint64(0) << 0u << QStringList{"m", "f", "fn", "c", "t"};
    QTest::newRow("signs and other bases read 0, largest 32 bits")
        << rec({"+1", "0x3", "4294967295", "", "", "", " 7\t", "", ""}) << true << 0 << 0 << quint64(4294967295u)
        << 7u << QStringList{"", "", "", "", ""};
    QTest::newRow("ten fields") << rec(same(10, "1")) << false << 0 << 0
                                << quint64(0) << 0u << QStringList();
    QTest::newRow("eight fields") << rec(same(8, "1")) << false << 0 << 0
                                  << quint64(0) << 0u << QStringList();
}

void TestErfcDebugLogRecords::fields()
{
    QFETCH(QString, record);
    QFETCH(bool, accepted);

    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    ErfcDebugLogEntry entry(9, 9, 9, "-", "-", "-", 9, "-", "-");
    QCOMPARE(ErfcDebugLogEntry::fromRecord(record, &entry), accepted);
    if (!accepted)
        return;
    QFETCH(int, flags);
    QFETCH(int, colour);
    QFETCH(quint64, timestamp);
    QFETCH(uint, line);
    QFETCH(QStringList, texts);
    QCOMPARE(int(entry.flags), flags);
    QCOMPARE(int(entry.colour), colour);
    QCOMPARE(entry.timestamp, timestamp);
    QCOMPARE(uint(entry.line), line);
    QCOMPARE((QStringList{entry.module, entry.file, entry.function, entry.context, entry.text}), texts);
    QVERIFY(entry.systemTime >= before && entry.systemTime <= QDateTime::currentMSecsSinceEpoch());
}

QTEST_GUILESS_MAIN(TestErfcDebugLogRecords)
#include "tst_erfcdebuglogrecords.moc"
