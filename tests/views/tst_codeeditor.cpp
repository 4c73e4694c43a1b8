// The code editor's gutter and current line, and the find dialog's searches.
#include "codeeditor.h"
#include "finddialog.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QTextBlock>
#include <QtTest>

class tst_CodeEditor : public QObject
{
    Q_OBJECT
private slots:
    void gutterFollowsDigits();
    void currentLine();
    void find_data();
    void find();
};

void tst_CodeEditor::gutterFollowsDigits()
{
    CodeEditor editor;
    editor.resize(300, 200);
    editor.show();
    const int digit = editor.fontMetrics().horizontalAdvance(QLatin1Char('9'));
    const auto lines = [](int n) { return QStringLiteral("x\n").repeated(n - 1) + QLatin1Char('x'); };

    editor.setPlainText(lines(9));
    QCOMPARE(editor.lineNumberAreaWidth(), 6 + digit);
    editor.setPlainText(lines(10));
    QCOMPARE(editor.lineNumberArea()->width(), 6 + 2 * digit);
    QCOMPARE(editor.viewport()->geometry().left() - editor.contentsRect().left(), 6 + 2 * digit);

    // Removing the tenth line narrows the gutter again.
    QTextCursor cursor(editor.document());
    cursor.movePosition(QTextCursor::End);
    cursor.movePosition(QTextCursor::PreviousCharacter, QTextCursor::KeepAnchor, 2);
    cursor.removeSelectedText();
    QCOMPARE(editor.blockCount(), 9);
    QCOMPARE(editor.lineNumberAreaWidth(), 6 + digit);
    QCOMPARE(editor.lineNumberArea()->width(), 6 + digit);
}

void tst_CodeEditor::currentLine()
{
    CodeEditor editor;
    editor.setPlainText(QStringLiteral("one\ntwo\nthree"));
    QTextCursor cursor(editor.document()->findBlockByNumber(1));
    cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    editor.setTextCursor(cursor);

    const QList<QTextEdit::ExtraSelection> selections = editor.extraSelections();
    QCOMPARE(selections.size(), 1);
    QCOMPARE(selections.first().format.background().color(), QColor(255, 255, 153));
    QVERIFY(selections.first().format.property(QTextFormat::FullWidthSelection).toBool());
    QCOMPARE(selections.first().cursor.block().blockNumber(), 1);
    QVERIFY(!selections.first().cursor.hasSelection());

    editor.setReadOnly(true);
    editor.highlightCurrentLine();
    QVERIFY(editor.extraSelections().isEmpty());
}

namespace {
// Three lines: "alpha Beta gamma" (0..16), "beta betamax" (17..29),
// "alpha end" (30..39).
const char document[] = "alpha Beta gamma\nbeta betamax\nalpha end";
}

void tst_CodeEditor::find_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("anchor"); // cursor before the search
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("options"); // c: case, w: whole words, b: backward, s: from start, r: wrap
    QTest::addColumn<int>("foundAnchor"); // selection after the search
    QTest::addColumn<int>("foundPosition");

    QTest::newRow("forward, any case") << "beta" << 0 << 0 << "r" << 6 << 10;
    QTest::newRow("match case") << "beta" << 0 << 0 << "cr" << 17 << 21;
    QTest::newRow("whole words skip betamax") << "beta" << 18 << 18 << "cw" << 18 << 18;
    QTest::newRow("wrap around") << "alpha" << 35 << 35 << "r" << 0 << 5;
    QTest::newRow("from start") << "alpha" << 20 << 20 << "s" << 0 << 5;
    QTest::newRow("from start, no match") << "delta" << 7 << 3 << "sr" << 7 << 3;
    QTest::newRow("backward wraps at the end") << "alpha" << 0 << 0 << "br" << 30 << 35;
    QTest::newRow("backward from start begins at the end") << "alpha" << 20 << 20 << "bs" << 30 << 35;
    QTest::newRow("empty text changes nothing") << "" << 6 << 10 << "rs" << 6 << 10;
}

void tst_CodeEditor::find()
{
    QFETCH(QString, text);
    QFETCH(int, anchor);
    QFETCH(int, position);
    QFETCH(QString, options);
    QFETCH(int, foundAnchor);
    QFETCH(int, foundPosition);

    CodeEditor editor;
    editor.setPlainText(QLatin1String(document));
    FindDialog dialog(&editor);

    dialog.findChild<QLineEdit*>(QStringLiteral("lineEdit"))->setText(text);
    const auto set = [&](const char* name, QChar option) {
        dialog.findChild<QCheckBox*>(QLatin1String(name))->setChecked(options.contains(option));
    };
    set("caseCheckBox", QLatin1Char('c'));
    set("wholeWordsCheckBox", QLatin1Char('w'));
    set("backwardCheckBox", QLatin1Char('b'));
    set("fromStartCheckBox", QLatin1Char('s'));
    set("wrapAroundCheckBox", QLatin1Char('r'));

    QTextCursor cursor(editor.document());
    cursor.setPosition(anchor);
    cursor.setPosition(position, QTextCursor::KeepAnchor);
    editor.setTextCursor(cursor);

    dialog.onFind();
    QCOMPARE(editor.textCursor().anchor(), foundAnchor);
    QCOMPARE(editor.textCursor().position(), foundPosition);
}

QTEST_MAIN(tst_CodeEditor)
#include "tst_codeeditor.moc"
