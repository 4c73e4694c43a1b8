// Two stacks joined through a relay that paces each direction like a
// 115200-baud 8N1 serial line (11,520 bytes/s), optionally with an added
// one-way latency: pipelined 32-byte requests answered with an empty payload,
// compared with what the line can carry at most. Prints its figures; run by
// hand on a Release build:
//   bench_erfcpaced [--latency MS] [--seconds S] [--nodes N]
//   bench_erfcpaced --check-relay [--bytes N] [--latency MS]

#include "pacedrelay.h"
#include "qerfcfunction.h"
#include "qerfcrequest.h"
#include "qerfcstack.h"
#include "qerfcstreaminterface.h"
#include "tcptestdevice.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int lineRate = PacedRelay::SerialBytesPerSecond;
constexpr int window = 16;
// A0, 4 header bytes, 32 payload bytes, 2 CRC bytes, A5; an empty answer is 8.
constexpr double requestWireBytes = 40;
constexpr double answerWireBytes = 8;

// Sends a block each way through the relay and times its arrival.
int checkRelay(int bytes, int latencyMs)
{
    TcpServerTestDevice sinkDevice(0, 10000);
    PacedRelay relay(sinkDevice.port(), lineRate, latencyMs);
    TcpClientTestDevice sourceDevice(relay.port());
    QIODevice* ends[2] = {sourceDevice.open(), sinkDevice.open()};
    if (!ends[0] || !ends[1]) {
        std::fprintf(stderr, "could not connect through the relay\n");
        return 1;
    }
    QElapsedTimer clock;
    clock.start();
    for (QIODevice* end : ends)
        end->write(QByteArray(bytes, '\x55'));
    qint64 received[2] = {0, 0};
    qint64 firstNs[2] = {-1, -1};
    qint64 lastNs[2] = {0, 0};
    while ((received[0] < bytes || received[1] < bytes) && clock.elapsed() < 120000) {
        for (int i = 0; i < 2; ++i) {
            auto* socket = static_cast<QTcpSocket*>(ends[i]);
            socket->flush();
            if (!socket->waitForReadyRead(1))
                continue;
            const qint64 n = socket->readAll().size();
            if (n > 0 && firstNs[i] < 0)
                firstNs[i] = clock.nsecsElapsed();
            received[i] += n;
            lastNs[i] = clock.nsecsElapsed();
        }
    }
    const double expected = double(bytes) / lineRate + latencyMs / 1e3;
    for (int i = 0; i < 2; ++i) {
        const double seconds = lastNs[i] / 1e9;
        const double rate = (received[i] - 1) / ((lastNs[i] - firstNs[i]) / 1e9);
        std::printf("%s: %lld bytes in %.3f s (expected %.3f s), %.1f bytes/s between first "
                    "and last byte (nominal %d), first byte after %.2f ms\n",
                    i == 1 ? "forward " : "backward", received[i], seconds, expected, rate,
                    lineRate, firstNs[i] / 1e6);
    }
    return received[0] == bytes && received[1] == bytes ? 0 : 1;
}

void printCounters(const char* name, const QErfcStatistics& s)
{
    std::printf("  stack %s: frameTx %u, frameRx %u, retries %u, maxRetries %u, unexpResponse %u, "
                "retransmit (duplicates answered) %u, crcError %u\n",
                name, s.frameTx, s.frameRx, s.retries, s.maxRetries, s.unexpResponse,
                s.retransmit, s.crcError);
}

// A further node behind B, on a fast loopback link of B's: A reaches it
// through the paced line, B routing.
struct RoutedNode
{
    TcpServerTestDevice deviceAtB{0, 10000};
    TcpClientTestDevice device{deviceAtB.port()};
    QErfcStreamInterface linkAtB{&deviceAtB};
    QErfcStreamInterface link{&device};
    QErfcStack stack;
    explicit RoutedNode(uchar address) : stack(address) {}
};

