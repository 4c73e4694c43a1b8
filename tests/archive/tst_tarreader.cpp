#include "tarreader.h"

#include <QtTest>

namespace {

// One 512-byte tar header; the size field is raw bytes so that malformed ones
// can be written.
QByteArray header(const QByteArray& name, const QByteArray& sizeField, const QByteArray& mode = "0000644")
{
    QByteArray h(512, '\0');
    h.replace(0, qMin(name.size(), 100), name.left(100));
    h.replace(100, mode.size(), mode);
    h.replace(124, qMin(sizeField.size(), 12), sizeField.left(12));
    h.replace(257, 6, QByteArray("ustar\0", 6));
    return h;
}

QByteArray octal(qint64 size)
{
    return QByteArray::number(size, 8).rightJustified(11, '0');
}

// Header, data, padding to 512.
QByteArray member(const QByteArray& name, const QByteArray& data)
{
    return header(name, octal(data.size())) + data + QByteArray((512 - data.size() % 512) % 512, '\0');
}

const QByteArray endBlocks(1024, '\0');

QByteArray gzip(const QByteArray& data, int level = 6)
{
    QByteArray out;
    if (!gzipCompress(data, out, level))
        qFatal("gzipCompress failed");
    return out;
}

QStringList names(const QList<TarEntry>& entries)
{
    QStringList list;
    for (const TarEntry& e : entries)
        list << e.name;
    return list;
}

} // namespace

class tst_TarReader : public QObject
{
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
    void fieldsAndNames();
    void gzipRoundTrip_data();
    void gzipRoundTrip();
    void gunzip_data();
    void gunzip();
    void gunzipCap();
    void readTarGz();
};

void tst_TarReader::parse_data()
{
    QTest::addColumn<QByteArray>("tar");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QList<int>>("sizes");

    QTest::newRow("empty") << QByteArray() << true << QStringList() << QList<int>();
    QTest::newRow("tree and name forms")
        << member("./", "") + member("./main.js", "print(1)") + member("/abs", "b") + member("../up", "c") + endBlocks
        << true << QStringList{"/", "/main.js", "/abs", "/../up"} << QList<int>{0, 8, 1, 1};
    QTest::newRow("only end blocks") << endBlocks << false << QStringList() << QList<int>();
    QTest::newRow("700 bytes then another") << member("a", QByteArray(700, 'x')) + member("b", "yz") + endBlocks
                                            << true << QStringList{"/a", "/b"} << QList<int>{700, 2};
    QTest::newRow("data ending in NULs") << header("n", octal(4)) + QByteArray("ab\0\0", 4) + QByteArray(508, '\0')
                                         << true << QStringList{"/n"} << QList<int>{4};
    QTest::newRow("no rounding to blocks") << header("a", octal(3)) + "abc" + member("b", "d") << true
                                           << QStringList{"/a", "/b"} << QList<int>{3, 1};
    QTest::newRow("spaces around size") << header("s", "   3 ") + "abc" + header("t", "2 ") + "de" << true
                                        << QStringList{"/s", "/t"} << QList<int>{3, 2};
    QTest::newRow("digit 9 in size") << member("a", "x") + header("b", "00000000009") << false << QStringList{"/a"}
                                     << QList<int>{1};
    QTest::newRow("size of 2^32") << header("big", "40000000000") << false << QStringList() << QList<int>();
    QTest::newRow("size 2^32-1 clamped") << header("big", "37777777777") + QByteArray(600, 'p') << true
                                         << QStringList{"/big"} << QList<int>{600};
    QTest::newRow("data cut short") << member("a", "x") + header("b", octal(1000)) + "short" << true
                                    << QStringList{"/a", "/b"} << QList<int>{1, 5};
    QTest::newRow("ends inside header") << member("a", "x") + header("b", octal(10)).left(300) << true
                                        << QStringList{"/a", "/b"} << QList<int>{1, 0};
    QTest::newRow("short header without size") << member("a", "x") + QByteArray("garbage") << false
                                               << QStringList{"/a"} << QList<int>{1};
}

void tst_TarReader::parse()
{
    QFETCH(QByteArray, tar);
    for (bool initial : {true, false}) { // the flag is always written
        bool ok = initial;
        const QList<TarEntry> entries = parseTar(tar, &ok);
        QTEST(ok, "ok");
        QTEST(names(entries), "names");
        QList<int> sizes;
        for (const TarEntry& e : entries)
            sizes << e.data.size();
        QTEST(sizes, "sizes");
    }
}

