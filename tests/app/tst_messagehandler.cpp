#include "messagehandler.h"

#include <QtTest>

#include <cstring>

// The handler writes to standard error, so each case runs in a child process
// (this program started again with "--child <case>") and the parent reads it.

namespace {

void log(QtMsgType type, const char* file, int line, const QString& text)
{
    messageHandler(type, QMessageLogContext(file, line, "function", "default"), text);
}

// The call and its expected line number share one source line.
constexpr int InfoLine = __LINE__; void infoThroughQt() { qInfo("through Qt"); }

constexpr int Threads = 4;
constexpr int LinesPerThread = 300;

int runChild(const QByteArray& name)
{
    qInstallMessageHandler(messageHandler);
    if (name == "slash")
        log(QtDebugMsg, "/home/dev/quorvel/app/main.cpp", 42, QStringLiteral("hello"));
    else if (name == "backslash")
        log(QtWarningMsg, "C:\\work\\quorvel\\app\\main.cpp", 7, QStringLiteral("careful"));
    else if (name == "both")
        log(QtCriticalMsg, "C:/work\\app\\node.cpp", 3, QStringLiteral("bad"));
    else if (name == "nocontext")
        messageHandler(QtDebugMsg, QMessageLogContext(), QStringLiteral("bare"));
    else if (name == "placeholders")
        log(QtDebugMsg, "a/p.cpp", 1, QStringLiteral("%1 %2 %6 100%"));
    else if (name == "utf8")
        log(QtDebugMsg, "a/u.cpp", 2, QString::fromUtf8("Gr\xc3\xbc\xc3\x9f" "e \xe2\x9c\x93"));
    else if (name == "info")
        infoThroughQt();
    else if (name == "fatal")
        qFatal("fatal %s", "end");
    else if (name == "threads") {
        // Named threads writing at once; "w<i>" writes lines starting with i.
        QList<QThread*> threads;
        for (int i = 0; i < Threads; ++i) {
            threads.append(QThread::create([i] {
                for (int n = 0; n < LinesPerThread; ++n)
                    log(QtDebugMsg, "t.cpp", 9, QString::number(i) + QString(200, QLatin1Char('x')));
            }));
            threads.last()->setObjectName(QStringLiteral("w%1").arg(i));
        }
        for (QThread* thread : qAsConst(threads))
            thread->start();
        for (QThread* thread : qAsConst(threads))
            thread->wait();
        qDeleteAll(threads);
    } else
        return 2;
    return 0;
}

QByteArray runInChild(const QString& name, QProcess::ExitStatus* status = nullptr)
{
    QProcess process;
    process.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--child"), name});
    if (!process.waitForFinished(60000))
        process.kill();
    process.waitForFinished(5000);
    if (status)
        *status = process.exitStatus();
    else if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return "child failed: " + process.readAllStandardError();
    return process.readAllStandardError();
}

} // namespace

class TestMessageHandler : public QObject
{
    Q_OBJECT
private slots:
    void line_data();
    void line();
    void linesFromThreadsStayWhole();
    void fatalAborts();
};

void TestMessageHandler::line_data()
{
    QTest::addColumn<QString>("which");
    QTest::addColumn<QByteArray>("mark");
    QTest::addColumn<QByteArray>("rest"); // after the mark and the 12-character time

    QTest::newRow("forward slashes") << "slash" << QByteArray("~") << QByteArray(":  - main.cpp:42\thello\n");
    QTest::newRow("backslashes") << "backslash" << QByteArray("+") << QByteArray(":  - main.cpp:7\tcareful\n");
    QTest::newRow("both: after the last slash")
        << "both" << QByteArray("!") << QByteArray(":  - work\\app\\node.cpp:3\tbad\n");
    QTest::newRow("no context") << "nocontext" << QByteArray("~") << QByteArray(":  - :0\tbare\n");
    QTest::newRow("placeholders stay literal")
        << "placeholders" << QByteArray("~") << QByteArray(":  - p.cpp:1\t%1 %2 %6 100%\n");
    QTest::newRow("utf-8") << "utf8" << QByteArray("~")
                           << QByteArray(":  - u.cpp:2\tGr\xc3\xbc\xc3\x9f" "e \xe2\x9c\x93\n");
    QTest::newRow("info through Qt")
        << "info" << QByteArray("~")
        << QByteArray(":  - tst_messagehandler.cpp:" + QByteArray::number(InfoLine) + "\tthrough Qt\n");
}

void TestMessageHandler::line()
{
    QFETCH(QString, which);
    QFETCH(QByteArray, mark);
    QFETCH(QByteArray, rest);

    const QByteArray out = runInChild(which);
    QCOMPARE(out.left(1), mark);
    QVERIFY2(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3}$"))
                 .match(QString::fromLatin1(out.mid(1, 12))).hasMatch(), out.constData());
    QCOMPARE(out.mid(13), rest);
}

void TestMessageHandler::linesFromThreadsStayWhole()
{
    QList<QByteArray> lines = runInChild(QStringLiteral("threads")).split('\n');
    QCOMPARE(lines.takeLast(), QByteArray());
    QCOMPARE(lines.size(), Threads * LinesPerThread);
    const QRegularExpression pattern(QStringLiteral("^~\\d\\d:\\d\\d:\\d\\d\\.\\d{3}: w(\\d) - t\\.cpp:9\\t(\\d)x{200}$"));
    QVector<int> perThread(Threads);
    for (const QByteArray& line : qAsConst(lines)) {
        const QRegularExpressionMatch match = pattern.match(QString::fromLatin1(line));
        QVERIFY2(match.hasMatch(), line.constData());
        QCOMPARE(match.captured(1), match.captured(2)); // the thread's own name
        ++perThread[match.captured(1).toInt()];
    }
    QCOMPARE(perThread, QVector<int>(Threads, LinesPerThread));
}

void TestMessageHandler::fatalAborts()
{
    QProcess::ExitStatus status = QProcess::NormalExit;
    const QByteArray out = runInChild(QStringLiteral("fatal"), &status);
    QCOMPARE(status, QProcess::CrashExit);
    QVERIFY2(out.startsWith('^') && out.endsWith("\tfatal end\n") && out.count('\n') == 1, out.constData());
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc >= 3 && std::strcmp(argv[1], "--child") == 0)
        return runChild(argv[2]);
    TestMessageHandler test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_messagehandler.moc"