int runRequests(int seconds, int latencyMs, int nodes)
{
    // Client side first: its connect completes in the relay's backlog, the
    // relay then connects to B's listening device, and B's open finds it.
    TcpServerTestDevice deviceB(0, 10000);
    PacedRelay relay(deviceB.port(), lineRate, latencyMs);
    TcpClientTestDevice deviceA(relay.port());
    QErfcStreamInterface linkA(&deviceA);
    QErfcStreamInterface linkB(&deviceB);
    QErfcStack a(1);
    QErfcStack b(2);
    a.bindInterface(&linkA);
    b.bindInterface(&linkB);
    std::vector<std::unique_ptr<RoutedNode>> behindB;
    for (int i = 1; i < nodes; ++i) {
        behindB.emplace_back(new RoutedNode(uchar(2 + i)));
        behindB.back()->stack.bindInterface(&behindB.back()->link);
        b.bindInterface(&behindB.back()->linkAtB);
    }
    std::vector<QErfcStack*> targets = {&b};
    for (auto& n : behindB)
        targets.push_back(&n->stack);
    a.enable();
    for (QErfcStack* t : targets)
        t->enable();
    if (!QTest::qWaitFor([&] {
            for (QErfcStack* t : targets) {
                if (!a.knownNodes().contains(t->address()) || !t->knownNodes().contains(1))
                    return false;
            }
            return true;
        }, 15000)) {
        std::fprintf(stderr, "the stacks did not find each other\n");
        return 1;
    }

    QErfcFunction sink(20, QStringLiteral("SINK"), QErfc::User);
    QObject::connect(&sink, &QErfcFunction::callSignal, &sink,
                     [](QErfcIncomingRequest&, QErfcResponse&, QErfc::ResponseCode& code) {
                         code = QErfc::OK;
                     },
                     Qt::DirectConnection);
    for (QErfcStack* t : targets)
        t->registerFunction(&sink);

    // One worker per target node, each with its own window.
    const int perNode = seconds * int(lineRate / requestWireBytes) / nodes;
    const int count = perNode * nodes;
    const QByteArray payload(32, '\x5A');
    std::vector<std::unique_ptr<QErfcRequest>> requests;
    std::atomic<int> done{0};
    std::atomic<int> failed{0};
    for (int i = 0; i < count; ++i) {
        requests.emplace_back(new QErfcRequest(targets[size_t(i / perNode)]->address(), 20, payload));
        QObject::connect(requests.back().get(), &QErfcRequest::callSignal, requests.back().get(),
                         [&](const QErfcIncomingResponse& r) {
                             if (r.responseCode() != QErfc::OK)
                                 ++failed;
                             ++done;
                         },
                         Qt::DirectConnection);
    }

    a.resetStatistics();
    for (QErfcStack* t : targets)
        t->resetStatistics();
    const quint64 bytes0 = relay.forward().forwarded;
    QElapsedTimer wall;
    wall.start();
    std::vector<std::unique_ptr<QThread>> workers;
    for (int n = 0; n < nodes; ++n) {
        workers.emplace_back(QThread::create([&, n] {
            for (int i = n * perNode; i < (n + 1) * perNode; ++i)
                a.send(requests[size_t(i)].get());
        }));
        workers.back()->start();
    }
    for (auto& w : workers)
        w->wait();
    while (done.load() < count)
        QThread::usleep(100);
    const double elapsed = wall.nsecsElapsed() / 1e9;
    const double wireBytes = double(relay.forward().forwarded - bytes0) / count;

    // What the line allows: one request frame per 40 bytes; with latency, the
    // window (16 ids per generation, refilled once all are answered) adds a
    // round trip per 16 requests of each node.
    const double bound = lineRate / requestWireBytes;
    const double frameSeconds = requestWireBytes / lineRate;
    const double generation = window * frameSeconds + 2 * latencyMs / 1e3 + answerWireBytes / lineRate;
    const double windowBound = std::min(bound, nodes * window / generation);
    const double rate = count / elapsed;

    std::printf("latency %d ms each way, %d node(s): %d requests in %.3f s: %.1f requests/s, %d failed\n",
                latencyMs, nodes, count, elapsed, rate, failed.load());
    std::printf("  line bound %.0f requests/s (40 bytes per request frame): %.1f %%\n", bound,
                100 * rate / bound);
    if (windowBound < bound)
        std::printf("  window bound with the round trip %.1f requests/s: %.1f %%\n", windowBound,
                    100 * rate / windowBound);
    std::printf("  A->B bytes on the line per request %.3f (measured, hellos included), "
                "bound from them %.1f requests/s; peak relay backlog A->B %llu bytes\n",
                wireBytes, lineRate / wireBytes,
                static_cast<unsigned long long>(relay.forward().peakBacklog.load()));
    printCounters("A", a.statistics());
    for (QErfcStack* t : targets)
        printCounters(QByteArray::number(t->address()).constData(), t->statistics());

    for (QErfcStack* t : targets)
        t->unregisterFunction(&sink);
    a.releaseInterface(&linkA);
    b.releaseInterface(&linkB);
    for (auto& n : behindB) {
        b.releaseInterface(&n->linkAtB);
        n->stack.releaseInterface(&n->link);
    }
    return failed.load() == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption latency("latency", "Added one-way latency per direction (ms).", "ms", "0");
    const QCommandLineOption seconds("seconds", "Roughly how long to send, at the line bound.", "s", "15");
    const QCommandLineOption nodes("nodes", "Target nodes: B and nodes routed behind B.", "n", "1");
    const QCommandLineOption check("check-relay", "Only measure the relay's rate.");
    const QCommandLineOption bytes("bytes", "Bytes each way for --check-relay.", "n", "100000");
    parser.addOptions({latency, seconds, nodes, check, bytes});
    parser.process(app);

    if (parser.isSet(check))
        return checkRelay(parser.value(bytes).toInt(), parser.value(latency).toInt());
    return runRequests(parser.value(seconds).toInt(), parser.value(latency).toInt(),
                       qBound(1, parser.value(nodes).toInt(), 8));
}
