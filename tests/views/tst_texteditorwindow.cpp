// The text editor window against a stand-in for the explorer's remote file
// tree: language, settings file, saving, line ends, encodings, go to line,
// closing, and a tree that goes away.
#include "codeeditor.h"
#include "linepairs_p.h"
#include "modaldriver.h"
#include "texteditorwindow.h"
#include "texthighlighter.h"

#include <QAction>
#include <QFontDatabase>
#include <QFontDialog>
#include <QInputDialog>
#include <QProgressBar>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

// What the window uses of the remote file tree: the client state, the
// upload and the signals of the current transaction.
class FakeTree : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    int clientState() const { return state; }
    bool uploadFile(const QCFTPFile& file)
    {
        if (!accept)
            return false;
        uploads << file;
        return true;
    }

    int state = 6;
    bool accept = true;
    QList<QCFTPFile> uploads;

signals:
    void transactionProgress(qlonglong current, qlonglong total);
    void transactionFinished();
    void error(QString error);
};

namespace {

QCFTPFile remoteFile(const QString& path, const QByteArray& data = QByteArray())
{
    QCFTPFile file;
    file.setPath(path);
    file.setData(data);
    return file;
}

const QRegularExpression saveTime(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d\\.\\d\\d: "));

// The lines "line <i>" for i below count, every seventh empty, or with
// distinct texts "line <n>" with n scattered below distinct. Each has an
// end: with mixed ends, in turn CR LF, CR LF, CR LF, LF and CR (most are
// CR LF), else CR LF. The file ends with an end: the empty last line is left out.
QVector<FileLine> numberedLines(int count, bool mixed, int distinct = 0)
{
    static const char* const ends[] = {"\r\n", "\r\n", "\r\n", "\n", "\r"};
    QVector<FileLine> lines(count);
    for (int i = 0; i < count; ++i) {
        const int n = distinct ? int(quint32(i) * 2654435761u % 1000003 % quint32(distinct)) : i;
        lines[i].text = i % 7 == 3 ? QString() : QStringLiteral("line %1").arg(n);
        lines[i].end = QLatin1String(mixed ? ends[i % 5] : "\r\n");
    }
    return lines;
}

QByteArray fileOf(const QVector<FileLine>& lines)
{
    QByteArray bytes;
    for (const FileLine& line : lines)
        bytes += line.text.toLatin1() + line.end.toLatin1();
    return bytes;
}

// The lines of a text with the first moved lines cut and pasted at its end.
QVector<FileLine> moved(const QVector<FileLine>& lines, int count)
{
    return lines.mid(count) + lines.mid(0, count);
}

QStringList textsOf(const QVector<FileLine>& lines)
{
    QStringList texts;
    for (const FileLine& line : lines)
        texts << line.text;
    return texts;
}

} // namespace

class tst_TextEditorWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void languageBySuffix_data();
    void languageBySuffix();
    void settingsRead_data();
    void settingsRead();
    void settingsDialogs();
    void saveStatuses();
    void saveBytes();
    void lineEnds_data();
    void lineEnds();
    void lineEndsUndoAndReread();
    void lineEndsAfterLargeMove_data();
    void lineEndsAfterLargeMove();
    void pairingBound();
    void unicodeLineSeparators();
    void utf8ByteOrderMark();
    void bytesNotUtf8_data();
    void bytesNotUtf8();
    void latin1RefusesOtherCharacters();
    void rereadAndConvert();
    void gotoLine_data();
    void gotoLine();
    void closing();
    void nulBytes();
    void treeDestroyed();

private:
    CodeEditor* editor(TextEditorWindow& window)
    {
        return window.findChild<CodeEditor*>(QStringLiteral("plainTextEdit"));
    }
    QAction* action(TextEditorWindow& window, const char* name)
    {
        return window.findChild<QAction*>(QLatin1String(name));
    }
    QString status(TextEditorWindow& window) { return window.statusBar()->currentMessage(); }
    void type(TextEditorWindow& window, const QString& text)
    {
        QTextCursor cursor = editor(window)->textCursor();
        cursor.insertText(text);
        editor(window)->setTextCursor(cursor);
    }
    // Selects from position to position + length; the next text typed replaces it.
    void select(TextEditorWindow& window, int position, int length = 0)
    {
        QTextCursor cursor = editor(window)->textCursor();
        cursor.setPosition(position);
        cursor.setPosition(position + length, QTextCursor::KeepAnchor);
        editor(window)->setTextCursor(cursor);
    }

