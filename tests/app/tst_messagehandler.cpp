#include "messagehandler.h"

#include <QtTest>

#include <cstring>

// The handler writes to standard error, so each case runs in a child process
// (this program started again with "--child <row>") and the parent reads it.

namespace {

// What a child logs and the line expected from it, "@" for the time.
struct Row
{
    const char* name;
    QtMsgType type;
    const char* file;
    int line;
    const char* text;
    const char* expected;
};
const Row rows[] = {
    {"forward slashes", QtDebugMsg, "/home/dev/quorvel/app/main.cpp", 42, "hello", "~@:  - main.cpp:42\thello\n"},
    {"backslashes", QtWarningMsg, "C:\\work\\app\\main.cpp", 7, "careful", "+@:  - main.cpp:7\tcareful\n"},
    {"both: after the last slash", QtCriticalMsg, "C:/work\\app\\node.cpp", 3, "bad",
     "!@:  - work\\app\\node.cpp:3\tbad\n"},
    {"no context", QtDebugMsg, nullptr, 0, "bare", "~@:  - :0\tbare\n"},
    {"placeholders stay literal", QtDebugMsg, "a/p.cpp", 1, "%1 %2 %6 100%", "~@:  - p.cpp:1\t%1 %2 %6 100%\n"},
    {"utf-8", QtDebugMsg, "a/u.cpp", 2, "Grüße ✓", "~@:  - u.cpp:2\tGrüße ✓\n"},
};

void log(QtMsgType type, const char* file, int line, const QString& text)
{
    messageHandler(type, QMessageLogContext(file, line, "function", "default"), text);
}

// The calls and their expected line numbers share one source line each.
constexpr int InfoLine = __LINE__; void infoThroughQt() { qInfo("through Qt"); }
constexpr int FatalLine = __LINE__; void fatalThroughQt() { qFatal("fatal %s", "end"); }

int runChild(const QByteArray& name)
{
    qInstallMessageHandler(messageHandler);
    for (const Row& row : rows) {
        if (name == row.name)
            log(row.type, row.file, row.line, QString::fromUtf8(row.text));
    }
    if (name == "info")
        infoThroughQt();
    else if (name == "fatal")
        fatalThroughQt();
    else if (name == "threads") {
        // Named threads writing long lines at once.
        QList<QThread*> threads;
        for (int i = 0; i < 4; ++i) {
            threads.append(QThread::create([i] {
                for (int n = 0; n < 300; ++n)
                    log(QtDebugMsg, "t.cpp", 9, QString::number(i) + QString(200, QLatin1Char('x')));
            }));
            threads.last()->setObjectName(QStringLiteral("w%1").arg(i));
            threads.last()->start();
        }
        for (QThread* thread : qAsConst(threads))
            thread->wait();
        qDeleteAll(threads);
    }
    return 0;
}

} // namespace

class TestMessageHandler : public QObject
{
    Q_OBJECT
private slots:
    void line_data();
    void line();
};

void TestMessageHandler::line_data()
{
    QTest::addColumn<QString>("expected");
    for (const Row& row : rows)
        QTest::newRow(row.name) << QString::fromUtf8(row.expected);
    QTest::newRow("info") << QStringLiteral("~@:  - tst_messagehandler.cpp:%1\tthrough Qt\n").arg(InfoLine);
    QTest::newRow("fatal") << QStringLiteral("^@:  - tst_messagehandler.cpp:%1\tfatal end\n").arg(FatalLine);
    QString threads; // each line whole
    for (int i = 0; i < 4; ++i)
        threads += QStringLiteral("~@: w%1 - t.cpp:9\t%1%2\n").arg(i).arg(QString(200, 'x')).repeated(300);
    QTest::newRow("threads") << threads;
}

void TestMessageHandler::line()
{
    QFETCH(QString, expected);
    const QString which = QString::fromLatin1(QTest::currentDataTag());
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--child"), which});
    QVERIFY(child.waitForFinished(60000));
    QCOMPARE(child.exitStatus(), which == "fatal" ? QProcess::CrashExit : QProcess::NormalExit);
    QString out = QString::fromUtf8(child.readAllStandardError());
    out.replace(QRegularExpression(QStringLiteral("^(.)\\d\\d:\\d\\d:\\d\\d\\.\\d{3}:"),
                                   QRegularExpression::MultilineOption), QStringLiteral("\\1@:"));
    // The threads' lines in any order.
    const auto sorted = [](const QString& text) { QStringList l = text.split('\n'); l.sort(); return l; };
    QCOMPARE(sorted(out), sorted(expected));
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
