// CFTP on plain buffers: path rules, the login token, line reading and
// encoding, the client's response parser, the server's request dispatcher.

#include "qcftp.h"
#include "qcftpfile.h"
#include "qcftpfileinfo.h"
#include "qcftpheaderreader_p.h"
#include "qcftppathresolver_p.h"
#include "qcftprequestdispatcher_p.h"
#include "qcftpresponseparser_p.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Records what the dispatcher asks for and answers as told.
class FakeBackend : public QCftpServerBackend
{
public:
    QStringList calls;
    QCFTP::ResponseCode fileCode = QCFTP::Success;
    QList<QCFTPFileInfo> listing;

    void checkLogin(const QString& user, const QString& pw, QCFTP::ResponseCode& code) override
    {
        calls << "LOG " + user;
        code = pw == "pw" ? QCFTP::Success : QCFTP::ActionNotAllowed;
    }
    void listPath(const QString& p, QList<QCFTPFileInfo>& list, QCFTP::ResponseCode& c, QString& m) override
    {
        list = listing;
        op("LST " + p, c, m);
    }
    void makePath(const QString& p, QCFTP::ResponseCode& c, QString& m) override { op("MKD " + p, c, m); }
    void deletePath(const QString& p, QCFTP::ResponseCode& c, QString& m) override { op("DEL " + p, c, m); }
    void movePath(const QString& s, const QString& n, QCFTP::ResponseCode& c, QString& m) override
    {
        op("MOV " + s + " " + n, c, m);
    }
    void storeFile(const QCFTPFile& f, QCFTP::ResponseCode& c, QString& m) override
    {
        op(QStringLiteral("STR %1 %2 %3").arg(f.path()).arg(f.lastModified()).arg(QString(f.data())), c, m);
    }
    void getFile(const QString& p, QCFTPFile& file, QCFTP::ResponseCode& c, QString& m) override
    {
        file.setData("abc");
        file.setLastModified(9);
        op("GET " + p, c, m);
    }
    bool handleCommand(const QString& command, const QStringList&, bool loggedIn, QCFTP::ResponseCode& code,
                       QString&, QStringList& lines) override
    {
        if (command != "HND")
            return false;
        calls << QStringLiteral("HND %1").arg(loggedIn);
        code = QCFTP::Success;
        lines << "7" << "00ff";
        return true;
    }

private:
    void op(const QString& call, QCFTP::ResponseCode& code, QString& message)
    {
        calls << call;
        code = fileCode;
        if (code != QCFTP::Success)
            message = QStringLiteral("Action is not allowed");
    }
};

QCFTPFileInfo info(const QString& path, uint size = 0, uint time = 5)
{
    QCFTPFileInfo i;
    i.setPath(path);
    i.setSize(size);
    i.setLastModified(time);
    return i;
}

} // namespace

class tst_QCftpProtocol : public QObject
{
    Q_OBJECT

private slots:
    void pathRules_data();
    void pathRules();
    void token_data();
    void token();
    void lineReading_data();
    void lineReading();
    void responses_data();
    void responses();
    void listingAndDownload();
    void requests_data();
    void requests();
    void storeContentAndLimits();
    void resolver_data();
    void resolver();
    void resolverSiblingNamedLikeRoot();
};

void tst_QCftpProtocol::pathRules_data()
{
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("dir");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("parent");

    QTest::newRow("file") << "/a/b.txt" << "/a/b.txt" << false << "b.txt" << "/a/";
    QTest::newRow("dir") << "/a/b/" << "/a/b/" << true << "b/" << "/a/";
    QTest::newRow("root") << "/" << "/" << true << "/" << "";
    QTest::newRow("relative") << "x/y" << "/x/y" << false << "y" << "/x/";
    QTest::newRow("empty") << "" << "/" << true << "/" << "";
    QTest::newRow("dots kept") << "/a//../b" << "/a//../b" << false << "b" << "/a//../";
}

