#include "closedport.h"
#include "connectiondialog.h"
#include "modaldriver.h"
#include "ptypair.h"
#include "qerfcrequest.h"
#include "qerfcstack.h"
#include "qerfcstreaminterface.h"
#include "rawpeer.h"
#include "serialdevice.h"
#include "serialportlist.h"
#include "startupflags.h"
#include "tcpsocketdevice.h"
#include "testnodeprocess.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <linux/sockios.h>
#include <sys/ioctl.h>

#include <atomic>
#include <functional>
#include <memory>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Clicks Connect while a driver answers any message box. Returns the box,
// else the connection made, as the dialog describes it and as the device
// holds it.
QString clickConnect(ConnectionDialog& dialog)
{
    ModalDriver driver;
    QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("pushButtonConnect")), Qt::LeftButton);
    std::unique_ptr<ErfcDevice> device(dialog.device());
    if (!driver.seen.isEmpty())
        return device || !dialog.isVisible() ? QStringLiteral("box and device") : driver.seen.join('\n');
    QString made;
    if (auto* tcp = qobject_cast<TcpSocketDevice*>(device.get()))
        made = QStringLiteral("TCP/IP %1:%2").arg(tcp->host().toString()).arg(tcp->port());
    else if (auto* serial = qobject_cast<SerialDevice*>(device.get()))
        made = QStringLiteral("Serial %1:%2").arg(serial->portName()).arg(serial->baudRate());
    if (dialog.isVisible() || made != dialog.description())
        return QStringLiteral("made %1, described %2, open %3").arg(made, dialog.description()).arg(dialog.isVisible());
    return made;
}

// A thread with an event loop standing in for the stack thread, where the
// stream link runs the devices' open() and close().
class StackThread
{
public:
    StackThread() { m_thread.start(); m_context.moveToThread(&m_thread); }
    ~StackThread() { m_thread.quit(); m_thread.wait(); }
    QThread* thread() { return &m_thread; }
    // Runs fn there and waits (after anything posted before).
    void run(const std::function<void()>& fn) { QMetaObject::invokeMethod(&m_context, fn, Qt::BlockingQueuedConnection); }
    void post(const std::function<void()>& fn) { QMetaObject::invokeMethod(&m_context, fn, Qt::QueuedConnection); }

private:
    QThread m_thread;
    QObject m_context;
};

// Reads on the calling thread until `size` bytes came or the stream ended.
QByteArray readUpTo(QIODevice* device, int size)
{
    QByteArray got = device->readAll();
    const QDeadlineTimer deadline(20000);
    while (got.size() < size && !deadline.hasExpired()) {
        const bool more = device->waitForReadyRead(100);
        got += device->readAll();
        auto* socket = qobject_cast<QAbstractSocket*>(device);
        if (!more && socket && socket->state() == QAbstractSocket::UnconnectedState)
            break;
    }
    return got;
}

// Opens on the stack thread; a failure's text comes with the thread it came from.
QIODevice* openOn(StackThread& stack, ErfcDevice& device, QString* error = nullptr)
{
    QIODevice* stream = nullptr;
    const auto c = QObject::connect(&device, &ErfcDevice::error, [&](const QString& text) {
        if (error)
            *error = text + (QThread::currentThread() == stack.thread() ? " (stack thread)" : " (elsewhere)");
    });
    stack.run([&] { stream = device.open(); });
    QObject::disconnect(c);
    return stream;
}

// The peer writes to the device, read on the stack thread; then a goodbye
// larger than one write takes goes the other way just before the device is
// closed (twice, at once) on the stack thread. True when both arrived whole.
bool carriesBothWays(StackThread& stack, ErfcDevice& device, QIODevice* stream, QIODevice* peer, int size)
{
    peer->write("to device");
    peer->waitForBytesWritten(5000);
    QByteArray atDevice;
    stack.run([&] { atDevice = readUpTo(stream, 9); });
    QByteArray goodbye(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        goodbye[i] = char(i * 7 + i / 251);
    stack.post([&] {
        stream->write(goodbye);
        device.close();
        device.close();
    });
    const QByteArray atPeer = readUpTo(peer, size);
    stack.run([] {});
    return atDevice == "to device" && atPeer == goodbye;
}

} // namespace

