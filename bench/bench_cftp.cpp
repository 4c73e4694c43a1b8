// CFTP figures: the client against the test node's file service on a second
// stack, through a relay paced like a 115200-baud line (window 4096), through
// that line with a relay losing 2% of the frames behind it, and over plain
// loopback TCP. Each transfer checks its bytes (SHA-256) and prints the
// stacks' counters. Run by hand on a Release build:
//   bench_cftp [--paced-bytes N] [--tcp-bytes N]

#include "benchbytes.h"
#include "lossyrelay.h"
#include "pacedrelay.h"
#include "qcargo.h"
#include "qcargoframe.h"
#include "qcftpclient.h"
#include "qcftpclient_p.h"
#include "qcftpclientdirectoryupload.h"
#include "qcftpserver_p.h"
#include "qerfcdatagram.h"
#include "qerfcmsg.h"
#include "qerfcrequest.h"
#include "qerfcstack.h"
#include "qerfcstreaminterface.h"
#include "qerfcstreaminterface_p.h"
#include "stackpair.h"
#include "tcptestdevice.h"
#include "testcftpserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <memory>

namespace {

constexpr int LineRate = PacedRelay::SerialBytesPerSecond;
constexpr quint8 Port = TestCftpServer::Channel;

QByteArray sha256(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().left(16);
}

int stuffedSize(const QErfcMsg& msg)
{
    return QErfcFrameStuffing::stuff(msg.encode()).size();
}

// Seconds the paced line needs for a Cargo stream of these bytes from A to B
// (window 4096): every data block and end of window, and between windows the
// end-of-window answer, the next request and its answer.
double cargoBoundSeconds(const QByteArray& data, QErfc::Privilege privilege)
{
    const int window = 4096;
    QErfcRequest endRequest(2, Port, QCargoFrame::endOfWindow(0));
    QErfcMsg endFrame(&endRequest, 1);
    endFrame.setPrivilege(privilege);
    QErfcMsg endAnswer;
    endFrame.makeResponse(&endAnswer);
    QErfcRequest nextRequest(1, 64, QCargoFrame::next(window));
    QErfcMsg nextFrame(&nextRequest, 2);
    nextFrame.setPrivilege(privilege);
    QErfcMsg nextAnswer;
    nextFrame.makeResponse(&nextAnswer);
    const int turn = stuffedSize(endAnswer) + stuffedSize(nextFrame) + stuffedSize(nextAnswer);
    qint64 bytes = 0;
    int windows = 0;
    for (int offset = 0; offset < data.size(); offset += window, ++windows) {
        const int n = qMin(window, data.size() - offset);
        quint8 sequence = 0;
        for (int start = 0; start < n; start += QCargoFrame::MaxBlock) {
            const int length = qMin<int>(QCargoFrame::MaxBlock, n - start);
            QErfcDatagram block(2, Port, QCargoFrame::block(sequence, data.constData() + offset + start, length, false));
            QErfcMsg frame(&block, 1);
            frame.setPrivilege(privilege);
            bytes += stuffedSize(frame);
            sequence = quint8((sequence + 1) % QCargoFrame::Sequences);
        }
        bytes += stuffedSize(endFrame);
    }
    return double(bytes + qint64(windows - 1) * turn) / LineRate;
}

// The first finished() code after `start`, running this thread's event loop
// (the server answers on it); -1 on time-out.
int run(QCFTPClient* client, const std::function<bool()>& start, int timeoutMs = 600000)
{
    int code = -1;
    QEventLoop loop;
    QObject::connect(client, &QCFTPClient::finished, &loop, [&](int c) {
        if (code == -1) {
            code = c;
            loop.quit();
        }
    }, Qt::QueuedConnection);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    if (!start())
        return -2;
    loop.exec();
    return code;
}

// Two stacks, the test node's server on B, a client on A; the link given by
// the caller (TCP, or through relays).
struct Bench
{
    Bench(QErfcInterface* linkA, QErfcInterface* linkB, qint32 rate)
        : rate(rate)
    {
        a.bindInterface(linkA);
        b.bindInterface(linkB);
        a.enable();
        b.enable();
        this->linkA = linkA;
        this->linkB = linkB;
        server.setRootPath(root.path());
        QCFTPServerPrivate::get(&server)->m_cargo.setLinkByteRate(rate);
        server.listen(QErfc::User, Port);
    }
    ~Bench()
    {
        client.reset();
        a.releaseInterface(linkA);
        b.releaseInterface(linkB);
    }
    bool discover()
    {
        return QTest::qWaitFor([&] { return a.knownNodes().contains(2) && b.knownNodes().contains(1); }, 15000);
    }
    // Milliseconds from the connect to the login's finished(0); -1 on failure.
    double login()
    {
        if (client) {
            client->disconnectFromServer();
            if (!QTest::qWaitFor([&] { return server.state() == QCFTP::Server::Listening; }, 20000))
                return -1;
        }
        client.reset(new QCFTPClient(&a));
        QElapsedTimer clock;
        clock.start();
        const int code = run(client.get(), [&] { return client->connectToServer("user", "secret", 2, Port); });
        const double ms = clock.nsecsElapsed() / 1e6;
        if (code != 0)
            return -1;
        QCFTPClientPrivate::get(client.get())->cargo->setLinkByteRate(rate);
        return ms;
    }
    void counters(const char* what)
    {
        const QErfcStatistics sa = a.statistics(), sb = b.statistics();
        std::printf("    %s: stack A frameTx %u frameRx %u retries %u duplicates %u; stack B frameTx %u frameRx %u "
                    "retries %u duplicates %u\n",
                    what, sa.frameTx, sa.frameRx, sa.retries, sa.retransmit, sb.frameTx, sb.frameRx, sb.retries,
                    sb.retransmit);
    }