void tst_QCftpProtocol::pathRules()
{
    QFETCH(QString, given);
    QFETCH(QString, path);
    QFETCH(bool, dir);
    QFETCH(QString, name);
    QFETCH(QString, parent);

    // Files and listing entries share these rules.
    QCFTPFile file;
    file.setPath(given);
    QCOMPARE(file.path(), path);
    QCOMPARE(file.isDir(), dir);
    QCOMPARE(file.name(), name);
    QCOMPARE(file.parentPath(), parent);
}

void tst_QCftpProtocol::token_data()
{
    QTest::addColumn<QByteArray>("challenge");
    QTest::addColumn<QByteArray>("token");

    const QByteArray c16 = QByteArray::fromHex("000102030405060708090a0b0c0d0e0f");
    QTest::newRow("16 bytes") << c16 << QByteArray("c069195a0ed061e75efe1895d3ade031");
    QTest::newRow("20 bytes") << c16 + QByteArray::fromHex("ffeeddcc")
                              << QByteArray("c069195a0ed061e75efe1895d3ade031");
    QTest::newRow("15 bytes") << c16.left(15) << QByteArray("d41d8cd98f00b204e9800998ecf8427e");
}

void tst_QCftpProtocol::token()
{
    QFETCH(QByteArray, challenge);
    QFETCH(QByteArray, token);
    if (challenge.size() < 16)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("too short"));
    QCOMPARE(QCFTP::loginToken(QStringLiteral("secret"), challenge), token);
}

void tst_QCftpProtocol::lineReading_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("result");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QByteArray>("left");

    const int more = QCftpHeaderReader::NeedMore, done = QCftpHeaderReader::Complete;
    QTest::newRow("LF") << QByteArray("LST\n/a\n\nraw") << done << QStringList{"LST", "/a"} << QByteArray("raw");
    QTest::newRow("CRLF and blanks") << QByteArray("  MKD \r\n\t/b \r\n \r\n") << done
                                     << QStringList{"MKD", "/b"} << QByteArray();
    QTest::newRow("NUL cuts") << QByteArray("GET\0junk\n/x\n\n", 13) << done << QStringList{"GET", "/x"}
                              << QByteArray();
    QTest::newRow("NUL line is blank") << QByteArray("\0x\n", 3) << done << QStringList() << QByteArray();
    QTest::newRow("UTF-8 in") << QByteArray("/\xc3\xa9\n\n") << done << QStringList{QString::fromUtf8("/é")}
                              << QByteArray();
    QTest::newRow("no blank yet") << QByteArray("DEL\n/a") << more << QStringList{"DEL"} << QByteArray("/a");
    QTest::newRow("too long") << QByteArray(70000, 'x') << int(QCftpHeaderReader::TooLong) << QStringList()
                              << QByteArray(70000, 'x');
}

void tst_QCftpProtocol::lineReading()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, result);
    QFETCH(QStringList, lines);
    QFETCH(QByteArray, left);

    QCftpHeaderReader reader(QCFTP::MaxRequestHeader);
    QCOMPARE(int(reader.read(bytes)), result);
    QCOMPARE(reader.takeLines(), lines);
    QCOMPARE(bytes, left);
}

