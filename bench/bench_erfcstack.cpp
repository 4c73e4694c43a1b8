// Two stacks over loopback TCP, 32-byte requests answered by a function:
// pipelined throughput with window 16, and the round trip of one
// synchronous caller. Prints its figures; run by hand on a Release build.

#include "qerfcfunction.h"
#include "qerfcrequest.h"
#include "stackpair.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

namespace {

double processCpuSeconds()
{
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// Runs `work` on a worker thread; the stacks need nothing from this one meanwhile.
template <typename F>
void runOnWorker(F&& work)
{
    std::unique_ptr<QThread> worker(QThread::create(std::forward<F>(work)));
    worker->start();
    worker->wait();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int pipelined = argc > 1 ? atoi(argv[1]) : 50000;
    const int synchronous = argc > 2 ? atoi(argv[2]) : 20000;

    StackPair pair;
    if (!pair.connectAndDiscover()) {
        std::fprintf(stderr, "the two stacks did not find each other\n");
        return 1;
    }
    QErfcFunction echo(20, QStringLiteral("BENCH"), QErfc::User);
    QObject::connect(&echo, &QErfcFunction::callSignal, &echo,
                     [](QErfcIncomingRequest& request, QErfcResponse& response,
                        QErfc::ResponseCode& code) {
                         response.setPayload(request.payload());
                         code = QErfc::OK;
                     },
                     Qt::DirectConnection);
    pair.b->registerFunction(&echo);
    const uchar target = pair.b->address();
    const QByteArray payload(32, '\x5A');

    // (a) Pipelined: the window keeps up to 16 requests outstanding.
    {
        std::vector<std::unique_ptr<QErfcRequest>> requests;
        requests.reserve(size_t(pipelined));
        std::atomic<int> done{0};
        std::atomic<int> failed{0};
        for (int i = 0; i < pipelined; ++i) {
            requests.emplace_back(new QErfcRequest(target, 20, payload));
            QObject::connect(requests.back().get(), &QErfcRequest::callSignal,
                             requests.back().get(),
                             [&](const QErfcIncomingResponse& r) {
                                 if (r.responseCode() != QErfc::OK)
                                     ++failed;
                                 ++done;
                             },
                             Qt::DirectConnection);
        }
        const double cpu0 = processCpuSeconds();
        QElapsedTimer wall;
        wall.start();
        runOnWorker([&] {
            for (auto& r : requests)
                pair.a->send(r.get());
            while (done.load() < pipelined)
                QThread::usleep(100);
        });
        const double seconds = double(wall.nsecsElapsed()) / 1e9;
        const double cpu = processCpuSeconds() - cpu0;
        std::printf("pipelined: %d requests in %.3f s: %.0f requests/s, %.1f us CPU per pair, %d failed\n",
                    pipelined, seconds, pipelined / seconds, cpu * 1e6 / pipelined, failed.load());
    }

    // (b) One synchronous caller.
    {
        std::vector<double> rtt;
        rtt.reserve(size_t(synchronous));
        int failed = 0;
        const double cpu0 = processCpuSeconds();
        QElapsedTimer wall;
        wall.start();
        runOnWorker([&] {
            QErfcRequest request(target, 20, payload);
            QElapsedTimer one;
            for (int i = 0; i < synchronous; ++i) {
                one.start();
                pair.a->send(&request);
                if (request.waitForResponse().responseCode() != QErfc::OK)
                    ++failed;
                rtt.push_back(double(one.nsecsElapsed()) / 1e3);
            }
        });
        const double seconds = double(wall.nsecsElapsed()) / 1e9;
        const double cpu = processCpuSeconds() - cpu0;
        std::sort(rtt.begin(), rtt.end());
        std::printf("synchronous: %d requests in %.3f s: %.0f requests/s, round trip median %.1f us, "
                    "p99 %.1f us, %.1f us CPU per pair, %d failed\n",
                    synchronous, seconds, synchronous / seconds, rtt[rtt.size() / 2],
                    rtt[rtt.size() * 99 / 100], cpu * 1e6 / synchronous, failed);
    }
    pair.b->unregisterFunction(&echo);
    return 0;
}
