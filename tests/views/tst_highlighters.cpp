// The highlighters against hand-written golden files: for every line of an
// input document the block state and the format runs that the document's
// layout reports.
#include "highlighterc.h"
#include "highlighterlua.h"
#include "highlighterluaserverpage.h"

#include <QFile>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>
#include <QtTest>

#include <algorithm>
#include <memory>

namespace {

// "start,length,#rrggbb[,b][,i]" for one run of one format.
QString describe(const QTextLayout::FormatRange& range)
{
    QString text = QStringLiteral("%1,%2,%3").arg(range.start).arg(range.length)
                       .arg(range.format.foreground().color().name());
    if (range.format.fontWeight() == QFont::Bold)
        text += QLatin1String(",b");
    if (range.format.fontItalic())
        text += QLatin1String(",i");
    return text;
}

// One line per block: "<state> |" and the maximal runs of one format.
QStringList describe(QTextDocument* document)
{
    QStringList lines;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        QVector<QTextLayout::FormatRange> ranges = block.layout()->formats();
        std::sort(ranges.begin(), ranges.end(),
                  [](const QTextLayout::FormatRange& a, const QTextLayout::FormatRange& b) {
                      return a.start < b.start;
                  });
        QVector<QTextLayout::FormatRange> runs;
        for (const QTextLayout::FormatRange& range : qAsConst(ranges)) {
            if (range.length <= 0)
                continue;
            if (!runs.isEmpty() && runs.last().start + runs.last().length == range.start
                && runs.last().format == range.format)
                runs.last().length += range.length;
            else
                runs.append(range);
        }
        QStringList parts;
        for (const QTextLayout::FormatRange& run : qAsConst(runs))
            parts << describe(run);
        QString line = QString::number(block.userState()) + QLatin1String(" |");
        if (!parts.isEmpty())
            line += QLatin1Char(' ') + parts.join(QLatin1String("; "));
        lines << line;
    }
    return lines;
}

std::unique_ptr<TextHighlighter> highlighterFor(const QString& name, QTextDocument* document)
{
    if (name.endsWith(QLatin1String(".c")))
        return std::make_unique<HighlighterC>(document);
    if (name.endsWith(QLatin1String(".lua")))
        return std::make_unique<HighlighterLua>(document);
    return std::make_unique<HighlighterLuaServerPage>(document);
}

QStringList readLines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QString text = QString::fromUtf8(file.readAll());
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    return text.split(QLatin1Char('\n'));
}

} // namespace

class tst_Highlighters : public QObject
{
    Q_OBJECT
private slots:
    void golden_data();
    void golden();
    void editRehighlightsBelow();
};

void tst_Highlighters::golden_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("C: comment across an empty line") << QStringLiteral("comment_across_lines.c");
    QTest::newRow("C: rules and comments") << QStringLiteral("rules.c");
    QTest::newRow("Lua: rules and comments") << QStringLiteral("rules.lua");
    QTest::newRow("page: regions and comments") << QStringLiteral("regions.lp");
}

void tst_Highlighters::golden()
{
    QFETCH(QString, name);
    const QString dir = QStringLiteral(HIGHLIGHT_DIR "/");
    const QStringList input = readLines(dir + name);
    const QStringList expected = readLines(dir + name + QLatin1String(".expected"));
    QVERIFY(!input.isEmpty());
    QCOMPARE(expected.size(), input.size());

    QTextDocument document;
    document.setPlainText(input.join(QLatin1Char('\n')));
    const auto highlighter = highlighterFor(name, &document);
    highlighter->rehighlight();

    const QStringList actual = describe(&document);
    QCOMPARE(actual.size(), expected.size());
    for (int i = 0; i < actual.size(); ++i) {
        QVERIFY2(actual.at(i) == expected.at(i),
                 qPrintable(QStringLiteral("line %1: %2 => %3").arg(i + 1).arg(input.at(i), actual.at(i))));
    }
}

void tst_Highlighters::editRehighlightsBelow()
{
    QTextDocument document;
    document.setPlainText(QStringLiteral("int a;\nint b;\n\nint c;"));
    document.documentLayout(); // a document reports edits once it has a layout, as in an editor
    HighlighterC highlighter(&document);
    // A new highlighter colours the whole document from the event loop.
    QTRY_COMPARE(describe(&document).value(3), QStringLiteral("0 | 0,3,#000080,b"));

    // Opening a comment on the first line colours every line below it.
    QTextCursor cursor(&document);
    cursor.movePosition(QTextCursor::EndOfBlock);
    cursor.insertText(QStringLiteral(" /*"));
    QCOMPARE(describe(&document),
             QStringList({QStringLiteral("2 | 0,3,#000080,b; 7,2,#ff0000"), QStringLiteral("2 | 0,6,#ff0000"),
                          QStringLiteral("2 |"), QStringLiteral("2 | 0,6,#ff0000")}));

    // Closing it on the second line gives the lines after it back to code.
    cursor.movePosition(QTextCursor::NextBlock);
    cursor.insertText(QStringLiteral("*/"));
    QCOMPARE(describe(&document),
             QStringList({QStringLiteral("2 | 0,3,#000080,b; 7,2,#ff0000"),
                          QStringLiteral("0 | 0,2,#ff0000; 2,3,#000080,b"), QStringLiteral("0 |"),
                          QStringLiteral("0 | 0,3,#000080,b")}));
}

QTEST_MAIN(tst_Highlighters)
#include "tst_highlighters.moc"