void tst_QCftpProtocol::responses_data()
{
    QTest::addColumn<int>("expect");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");

    const int cmd = QCftpResponseParser::Command, hnd = QCftpResponseParser::Handshake;
    const int done = QCftpResponseParser::Outcome::Done, failed = QCftpResponseParser::Outcome::Failed;
    const int more = QCftpResponseParser::Outcome::NeedMore;
    QTest::newRow("server code") << cmd << "DEL" << QByteArray("8\nPath does not exist\n\n") << done << 8
                                 << "Path does not exist";
    QTest::newRow("other code") << cmd << "MKD" << QByteArray(" -3 \r\nbusy\n\n") << done << -3 << "busy";
    QTest::newRow("no code") << cmd << "MKD" << QByteArray("ok\n\n") << failed << 1 << "No valid response code";
    QTest::newRow("leading blank") << cmd << "MKD" << QByteArray("\n0\n\n") << done << 0 << "";
    QTest::newRow("HND count") << hnd << "" << QByteArray("0\n1\n\n") << failed << 1 << "Wrong parameter count";
    QTest::newRow("HND refused") << hnd << "" << QByteArray("126\nNot logged in\n\n") << done << 126
                                 << "Not logged in";
    QTest::newRow("GET over 1 GiB") << cmd << "GET" << QByteArray("0\n5\n1073741825\n\n") << failed << 1
                                    << "Wrong parameter";
    QTest::newRow("GET waits") << cmd << "GET" << QByteArray("0\n5\n4\n\nab") << more << 0 << "";
    QTest::newRow("LST bad line") << cmd << "LST" << QByteArray("0\na\x1d" "1\x1d" "2\nb\x1d" "1\n\n") << failed
                                  << 1 << "Wrong parameter";
    QTest::newRow("header too long") << cmd << "LST" << QByteArray("0\n") + QByteArray(17 << 20, 'x') << failed
                                     << 1 << "Wrong parameter";
}

void tst_QCftpProtocol::responses()
{
    QFETCH(int, expect);
    QFETCH(QString, command);
    QFETCH(QByteArray, bytes);
    QFETCH(int, kind);
    QFETCH(int, code);
    QFETCH(QString, message);

    QCftpResponseParser parser;
    parser.expect(QCftpResponseParser::Expect(expect), command, "/d");
    const QCftpResponseParser::Outcome out = parser.feed(bytes);
    QCOMPARE(int(out.kind), kind);
    QCOMPARE(out.code, code);
    QCOMPARE(out.message, message);
    QCOMPARE(parser.expecting() == QCftpResponseParser::Idle, kind != QCftpResponseParser::Outcome::NeedMore);
}

void tst_QCftpProtocol::listingAndDownload()
{
    QCftpResponseParser parser;
    // A listing joins each name to the directory, adding the "/" it lacks.
    for (const QString& dir : {QStringLiteral("/"), QStringLiteral("/logs"), QStringLiteral("/logs/")}) {
        QByteArray bytes("0\nboot.txt\x1d" "100\x1d" "512\nold/\x1d" "7\x1d" "0\n\n");
        parser.expect(QCftpResponseParser::Command, "LST", dir);
        QCOMPARE(int(parser.feed(bytes).kind), int(QCftpResponseParser::Outcome::Done));
        const QString base = dir == "/" ? "/" : "/logs/";
        QCOMPARE(parser.listing(), (QList<QCFTPFileInfo>{info(base + "boot.txt", 512, 100), info(base + "old/", 0, 7)}));
    }
    // A bad line keeps the entries before it.
    QByteArray bad("0\na\x1d" "1\x1d" "2\nb\x1d\n\n");
    parser.expect(QCftpResponseParser::Command, "LST", "/");
    parser.feed(bad);
    QCOMPARE(parser.listing(), QList<QCFTPFileInfo>{info("/a", 2, 1)});

    // A download in pieces: progress below the total, then the bytes; what
    // follows the announced length stays in the buffer.
    QByteArray bytes("0\n42\n5\n\nab");
    parser.expect(QCftpResponseParser::Command, "GET", "/f");
    QCftpResponseParser::Outcome out = parser.feed(bytes);
    QCOMPARE(out.buffered, 2);
    QCOMPARE(out.length, 5);
    bytes += "cdeXY";
    out = parser.feed(bytes);
    QCOMPARE(int(out.kind), int(QCftpResponseParser::Outcome::Done));
    QCOMPARE(parser.downloadData(), QByteArray("abcde"));
    QCOMPARE(parser.downloadTime(), 42u);
    QCOMPARE(bytes, QByteArray("XY"));

    // Empty file: done without any raw byte.
    bytes = "0\n7\n0\n\n";
    parser.expect(QCftpResponseParser::Command, "GET", "/e");
    QCOMPARE(int(parser.feed(bytes).kind), int(QCftpResponseParser::Outcome::Done));
    QVERIFY(parser.downloadData().isEmpty());

    // Idle: bytes are dropped.
    bytes = "0\n\n";
    QCOMPARE(int(parser.feed(bytes).kind), int(QCftpResponseParser::Outcome::Unexpected));
    QVERIFY(bytes.isEmpty());
}