    QTemporaryDir m_dir;
};

void tst_TextEditorWindow::initTestCase()
{
    // The settings file lives in the current directory.
    QVERIFY(m_dir.isValid());
    QVERIFY(QDir::setCurrent(m_dir.path()));
}

void tst_TextEditorWindow::init()
{
    QFile::remove(QStringLiteral("settings_texteditor.ini"));
}

void tst_TextEditorWindow::languageBySuffix_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("checked"); // the checked language action, if any
    QTest::addColumn<QString>("highlighter");

    QTest::newRow(".lua") << "/scripts/main.lua" << "actionLua" << "HighlighterLua";
    QTest::newRow(".lp") << "/www/index.lp" << "actionLuaServerpage_lp" << "HighlighterLuaServerPage";
    QTest::newRow(".lua.bak") << "/a.lua.bak" << "" << "";
}

void tst_TextEditorWindow::languageBySuffix()
{
    QFETCH(QString, path);
    QFETCH(QString, checked);
    QFETCH(QString, highlighter);

    FakeTree tree;
    TextEditorWindow window(QStringLiteral("t"), &tree, remoteFile(path, "x"));
    for (const char* name : {"actionLua", "actionC_C", "actionLuaServerpage_lp"})
        QCOMPARE(action(window, name)->isChecked(), checked == QLatin1String(name));
    const auto highlighters = editor(window)->document()->findChildren<TextHighlighter*>();
    QCOMPARE(highlighters.size(), highlighter.isEmpty() ? 0 : 1);
    if (!highlighter.isEmpty())
        QCOMPARE(QLatin1String(highlighters.first()->metaObject()->className()), highlighter);
}

void tst_TextEditorWindow::settingsRead_data()
{
    QTest::addColumn<QString>("ini");
    QTest::addColumn<int>("tabWidth");
    QTest::addColumn<int>("pointSize");

    QTest::newRow("huge tab width") << "[tab]\nwidth=2147483647\n" << 2147483647 << 8;
    QTest::newRow("bad font size and weight") << "[font]\nsize=-2\nweight=500\n" << 8 << 8;
}

