#include "serialdevice.h"
#include "tcpsocketdevice.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QSerialPort>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <functional>

namespace {

// A thread with an event loop standing in for the stack thread, where the
// stream link runs the devices' open() and close().
class StackThread
{
public:
    StackThread() { m_thread.start(); m_context.moveToThread(&m_thread); }
    ~StackThread() { m_thread.quit(); m_thread.wait(); }
    QThread* thread() { return &m_thread; }
    // Runs fn there and waits, like the stack's blocking bind.
    void run(const std::function<void()>& fn)
    {
        QMetaObject::invokeMethod(&m_context, fn, Qt::BlockingQueuedConnection);
    }
    // Runs fn there without waiting; a later run() waits for it too.
    void post(const std::function<void()>& fn)
    {
        QMetaObject::invokeMethod(&m_context, fn, Qt::QueuedConnection);
    }

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

QByteArray pattern(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char(i * 7 + i / 251);
    return bytes;
}

// Opens on the stack thread; a failure's text and the thread it came from.
struct OpenResult { QIODevice* stream; QString error; QThread* errorThread; };
OpenResult openOn(StackThread& stack, ErfcDevice& device)
{
    OpenResult result{nullptr, {}, nullptr};
    const auto c = QObject::connect(&device, &ErfcDevice::error, [&](const QString& text) {
        result.error = text;
        result.errorThread = QThread::currentThread();
    });
    stack.run([&] { result.stream = device.open(); });
    QObject::disconnect(c);
    return result;
}

// Writes `goodbye` and closes twice in one go on the stack thread; what the
// peer received.
QByteArray writeAndClose(StackThread& stack, ErfcDevice& device, QIODevice* stream,
                         QIODevice* peer, const QByteArray& goodbye)
{
    stack.post([&] {
        stream->write(goodbye);
        device.close();
        device.close();
    });
    const QByteArray got = readUpTo(peer, goodbye.size());
    stack.run([] {});
    return got;
}

} // namespace

class TestConnectionDevices : public QObject
{
    Q_OBJECT
private slots:
    void tcpCarriesBytesAndKeepsTheGoodbye();
    void openFailures();
    void tcpSocketDeletedOnItsOwnThread();
    void serialPseudoTerminal();
};

void TestConnectionDevices::tcpCarriesBytesAndKeepsTheGoodbye()
{
    StackThread stack;
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    TcpSocketDevice device(QHostAddress::LocalHost, server.serverPort());
    QSignalSpy connectedSpy(&device, &TcpSocketDevice::connected);
    QSignalSpy disconnectedSpy(&device, &TcpSocketDevice::disconnected);
    QSignalSpy closedSpy(&device, &QErfcDevice::deviceClosed);
    device.close(); // without open: nothing to do

    // A device opens again after close, with a new socket.
    for (int round = 1; round <= 2; ++round) {
        const OpenResult opened = openOn(stack, device);
        QVERIFY(opened.stream);
        QCOMPARE(opened.stream->thread(), stack.thread());
        QVERIFY(opened.error.isEmpty());
        int lowDelay = 0;
        stack.run([&] {
            lowDelay = static_cast<QTcpSocket*>(opened.stream)->socketOption(QAbstractSocket::LowDelayOption).toInt();
        });
        QCOMPARE(lowDelay, 1);
        QTRY_COMPARE_WITH_TIMEOUT(connectedSpy.count(), round, 10000);
        QVERIFY(server.hasPendingConnections() || server.waitForNewConnection(10000));
        std::unique_ptr<QTcpSocket> peer(server.nextPendingConnection());

        peer->write("hello device");
        peer->flush();
        QByteArray atDevice;
        stack.run([&] { atDevice = readUpTo(opened.stream, 12); });
        QCOMPARE(atDevice, QByteArray("hello device"));

        // Written just before close, more than one socket write takes.
        const QByteArray goodbye = pattern(200000);
        const QByteArray atPeer = writeAndClose(stack, device, opened.stream, peer.get(), goodbye);
        QCOMPARE(atPeer.size(), goodbye.size());
        QVERIFY(atPeer == goodbye);
        // The socket's disconnected() reaches the device on its own thread.
        QTRY_COMPARE_WITH_TIMEOUT(closedSpy.count(), round, 10000);
        QCOMPARE(disconnectedSpy.count(), round);
    }
}

void TestConnectionDevices::openFailures()
{
    quint16 closedPort = 0; // just free, closed again: refuses at once
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        closedPort = probe.serverPort();
    }
    StackThread stack;
    TcpSocketDevice tcp(QHostAddress::LocalHost, closedPort);
    SerialDevice serial(QStringLiteral("/nonexistent/quorvel-tty"), 115200);