void tst_QCftpProtocol::requests_data()
{
    QTest::addColumn<bool>("login");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("call");
    QTest::addColumn<bool>("disconnect");

    QTest::newRow("hook before login") << false << QByteArray("HND\n\n") << QByteArray("0\n7\n00ff\n\n")
                                       << "HND 0" << false;
    QTest::newRow("LOG count") << false << QByteArray("LOG\nu\n\n") << QByteArray("1\nWrong parameters\n\n") << ""
                               << false;
    QTest::newRow("unknown") << true << QByteArray("CPY\n/a\n/b\n\n") << QByteArray("125\nNo valid command ID\n\n")
                             << "" << false;
    QTest::newRow("STR empty") << true << QByteArray("STR\n/e\n4\n0\n\n") << QByteArray("0\n\n") << "STR /e 4 "
                               << false;
    QTest::newRow("STR length not a number") << true << QByteArray("STR\n/x\n4\nmany\n\n")
                                             << QByteArray("1\nWrong parameters\n\n") << "" << true;
    QTest::newRow("header over 64 KiB") << true << QByteArray("LST\n") + QByteArray(70000, 'a')
                                        << QByteArray("1\nWrong parameters\n\n") << "" << true;
}

void tst_QCftpProtocol::requests()
{
    QFETCH(bool, login);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, answer);
    QFETCH(QString, call);
    QFETCH(bool, disconnect);

    FakeBackend backend;
    QCftpRequestDispatcher dispatcher(&backend);
    if (login) {
        QByteArray in("LOG\nu\npw\n\n");
        QVERIFY(dispatcher.feed(in).loggedIn);
        backend.calls.clear();
    }
    const QCftpRequestDispatcher::Result result = dispatcher.feed(request);
    QCOMPARE(result.answers, answer);
    QCOMPARE(backend.calls.value(0), call);
    QCOMPARE(backend.calls.size(), call.isEmpty() ? 0 : 1);
    QCOMPARE(result.disconnect, disconnect);
    if (disconnect)
        QVERIFY(request.isEmpty() && !dispatcher.isLoggedIn());
}

void tst_QCftpProtocol::storeContentAndLimits()
{
    FakeBackend backend;
    QCftpRequestDispatcher dispatcher(&backend);
    QByteArray in("LOG\nu\npw\n\nSTR\n/f\n3\n5\n\nab");
    QCOMPARE(dispatcher.feed(in).answers, QByteArray("0\n1\n\n"));
    QVERIFY(dispatcher.isBinary());
    // The content may hold line breaks; what follows it is the next request.
    in += "\nc\nXMKD\n/m\n\n";
    const QCftpRequestDispatcher::Result r = dispatcher.feed(in);
    QCOMPARE(r.answers, QByteArray("0\n\n125\nNo valid command ID\n\n"));
    QCOMPARE(backend.calls.value(1), QStringLiteral("STR /f 3 ab\nc\n"));

    // A listing sends bare names and leaves out what cannot be listed.
    backend.listing = {info("/ok.txt", 4, 1), info("/sub/", 0, 2), info("/a\nb"), info(QStringLiteral("/a\x1d" "b")),
                       info("/c\rd"), info(QString("/n") + QChar(0))};
    in = "LST\n/\n\n";
    QCOMPARE(dispatcher.feed(in).answers, QByteArray("0\nok.txt\x1d" "1\x1d" "4\nsub/\x1d" "2\x1d" "0\n\n"));

    // A failure's message goes on one line.
    backend.fileCode = QCFTP::ActionNotAllowed;
    in = "MKD\n/m\n\n";
    QCOMPARE(dispatcher.feed(in).answers, QByteArray("20\nAction is not allowed\n\n"));

    // A new connection starts logged out, in line mode.
    in = "STR\n/f\n3\n9\n\n";
    backend.fileCode = QCFTP::Success;
    dispatcher.feed(in);
    QVERIFY(dispatcher.isBinary());
    dispatcher.reset();
    QVERIFY(!dispatcher.isBinary() && !dispatcher.isLoggedIn());
    in = "LOG\nu\npw\n\n";
    QCOMPARE(dispatcher.feed(in).answers, QByteArray("0\n1\n\n"));
}