void tst_TextEditorWindow::settingsRead()
{
    QFETCH(QString, ini);
    QFETCH(int, tabWidth);
    QFETCH(int, pointSize);
    QFile file(QStringLiteral("settings_texteditor.ini"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(ini.toUtf8());
    file.close();
    FakeTree tree;
    TextEditorWindow window(QStringLiteral("t"), &tree, remoteFile(QStringLiteral("/a.txt")));
    const QFont font = editor(window)->font();
    QCOMPARE(font.pointSize(), pointSize);
    QCOMPARE(font.family(), QFontDatabase::systemFont(QFontDatabase::FixedFont).family());
    const qreal space = QFontMetricsF(font).horizontalAdvance(QLatin1Char(' '));
    // The distance stays within bounds however wide the stored tab.
    QCOMPARE(editor(window)->tabStopDistance(), qMin(tabWidth * space, 10000.0));
}

void tst_TextEditorWindow::settingsDialogs()
{
    FakeTree tree;
    TextEditorWindow window(QStringLiteral("t"), &tree, remoteFile(QStringLiteral("/a.txt")));
    QFont chosen = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    chosen.setPointSize(13);
    chosen.setItalic(true);
    ModalDriver driver;
    driver.answer = [&chosen](QWidget* w) {
        if (auto* input = qobject_cast<QInputDialog*>(w)) {
            input->setIntValue(input->intValue() == 8 ? 3 : -1);
            input->accept();
        } else if (auto* fonts = qobject_cast<QFontDialog*>(w)) {
            fonts->setCurrentFont(chosen);
            fonts->accept();
        }
        return true;
    };
    action(window, "actionSelect_Tab_width")->trigger();
    QCOMPARE(QSettings(QStringLiteral("settings_texteditor.ini"), QSettings::IniFormat).value("tab/width").toInt(), 3);
    QCOMPARE(editor(window)->tabStopDistance(), 3 * QFontMetricsF(editor(window)->font()).horizontalAdvance(' '));

    action(window, "actionSelect_Font")->trigger();
    const QFont font = editor(window)->font();
    QCOMPARE(font.pointSize(), 13);

    // A later window opens with the stored settings.
    TextEditorWindow other(QStringLiteral("t"), &tree, remoteFile(QStringLiteral("/b.txt")));
    QCOMPARE(editor(other)->font().pointSize(), 13);
    QCOMPARE(editor(other)->font().italic(), font.italic());
}

void tst_TextEditorWindow::saveStatuses()
{
    FakeTree tree;
    TextEditorWindow window(QStringLiteral("Node: 5 - Edit "), &tree, remoteFile(QStringLiteral("/d/new.lua")));
    auto* bar = window.findChild<QProgressBar*>();
    QVERIFY(bar);
    type(window, QStringLiteral("print(1)"));

    tree.state = 7;
    action(window, "actionSave")->trigger();
    QCOMPARE(status(window), QStringLiteral("Can't upload, device is busy"));
    tree.state = 6;
    tree.accept = false;
    action(window, "actionSave")->trigger();
    QCOMPARE(status(window), QStringLiteral("Can't upload, no connection"));
    tree.accept = true;
    action(window, "actionSave")->trigger();
    QCOMPARE(tree.uploads.size(), 1);
    QCOMPARE(tree.uploads.first().path(), QStringLiteral("/d/new.lua"));
    QCOMPARE(tree.uploads.first().data(), QByteArray("print(1)"));
    const QString saving = status(window);
    QVERIFY2(saveTime.match(saving).hasMatch() && saving.endsWith(QLatin1String(": Save file...")),
             qPrintable(saving));
    const QString time = saving.left(saving.indexOf(QLatin1String(": ")));

    emit tree.transactionProgress(5, 8);
    QVERIFY(!bar->isHidden());
    QCOMPARE(bar->value() * 10 + bar->maximum(), 58);
    emit tree.transactionFinished();
    QVERIFY(bar->isHidden());
    QCOMPARE(status(window), time + QLatin1String(": File saved..."));

    // Signals of later transactions no longer reach the window.
    emit tree.error(QStringLiteral("other"));
    QCOMPARE(status(window), time + QLatin1String(": File saved..."));

    action(window, "actionSave")->trigger();
    emit tree.transactionProgress(1, 8);
    emit tree.error(QStringLiteral("Disconnected from server"));
    QVERIFY(bar->isHidden());
    QVERIFY2(saveTime.match(status(window)).hasMatch(), qPrintable(status(window)));
    QVERIFY(status(window).endsWith(QLatin1String(": Upload fail: Disconnected from server...")));
}

void tst_TextEditorWindow::saveBytes()
{
    // Bytes no character set maps, and CR LF line ends, come back as read.
    const QByteArray content("caf\xe9 \xa0|\r\nb\r\n");
    FakeTree tree;
    TextEditorWindow window(QStringLiteral("t"), &tree, remoteFile(QStringLiteral("/f.txt"), content));
    QVERIFY(!window.hasUnsavedChanges());
    action(window, "actionSave")->trigger();
    QCOMPARE(tree.uploads.value(0).data(), content);
}

void tst_TextEditorWindow::lineEnds_data()
{
    // The text replacing the characters from position to position + removed;
    // the editor shows each line end as one character.
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("removed");
    QTest::addColumn<QString>("inserted");
    QTest::addColumn<QByteArray>("saved");

    // Positions: "a-line" 0, "b-line" 7, "c-line" 14, "d-line" 21, the empty last line 28.
    const QByteArray mixed("a-line\r\nb-line\nc-line\rd-line\r\n");
    QTest::newRow("mixed, unedited") << mixed << 0 << 0 << "" << mixed;
    QTest::newRow("mixed, edit on line 1")
        << mixed << 6 << 0 << "X" << QByteArray("a-lineX\r\nb-line\nc-line\rd-line\r\n");
    // New lines end as most lines of the file do.
    QTest::newRow("mixed, new lines in the middle")
        << mixed << 13 << 0 << "\nnew\nnewer" << QByteArray("a-line\r\nb-line\nnew\r\nnewer\r\nc-line\rd-line\r\n");
    QTest::newRow("mixed, new line in place of a deleted one")
        << mixed << 13 << 7 << "\nnew" << QByteArray("a-line\r\nb-line\nnew\r\nd-line\r\n");
    QTest::newRow("mixed, line deleted from its start")
        << mixed << 7 << 7 << "" << QByteArray("a-line\r\nc-line\rd-line\r\n");
    QTest::newRow("mixed, line deleted from the end of the line before")
        << mixed << 6 << 7 << "" << QByteArray("a-line\r\nc-line\rd-line\r\n");
    QTest::newRow("mixed, lines joined end as the later one")
        << mixed << 13 << 1 << "" << QByteArray("a-line\r\nb-linec-line\rd-line\r\n");
    // Lines 2 and 3 left in a pasted text far longer than the file.
    QString pasted = QStringLiteral("a-lineX\nb-line\n");
    QByteArray pastedSaved("a-lineX\r\nb-line\n");
    for (int i = 0; i < 2000; ++i) {
        pasted += QStringLiteral("p%1\n").arg(i);
        pastedSaved += "p" + QByteArray::number(i) + "\r\n";
    }
    QTest::newRow("mixed, long text pasted around lines 2 and 3")
        << mixed << 0 << 27 << pasted + "c-line\nd-lineX" << pastedSaved + "c-line\rd-lineX\r\n";
    QTest::newRow("lone CRs, new line") << QByteArray("x\ry\rz") << 1 << 0 << "\nnew" << QByteArray("x\rnew\ry\rz");
    QTest::newRow("all CR LF, new line") << QByteArray("x\r\ny\r\n") << 1 << 0 << "\nz" << QByteArray("x\r\nz\r\ny\r\n");
    QTest::newRow("all LF, new line") << QByteArray("x\ny\n") << 1 << 0 << "\nz" << QByteArray("x\nz\ny\n");
    // The last line never ends, a line that was last ends when one follows.
    QTest::newRow("no final end, line appended") << QByteArray("a\r\nb") << 3 << 0 << "\nc" << QByteArray("a\r\nb\r\nc");
    QTest::newRow("final end, line appended") << QByteArray("a\nb\r\n") << 4 << 0 << "c" << QByteArray("a\nb\r\nc");
    QTest::newRow("final end removed") << QByteArray("a\r\nb\n") << 3 << 1 << "" << QByteArray("a\r\nb");
}

void tst_TextEditorWindow::lineEnds()
{
    QFETCH(QByteArray, content);
    QFETCH(int, position);
    QFETCH(int, removed);
    QFETCH(QString, inserted);
    QFETCH(QByteArray, saved);

    FakeTree tree;
    TextEditorWindow window(QStringLiteral("t"), &tree, remoteFile(QStringLiteral("/f.txt"), content));
    select(window, position, removed);
    type(window, inserted);
    action(window, "actionSave")->trigger();
    QCOMPARE(tree.uploads.value(0).data(), saved);
}

void tst_TextEditorWindow::lineEndsUndoAndReread()
{
    FakeTree tree;
    const QByteArray content("caf\xc3\xa9\r\nb\nc\r\n\r\n\rd");
    TextEditorWindow window(QStringLiteral("t"), &tree, remoteFile(QStringLiteral("/f.txt"), content));
    CodeEditor* text = editor(window);

    // Lines deleted, and the deletion undone: the lines end as they did.
    select(window, 6, 4);
    type(window, QString());
    QCOMPARE(text->blockCount(), 4);
    action(window, "actionUndo")->trigger();
    action(window, "actionSave")->trigger();
    QCOMPARE(tree.uploads.value(0).data(), content);

    // Edited text read again as UTF-8, and saved so.
    text->moveCursor(QTextCursor::End);
    type(window, QStringLiteral("X"));
    action(window, "actionUTF8")->trigger();
    QCOMPARE(text->toPlainText(), QStringLiteral("caf\u00e9\nb\nc\n\n\ndX"));
    select(window, 5);
    type(window, QStringLiteral("\u00e0"));
    action(window, "actionSave")->trigger();
    QCOMPARE(tree.uploads.value(1).data(), QByteArray("caf\xc3\xa9\r\n\xc3\xa0""b\nc\r\n\r\n\rdX"));
}

void tst_TextEditorWindow::lineEndsAfterLargeMove_data()
{
    QTest::addColumn<int>("count"); // lines of the file
    QTest::addColumn<int>("movedLines"); // cut from the top and pasted at the end
    QTest::addColumn<bool>("mixed"); // mixed line ends, else all CR LF
    QTest::addColumn<bool>("warns"); // the first Save says that ends may change, and waits

    // Too many lines moved for the exact search.
    QTest::newRow("601 of 20000 lines moved, mixed ends") << 20000 << 601 << true << true;
    QTest::newRow("601 of 20000 lines moved, all CR LF") << 20000 << 601 << false << false;
}

void tst_TextEditorWindow::lineEndsAfterLargeMove()
{
    QFETCH(int, count);
    QFETCH(int, movedLines);
    QFETCH(bool, mixed);
    QFETCH(bool, warns);

    const QVector<FileLine> lines = numberedLines(count, mixed);
    FakeTree tree;
    TextEditorWindow window(QStringLiteral("t"), &tree, remoteFile(QStringLiteral("/f.txt"), fileOf(lines)));
    QTextCursor cursor(editor(window)->document());
    cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, movedLines);
    const QString cut = cursor.selectedText().replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    cursor.removeSelectedText();
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(cut);

    action(window, "actionSave")->trigger();
    if (warns) {
        QVERIFY(tree.uploads.isEmpty());
        QVERIFY2(status(window).startsWith(QLatin1String("The file has mixed line ends: "))
                     && status(window).endsWith(QLatin1String(" of its lines may be saved with another end, "
                                                              "Save again to save so")),
                 qPrintable(status(window)));
        action(window, "actionSave")->trigger();
    }
    QCOMPARE(tree.uploads.size(), 1);

    // Every line the user did not touch keeps its end; the moved lines
    // stand for none and end as most lines of the file do.
    QVector<FileLine> expected = moved(lines, movedLines);
    for (int i = count - movedLines; i < count; ++i)
        expected[i].end = QStringLiteral("\r\n");
    const QByteArray want = fileOf(expected);
    const QByteArray saved = tree.uploads.first().data();
    int at = 0;
    while (at < qMin(saved.size(), want.size()) && saved[at] == want[at])
        ++at;
    QVERIFY2(saved == want, qPrintable(QStringLiteral("first difference at byte %1: %2")
                                           .arg(at)
                                           .arg(QString::fromLatin1(saved.mid(qMax(0, at - 20), 40).toPercentEncoding()))));
}

void tst_TextEditorWindow::pairingBound()
{
    // Within the bound on edits the common lines are found exactly; beyond
    // it by content, never by the exact search, whose memory grows with
    // the square of the edits. Either way each line the move left as it was
    // stands for itself, and a moved line for none, also among lines that
    // repeat (few distinct texts). The small texts go first: past the bound,
    // the exact search must not get to the large one.
    struct Move
    {
        int count;
        int movedLines;
        bool exact;
        int distinct;
    };
    for (const Move& move : {Move{2000, 400, true, 0}, Move{2000, 601, false, 0}, Move{20000, 601, false, 40},
                             Move{200000, 50000, false, 0}}) {
        const QVector<FileLine> before = numberedLines(move.count, true, move.distinct);
        const QStringList now = textsOf(moved(before, move.movedLines));
        const LinePairs pairs = LinePairs::pair(before, now, QVector<bool>(now.size(), true), QStringLiteral("\r\n"));
        QCOMPARE(pairs.exact, move.exact);
        int wrong = 0;
        const int kept = move.count - move.movedLines;
        for (int j = 0; j < move.count; ++j)
            wrong += pairs.pairs[j] != (j < kept ? j + move.movedLines : -1);
        QVERIFY2(wrong == 0, qPrintable(QStringLiteral("%1 lines, %2 moved, %3 distinct: %4 wrong")
                                            .arg(move.count).arg(move.movedLines).arg(move.distinct).arg(wrong)));
        // The moved lines had all kinds of end: some may change.
        QCOMPARE(pairs.endsMayChange > 0, !move.exact);
    }
}

void tst_TextEditorWindow::unicodeLineSeparators()
{
    // Read as UTF-8, a line separator stays in its line as long as the
    // line is not edited; the window says so when the file is read.
    FakeTree tree;
    const QByteArray content("a\xe2\x80\xa8" "b\r\nc\xe2\x80\xa9" "d\n");
    TextEditorWindow window(QStringLiteral("t"), &tree, remoteFile(QStringLiteral("/f.txt"), content));
    QCOMPARE(status(window), QString());
    action(window, "actionUTF8")->trigger();
    QCOMPARE(status(window), QStringLiteral("The file holds Unicode line separators: a line you edit is saved "
                                            "with a line end in place of each"));
    QCOMPARE(editor(window)->blockCount(), 4);
    action(window, "actionSave")->trigger();
    QCOMPARE(tree.uploads.value(0).data(), content);

    select(window, 6);
    type(window, QStringLiteral("X"));
    select(window, 0);
    type(window, QStringLiteral("Y"));
    action(window, "actionSave")->trigger();
    QCOMPARE(tree.uploads.value(1).data(), QByteArray("Ya\nb\r\nc\xe2\x80\xa9" "Xd\n"));
}

void tst_TextEditorWindow::utf8ByteOrderMark()
{
    // Read as UTF-8 the mark is not shown, and saved back.
    FakeTree tree;
    const QByteArray content("\xef\xbb\xbf" "a\r\nb\n");
    TextEditorWindow window(QStringLiteral("t"), &tree, remoteFile(QStringLiteral("/f.txt"), content));
    action(window, "actionUTF8")->trigger();
    QCOMPARE(editor(window)->toPlainText(), QStringLiteral("a\nb\n"));
    select(window, 3);
    type(window, QStringLiteral("X"));
    action(window, "actionSave")->trigger();
    QCOMPARE(tree.uploads.value(0).data(), QByteArray("\xef\xbb\xbf" "a\r\nbX\n"));
    // Latin-1 has no such mark: converted, the text is saved without it;
    // read again as Latin-1, it shows as text.
    action(window, "actionConvert_to_Latin1")->trigger();
    action(window, "actionSave")->trigger();
    QCOMPARE(tree.uploads.value(1).data(), QByteArray("a\r\nbX\n"));
    action(window, "actionConvert_to_UTF_8")->trigger();
    action(window, "actionLatin1")->trigger();
    QCOMPARE(editor(window)->toPlainText(), QStringLiteral("\u00ef\u00bb\u00bf" "a\nbX\n"));
}

void tst_TextEditorWindow::bytesNotUtf8_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("position"); // where "X" is typed after reading as UTF-8
    QTest::addColumn<bool>("warns");
    QTest::addColumn<QByteArray>("saved");

    // The bytes that are no UTF-8 are saved as the characters shown in their place.
    QTest::newRow("Latin-1 letters, the next line edited")
        << QByteArray("gr\xfc\xdf" "e\r\nzeile\n") << 6 << true << QByteArray("gr\xef\xbf\xbd\xef\xbf\xbd" "e\r\nXzeile\n");
    QTest::newRow("sequence cut at the end")
        << QByteArray("ab\r\ncd\xc3") << 0 << true << QByteArray("Xab\r\ncd\xef\xbf\xbd");
    QTest::newRow("UTF-8") << QByteArray("gr\xc3\xbc\xc3\x9f" "e\r\nzeile\n") << 6 << false
                           << QByteArray("gr\xc3\xbc\xc3\x9f" "e\r\nXzeile\n");
}

