// Script plots through the script API: one 800x400 plot with one line graph,
// fed and redrawn the way a script follows a live signal.

#include "widgetbenchmark.h"
#include "jsplot.h"
#include "jsplotwidget.h"
#include "jsrte.h"

#include <QApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <numeric>
#include <benchmark/benchmark.h>
#include <memory>

namespace {

// A runtime with JsPlot and the plot as the global "plot", graph "g".
struct Bench
{
    Bench()
    {
        engine.registerExtension(new JsPlot, JsRte::DeleteOnDestroy);
        engine.init();
        plot.resize(800, 400);
        plot.show();
        engine.globalObject().setProperty("plot", engine.newQObject(&plot));
        run("plot.addGraph('g');");
    }
    void run(const QString& code)
    {
        engine.QScriptEngine::evaluate(code);
        if (engine.hasUncaughtException())
            qFatal("%s", qPrintable(engine.uncaughtException().toString()));
    }

    JsRte engine;
    JsPlotWidget plot;
};

// (a) 100 000 points in calls of 1000.
void BM_AddDataInBlocks(benchmark::State& state)
{
    Bench b;
    b.run("var ks = [], vs = [];"
          "for (var c = 0; c < 100; ++c) { var k = [], v = [];"
          "  for (var i = 0; i < 1000; ++i) { k.push(c * 1000 + i); v.push(Math.sin(i)); }"
          "  ks.push(k); vs.push(v); }");
    for (auto _ : state) {
        b.run("plot.clearData('g');");
        QElapsedTimer timer;
        timer.start();
        b.run("for (var c = 0; c < 100; ++c) plot.addData('g', ks[c], vs[c]);");
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
    }
    state.counters["points"] = b.plot.graph("g")->dataCount();
}
BENCHMARK(BM_AddDataInBlocks)->UseManualTime()->Unit(benchmark::kMillisecond);

// (b) 100 000 calls of one point each.
void BM_AddDataSingle(benchmark::State& state)
{
    Bench b;
    for (auto _ : state) {
        b.run("plot.clearData('g');");
        QElapsedTimer timer;
        timer.start();
        b.run("for (var i = 0; i < 100000; ++i) plot.addData('g', i, 0.5);");
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
    }
    state.counters["points"] = b.plot.graph("g")->dataCount();
}
BENCHMARK(BM_AddDataSingle)->UseManualTime()->Unit(benchmark::kMillisecond);

// (c), (d) One point appended and a replot, with all points in view or the
// view on the last 1000; the median and the worst of 200 rounds.
void BM_AppendAndReplot(benchmark::State& state)
{
    const int points = int(state.range(0));
    const bool zoomed = state.range(1) != 0;
    Bench b;
    b.run(QString("var k = [], v = []; for (var i = 0; i < %1; ++i) { k.push(i); v.push(Math.sin(i / 50)); }"
                  "plot.setData('g', k, v); k = v = null; var n = %1;")
              .arg(points));
    QVector<double> times;
    for (auto _ : state) {
        for (int round = 0; round < 200; ++round) {
            if (zoomed)
                b.run("plot.setAxisRange(0, n - 1000, n + 1); plot.setAxisRange(1, -1.1, 1.1);");
            else
                b.run("plot.setAxisRange(0, 0, n + 1); plot.setAxisRange(1, -1.1, 1.1);");
            QElapsedTimer timer;
            timer.start();
            b.run("plot.addData('g', n, Math.sin(n / 50)); ++n; plot.replot();");
            times.append(timer.nsecsElapsed() / 1e6);
        }
        state.SetIterationTime(std::accumulate(times.cbegin(), times.cend(), 0.0) / 1e3);
    }
    std::sort(times.begin(), times.end());
    state.counters["median_ms"] = times.at(times.size() / 2);
    state.counters["worst_ms"] = times.last();
}
BENCHMARK(BM_AppendAndReplot)
    ->Args({100000, 0})
    ->Args({1000000, 0})
    ->Args({100000, 1})
    ->Args({1000000, 1})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// The append alone on a small and a large graph: no copy of the points per call.
void BM_AppendOnly(benchmark::State& state)
{
    Bench b;
    b.run(QString("var k = [], v = []; for (var i = 0; i < %1; ++i) { k.push(i); v.push(0); }"
                  "plot.setData('g', k, v); k = v = null; var n = %1;")
              .arg(state.range(0)));
    for (auto _ : state)
        b.run("for (var i = 0; i < 1000; ++i) { plot.addData('g', n, 1); ++n; }");
    state.counters["calls"] = benchmark::Counter(1000, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_AppendOnly)->Arg(1000)->Arg(1000000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    return runWidgetBenchmarks(argc, argv);
}
