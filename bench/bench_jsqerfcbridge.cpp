// A node's call of a script function over loopback TCP while the script's
// GUI thread is idle: round trip through the hand-over to the GUI thread and
// the script handler, beside the same call answered by a C++ handler right
// on the stack thread. Prints median and 99th percentile; run by hand on a
// Release build: bench_jsqerfcbridge [calls]

#include "jsqerfc.h"
#include "jsrte.h"
#include "jsrtetype.h"
#include "qerfcfunction.h"
#include "qerfcrequest.h"
#include "stackpair.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

struct Figures
{
    std::vector<double> rtt; // microseconds
    int failed = 0;
};

// Calls `fid` of `to` from a worker thread `calls` times, one after the
// other, while this thread runs its event loop for the script.
Figures callRepeatedly(QErfcStack* from, uchar to, uchar fid, int calls)
{
    Figures f;
    f.rtt.reserve(size_t(calls));
    QEventLoop loop;
    std::unique_ptr<QThread> worker(QThread::create([&] {
        QErfcRequest request(to, fid, QByteArray(1, '\x07'));
        QElapsedTimer one;
        for (int i = 0; i < calls; ++i) {
            one.start();
            from->send(&request);
            if (!request.waitForResponse(10000) || request.response().responseCode() != QErfc::OK)
                ++f.failed;
            f.rtt.push_back(double(one.nsecsElapsed()) / 1e3);
        }
    }));
    QObject::connect(worker.get(), &QThread::finished, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    worker->start();
    loop.exec();
    worker->wait();
    std::sort(f.rtt.begin(), f.rtt.end());
    return f;
}

void print(const char* what, const Figures& f)
{
    std::printf("%s: %zu calls, round trip median %.1f us, p99 %.1f us, max %.1f us, %d failed\n", what,
                f.rtt.size(), f.rtt[f.rtt.size() / 2], f.rtt[f.rtt.size() * 99 / 100], f.rtt.back(),
                f.failed);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int calls = argc > 1 ? atoi(argv[1]) : 5000;

    StackPair pair;
    if (!pair.connectAndDiscover()) {
        std::fprintf(stderr, "the two stacks did not find each other\n");
        return 1;
    }
    const uchar own = pair.a->address();

    // Baseline: answered on the stack thread.
    QErfcFunction direct(21, QStringLiteral("DIRECT"), QErfc::User);
    QObject::connect(&direct, &QErfcFunction::callSignal, &direct,
                     [](QErfcIncomingRequest& request, QErfcResponse& response, QErfc::ResponseCode& code) {
                         response.setPayload(request.payload());
                         code = QErfc::OK;
                     },
                     Qt::DirectConnection);
    pair.a->registerFunction(&direct);

    JsRte engine;
    engine.registerExtension(new JsRteType, JsRte::DeleteOnDestroy);
    engine.registerExtension(new JsQErfc(pair.a.get()), JsRte::DeleteOnDestroy);
    engine.init();
    engine.QScriptEngine::evaluate(
        "erfc.registerFunction({fid: 20, request: [{n: dtype.INT8U}], response: [{n: dtype.INT8U}]},"
        " function (c) { return {code: erfc.RSP_OK, payload: {n: c.payload.n}} })");

    callRepeatedly(pair.b.get(), own, 20, 200); // warm-up
    print("C++ handler on the stack thread", callRepeatedly(pair.b.get(), own, 21, calls));
    print("script handler on the GUI thread", callRepeatedly(pair.b.get(), own, 20, calls));
    pair.a->unregisterFunction(&direct);
    return 0;
}