class TestConnection : public QObject
{
    Q_OBJECT
private slots:
    void cleanup()
    {
        setSerialPortLister({});
        viewAllSerialInterfaces = false;
    }
    void tcpAddress_data();
    void tcpAddress();
    void serialPorts_data();
    void serialPorts();
    void tcpDevice();
    void tcpDeviceHoldsLittleUnsent();
    void openFailures();
    void serialPseudoTerminal();
    void serialLineLost();
    void severalTestNodesOnOneConnection();
};

void TestConnection::tcpAddress_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("result");
    const QString refused = QStringLiteral("critical Check port: address should look like 192.168.1.1:1328");
    QTest::newRow("address:port") << "192.168.1.1:1328" << "TCP/IP 192.168.1.1:1328";
    QTest::newRow("no port") << "192.168.1.1" << "TCP/IP 192.168.1.1:1328";
    QTest::newRow("negative") << "192.168.1.1:-1" << refused;
    QTest::newRow("70000 wraps") << "192.168.1.1:70000" << "TCP/IP 192.168.1.1:4464";
    QTest::newRow("ipv6: before the first colon") << "::1" << "TCP/IP :1328";
}

void TestConnection::tcpAddress()
{
    QFETCH(QString, text);
    QFETCH(QString, result);
    ConnectionDialog dialog;
    dialog.show();
    dialog.findChild<QLineEdit*>(QStringLiteral("lineEditAddress"))->setText(text);
    QCOMPARE(clickConnect(dialog), result);
}

void TestConnection::serialPorts_data()
{
    QTest::addColumn<int>("listed"); // how many of the fake ports are offered
    QTest::addColumn<bool>("viewAll");
    QTest::addColumn<QStringList>("items"); // text, then port name
    QTest::addColumn<QString>("result");

    const QStringList others{"ttyS0: Built-in port (FT1234)", "ttyS0", "ttyUSB3: Adapter (orvik77)", "ttyUSB3",
                             "ttyUSB5:  ()", "ttyUSB5"};
    const QStringList ours{"ttyUSB0: Orvik - USB Interface (A1B2)", "ttyUSB0",
                           "ttyUSB2: Orvik - USB Interface (0042)", "ttyUSB2",
                           "ttyUSB4: Orvik - USB Interface ()", "ttyUSB4"};
    QTest::newRow("none of ours") << 3 << false << QStringList() << "critical Check port: No port selected";
    QTest::newRow("ours only") << 6 << false << ours << "Serial ttyUSB0:115200";
    QTest::newRow("every port") << 6 << true << others + ours << "Serial ttyS0:115200";
}

void TestConnection::serialPorts()
{
    QFETCH(int, listed);
    QFETCH(bool, viewAll);
    QFETCH(QStringList, items);
    QFETCH(QString, result);

    setSerialPortLister([listed] {
        return QList<SerialPortEntry>{
            {"ttyS0", "Built-in port", "FT1234"},
            {"ttyUSB3", "Adapter", "orvik77"}, // the mark is in capitals
            {"ttyUSB5", "", ""},
            {"ttyUSB0", "FT232R USB UART", "A1B2ORVIKX"}, // mark and check character go
            {"ttyUSB2", "Dual UART", "ORVIK00ORVIK42Z"},   // every mark goes
            {"ttyUSB4", "x", "ORVIK"},
        }.mid(0, listed);
    });
    viewAllSerialInterfaces = viewAll;
    ConnectionDialog dialog;
    dialog.show();
    dialog.findChild<QComboBox*>(QStringLiteral("comboBox"))->setCurrentIndex(1);
    auto* ports = dialog.findChild<QComboBox*>(QStringLiteral("comboBoxPort"));
    QVERIFY(ports->isVisible());
    QStringList shown;
    for (int i = 0; i < ports->count(); ++i)
        shown << ports->itemText(i) << ports->itemData(i).toString();
    QCOMPARE(shown, items);
    QCOMPARE(clickConnect(dialog), result);
}

