#include "tarreader.h"
#include "tarwriter.h"

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

// A record of the given type flag, padded to 512.
QByteArray typed(char type, const QByteArray& name, const QByteArray& data)
{
    QByteArray h = header(name, octal(data.size()));
    h[156] = type;
    return h + data + QByteArray((512 - data.size() % 512) % 512, '\0');
}

// A member whose header carries `prefix` in the ustar prefix field, under the
// given magic and version bytes.
QByteArray prefixed(const QByteArray& prefix, const QByteArray& name, const QByteArray& data,
                    const QByteArray& magic = QByteArray("ustar\0" "00", 8))
{
    QByteArray m = member(name, data);
    m.replace(257, 8, magic);
    m.replace(345, prefix.size(), prefix);
    return m;
}

// One extended header record: "LEN keyword=value\n", LEN counting itself.
QByteArray pax(const QByteArray& keyword, const QByteArray& value)
{
    const QByteArray body = " " + keyword + "=" + value + "\n";
    int length = body.size() + 1;
    while (QByteArray::number(length).size() + body.size() != length)
        ++length;
    return QByteArray::number(length) + body;
}

const QByteArray endBlocks(1024, '\0');

// A path of 122 characters, longer than the 100-byte name field.
const QByteArray longDir = QByteArray(57, 'd') + "/" + QByteArray(57, 'e');
const QByteArray longPath = longDir + "/mod.js";

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
    void longNamesAndMetadata_data();
    void longNamesAndMetadata();
    void gnuTarFormats_data();
    void gnuTarFormats();
    void splitAcrossPieces_data();
    void splitAcrossPieces();
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

void tst_TarReader::longNamesAndMetadata_data()
{
    QTest::addColumn<QByteArray>("tar");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QList<int>>("sizes");

    const QString longName = "/" + QString::fromLatin1(longPath);
    const QByteArray cut = "./" + longPath.left(98);
    QTest::newRow("gnu long name") << typed('L', "././@LongLink", "./" + longPath + '\0') + member(cut, "abc") + endBlocks
                                   << QStringList{longName} << QList<int>{3};
    QTest::newRow("gnu long name only for the next member")
        << typed('L', "././@LongLink", longPath + '\0') + member(cut, "abc") + member("b", "de")
        << QStringList{longName, "/b"} << QList<int>{3, 2};
    QTest::newRow("gnu long name without NUL") << typed('L', "././@LongLink", longPath) + member(cut, "abc")
                                               << QStringList{longName} << QList<int>{3};
    QTest::newRow("gnu long link name dropped") << typed('K', "././@LongLink", "target\0") + member("a", "x")
                                                << QStringList{"/a"} << QList<int>{1};
    QTest::newRow("pax path")
        << typed('x', "./PaxHeaders/mod.js", pax("mtime", "1.5") + pax("path", "./" + longPath) + pax("atime", "2"))
               + member(cut, "abc") + member("b", "de")
        << QStringList{longName, "/b"} << QList<int>{3, 2};
    QTest::newRow("pax without path") << typed('x', "./PaxHeaders/a", pax("mtime", "1.5")) + member("a", "abc")
                                      << QStringList{"/a"} << QList<int>{3};
    QTest::newRow("pax path over gnu long name")
        << typed('L', "././@LongLink", QByteArray("long\0")) + typed('x', "x", pax("path", "pax")) + member("h", "1")
        << QStringList{"/pax"} << QList<int>{1};
    QTest::newRow("global path for every member, replaced by the next global")
        << typed('g', "g", pax("path", "global")) + member("a", "1") + typed('x', "x", pax("path", "own"))
               + member("b", "2") + typed('g', "g", pax("comment", "c")) + member("c", "3")
        << QStringList{"/global", "/own", "/c"} << QList<int>{1, 1, 1};
    QTest::newRow("ustar prefix") << prefixed("./" + longDir, "mod.js", "abc") + prefixed(longDir, "s/", "")
                                  << QStringList{longName, "/" + QString::fromLatin1(longDir) + "/s/"}
                                  << QList<int>{3, 0};
    QTest::newRow("prefix ignored under gnu magic")
        << prefixed("atime", "a", "abc", QByteArray("ustar  \0", 8)) << QStringList{"/a"} << QList<int>{3};
    QTest::newRow("metadata at the end") << member("a", "1") + typed('L', "././@LongLink", "x\0") + endBlocks
                                         << QStringList{"/a"} << QList<int>{1};

    // Malformed extended records: the records before stay, the name falls
    // back to the header's.
    const QList<QPair<const char*, QByteArray>> malformed{
        {"length past the end", "99 path=far\n"},
        {"no newline", "12 path=abcd"},
        {"no equals sign", "9 pathx\n"},
        {"no length", "path=a\n"},
        {"length zero", "0 path=a\n"},
        {"huge length", "99999999999999999999999 path=a\n"},
        {"empty value", pax("path", "")},
        {"NUL in value", pax("path", QByteArray("\0evil", 5))},
    };
    for (const auto& m : malformed)
        QTest::addRow("pax %s", m.first) << typed('x', "x", m.second) + member("h", "1") << QStringList{"/h"}
                                         << QList<int>{1};
    QTest::newRow("pax after a malformed record") << typed('x', "x", "7 path\n" + pax("path", "p")) + member("h", "1")
                                                  << QStringList{"/h"} << QList<int>{1};
    QTest::newRow("pax path before a malformed record")
        << typed('x', "x", pax("path", "p") + "5 zz\n") + member("h", "1") << QStringList{"/p"} << QList<int>{1};
    QTest::newRow("oversized long name skipped")
        << typed('L', "././@LongLink", QByteArray((1 << 20) + 1, 'n')) + member("h", "1") << QStringList{"/h"}
        << QList<int>{1};
}