void tst_TarReader::fieldsAndNames()
{
    const QByteArray longName(100, 'n');
    const QByteArray tar = header(longName, octal(4), "0000755") + "data" + QByteArray(508, '\0')
                           + member("./dup", "1") + header("dup", octal(1)) + "2";
    bool ok = false;
    const QList<TarEntry> entries = parseTar(tar, &ok);
    QVERIFY(ok);
    QCOMPARE(names(entries), (QStringList{"/" + QString::fromLatin1(longName), "/dup", "/dup"}));
    QCOMPARE(entries[0].mode, QStringLiteral("0000755"));
    QCOMPARE(entries[0].data, QByteArray("data"));
    // By name, the later member wins.
    const QHash<QString, TarEntry> table = tarEntriesByName(entries);
    QCOMPARE(table.size(), 2);
    QCOMPARE(table.value("/dup").data, QByteArray("2"));
}

void tst_TarReader::gzipRoundTrip_data()
{
    QTest::addColumn<int>("level");
    for (int level : {-1, 0, 9, 12})
        QTest::addRow("level %d", level) << level;
}

void tst_TarReader::gzipRoundTrip()
{
    QFETCH(int, level);
    // Several input and output chunks, compressible and not.
    QByteArray input;
    quint32 x = 12345;
    for (int i = 0; i < 100000; ++i) {
        x = x * 1103515245 + 12345;
        input.append(char(i % 3 ? 'a' + i % 7 : int(x >> 24)));
    }
    QByteArray packed;
    QVERIFY(gzipCompress(input, packed, level));
    QCOMPARE(packed.left(2), QByteArray("\x1f\x8b"));
    QByteArray unpacked;
    QVERIFY(gzipUncompress(packed, unpacked));
    QCOMPARE(unpacked, input);
    QVERIFY(gzipCompress(QByteArray(), packed, level));
    QVERIFY(packed.isEmpty());
}

void tst_TarReader::gunzip_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QByteArray>("output");

    const QByteArray first = gzip("first");
    const QByteArray big = gzip(QByteArray(100000, 'z'));
    QTest::newRow("empty") << QByteArray() << true << QByteArray();
    QTest::newRow("not gzip") << QByteArray("hello, world") << false << QByteArray();
    QTest::newRow("two members") << first + gzip("second") << true << QByteArray("first");
    QTest::newRow("trailing junk") << first + "junk" << true << QByteArray("first");
    QTest::newRow("cut short") << big.left(big.size() - 6) << false << QByteArray(100000, 'z');
    QTest::newRow("zlib wrapper refused") << qCompress("abc").mid(4) << false << QByteArray();
}

void tst_TarReader::gunzip()
{
    QFETCH(QByteArray, input);
    QByteArray output("stale");
    QTEST(gzipUncompress(input, output), "ok");
    QTEST(output, "output");
}

void tst_TarReader::gunzipCap()
{
    // A bomb: 4 MiB of zeros packs into a few kilobytes.
    const QByteArray zeros(4 * 1024 * 1024, '\0');
    const QByteArray bomb = gzip(zeros, 9);
    QByteArray output;
    QVERIFY(!gzipUncompress(bomb, output, 1024 * 1024));
    QVERIFY(output.size() <= 1024 * 1024);
    QVERIFY(gzipUncompress(bomb, output, zeros.size()));
    QCOMPARE(output.size(), zeros.size());
    QVERIFY(!gzipUncompress(bomb, output, zeros.size() - 1));
}

void tst_TarReader::readTarGz()
{
    bool ok = false;
    QCOMPARE(names(::readTarGz(gzip(member("./", "") + member("./main.js", "x") + endBlocks), &ok)),
             (QStringList{"/", "/main.js"}));
    QVERIFY(ok);
    QVERIFY(::readTarGz(member("a", "1"), &ok).isEmpty()); // not gzip
    QVERIFY(!ok);
    // A size field that is not octal: false, with the members before it.
    QCOMPARE(names(::readTarGz(gzip(member("a", "1") + header("b", "zz")), &ok)), QStringList{"/a"});
    QVERIFY(!ok);
}

QTEST_GUILESS_MAIN(tst_TarReader)
#include "tst_tarreader.moc"