void tst_QCftpProtocol::resolver_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("below");
    QTest::addColumn<QString>("local"); // relative to the root; null: refused

    QTest::newRow("root") << "/" << false << "";
    QTest::newRow("root below") << "/" << true << QString();
    QTest::newRow("new file") << "/d/x.txt" << false << "/d/x.txt";
    QTest::newRow("relative") << "d" << true << "/d";
    QTest::newRow("backslashes") << "\\d\\x" << false << "/d/x";
    QTest::newRow("dot dot") << "/d/../d" << false << QString();
    QTest::newRow("colon") << "/d:x" << false << QString();
    QTest::newRow("NUL") << QString("/d") + QChar(0) + "/x" << false << QString();
}

void tst_QCftpProtocol::resolver()
{
    QFETCH(QString, path);
    QFETCH(bool, below);
    QFETCH(QString, local);

    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("d"));
    const QCftpPathResolver::Use use = below ? QCftpPathResolver::BelowRoot : QCftpPathResolver::AnyPath;
    QString out;
    QCOMPARE(QCftpPathResolver::resolve(dir.path() + "/", path, use, &out), !local.isNull());
    if (!local.isNull())
        QCOMPARE(out, QDir::cleanPath(dir.path() + local));
    QVERIFY(!QCftpPathResolver::resolve(QString(), "/d", QCftpPathResolver::AnyPath, &out));
    QVERIFY(!QCftpPathResolver::resolve(dir.path() + "/missing/", "/", QCftpPathResolver::AnyPath, &out));
}

void tst_QCftpProtocol::resolverSiblingNamedLikeRoot()
{
    // top/root and top/rootX: the second's path begins with the first's.
    QTemporaryDir top;
    const QString root = top.path() + "/root";
    const QString sibling = top.path() + "/rootX";
    QVERIFY(QDir().mkpath(root + "/d") && QDir().mkpath(sibling + "/d"));
    QVERIFY(QFile::link(sibling, root + "/sib"));

    QVERIFY(!QCftpPathResolver::isInside(root, sibling));
    QVERIFY(!QCftpPathResolver::isInside(root, sibling + "/d"));
    QVERIFY(!QCftpPathResolver::isInside(root + "/", sibling + "/d"));
    QVERIFY(QCftpPathResolver::isInside(root, root + "/d"));
    QVERIFY(QCftpPathResolver::isInside(root, root));

    QString out;
    for (const QString& path : QStringList{"/sib", "/sib/d", "/sib/new.txt", "/sib/d/new/deeper"}) {
        QVERIFY2(!QCftpPathResolver::resolve(root + "/", path, QCftpPathResolver::AnyPath, &out), qPrintable(path));
        QVERIFY2(!QCftpPathResolver::resolve(root, path, QCftpPathResolver::BelowRoot, &out), qPrintable(path));
    }
    QVERIFY(QCftpPathResolver::resolve(root, "/d/new.txt", QCftpPathResolver::AnyPath, &out));
    QCOMPARE(out, root + "/d/new.txt");
}

QTEST_GUILESS_MAIN(tst_QCftpProtocol)
#include "tst_qcftpprotocol.moc"
