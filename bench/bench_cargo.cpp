// Cargo goodput: one stream from stack A to stack B through a relay paced
// like a 115200-baud 8N1 line (11,520 bytes/s each way), windows 4096 and
// 465, with 0 and 4 ms added one-way latency; and over plain loopback TCP.
// Each run checks that the bytes arrived intact, compares the goodput with
// what the line allows for the very frames of the run, and prints the stack
// counters and the CPU time of both ends per MiB. Run by hand on a Release
// build:
//   bench_cargo [--paced-bytes N] [--tcp-bytes N] [--both-ways]

#include "benchbytes.h"
#include "cargobound.h"
#include "pacedrelay.h"
#include "qcargo.h"
#include "qcargoframe.h"
#include "qerfcdatagram.h"
#include "qerfcmsg.h"
#include "qerfcrequest.h"
#include "qerfcstack.h"
#include "qerfcstreaminterface.h"
#include "qerfcstreaminterface_p.h"
#include "stackpair.h"
#include "tcptestdevice.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QMap>
#include <QRandomGenerator>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <atomic>
#include <memory>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

constexpr int lineRate = PacedRelay::SerialBytesPerSecond;
constexpr quint8 Channel = 100;


// CPU time (ns) and wake-ups of each thread of this process, by thread id.
// The relay's threads (plain threads, named like the process) are left out,
// so the sum is what the two ends cost.
struct ThreadCpu
{
    QString name;
    qint64 ns = 0;
    qint64 wakeUps = 0; // voluntary context switches
};

QMap<QString, ThreadCpu> threadCpu()
{
    QMap<QString, ThreadCpu> out;
    const QString self = QString::number(::getpid());
    QFile processName(QStringLiteral("/proc/self/comm"));
    processName.open(QIODevice::ReadOnly);
    const QByteArray processComm = processName.readAll().trimmed();
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(tid + QStringLiteral("/comm")));
        QFile stat(tasks.filePath(tid + QStringLiteral("/schedstat")));
        QFile status(tasks.filePath(tid + QStringLiteral("/status")));
        if (!comm.open(QIODevice::ReadOnly) || !stat.open(QIODevice::ReadOnly)
            || !status.open(QIODevice::ReadOnly))
            continue;
        const QByteArray name = comm.readAll().trimmed();
        if (tid != self && name == processComm)
            continue;
        ThreadCpu t;
        t.name = QString::fromLatin1(name);
        t.ns = stat.readAll().split(' ').value(0).toLongLong();
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("voluntary_ctxt_switches:"))
                t.wakeUps = line.mid(24).trimmed().toLongLong();
        }
        out.insert(tid, t);
    }
    return out;
}

// The id of the calling thread, as /proc names it.
qint64 currentThreadId()
{
    return qint64(::syscall(SYS_gettid));
}

struct Result
{
    bool ok = false;
    double seconds = 0;
    double cpuSeconds = 0;              // all threads of both ends
    double stackSeconds[2] = {0, 0};    // the stack threads of A and B
    qint64 stackWakeUps[2] = {0, 0};
    double cargoSeconds = 0;            // the streams' send and control threads
    double readerSeconds = 0;           // the thread that writes and reads
    QCargo::Counters sender, receiver;
    QErfcStatistics statsA, statsB;
};

