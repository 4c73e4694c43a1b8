#ifndef WIDGETBENCHMARK_H
#define WIDGETBENCHMARK_H

#include <QApplication>

#include <benchmark/benchmark.h>

// The body of main() of a widget benchmark: runs the registered cases with
// an offscreen QApplication.
inline int runWidgetBenchmarks(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}

#endif // WIDGETBENCHMARK_H