    qint32 rate;
    QErfcStack a{1};
    QErfcStack b{2};
    QErfcInterface* linkA;
    QErfcInterface* linkB;
    QTemporaryDir root;
    TestCftpServer server{&b, "user", "secret"};
    std::unique_ptr<QCFTPClient> client;
};

// STR then GET of `data`; seconds of each, and whether the bytes came back.
struct Transfer
{
    double store = 0, get = 0;
    bool intact = false;
};

Transfer transfer(Bench& bench, const QByteArray& data)
{
    Transfer t;
    QCFTPFile file;
    file.setPath("/bench.bin");
    file.setData(data);
    bench.a.resetStatistics();
    bench.b.resetStatistics();
    QElapsedTimer clock;
    clock.start();
    if (run(bench.client.get(), [&] { return bench.client->uploadFile(file); }) != 0)
        return t;
    t.store = clock.nsecsElapsed() / 1e9;
    QFile stored(bench.root.filePath("bench.bin"));
    stored.open(QIODevice::ReadOnly);
    const QByteArray onDisk = stored.readAll();
    clock.restart();
    if (run(bench.client.get(), [&] { return bench.client->downloadFile("/bench.bin"); }) != 0)
        return t;
    t.get = clock.nsecsElapsed() / 1e9;
    const QByteArray back = bench.client->downloadedFile().data();
    t.intact = onDisk == data && back == data;
    std::printf("    SHA-256 sent %s, stored %s, fetched %s\n", sha256(data).constData(), sha256(onDisk).constData(),
                sha256(back).constData());
    return t;
}

// 100 files of 256 bytes in 10 folders: milliseconds per command beyond
// what the line needs for the files' bytes.
double uploadOverhead(Bench& bench, double lineSecondsPerFile, bool* ok)
{
    QTemporaryDir local;
    for (int i = 0; i < 100; ++i) {
        QDir().mkpath(local.filePath(QStringLiteral("f%1").arg(i % 10)));
        QFile f(local.filePath(QStringLiteral("f%1/file%2.bin").arg(i % 10).arg(i)));
        f.open(QIODevice::WriteOnly);
        f.write(randomBytes(256, quint32(i)));
    }
    QCftpClientDirectoryUpload upload(bench.client.get());
    QEventLoop loop;
    QObject::connect(&upload, &QCftpClientDirectoryUpload::finished, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    QElapsedTimer clock;
    clock.start();
    upload.upload(local.path(), "/tree/");
    loop.exec();
    const double seconds = clock.nsecsElapsed() / 1e9;
    *ok = upload.errorString().isEmpty();
    for (int i = 0; i < 100 && *ok; ++i) {
        QFile f(bench.root.filePath(QStringLiteral("tree/f%1/file%2.bin").arg(i % 10).arg(i)));
        *ok = f.open(QIODevice::ReadOnly) && f.readAll() == randomBytes(256, quint32(i));
    }
    const int commands = 1 + 10 + 100; // MKD /tree/, the folders, the files
    return (seconds - 100 * lineSecondsPerFile) * 1000 / commands;
}

const char* verdict(bool ok) { return ok ? "ok" : "MISSED"; }

int runPaced(int bytes)
{
    bool allOk = true;
    const QByteArray data = randomBytes(bytes, 1);
    {
        TcpServerTestDevice deviceB{0, 10000};
        PacedRelay relay(deviceB.port(), LineRate, 0);
        TcpClientTestDevice deviceA(relay.port());
        QErfcStreamInterface linkA(&deviceA), linkB(&deviceB);
        Bench bench(&linkA, &linkB, LineRate);
        if (!bench.discover())
            return 1;
        std::printf("paced 115200-baud line (%d bytes/s each way), window 4096\n", LineRate);
        double best = 1e9;
        for (int i = 0; i < 3; ++i)
            best = qMin(best, bench.login());
        std::printf("  login (capacity, connect, HND, LOG): %.1f ms (best of 3)  goal <= 150 ms  %s\n", best,
                    verdict(best > 0 && best <= 150));
        allOk = allOk && best > 0 && best <= 150;

        const double bound = cargoBoundSeconds(data, bench.a.privilege());
        const Transfer t = transfer(bench, data);
        const double boundRate = bytes / bound;
        std::printf("  %d KiB: Cargo bound %.0f B/s; STR %.0f B/s (ratio %.3f), GET %.0f B/s (ratio %.3f)  "
                    "goal >= 0.87  %s, %s\n",
                    bytes / 1024, boundRate, bytes / t.store, bound / t.store, bytes / t.get, bound / t.get,
                    verdict(bound / t.store >= 0.87 && bound / t.get >= 0.87), t.intact ? "byte-exact" : "DAMAGED");
        bench.counters("STR and GET");
        allOk = allOk && t.intact && bound / t.store >= 0.87 && bound / t.get >= 0.87;

        bool ok = false;
        const QByteArray header = "STR\n/tree/f0/file0.bin\n1700000000\n256\n\n";
        const double perFile = cargoBoundSeconds(header + randomBytes(256, 0), bench.a.privilege());
        const double overhead = uploadOverhead(bench, perFile, &ok);
        std::printf("  100-file upload (256 B files, 10 folders): %.1f ms overhead per command  goal <= 40 ms  %s, %s\n",
                    overhead, verdict(overhead <= 40), ok ? "byte-exact" : "DAMAGED");
        bench.counters("upload");
        allOk = allOk && ok && overhead <= 40;
    }
    {
        // The paced line from A, then a relay that loses 2% of all frames, then B.
        TcpServerTestDevice deviceB{0, 10000};
        LossyRelay lossy(deviceB.port());
        PacedRelay relay(lossy.port(), LineRate, 0);
        TcpClientTestDevice deviceA(relay.port());
        QErfcStreamInterface linkA(&deviceA), linkB(&deviceB);
        Bench bench(&linkA, &linkB, LineRate);
        if (!bench.discover() || bench.login() < 0)
            return 1;
        LossyRelay::Rule rule;
        rule.probability = 0.02;
        rule.seed = 3;
        lossy.setRule(rule);
        QCFTPFile file;
        file.setPath("/lossy.bin");
        file.setData(data);
        bench.a.resetStatistics();
        bench.b.resetStatistics();
        QElapsedTimer clock;
        clock.start();
        const int code = run(bench.client.get(), [&] { return bench.client->uploadFile(file); });
        const double seconds = clock.nsecsElapsed() / 1e9;
        QFile stored(bench.root.filePath("lossy.bin"));
        stored.open(QIODevice::ReadOnly);
        const bool intact = code == 0 && stored.readAll() == data;
        const double ratio = cargoBoundSeconds(data, bench.a.privilege()) / seconds;
        std::printf("  %d KiB STR, 2%% frames lost: %.0f B/s, ratio %.3f  goal >= 0.40  %s, %s (%llu frames dropped)\n",
                    bytes / 1024, bytes / seconds, ratio, verdict(ratio >= 0.40), intact ? "byte-exact" : "DAMAGED",
                    static_cast<unsigned long long>(lossy.dropped()));
        bench.counters("lossy STR");
        allOk = allOk && intact && ratio >= 0.40;
    }
    return allOk ? 0 : 1;
}

// Cargo's own goodput over the same pair: one stream, A to B.
double cargoGoodput(QErfcStack* a, QErfcStack* b, const QByteArray& data)
{
    QCargo receiver(b), sender(a);
    if (!receiver.listen(QErfc::User, 100))
        return 0;
    sender.connectToNode(b->address(), 100);
    if (!sender.waitForConnected(20000)
        || !QTest::qWaitFor([&] { return receiver.state() == QCargo::StateConnected; }, 20000))
        return 0;
    QByteArray got;
    QEventLoop loop;
    QObject::connect(&receiver, &QCargo::readyRead, &loop, [&] {
        got += receiver.readAll();
        if (got.size() >= data.size())
            loop.quit();
    });
    QElapsedTimer clock;
    clock.start();
    sender.write(data);
    loop.exec();
    const double seconds = clock.nsecsElapsed() / 1e9;
    sender.disconnectFromNode();
    sender.waitForDisconnected(10000);
    return got == data ? data.size() / seconds : 0;
}

int runTcp(int bytes)
{
    TcpServerTestDevice deviceB{0, 10000};
    TcpClientTestDevice deviceA(deviceB.port());
    QErfcStreamInterface linkA(&deviceA), linkB(&deviceB);
    Bench bench(&linkA, &linkB, 0);
    if (!bench.discover())
        return 1;
    std::printf("loopback TCP\n");
    bool allOk = true;
    double best = 1e9;
    for (int i = 0; i < 5; ++i)
        best = qMin(best, bench.login());
    std::printf("  login: %.2f ms (best of 5)  goal <= 20 ms  %s\n", best, verdict(best > 0 && best <= 20));
    allOk = allOk && best > 0 && best <= 20;

    const QByteArray data = randomBytes(bytes, 2);
    const double cargo = cargoGoodput(&bench.a, &bench.b, data);
    const Transfer t = transfer(bench, data);
    const double store = bytes / t.store, get = bytes / t.get;
    std::printf("  %d KiB: Cargo %.0f B/s; STR %.0f B/s (%.1f %%), GET %.0f B/s (%.1f %%)  goal >= 90 %%  %s, %s\n",
                bytes / 1024, cargo, store, 100 * store / cargo, get, 100 * get / cargo,
                verdict(store >= 0.9 * cargo && get >= 0.9 * cargo), t.intact ? "byte-exact" : "DAMAGED");
    bench.counters("STR and GET");
    allOk = allOk && t.intact && store >= 0.9 * cargo && get >= 0.9 * cargo;

    // A command with no data, many times: its round trip is all overhead.
    const int n = 200;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < n; ++i) {
        if (run(bench.client.get(), [&] { return bench.client->createPath("/same"); }) != 0)
            return 1;
    }
    const double perCommand = clock.nsecsElapsed() / 1e6 / n;
    bool ok = false;
    const double overhead = uploadOverhead(bench, 0, &ok);
    std::printf("  MKD round trip: %.2f ms; 100-file upload: %.2f ms per command  goal <= 2 ms  %s, %s\n", perCommand,
                overhead, verdict(perCommand <= 2 && overhead <= 2), ok ? "byte-exact" : "DAMAGED");
    allOk = allOk && ok && perCommand <= 2 && overhead <= 2;
    return allOk ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption paced("paced-bytes", "Bytes per transfer through the paced relay.", "n", "65536");
    const QCommandLineOption tcp("tcp-bytes", "Bytes per transfer over loopback TCP.", "n", "1048576");
    parser.addOptions({paced, tcp});
    parser.process(app);
    const int tcpResult = runTcp(parser.value(tcp).toInt());
    const int pacedResult = runPaced(parser.value(paced).toInt());
    return tcpResult || pacedResult;
}