// Streams `data` from a stream on `a` to one on `b` (and, both ways, the same
// amount back); times until every byte has arrived, then waits until every
// window is acknowledged.
Result stream(QErfcStack* a, QErfcStack* b, const QByteArray& data, quint16 window, qint32 rate,
              bool bothWays)
{
    Result r;
    QCargo receiver(b), sender(a);
    sender.setOwnWindow(window);
    sender.setLinkByteRate(rate);
    receiver.setLinkByteRate(rate);
    if (!receiver.listen(QErfc::User, Channel))
        return r;
    sender.connectToNode(b->address(), Channel);
    if (!sender.waitForConnected(20000)
        || !QTest::qWaitFor([&] { return receiver.state() == QCargo::StateConnected; }, 20000)) {
        std::fprintf(stderr, "no connection\n");
        return r;
    }

    const QByteArray back = bothWays ? randomBytes(data.size(), 99) : QByteArray();
    QByteArray atB, atA;
    int finished = 0;
    QEventLoop loop;
    QElapsedTimer clock;
    qint64 arrivedNs = 0;
    const auto check = [&] {
        if (!arrivedNs && atB.size() >= data.size() && atA.size() >= back.size())
            arrivedNs = clock.nsecsElapsed();
        const bool dead = sender.state() != QCargo::StateConnected
            || receiver.state() != QCargo::StateConnected;
        if (dead || (arrivedNs && finished == (bothWays ? 2 : 1)))
            loop.quit();
    };
    QObject::connect(&receiver, &QCargo::readyRead, &loop, [&] { atB += receiver.readAll(); check(); });
    QObject::connect(&sender, &QCargo::readyRead, &loop, [&] { atA += sender.readAll(); check(); });
    for (QCargo* s : {&sender, &receiver}) {
        QObject::connect(s, &QCargo::finished, &loop, [&] { ++finished; check(); });
        QObject::connect(s, &QCargo::stateChanged, &loop, check);
    }
    QTimer::singleShot(600000, &loop, &QEventLoop::quit);

    a->resetStatistics();
    b->resetStatistics();
    // Each stack's thread shows itself on the first frame it receives.
    std::atomic<qint64> stackThreads[2] = {{0}, {0}};
    QObject::connect(a, &QErfcStack::trafficRx, &loop, [&stackThreads] {
        stackThreads[0] = currentThreadId();
    }, Qt::DirectConnection);
    QObject::connect(b, &QErfcStack::trafficRx, &loop, [&stackThreads] {
        stackThreads[1] = currentThreadId();
    }, Qt::DirectConnection);
    const QMap<QString, ThreadCpu> cpu = threadCpu();
    clock.start();
    sender.write(data);
    if (bothWays)
        receiver.write(back);
    loop.exec();
    const QMap<QString, ThreadCpu> cpuEnd = threadCpu();
    QObject::disconnect(a, &QErfcStack::trafficRx, &loop, nullptr);
    QObject::disconnect(b, &QErfcStack::trafficRx, &loop, nullptr);
    for (auto it = cpuEnd.cbegin(); it != cpuEnd.cend(); ++it) {
        const double seconds = (it->ns - cpu.value(it.key()).ns) / 1e9;
        r.cpuSeconds += seconds;
        if (it.key() == QString::number(::getpid()))
            r.readerSeconds += seconds;
        else if (it->name.startsWith(QLatin1String("QCargo")))
            r.cargoSeconds += seconds;
        for (int i = 0; i < 2; ++i) {
            if (it.key() == QString::number(stackThreads[i].load())) {
                r.stackSeconds[i] = seconds;
                r.stackWakeUps[i] = it->wakeUps - cpu.value(it.key()).wakeUps;
            }
        }
    }
    r.seconds = arrivedNs / 1e9;
    r.ok = arrivedNs && atB == data && atA == back;
    if (!r.ok)
        std::fprintf(stderr, "the bytes did not arrive intact (%d of %d, %d of %d)\n", int(atB.size()),
                     int(data.size()), int(atA.size()), int(back.size()));
    // The last next's answer is counted once the disconnect has gone through.
    sender.disconnectFromNode();
    sender.waitForDisconnected(10000);
    receiver.waitForDisconnected(10000);
    r.sender = sender.counters();
    r.receiver = receiver.counters();
    r.statsA = a->statistics();
    r.statsB = b->statistics();
    return r;
}

// `bytes` each way, `ways` 1 or 2; CPU is per MiB carried in all.
void printResult(const char* name, const Result& r, int bytes, int ways, const Bound* bound)
{
    const double goodput = bytes / r.seconds;
    std::printf("%-34s %8.3f s %11.0f B/s", name, r.seconds, goodput);
    if (bound)
        std::printf("  bound %7.1f B/s  %5.1f %%", bytes / bound->seconds, 100 * bound->seconds / r.seconds);
    std::printf("  %s\n", r.ok ? "intact" : "DAMAGED");
    const double perMiB = double(1 << 20) / (double(bytes) * ways);
    std::printf("    CPU %.3f s per MiB carried (both ends, relay excluded): stack A %.3f, stack B %.3f, "
                "streams %.3f, reader %.3f; stack threads woke %.0f and %.0f times a second\n",
                r.cpuSeconds * perMiB, r.stackSeconds[0] * perMiB, r.stackSeconds[1] * perMiB,
                r.cargoSeconds * perMiB, r.readerSeconds * perMiB, r.stackWakeUps[0] / r.seconds,
                r.stackWakeUps[1] / r.seconds);
    std::printf("    sender: windows %llu, restarts %llu; receiver: nexts %llu, missings %llu, ignored %llu\n",
                static_cast<unsigned long long>(r.sender.windowsSent),
                static_cast<unsigned long long>(r.sender.windowRestarts),
                static_cast<unsigned long long>(r.receiver.nextsSent),
                static_cast<unsigned long long>(r.receiver.missingsSent),
                static_cast<unsigned long long>(r.receiver.blocksIgnored));
    std::printf("    stack A: frameTx %u, frameRx %u, retries %u, maxRetries %u, duplicates %u; "
                "stack B: frameTx %u, frameRx %u, retries %u, maxRetries %u, duplicates %u\n",
                r.statsA.frameTx, r.statsA.frameRx, r.statsA.retries, r.statsA.maxRetries,
                r.statsA.retransmit, r.statsB.frameTx, r.statsB.frameRx, r.statsB.retries,
                r.statsB.maxRetries, r.statsB.retransmit);
}