void tst_TarReader::longNamesAndMetadata()
{
    QFETCH(QByteArray, tar);
    QFETCH(QStringList, names);
    QFETCH(QList<int>, sizes);
    // Whole, and through gzip as it is read piece by piece.
    bool ok = false;
    QList<TarEntry> entries = parseTar(tar, &ok);
    QVERIFY(ok);
    QCOMPARE(::names(entries), names);
    QList<int> got;
    for (const TarEntry& e : entries)
        got << e.data.size();
    QCOMPARE(got, sizes);
    entries = ::readTarGz(gzip(tar), &ok);
    QVERIFY(ok);
    QCOMPARE(::names(entries), names);
}

void tst_TarReader::gnuTarFormats_data()
{
    QTest::addColumn<QString>("format");
    for (const char* format : {"gnu", "posix", "ustar"})
        QTest::newRow(format) << QString::fromLatin1(format);
}

void tst_TarReader::gnuTarFormats()
{
    QFETCH(QString, format);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString longFile = dir.path() + "/" + QString::fromLatin1(longPath);
    QVERIFY(QDir().mkpath(QFileInfo(longFile).path()));
    QFile file(longFile);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("exports.v = 1;");
    file.close();

    const QByteArray archive = gnuTarArchive(dir.path(), format);
    QVERIFY(!archive.isEmpty());
    bool ok = false;
    const QList<TarEntry> entries = ::readTarGz(archive, &ok);
    QVERIFY(ok);
    // Directories first, as tar walks the tree; no record of tar's own.
    const QString first = "/" + QString::fromLatin1(QByteArray(57, 'd')) + "/";
    QCOMPARE(::names(entries), (QStringList{"/", first, "/" + QString::fromLatin1(longDir) + "/",
                                            "/" + QString::fromLatin1(longPath)}));
    QCOMPARE(entries.last().data, QByteArray("exports.v = 1;"));
}

void tst_TarReader::splitAcrossPieces_data()
{
    QTest::addColumn<QList<int>>("sizes");
    // Sizes around the 32 KiB pieces in which the tar is inflated, so that
    // headers, data and padding fall across piece boundaries.
    QTest::newRow("around a piece") << QList<int>{32767, 1, 32768, 511, 0, 32769};
    QTest::newRow("header across pieces") << QList<int>{32768 - 512 - 100, 5, 70000};
    QTest::newRow("many small") << QVector<int>(300, 200).toList();
}

void tst_TarReader::splitAcrossPieces()
{
    QFETCH(QList<int>, sizes);
    QByteArray tar;
    for (int i = 0; i < sizes.size(); ++i) {
        QByteArray data(sizes[i], '\0');
        for (int j = 0; j < data.size(); ++j)
            data[j] = char('a' + (i * 7 + j) % 26);
        tar += (i % 3 == 0 ? typed('L', "././@LongLink", QByteArray(120, 'L') + QByteArray::number(i) + '\0') : QByteArray())
               // Every other member unpadded, so headers start anywhere.
               + (i % 2 ? header("m" + QByteArray::number(i), octal(data.size())) + data
                        : member("m" + QByteArray::number(i), data));
    }
    tar += endBlocks;
    bool wholeOk = false;
    const QList<TarEntry> whole = parseTar(tar, &wholeOk);
    QVERIFY(wholeOk);
    QCOMPARE(whole.size(), sizes.size());
    bool ok = false;
    const QList<TarEntry> streamed = ::readTarGz(gzip(tar), &ok);
    QVERIFY(ok);
    QCOMPARE(::names(streamed), ::names(whole));
    for (int i = 0; i < sizes.size(); ++i) {
        QCOMPARE(streamed[i].data, whole[i].data);
        QCOMPARE(streamed[i].data.size(), sizes[i]);
    }
    QVERIFY(whole[0].name.startsWith("/LLL"));
}

QTEST_GUILESS_MAIN(tst_TarReader)
#include "tst_tarreader.moc"
