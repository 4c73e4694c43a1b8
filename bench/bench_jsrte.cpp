// Starting a package of 200 members with a form: a fresh engine per start,
// as the script window makes one per run.

#include "widgetbenchmark.h"
#include "jsrte.h"
#include "jsrtewidgetfactory.h"
#include "tarreader.h"

#include <QApplication>
#include <QTableWidget>
#include <QWidget>
#include <benchmark/benchmark.h>

namespace {

class TableFactory : public JsRteWidgetFactory
{
public:
    TableFactory() { setClassName(QStringLiteral("QTableWidget")); }
    QWidget* create(QWidget* parent) override { return new QTableWidget(parent); }
};

void addMember(QByteArray& tar, const QByteArray& name, const QByteArray& data)
{
    QByteArray header(512, '\0');
    header.replace(0, name.size(), name);
    const QByteArray size = QByteArray::number(data.size(), 8).rightJustified(11, '0');
    header.replace(124, size.size(), size);
    tar += header + data + QByteArray((512 - data.size() % 512) % 512, '\0');
}

// main.js, main.ui, 40 modules that main.js requires, 157 data files of 4 KiB.
QByteArray package()
{
    QByteArray tar;
    QByteArray main;
    for (int i = 0; i < 40; ++i) {
        addMember(tar, "./lib/mod" + QByteArray::number(i) + ".js",
                  "exports.value = " + QByteArray::number(i) + ";\n"
                  "exports.twice = function (x) { return 2 * x + exports.value; };\n");
        main += "var m" + QByteArray::number(i) + " = require('lib/mod" + QByteArray::number(i) + "');\n";
    }
    for (int i = 0; i < 157; ++i)
        addMember(tar, "./data/file" + QByteArray::number(i) + ".bin", QByteArray(4096, char('a' + i % 26)));
    main += "function Entry(ui) { ui.table.setRowCount(10); ui.table.setColumnCount(4); }\n"
            "var information = {name: 'Bench', uifile: 'main.ui', entry: Entry};\n";
    addMember(tar, "./main.js", main);
    QByteArray form = R"(<ui version="4.0"><widget class="QWidget" name="Form">
<layout class="QVBoxLayout" name="layout">)";
    for (int i = 0; i < 20; ++i)
        form += "<item><widget class=\"QLabel\" name=\"label" + QByteArray::number(i) + "\"/></item>";
    form += R"(<item><widget class="QTableWidget" name="table"/></item></layout></widget></ui>)";
    addMember(tar, "./main.ui", form);
    tar += QByteArray(1024, '\0');
    QByteArray packed;
    gzipCompress(tar, packed, 6);
    return packed;
}

void BM_StartPackage(benchmark::State& state)
{
    const QByteArray archive = package();
    for (auto _ : state) {
        QWidget host;
        JsRte engine;
        engine.setUiHost(&host);
        engine.registerWidgetFactory(new TableFactory, JsRte::DeleteOnDestroy);
        engine.startPackage(archive, true);
    }
    state.counters["members"] = 200;
}
BENCHMARK(BM_StartPackage)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    return runWidgetBenchmarks(argc, argv);
}