// Stacks A and B joined through the paced relay.
struct PacedPair
{
    explicit PacedPair(int latencyMs)
        : relay(deviceB.port(), lineRate, latencyMs)
        , deviceA(relay.port())
    {
    }
    ~PacedPair()
    {
        a.releaseInterface(&linkA);
        b.releaseInterface(&linkB);
    }
    bool start()
    {
        a.bindInterface(&linkA);
        b.bindInterface(&linkB);
        a.enable();
        b.enable();
        return QTest::qWaitFor([&] { return a.knownNodes().contains(2) && b.knownNodes().contains(1); },
                               15000);
    }
    TcpServerTestDevice deviceB{0, 10000};
    PacedRelay relay;
    TcpClientTestDevice deviceA;
    QErfcStreamInterface linkA{&deviceA};
    QErfcStreamInterface linkB{&deviceB};
    QErfcStack a{1};
    QErfcStack b{2};
};

int runPaced(int bytes, bool bothWays)
{
    const QByteArray data = randomBytes(bytes, 1);
    bool ok = true;
    for (int latency : {0, 4}) {
        PacedPair pair(latency);
        if (!pair.start()) {
            std::fprintf(stderr, "the stacks did not find each other\n");
            return 1;
        }
        for (int window : {4096, 465}) {
            const quint64 forward0 = pair.relay.forward().forwarded;
            const Result r = stream(&pair.a, &pair.b, data, quint16(window), lineRate, bothWays);
            const quint64 forward = pair.relay.forward().forwarded - forward0;
            // The connector's function id changes the answers' headers only;
            // the bound takes a typical one.
            const Bound bound = lineBound(data, window, 1, 2, Channel, 64, pair.a.privilege(), lineRate, latency);
            const QByteArray name = QStringLiteral("paced %1 KiB, window %2, %3 ms%4")
                                        .arg(bytes / 1024).arg(window).arg(latency)
                                        .arg(bothWays ? ", both ways" : "").toLatin1();
            printResult(name.constData(), r, bytes, bothWays ? 2 : 1, &bound);
            std::printf("    line A->B: %llu bytes relayed (connect, disconnect and hellos included); "
                        "the bound's %lld (%d windows, %d line bytes per turn)\n",
                        static_cast<unsigned long long>(forward),
                        bound.forwardBytes + qint64(bound.windows) * bound.nextAnswer, bound.windows,
                        bound.turnaround);
            ok = ok && r.ok;
        }
    }
    return ok ? 0 : 1;
}

int runTcp(int bytes)
{
    const QByteArray data = randomBytes(bytes, 1);
    StackPair pair;
    if (!pair.connectAndDiscover()) {
        std::fprintf(stderr, "the stacks did not find each other\n");
        return 1;
    }
    bool ok = true;
    for (bool both : {false, true}) {
        const Result r = stream(pair.a.get(), pair.b.get(), data, 4096, 0, both);
        const QByteArray name = QStringLiteral("loopback TCP %1 KiB, window 4096%2")
                                    .arg(bytes / 1024).arg(both ? ", both ways" : "").toLatin1();
        printResult(name.constData(), r, bytes, both ? 2 : 1, nullptr);
        ok = ok && r.ok;
    }
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption paced("paced-bytes", "Bytes per run through the paced relay.", "n", "65536");
    const QCommandLineOption tcp("tcp-bytes", "Bytes per run over loopback TCP.", "n", "1048576");
    const QCommandLineOption both("both-ways", "Through the relay, stream both ways at once.");
    parser.addOptions({paced, tcp, both});
    parser.process(app);

    std::printf("paced line %d bytes/s each way; goodput = data bytes of one direction / time "
                "until the last byte arrived\n", lineRate);
    const int tcpResult = runTcp(parser.value(tcp).toInt());
    const int pacedResult = runPaced(parser.value(paced).toInt(), parser.isSet(both));
    return tcpResult || pacedResult;
}