void TestConnection::tcpDevice()
{
    StackThread stack;
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    auto device = std::make_unique<TcpSocketDevice>(QHostAddress::LocalHost, server.serverPort());
    QSignalSpy closed(device.get(), &QErfcDevice::deviceClosed);
    std::atomic<QThread*> deletedOn{nullptr};
    // Closed on the stack thread right after a goodbye, then opened again and
    // closed from this thread, then opened again and destroyed here: the
    // socket is deleted on its own thread each time.
    for (int round = 1; round <= 3; ++round) {
        deletedOn = nullptr;
        QIODevice* stream = openOn(stack, *device);
        QVERIFY(stream);
        QCOMPARE(stream->thread(), stack.thread());
        QObject::connect(stream, &QObject::destroyed, [&] { deletedOn = QThread::currentThread(); });
        QVariant lowDelay;
        stack.run([&] { lowDelay = static_cast<QTcpSocket*>(stream)->socketOption(QAbstractSocket::LowDelayOption); });
        QCOMPARE(lowDelay.toInt(), 1);
        QVERIFY(server.hasPendingConnections() || server.waitForNewConnection(10000));
        std::unique_ptr<QTcpSocket> peer(server.nextPendingConnection());
        if (round == 1) {
            QVERIFY(carriesBothWays(stack, *device, stream, peer.get(), 200000));
            QTRY_COMPARE_WITH_TIMEOUT(closed.count(), 1, 10000); // reaches the device on its own thread
        } else if (round == 2) {
            device->close();
        } else {
            device.reset();
        }
        QTRY_COMPARE_WITH_TIMEOUT(deletedOn.load(), stack.thread(), 10000);
    }
}

void TestConnection::tcpDeviceHoldsLittleUnsent()
{
    // The node reads nothing. Of 8 MiB written, the system takes what is on
    // its way to the node and then little more (32 KiB, and the rest of the
    // segment it was filling), where it would take megabytes: what it has
    // not sent, a fresh frame waits behind.
    StackThread stack;
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    TcpSocketDevice device(QHostAddress::LocalHost, server.serverPort());
    QIODevice* stream = openOn(stack, device);
    QVERIFY(stream);
    QVERIFY(server.hasPendingConnections() || server.waitForNewConnection(10000));
    std::unique_ptr<QTcpSocket> peer(server.nextPendingConnection());
    int unsent = -1;
    stack.run([&] {
        auto* socket = static_cast<QTcpSocket*>(stream);
        socket->write(QByteArray(8 << 20, '\x11'));
        while (socket->flush()) {
        }
        if (::ioctl(int(socket->socketDescriptor()), SIOCOUTQNSD, &unsent) != 0)
            unsent = -1;
        socket->abort();
        device.close();
    });
    QVERIFY2(unsent >= 0 && unsent < 128 * 1024, qPrintable(QString::number(unsent)));
}

void TestConnection::openFailures()
{
    // A port bound by nobody listening: refuses at once.
    const ClosedPort refusing;
    const quint16 closedPort = refusing.port();
    QVERIFY(closedPort != 0);
    StackThread stack;
    TcpSocketDevice tcp(QHostAddress::LocalHost, closedPort);
    SerialDevice serial(QStringLiteral("/nonexistent/quorvel-tty"), 115200);
    QString error;
    QElapsedTimer elapsed;
    elapsed.start();
    QVERIFY(!openOn(stack, tcp, &error));
    QVERIFY2(elapsed.elapsed() < 10000, "a refused connection must not wait for the time-out");
    QCOMPARE(error, QStringLiteral("Can't connect to address! (stack thread)"));
    QVERIFY(!openOn(stack, serial, &error));
    QCOMPARE(error, QStringLiteral("Can't open device (stack thread)"));
    stack.run([&] { tcp.close(); serial.close(); });
}