void tst_TextEditorWindow::bytesNotUtf8()
{
    QFETCH(QByteArray, content);
    QFETCH(int, position);
    QFETCH(bool, warns);
    QFETCH(QByteArray, saved);

    FakeTree tree;
    TextEditorWindow window(QStringLiteral("t"), &tree, remoteFile(QStringLiteral("/f.txt"), content));
    action(window, "actionUTF8")->trigger();
    QCOMPARE(status(window), warns ? QStringLiteral("The file holds bytes that are not UTF-8: each is shown and saved "
                                                    "as a replacement character")
                                   : QString());
    select(window, position);
    type(window, QStringLiteral("X"));
    action(window, "actionSave")->trigger();
    QCOMPARE(tree.uploads.value(0).data(), saved);
}

void tst_TextEditorWindow::latin1RefusesOtherCharacters()
{
    FakeTree tree;
    TextEditorWindow window(QStringLiteral("t"), &tree, remoteFile(QStringLiteral("/f.txt"), "price: "));
    editor(window)->moveCursor(QTextCursor::End);
    type(window, QStringLiteral("5 \u20ac"));

    action(window, "actionSave")->trigger();
    QVERIFY(tree.uploads.isEmpty());
    QVERIFY2(status(window).contains(QLatin1String("\"Convert to UTF-8\"")), qPrintable(status(window)));

    // Edited text that Latin-1 cannot hold is not re-read either.
    action(window, "actionUTF8")->trigger();
    QVERIFY(action(window, "actionLatin1")->isChecked());
    QCOMPARE(editor(window)->toPlainText(), QStringLiteral("price: 5 \u20ac"));
    QVERIFY(status(window).startsWith(QLatin1String("Can't re-read")));

    action(window, "actionConvert_to_UTF_8")->trigger();
    action(window, "actionSave")->trigger();
    QCOMPARE(tree.uploads.size(), 1);
    QCOMPARE(tree.uploads.first().data(), QByteArray("price: 5 \xe2\x82\xac"));
}

