#include "qerfceventconnect.h"
#include "qerfcexception.h"
#include "qerfcrequest.h"
#include "qerfcstack.h"
#include "qerfcstreaminterface.h"
#include "serialdevice.h"

#include <QtEndian>
#include <QtTest>

// The serial path end to end: socat joins two pseudo-terminals, the test node
// opens one of them and a stack on a serial link the other.
namespace {

constexpr uchar Own = 1;
constexpr uchar Node = 10;
constexpr uchar Tick = 16;

void stop(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.kill();
    process.waitForFinished(10000);
}

// Reads the process's output until a line starting with `prefix` appears.
bool waitForLine(QProcess& process, const QByteArray& prefix, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    do {
        while (process.canReadLine()) {
            if (process.readLine().startsWith(prefix))
                return true;
        }
    } while (process.waitForReadyRead(int(qMax<qint64>(deadline.remainingTime(), 1)))
             && !deadline.hasExpired());
    return false;
}

} // namespace

class tst_ErfcSerial : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void helloEchoAndEvents();

private:
    QTemporaryDir dir;
    QProcess socat;
    QProcess node;
};

void tst_ErfcSerial::initTestCase()
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("socat"));
    if (program.isEmpty())
        QSKIP("socat is not installed");
    QVERIFY(dir.isValid());
    const QString ours = dir.filePath(QStringLiteral("a"));
    const QString theirs = dir.filePath(QStringLiteral("b"));
    socat.setStandardOutputFile(QProcess::nullDevice());
    socat.setStandardErrorFile(QProcess::nullDevice());
    socat.start(program, {QStringLiteral("pty,raw,echo=0,link=%1").arg(ours),
                          QStringLiteral("pty,raw,echo=0,link=%1").arg(theirs)});
    QVERIFY(socat.waitForStarted(10000));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(ours) && QFileInfo::exists(theirs), 10000);

    node.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    node.start(QStringLiteral(TESTNODE_PATH),
               {"--address", QString::number(Node), "--serial", theirs, "--baudrate", "115200",
                "--tick", "100"});
    QVERIFY(node.waitForStarted(10000));
    QVERIFY(waitForLine(node, "ready address=10", 20000));
}

void tst_ErfcSerial::cleanupTestCase()
{
    stop(node);
    stop(socat);
}

void tst_ErfcSerial::helloEchoAndEvents()
{
    SerialDevice device(dir.filePath(QStringLiteral("a")), 115200);
    QString openError;
    connect(&device, &ErfcDevice::error, this, [&openError](const QString& text) { openError = text; },
            Qt::DirectConnection);
    QErfcStreamInterface link(&device);
    QErfcStack stack(Own); // goes first, releasing the link if a check failed
    try {
        stack.bindInterface(&link);
    } catch (const QErfcException&) {
        QFAIL(qPrintable(QStringLiteral("bind failed: ") + openError));
    }
    stack.enable();
    QTRY_VERIFY_WITH_TIMEOUT(stack.knownNodes().contains(Node), 15000);

    // The node's own echo and ECHO, with the stuffing bytes in the payload.
    const QByteArray payload = QByteArray::fromHex("a0a5aa00ff") + "over the line";
    for (uchar function : {uchar(16), uchar(0)}) {
        QErfcRequest echo(Node, function, payload);
        QVERIFY(stack.send(&echo));
        QVERIFY(echo.waitForResponse(10000));
        QCOMPARE(echo.response().responseCode(), QErfc::OK);
        QCOMPARE(echo.response().address(), Node);
        QCOMPARE(echo.response().payload(), payload);
    }

    // The node's periodic event counts up by one per emission.
    QErfcEventConnect ticks(Node, Tick, 1);
    QList<QByteArray> payloads;
    connect(&ticks, &QErfcEventConnect::callSignal, &ticks,
            [&payloads](QErfcIncomingEvent event) { payloads << event.payload(); });
    QVERIFY(stack.connectToEvent(&ticks));
    QTRY_COMPARE_WITH_TIMEOUT(ticks.state(), QErfc::EventConnected, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(payloads.size() >= 3, 10000);
    QVERIFY(stack.disconnectFromEvent(&ticks));
    QTRY_COMPARE_WITH_TIMEOUT(ticks.state(), QErfc::EventDisconnected, 10000);
    for (int i = 1; i < 3; ++i) {
        QCOMPARE(payloads.at(i).size(), 4);
        QCOMPARE(qFromLittleEndian<quint32>(payloads.at(i).constData()),
                 qFromLittleEndian<quint32>(payloads.at(i - 1).constData()) + 1);
    }

    stack.disable();
    stack.releaseInterface(&link);
}

QTEST_GUILESS_MAIN(tst_ErfcSerial)
#include "tst_erfcserial.moc"