// The serial road over a pseudo-terminal pair: a stack against the test
// node program on the other end.
void TestConnection::serialPseudoTerminal()
{
    if (PtyPair::relayProgram().isEmpty())
        QSKIP("socat is not installed");
    PtyPair line;
    QVERIFY(line.start());

    SerialDevice device(line.ours(), 115200);
    TestNodeProcess node(QStringLiteral(TESTNODE_PATH));
    QVERIFY(node.start({"--address", "10", "--serial", line.theirs(), "--baudrate", "115200"}));
    QErfcStack stack(1);
    stack.enable();
    QErfcStreamInterface link(&device);
    stack.bindInterface(&link);
    QTRY_VERIFY_WITH_TIMEOUT(stack.knownNodes().contains(10), 15000);
    // ECHO with the stuffing bytes in the payload.
    const QByteArray payload = QByteArray::fromHex("a0a5aa00ff") + "over the line";
    QErfcRequest echo(10, 0, payload);
    QVERIFY(stack.send(&echo));
    QVERIFY(echo.waitForResponse(10000));
    QCOMPARE(echo.response().responseCode(), QErfc::OK);
    QCOMPARE(echo.response().payload(), payload);
    stack.releaseInterface(&link);
}

// The line goes away while bytes wait to leave, so that reading and writing
// fail together: the port is closed and the loss reported once, from the
// port's own thread.
void TestConnection::serialLineLost()
{
    if (PtyPair::relayProgram().isEmpty())
        QSKIP("socat is not installed");
    PtyPair line;
    QVERIFY(line.start());
    // Open and never read: the relay stops taking bytes once this end is full.
    const int far = ::open(QFile::encodeName(line.theirs()).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(far >= 0);
    const auto closeFar = qScopeGuard([far] { ::close(far); });
    StackThread stack;
    SerialDevice device(line.ours(), 115200);
    QStringList errors;
    std::atomic<QThread*> reportedOn{nullptr};
    QObject::connect(&device, &ErfcDevice::error, [&](const QString&) { reportedOn = QThread::currentThread(); });
    QObject::connect(&device, &ErfcDevice::error, &device, [&](const QString& text) { errors << text; });
    QIODevice* stream = openOn(stack, device);
    QVERIFY(stream);
    stack.run([&] { stream->write(QByteArray(1 << 20, 'x')); });

    QVERIFY(line.stop());
    bool open = true;
    QTRY_VERIFY_WITH_TIMEOUT((stack.run([&] { open = stream->isOpen(); }), !open), 10000);
    // Every report was on its way before the port closed.
    QCoreApplication::processEvents();
    QCOMPARE(errors, QStringList{"Serial line lost"});
    QCOMPARE(reportedOn.load(), stack.thread());
    stack.run([&] { device.close(); });
}

// The test node program's several nodes share one connection: each is
// found in its mode and alone answers what is meant for it.
void TestConnection::severalTestNodesOnOneConnection()
{
    TestNodeProcess node(QStringLiteral(TESTNODE_PATH));
    const quint16 port = node.listen({"--nodes", "3", "--maintenance", "11", "--tick", "0"});
    QVERIFY(port != 0);
    TcpClientTestDevice device(port);
    QErfcStreamInterface link(&device);
    QErfcStack stack(1);
    StackLog log(&stack);
    stack.bindInterface(&link);
    stack.enable();
    QTRY_COMPARE_WITH_TIMEOUT(log.entries.size(), 3, 15000);
    log.entries.sort();
    QCOMPARE(log.entries, (QStringList{"drc 10 0 0", "drc 11 0 1", "drc 12 0 0"}));
    for (quint8 address : {10, 11, 12, 10}) {
        QErfcRequest echo(address, 0, QByteArray(1, char(address)));
        QVERIFY(stack.send(&echo) && echo.waitForResponse(10000));
        QCOMPARE(echo.response().responseCode(), QErfc::OK);
        QCOMPARE(echo.response().payload(), QByteArray(1, char(address)));
    }
    // An answer that matches no outstanding request is unexpected. A loaded
    // machine may answer a request late, after it was sent again, and the
    // second answer then finds nothing outstanding: every unexpected answer
    // must stand for such a resend, none for an answer sent astray.
    const QErfcStatistics stats = stack.statistics();
    QVERIFY2(stats.unexpResponse <= stats.retries,
             qPrintable(QStringLiteral("unexpected %1, retries %2").arg(stats.unexpResponse).arg(stats.retries)));
    stack.releaseInterface(&link);
}

QTEST_MAIN(TestConnection)
#include "tst_connection.moc"