void tst_TextEditorWindow::rereadAndConvert()
{
    FakeTree tree;
    TextEditorWindow window(QStringLiteral("t"), &tree, remoteFile(QStringLiteral("/f.txt"), "caf\xc3\xa9 \xe9"));
    CodeEditor* text = editor(window);
    QCOMPARE(text->toPlainText(), QStringLiteral("caf\u00c3\u00a9 \u00e9"));

    // Re-reading shows the same bytes as UTF-8 and counts as a change; the
    // byte that is no UTF-8 shows as a replacement character.
    action(window, "actionUTF8")->trigger();
    QCOMPARE(text->toPlainText(), QStringLiteral("caf\u00e9 \ufffd"));
    QVERIFY(window.hasUnsavedChanges());

    // Back to Latin-1 from the bytes it was read from: the text is the opened one.
    action(window, "actionLatin1")->trigger();
    QCOMPARE(text->toPlainText(), QStringLiteral("caf\u00c3\u00a9 \u00e9"));
    QVERIFY(!window.hasUnsavedChanges());

    // Convert changes only the encoding, and the next save's bytes.
    action(window, "actionConvert_to_UTF_8")->trigger();
    QVERIFY(action(window, "actionUTF8")->isChecked() && !window.hasUnsavedChanges());
    action(window, "actionSave")->trigger();
    QCOMPARE(tree.uploads.last().data(), QByteArray("caf\xc3\x83\xc2\xa9 \xc3\xa9"));

}

