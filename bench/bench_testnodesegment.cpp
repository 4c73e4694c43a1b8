// A full segment of test nodes against one stack over loopback TCP, as the
// program meets it: the test node runs 62 nodes (addresses 1..62), a stack at
// address 0 connects, and every node it hears of gets its information read
// (the 13 NODE_INFO requests the node manager sends). Prints, per round, the
// time from connecting until every node has its description and serial, the
// stack's retransmissions and given-up requests, and the test node's threads
// and CPU time. Rounds connect right after the nodes are up and again after
// they have settled. Run by hand on a Release build:
//   bench_testnodesegment [nodes, default 62] [rounds, default 3] [ms before the first, default 0]

#include "childprocess.h"
#include "qerfcnodeinfo.h"
#include "qerfcstack.h"
#include "qerfcstreaminterface.h"
#include "tcptestdevice.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include <cstdio>
#include <map>
#include <memory>
#include <unistd.h>

namespace {

constexpr uchar Own = 0;
constexpr int GiveUpMs = 30000;

struct ProcessFigures
{
    int threads = 0;
    double cpuSeconds = 0;
};

ProcessFigures processFigures(qint64 pid)
{
    ProcessFigures figures;
    figures.threads = int(QDir(QStringLiteral("/proc/%1/task").arg(pid)).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (stat.open(QIODevice::ReadOnly)) {
        const QByteArray text = stat.readAll();
        // The fields after the command name's closing parenthesis; utime and
        // stime are the 14th and 15th of the line.
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 12)
            figures.cpuSeconds = (fields.at(11).toLongLong() + fields.at(12).toLongLong()) / double(sysconf(_SC_CLK_TCK));
    }
    return figures;
}

void wait(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

bool complete(const QErfcNodeInfo& info)
{
    return !info.nodeDescription().isEmpty() && !info.serial().isEmpty();
}

// Connects, reads every node's information, disconnects. False when not
// every node was complete within GiveUpMs.
bool round(quint16 port, int nodes, const char* when)
{
    QErfcStack stack(Own);
    TcpClientTestDevice device(port);
    QErfcStreamInterface link(&device);
    std::map<uchar, std::unique_ptr<QErfcNodeInfo>> infos;
    int completeCount = 0;
    qint64 allKnownMs = -1;
    QElapsedTimer clock;
    // Queued: drcUpdate comes from the stack thread; the records live here.
    QObject::connect(&stack, &QErfcStack::drcUpdate, &stack,
                     [&](uchar address, QErfc::DrcUpdate state, QErfc::Mode) {
                         if (state != QErfc::NewNode || infos.count(address))
                             return;
                         auto* info = new QErfcNodeInfo(&stack, address);
                         infos[address].reset(info);
                         QObject::connect(info, &QErfcNodeInfo::nodeInfoRefreshed, &stack,
                                          [&completeCount, info] {
                                              if (complete(*info))
                                                  ++completeCount;
                                          },
                                          Qt::QueuedConnection);
                         info->refreshNodeInfo();
                         if (int(infos.size()) == nodes)
                             allKnownMs = clock.elapsed();
                     },
                     Qt::QueuedConnection);
    clock.start();
    try {
        stack.bindInterface(&link);
    } catch (...) {
        std::fprintf(stderr, "cannot connect to port %u\n", port);
        return false;
    }
    stack.enable();
    while (completeCount < nodes && clock.elapsed() < GiveUpMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const qint64 doneMs = clock.elapsed();
    const QErfcStatistics s = stack.statistics();
    // The first node's counters: its share of the segment's discovery.
    QErfcStatistics first;
    if (!infos.empty()) {
        QErfcNodeInfo* info = infos.begin()->second.get();
        info->refreshStatistics();
        if (info->waitForStatistics(5000))
            first = info->statistics();
    }
    std::printf("%-9s all %d known after %lld ms; %d of %d with description and serial after %lld ms; "
                "retransmissions %u, given up %u, unexpected answers %u; first node: %u frames in, "
                "%u out\n",
                when, nodes, allKnownMs, completeCount, nodes, doneMs, s.retries, s.maxRetries,
                s.unexpResponse, first.frameRx, first.frameTx);
    std::fflush(stdout);
    infos.clear();
    stack.disable();
    stack.releaseInterface(&link);
    return completeCount == nodes;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int nodes = args.size() > 1 ? args.at(1).toInt() : 62;
    const int rounds = args.size() > 2 ? args.at(2).toInt() : 3;
    const int firstDelayMs = args.size() > 3 ? args.at(3).toInt() : 0;

    ChildProcess node;
    node.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer startClock;
    startClock.start();
    node.start(QStringLiteral(TESTNODE_PATH),
               {"--listen", "0", "--nodes", QString::number(nodes), "--address", QString::number(63 - nodes)});
    quint16 port = 0;
    int ready = 0;
    while (ready < nodes && node.waitForReadyRead(60000)) {
        while (node.canReadLine()) {
            const QByteArray line = node.readLine().trimmed();
            if (line.startsWith("listening port="))
                port = quint16(line.mid(15).toUInt());
            else if (line.startsWith("ready address="))
                ++ready;
        }
    }
    if (!port || ready < nodes) {
        std::fprintf(stderr, "the test node did not start its %d nodes\n", nodes);
        node.kill();
        node.waitForFinished();
        return 1;
    }
    ProcessFigures figures = processFigures(node.processId());
    std::printf("test node: %d nodes up after %lld ms, %d threads, %.2f s CPU\n", nodes, startClock.elapsed(),
                figures.threads, figures.cpuSeconds);

    wait(firstDelayMs);
    bool ok = round(port, nodes, firstDelayMs > 0 ? "later" : "at once");
    for (int i = 1; i < rounds; ++i) {
        // Settled: the nodes' own discovery is over; the hub has dropped the
        // last connection and waits for the next.
        wait(4000);
        ok = round(port, nodes, "settled") && ok;
    }
    figures = processFigures(node.processId());
    std::printf("test node: %.2f s CPU in all, %d threads\n", figures.cpuSeconds, figures.threads);

    // Ended as a user ends it, so that it removes its folders.
    node.terminate();
    if (!node.waitForFinished(10000)) {
        node.kill();
        node.waitForFinished();
    }
    return ok ? 0 : 1;
}
