// Opening 10,000-line C, Lua and web-page files with their highlighters:
// the whole document highlighted once, lines per second per highlighter.
// "Document" counts the highlighting alone; "Editor" is what opening a file
// costs in the editor widget (text set, laid out and highlighted).

#include "widgetbenchmark.h"
#include "codeeditor.h"
#include "highlighterc.h"
#include "highlighterlua.h"
#include "highlighterluaserverpage.h"

#include <QApplication>
#include <QTextDocument>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

const int Lines = 10000;

// Typical source: code with keywords, calls, strings and class names, line
// comments and a block comment every few lines.
QString cSource()
{
    QString text;
    for (int i = 0; text.count(QLatin1Char('\n')) < Lines; ++i) {
        text += QStringLiteral("/* Block %1: reads the sensor\n   and scales the value */\n").arg(i);
        text += QStringLiteral("static int scale_%1(const unsigned char *raw, QString name)\n{\n").arg(i);
        text += QStringLiteral("    int value = raw[0] * 256 + raw[1]; // big-endian\n");
        text += QStringLiteral("    printf(\"%s: %d\\n\", name.toLatin1().data(), value);\n");
        text += QStringLiteral("    return value / %1;\n}\n\n").arg(i % 7 + 1);
    }
    return text.section(QLatin1Char('\n'), 0, Lines - 1);
}

QString luaSource()
{
    QString text;
    for (int i = 0; text.count(QLatin1Char('\n')) < Lines; ++i) {
        text += QStringLiteral("--[[ Handler %1\n     answers one request ]]--\n").arg(i);
        text += QStringLiteral("local function handler_%1(request, reply)\n").arg(i);
        text += QStringLiteral("    if request.value ~= nil and request.count > 0 then -- checked\n");
        text += QStringLiteral("        reply:send(\"ok \" .. tostring(request.value))\n");
        text += QStringLiteral("    else\n        return false\n    end\nend\n\n");
    }
    return text.section(QLatin1Char('\n'), 0, Lines - 1);
}

QString pageSource()
{
    QString text;
    for (int i = 0; text.count(QLatin1Char('\n')) < Lines; ++i) {
        text += QStringLiteral("<div class=\"row\" id=\"r%1\">\n").arg(i);
        text += QStringLiteral("  <!-- row %1 of the status table -->\n").arg(i);
        text += QStringLiteral("  <p><b>Value</b> <span style=\"color:red\"><?lsp print(value[%1]) ?></span></p>\n").arg(i);
        text += QStringLiteral("  <% for k, v in pairs(items) do -- each item\n       emit(k, v) end %>\n");
        text += QStringLiteral("  <script>function show() { return this.value; } /* inline */</script>\n</div>\n");
    }
    return text.section(QLatin1Char('\n'), 0, Lines - 1);
}

template <class Highlighter>
void highlightDocument(benchmark::State& state, const QString& source)
{
    for (auto _ : state) {
        state.PauseTiming();
        QTextDocument document;
        document.setPlainText(source);
        state.ResumeTiming();
        Highlighter highlighter(&document);
        highlighter.rehighlight();
        benchmark::DoNotOptimize(document.lastBlock().userState());
    }
    state.counters["lines_per_s"] = benchmark::Counter(double(Lines) * state.iterations(), benchmark::Counter::kIsRate);
}

template <class Highlighter>
void openInEditor(benchmark::State& state, const QString& source)
{
    for (auto _ : state) {
        CodeEditor editor;
        auto* highlighter = new Highlighter(editor.document());
        editor.setPlainText(source);
        highlighter->rehighlight(); // what the event loop runs after opening
        benchmark::DoNotOptimize(editor.document()->lastBlock().userState());
    }
    state.counters["lines_per_s"] = benchmark::Counter(double(Lines) * state.iterations(), benchmark::Counter::kIsRate);
}

void BM_Document_C(benchmark::State& state) { highlightDocument<HighlighterC>(state, cSource()); }
void BM_Document_Lua(benchmark::State& state) { highlightDocument<HighlighterLua>(state, luaSource()); }
void BM_Document_Page(benchmark::State& state) { highlightDocument<HighlighterLuaServerPage>(state, pageSource()); }
void BM_Editor_C(benchmark::State& state) { openInEditor<HighlighterC>(state, cSource()); }
void BM_Editor_Lua(benchmark::State& state) { openInEditor<HighlighterLua>(state, luaSource()); }
void BM_Editor_Page(benchmark::State& state) { openInEditor<HighlighterLuaServerPage>(state, pageSource()); }

BENCHMARK(BM_Document_C)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Document_Lua)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Document_Page)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Editor_C)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Editor_Lua)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Editor_Page)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    return runWidgetBenchmarks(argc, argv);
}