void tst_TextEditorWindow::gotoLine_data()
{
    QTest::addColumn<int>("from"); // cursor position before
    QTest::addColumn<int>("line");
    QTest::addColumn<int>("to"); // cursor position after
    QTest::addColumn<bool>("outOfRange");

    // Lines "l0".."l4", each 3 characters with its line break.
    QTest::newRow("line 1 from line 4") << 10 << 1 << 0 << false;
    QTest::newRow("beyond the end on the last line") << 13 << 6 << 13 << true;
}

void tst_TextEditorWindow::gotoLine()
{
    QFETCH(int, from);
    QFETCH(int, line);
    QFETCH(int, to);
    QFETCH(bool, outOfRange);

    FakeTree tree;
    TextEditorWindow window(QStringLiteral("t"), &tree, remoteFile(QStringLiteral("/f.txt"), "l0\nl1\nl2\nl3\nl4"));
    QTextCursor cursor = editor(window)->textCursor();
    cursor.setPosition(from);
    editor(window)->setTextCursor(cursor);

    {
        ModalDriver driver;
        driver.answer = [line](QWidget* w) {
            auto* dialog = qobject_cast<QInputDialog*>(w);
            if (dialog) {
                dialog->setIntValue(line);
                dialog->accept();
            }
            return dialog != nullptr;
        };
        action(window, "actionGoto_Line")->trigger();
        QCOMPARE(driver.seen, outOfRange ? QStringList("critical ERROR: The selected line is out of Range. Maximum is 5")
                                         : QStringList());
    }
    QCOMPARE(editor(window)->textCursor().position(), to);

    // Cancel moves nothing.
    ModalDriver cancel;
    action(window, "actionGoto_Line")->trigger();
    QCOMPARE(cancel.seen, QStringList("QInputDialog"));
    QCOMPARE(editor(window)->textCursor().position(), to);
}