    QElapsedTimer elapsed;
    elapsed.start();
    const OpenResult refused = openOn(stack, tcp);
    QVERIFY2(elapsed.elapsed() < 10000, "a refused connection must not wait for the time-out");
    QVERIFY(!refused.stream);
    QCOMPARE(refused.error, QStringLiteral("Can't connect to address!"));
    QCOMPARE(refused.errorThread, stack.thread());

    const OpenResult missing = openOn(stack, serial);
    QVERIFY(!missing.stream);
    QCOMPARE(missing.error, QStringLiteral("Can't open device"));
    QCOMPARE(missing.errorThread, stack.thread());
    stack.run([&] { tcp.close(); tcp.close(); serial.close(); serial.close(); });
}

void TestConnectionDevices::tcpSocketDeletedOnItsOwnThread()
{
    StackThread stack;
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    auto device = std::make_unique<TcpSocketDevice>(QHostAddress::LocalHost, server.serverPort());
    std::atomic<QThread*> deletedOn{nullptr};
    const auto openWatched = [&] {
        deletedOn = nullptr;
        QIODevice* stream = openOn(stack, *device).stream;
        if (stream)
            QObject::connect(stream, &QObject::destroyed, [&] { deletedOn = QThread::currentThread(); });
        return stream;
    };
    // close() and the destructor called on another thread than the socket's.
    QVERIFY(openWatched());
    device->close();
    QTRY_COMPARE_WITH_TIMEOUT(deletedOn.load(), stack.thread(), 10000);
    QVERIFY(openWatched());
    device.reset();
    QTRY_COMPARE_WITH_TIMEOUT(deletedOn.load(), stack.thread(), 10000);
}

void TestConnectionDevices::serialPseudoTerminal()
{
    const QString socat = QStandardPaths::findExecutable(QStringLiteral("socat"));
    if (socat.isEmpty())
        QSKIP("socat is not installed");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // Port lock files are named after the port's file name: keep it unique.
    const QString stem = dir.filePath(QFileInfo(dir.path()).fileName());
    const QString nameA = stem + "-a", nameB = stem + "-b";
    QProcess relay;
    relay.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    relay.start(socat, {"pty,raw,echo=0,link=" + nameA, "pty,raw,echo=0,link=" + nameB});
    QVERIFY(relay.waitForStarted(10000));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(nameA) && QFileInfo::exists(nameB), 10000);

    StackThread stack;
    SerialDevice device(nameA, 115200);
    QSerialPort peer(nameB);
    QVERIFY2(peer.open(QIODevice::ReadWrite), qPrintable(peer.errorString()));
    const OpenResult opened = openOn(stack, device);
    QVERIFY2(opened.stream, qPrintable(opened.error));
    QCOMPARE(opened.stream->thread(), stack.thread());

    peer.write("to device");
    QVERIFY(peer.waitForBytesWritten(5000));
    QByteArray atDevice;
    stack.run([&] { atDevice = readUpTo(opened.stream, 9); });
    QCOMPARE(atDevice, QByteArray("to device"));

    // The other way, written just before close.
    const QByteArray goodbye = pattern(2048);
    QCOMPARE(writeAndClose(stack, device, opened.stream, &peer, goodbye), goodbye);

    peer.close();
    relay.terminate();
    QVERIFY(relay.waitForFinished(10000));
}

QTEST_GUILESS_MAIN(TestConnectionDevices)
#include "tst_connectiondevices.moc"
