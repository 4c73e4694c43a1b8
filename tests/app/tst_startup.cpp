#include "commandline.h"
#include "framelistener.h"

#include <QCommandLineParser>
#include <QProcess>
#include <QtTest>

namespace {

const QString explorer = QStringLiteral(EXPLORER_PATH);

void start(QProcess& process, const QStringList& arguments)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(env);
    process.start(explorer, arguments);
}

// Runs the program to its end; false when it did not end in time.
bool runToEnd(QProcess& process, const QStringList& arguments)
{
    start(process, arguments);
    return process.waitForFinished(60000);
}

} // namespace

class tst_Startup : public QObject
{
    Q_OBJECT
private slots:
    void versionAndHelp();
    void commandLineErrors_data();
    void commandLineErrors();
    void options_data();
    void options();
    void helloFirstThenEveryThreeSeconds();
};

void tst_Startup::versionAndHelp()
{
    QProcess version;
    QVERIFY(runToEnd(version, {QStringLiteral("--version")}));
    QCOMPARE(version.exitCode(), 0);
    QCOMPARE(QString::fromUtf8(version.readAllStandardOutput()), QStringLiteral("quorvel Explorer 1.6.2.0\n"));

    QProcess help;
    QVERIFY(runToEnd(help, {QStringLiteral("--help")}));
    QCOMPARE(help.exitCode(), 0);
    const QString expected = QStringLiteral(
        "Usage: %1 [options]\n"
        "Erfc Explorer\n"
        "\n"
        "Options:\n"
        "  -h, --help             Displays help on commandline options.\n"
        "  --help-all             Displays help including Qt specific options.\n"
        "  -v, --version          Displays version information.\n"
        "  --address <address>    Specify own address.\n"
        "  --dumplog              Dump quorvel Logs to file\n"
        "  --extscripts           Allow loading of external scripts.\n"
        "  --service              Show service functions\n"
        "  --serial <portname>    Open with serial connection.\n"
        "  --view-all-tty         Allow selection of all(not only Orvik) serial\n"
        "                         interfaces.\n"
        "  --baudrate <baudrate>  Specify baudrate of serial connection.\n"
        "  --tcp-ip <ip>          Open with tcp-ip connection.\n"
        "  --port <port>          Specify port of tcp-ip connection.\n").arg(explorer);
    QCOMPARE(QString::fromUtf8(help.readAllStandardOutput()), expected);
}

void tst_Startup::commandLineErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    QTest::newRow("unknown") << QStringList{"--foo"} << QStringLiteral("Unknown option 'foo'.");
    QTest::newRow("no short alias") << QStringList{"-a", "3"} << QStringLiteral("Unknown option 'a'.");
    QTest::newRow("missing value") << QStringList{"--tcp-ip", "127.0.0.1", "--port"}
                                   << QStringLiteral("Missing value after '--port'.");
}

void tst_Startup::commandLineErrors()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    QProcess process;
    QVERIFY(runToEnd(process, arguments));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QVERIFY(process.exitCode() != 0);
    // The platform may warn before; the parser's message ends the output.
    const QString err = QString::fromUtf8(process.readAllStandardError());
    QVERIFY2(err.endsWith(QStringLiteral("quorvel Explorer: %1\n").arg(message)), qPrintable(err));
}

void tst_Startup::options_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("expected"); // what readStartupOptions made of them

    QTest::newRow("none") << QStringList{} << "dialog address 0 flags ----";
    QTest::newRow("address narrowed") << QStringList{"--address", "300"} << "dialog address 44 flags ----";
    QTest::newRow("address not a number") << QStringList{"--address", "x1"} << "dialog address 0 flags ----";
    QTest::newRow("serial over tcp, default rate")
        << QStringList{"--tcp-ip", "127.0.0.1", "--serial", "/dev/ttyUSB3", "--address", "7"}
        << "serial /dev/ttyUSB3 115200 address 7 flags ----";
    QTest::newRow("serial rate not a number") << QStringList{"--serial", "COM4", "--baudrate", "fast"}
                                              << "serial COM4 0 address 0 flags ----";
    QTest::newRow("tcp, default port") << QStringList{"--tcp-ip", "::1", "--baudrate", "9600"}
                                       << "tcp ::1 1328 address 0 flags ----";
    QTest::newRow("tcp port narrowed") << QStringList{"--tcp-ip", "10.0.0.2", "--port", "65537"}
                                       << "tcp 10.0.0.2 1 address 0 flags ----";
    QTest::newRow("flags") << QStringList{"--view-all-tty", "--service", "--extscripts", "--dumplog"}
                           << "dialog address 0 flags dxsv";
    QTest::newRow("one flag") << QStringList{"--service"} << "dialog address 0 flags --s-";
}

void tst_Startup::options()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, expected);
    QCommandLineParser parser;
    addStartupOptions(parser);
    QVERIFY2(parser.parse(QStringList{"quorvel-explorer"} + arguments), qPrintable(parser.errorText()));
    const StartupOptions o = readStartupOptions(parser);
    QString seen = o.connection == StartupOptions::Serial
        ? QStringLiteral("serial %1 %2 ").arg(o.serialPort).arg(o.baudRate)
        : o.connection == StartupOptions::Tcp ? QStringLiteral("tcp %1 %2 ").arg(o.tcpIp).arg(o.tcpPort)
                                              : QStringLiteral("dialog ");
    seen += QStringLiteral("address %1 flags %2%3%4%5")
                .arg(o.ownAddress)
                .arg(o.dumpLog ? 'd' : '-')
                .arg(o.allowExternalScripts ? 'x' : '-')
                .arg(o.showServiceFunctions ? 's' : '-')
                .arg(o.viewAllSerialInterfaces ? 'v' : '-');
    QCOMPARE(seen, expected);
}

void tst_Startup::helloFirstThenEveryThreeSeconds()
{
    // The program itself against a listener that answers nothing: its first
    // frame is a hello from the own address narrowed to 8 bits, and node
    // discovery repeats it every 3 s.
    FrameListener listener;
    QVERIFY(listener.port() != 0);
    QProcess program;
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    start(program, {"--tcp-ip", "127.0.0.1", "--port", QString::number(listener.port()), "--address", "300"});
    QVERIFY(program.waitForStarted(30000));
    QTRY_VERIFY_WITH_TIMEOUT(listener.hellos(0) >= 4, 40000);
    program.kill();
    program.waitForFinished(30000);

    const QList<FrameListener::Frame> frames = listener.frames(0);
    QCOMPARE(listener.hellos(0), frames.size()); // nothing else without a node
    for (const FrameListener::Frame& f : frames) {
        QCOMPARE(f.msg.source(), quint8(44));
        QCOMPARE(f.msg.destination(), quint8(63));
        QCOMPARE(f.msg.functionId(), quint8(5));
    }
    // The first hello comes with enabling the stack, the later ones with the
    // discovery timer.
    for (int i = 2; i < frames.size(); ++i) {
        const qint64 gap = frames.at(i).atMs - frames.at(i - 1).atMs;
        QVERIFY2(gap >= 2500 && gap <= 6000, qPrintable(QString::number(gap)));
    }
}

QTEST_GUILESS_MAIN(tst_Startup)
#include "tst_startup.moc"