void tst_TextEditorWindow::closing()
{
    // The question and its answers are left to the end-to-end test.
    FakeTree tree;
    {   // Typed then undone: closes without a question, deleted from the event loop.
        QPointer<TextEditorWindow> window = new TextEditorWindow(QStringLiteral("t"), &tree, remoteFile(QStringLiteral("/f.txt"), "text"));
        window->show();
        type(*window, QStringLiteral("x"));
        action(*window, "actionUndo")->trigger();
        ModalDriver driver(2000);
        QVERIFY(window->close());
        QVERIFY(driver.seen.isEmpty());
        QTRY_VERIFY(window.isNull());
    }
    // A save that is pending or failed leaves the text unsaved; the
    // confirmed save is the new baseline, later typing is not saved.
    TextEditorWindow window(QStringLiteral("t"), &tree, remoteFile(QStringLiteral("/f.txt"), "text"));
    type(window, QStringLiteral("x"));
    action(window, "actionSave")->trigger();
    QVERIFY(window.hasUnsavedChanges());
    emit tree.error(QStringLiteral("Disconnected from server"));
    QVERIFY(window.hasUnsavedChanges());
    action(window, "actionSave")->trigger();
    type(window, QStringLiteral("y"));
    emit tree.transactionFinished();
    QVERIFY(window.hasUnsavedChanges());
    editor(window)->textCursor().deletePreviousChar(); // back to the saved "xtext"
    QCOMPARE(editor(window)->toPlainText(), QStringLiteral("xtext"));
    QVERIFY(!window.hasUnsavedChanges());
}

