// Saving in the text editor window a 200,000-line file with mixed line
// ends (CR LF, LF, lone CR) after large edits: the time from Save to the
// bytes to upload, which pairs each line with the line of the file it
// stands for. "Reorder" moves 50,000 lines (one block from the top to the
// end, or 50 blocks of 1,000 from all over), "AllChanged" edits every line,
// "Unchanged" is the file as read. The window has no tree: after the bytes
// are made, the save ends with "no connection".

#include "widgetbenchmark.h"
#include "codeeditor.h"
#include "texteditorwindow.h"

#include <QAction>
#include <QTextBlock>
#include <QTextCursor>

#include <benchmark/benchmark.h>

#include <functional>

namespace {

const int Lines = 200000;
const int MovedLines = 50000;

// Source-like lines with repeats (empty lines, braces), ends in turn CR LF,
// CR LF, LF, CR LF and CR.
QByteArray mixedFile()
{
    static const char* const ends[] = {"\r\n", "\r\n", "\n", "\r\n", "\r"};
    QByteArray bytes;
    for (int i = 0; i < Lines; ++i) {
        switch (i % 8) {
        case 0: bytes += "static int scale_" + QByteArray::number(i) + "(int raw)"; break;
        case 1: bytes += "{"; break;
        case 7: bytes += "}"; break;
        case 6: break;
        default: bytes += "    raw = raw * " + QByteArray::number(i) + " + offset; // step"; break;
        }
        bytes += ends[i % 5];
    }
    return bytes;
}

// Cuts count lines at line from and pastes them at the end.
void moveToEnd(QTextDocument* document, int from, int count)
{
    QTextCursor cursor(document->findBlockByNumber(from));
    cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, count);
    const QString cut = cursor.selectedText().replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    cursor.removeSelectedText();
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(cut);
}

void saveAfter(benchmark::State& state, const std::function<void(QTextDocument*)>& edit)
{
    QCFTPFile file;
    file.setPath(QStringLiteral("/big.c"));
    file.setData(mixedFile());
    TextEditorWindow window(QStringLiteral("t"), static_cast<TextEditorTreeLink*>(nullptr), file);
    // No highlighter: the save alone is measured.
    window.findChild<QAction*>(QStringLiteral("actionC_C"))->setChecked(false);
    QTextDocument* document = window.findChild<CodeEditor*>(QStringLiteral("plainTextEdit"))->document();
    edit(document);
    QAction* save = window.findChild<QAction*>(QStringLiteral("actionSave"));
    for (auto _ : state)
        save->trigger();
    state.counters["lines_per_s"] = benchmark::Counter(double(Lines) * state.iterations(), benchmark::Counter::kIsRate);
}

void BM_Save_Unchanged(benchmark::State& state)
{
    saveAfter(state, [](QTextDocument*) {});
}

void BM_Save_Reorder_OneBlock(benchmark::State& state)
{
    saveAfter(state, [](QTextDocument* document) { moveToEnd(document, 0, MovedLines); });
}

void BM_Save_Reorder_50Blocks(benchmark::State& state)
{
    saveAfter(state, [](QTextDocument* document) {
        for (int block = 0; block < MovedLines / 1000; ++block)
            moveToEnd(document, block * 2000, 1000);
    });
}

void BM_Save_AllChanged(benchmark::State& state)
{
    saveAfter(state, [](QTextDocument* document) {
        QTextCursor cursor(document);
        cursor.beginEditBlock();
        for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
            cursor.setPosition(block.position());
            cursor.insertText(QStringLiteral("x"));
        }
        cursor.endEditBlock();
    });
}

BENCHMARK(BM_Save_Unchanged)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Save_Reorder_OneBlock)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Save_Reorder_50Blocks)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Save_AllChanged)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    return runWidgetBenchmarks(argc, argv);
}