void tst_TextEditorWindow::nulBytes()
{
    FakeTree tree;
    const QByteArray content("ab\0cd\n", 6);
    TextEditorWindow window(QStringLiteral("t"), &tree, remoteFile(QStringLiteral("/bin.c"), content));
    CodeEditor* text = editor(window);
    QCOMPARE(text->toPlainText(), QString::fromLatin1(content.constData(), content.size()));
    QVERIFY(text->isReadOnly());
    QVERIFY(text->extraSelections().isEmpty());
    QVERIFY(status(window).contains(QLatin1String("NUL")));

    action(window, "actionSave")->trigger();
    QVERIFY(tree.uploads.isEmpty());
    QVERIFY(status(window).startsWith(QLatin1String("Can't save")));
}

void tst_TextEditorWindow::treeDestroyed()
{
    {   // A clean editor goes with its tree.
        auto* tree = new FakeTree;
        QPointer<TextEditorWindow> window = new TextEditorWindow(QStringLiteral("t"), tree, remoteFile(QStringLiteral("/f.txt"), "a"));
        delete tree;
        QTRY_VERIFY(window.isNull());
    }
    {   // An editor with unsaved text outlives the explorer that holds the
        // tree and the editor; a pending save ends, and Save has nowhere to go.
        auto* explorer = new QWidget;
        auto* tree = new FakeTree(explorer);
        QPointer<TextEditorWindow> window = new TextEditorWindow(QStringLiteral("t"), tree, remoteFile(QStringLiteral("/f.txt"), "a"), explorer);
        window->show();
        type(*window, QStringLiteral("b"));
        action(*window, "actionSave")->trigger();
        emit tree->transactionProgress(1, 2);
        QCOMPARE(tree->uploads.size(), 1);

        delete explorer;
        QVERIFY(!window.isNull() && !window->parent() && window->isVisible());
        QCOMPARE(status(*window), QStringLiteral("Can't upload, no connection"));
        QVERIFY(window->findChild<QProgressBar*>()->isHidden());
        QCOMPARE(editor(*window)->toPlainText(), QStringLiteral("ba"));
        QCoreApplication::processEvents();
        QVERIFY(!window.isNull() && window->hasUnsavedChanges());
        delete window;
    }
}

QTEST_MAIN(tst_TextEditorWindow)
#include "tst_texteditorwindow.moc"
