#include "texteditorwindow.h"
#include "viewsresources.h"

#include "texteditorwindow_p.h"
#include "ui_texteditorwindow.h"

#include "codeeditor.h"
#include "finddialog.h"
#include "highlighterc.h"
#include "highlighterlua.h"
#include "highlighterluaserverpage.h"
#include "qcftpclient.h"
#include "texteditortreelink.h"

#include <QActionGroup>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QFontDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QProgressBar>
#include <QSet>
#include <QSettings>
#include <QStatusBar>
#include <QTextBlock>
#include <QTextCursor>

#include <algorithm>
#include <limits>

namespace {

const int BusyState = 7; // the tree's client is in a transaction
const qreal MaxTabStopDistance = 10000.0;
const char SettingsFile[] = "settings_texteditor.ini";
// Beyond this many lines inserted and removed between two texts, the lines
// between their common start and end are paired by position.
const int MaxLineEdits = 1000;

// The pairs (i, j) with a[i] == b[j] of a longest common subsequence of the
// lines, in order, by a greedy search for the shortest edit; false when that
// takes more than maxEdits insertions and removals.
bool commonLines(const QStringList& a, const QStringList& b, int maxEdits, QVector<QPair<int, int>>* pairs)
{
    const int n = a.size();
    const int m = b.size();
    const int maxD = qMin(n + m, maxEdits);
    // v[k + offset]: how far along a the furthest search on diagonal k = i - j got.
    const int offset = maxD + 1;
    QVector<int> v(2 * offset + 1, 0);
    // The diagonals -d - 1 .. d + 1 of v before step d, to walk the search back.
    QVector<QVector<int>> trace;
    for (int d = 0; d <= maxD; ++d) {
        trace.append(v.mid(offset - d - 1, 2 * d + 3));
        for (int k = -d; k <= d; k += 2) {
            int i = k == -d || (k != d && v[offset + k - 1] < v[offset + k + 1]) ? v[offset + k + 1]
                                                                                 : v[offset + k - 1] + 1;
            int j = i - k;
            while (i < n && j < m && a[i] == b[j]) {
                ++i;
                ++j;
            }
            v[offset + k] = i;
            if (i < n || j < m)
                continue;
            for (int step = d; step >= 0; --step) {
                const QVector<int>& before = trace[step];
                const auto at = [&before, step](int diagonal) { return before[diagonal + step + 1]; };
                const int diagonal = i - j;
                const int from = diagonal == -step || (diagonal != step && at(diagonal - 1) < at(diagonal + 1))
                                     ? diagonal + 1
                                     : diagonal - 1;
                const int fromI = at(from);
                const int fromJ = fromI - from;
                while (i > fromI && j > fromJ)
                    pairs->append({--i, --j});
                i = fromI;
                j = fromJ;
            }
            std::reverse(pairs->begin(), pairs->end());
            return true;
        }
    }
    return false;
}

// Marks a block of the editor that came from the text read, edited or not.
// Blocks the user adds (a line break typed or pasted) have none, nor have
// blocks an undo brings back: those are found by their text. The editor
// keeps the mark through edits within the line and, when lines are joined
// or deleted, on the block that is left.
class ReadLine : public QTextBlockUserData
{
};

// For each line of now, the line of before it stands for, or -1 for a line
// that before did not have. Lines the two have in common stand for each
// other. Between two such lines, the lines of now that were read (see
// ReadLine) stand for those of before in order, the others for none; where
// fewer are left, the last stands for the last of before (lines joined into
// one end as the later did).
QVector<int> pairLines(const QVector<TextEditorWindowPrivate::Line>& before, const QStringList& now,
                       const QVector<bool>& read)
{
    QStringList old;
    old.reserve(before.size());
    for (const TextEditorWindowPrivate::Line& line : before)
        old << line.text;
    const int n = old.size();
    const int m = now.size();
    int head = 0;
    while (head < n && head < m && old[head] == now[head])
        ++head;
    int tail = 0;
    while (tail < n - head && tail < m - head && old[n - 1 - tail] == now[m - 1 - tail])
        ++tail;

    QVector<QPair<int, int>> common;
    for (int i = 0; i < head; ++i)
        common.append({i, i});
    // Between them, only lines that both texts have can be in common: the
    // search leaves out the others (typed or pasted lines, say), so that
    // they do not count against its limit.
    const QSet<QString> oldLines(old.begin() + head, old.end() - tail);
    const QSet<QString> nowLines(now.begin() + head, now.end() - tail);
    QStringList a;
    QStringList b;
    QVector<int> aLine;
    QVector<int> bLine;
    for (int i = head; i < n - tail; ++i) {
        if (nowLines.contains(old[i])) {
            a << old[i];
            aLine << i;
        }
    }
    for (int j = head; j < m - tail; ++j) {
        if (oldLines.contains(now[j])) {
            b << now[j];
            bLine << j;
        }
    }
    QVector<QPair<int, int>> middle;
    if (commonLines(a, b, MaxLineEdits, &middle)) {
        for (const auto& pair : qAsConst(middle))
            common.append({aLine[pair.first], bLine[pair.second]});
    }
    for (int t = tail; t > 0; --t)
        common.append({n - t, m - t});
    common.append({n, m}); // the end

    QVector<int> pairs(m, -1);
    int i = 0;
    int j = 0;
    for (const auto& pair : qAsConst(common)) {
        const int removed = pair.first - i;
        int paired = 0;
        int last = -1;
        for (; j < pair.second; ++j) {
            if (read[j] && paired < removed) {
                pairs[j] = i + paired++;
                last = j;
            }
        }
        if (last >= 0 && removed > paired)
            pairs[last] = pair.first - 1;
        if (pair.second < m)
            pairs[pair.second] = pair.first;
        i = pair.first + 1;
        j = pair.second + 1;
    }
    return pairs;
}

} // namespace

TextEditorWindowPrivate::TextEditorWindowPrivate(TextEditorWindow* window)
    : q(window)
{
}

QString TextEditorWindowPrivate::editorText() const
{
    // toPlainText() would turn no-break spaces into spaces.
    QString text = ui->plainTextEdit->document()->toRawText();
    for (QChar& c : text) {
        if (c == QChar::ParagraphSeparator || c == QChar::LineSeparator)
            c = QLatin1Char('\n');
    }
    return text;
}

QString TextEditorWindowPrivate::fileText() const
{
    // A line the user did not change is written as it was read, with the
    // end it had; a changed line ends as the line it stands for did (see
    // pairLines()), a new one as most lines of the file do. The last line
    // never ends: the user sees whether the text ends in an empty line.
    QStringList lines;
    QVector<bool> read;
    for (QTextBlock block = ui->plainTextEdit->document()->begin(); block.isValid(); block = block.next()) {
        lines << block.text();
        read << (block.userData() != nullptr);
    }
    const QVector<int> pairs = pairLines(m_lines, lines, read);
    QString text;
    for (int j = 0; j < lines.size(); ++j) {
        const Line* before = pairs[j] >= 0 ? &m_lines[pairs[j]] : nullptr;
        if (before && before->text == lines[j]) {
            text += lines[j];
        } else {
            // A line separator (Shift+Enter) in an edited line becomes a line end.
            QString line = lines[j];
            text += line.replace(QChar::LineSeparator, m_newLineEnd);
        }
        if (j + 1 < lines.size())
            text += before && !before->end.isEmpty() ? before->end : m_newLineEnd;
    }
    return text;
}

bool TextEditorWindowPrivate::fileBytes(QByteArray* bytes) const
{
    if (!encode(fileText(), m_encoding, bytes))
        return false;
    // Reading UTF-8 drops a byte order mark at the start: put it back.
    if (m_bom && m_encoding == Utf8)
        bytes->prepend("\xef\xbb\xbf");
    return true;
}

QString TextEditorWindowPrivate::decode(const QByteArray& bytes, int encoding)
{
    // With pointer and size: the QByteArray overloads stop at the first NUL.
    return encoding == Utf8 ? QString::fromUtf8(bytes.constData(), bytes.size())
                            : QString::fromLatin1(bytes.constData(), bytes.size());
}

QVector<TextEditorWindowPrivate::Line> TextEditorWindowPrivate::splitLines(const QString& text)
{
    // The characters QTextDocument starts a new block at.
    QVector<Line> lines;
    int start = 0;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        int length = 1;
        if (c == QLatin1Char('\r') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n'))
            length = 2;
        else if (c != QLatin1Char('\n') && c != QLatin1Char('\r') && c != QChar::ParagraphSeparator
                 && c != QChar(0xfdd0) && c != QChar(0xfdd1))
            continue;
        lines.append({text.mid(start, i - start), text.mid(i, length)});
        i += length - 1;
        start = i + 1;
    }
    lines.append({text.mid(start), QString()});
    return lines;
}

bool TextEditorWindowPrivate::encode(const QString& text, int encoding, QByteArray* bytes)
{
    if (encoding == Utf8) {
        *bytes = text.toUtf8();
        return true;
    }
    for (const QChar c : text) {
        if (c.unicode() > 0xff)
            return false;
    }
    *bytes = text.toLatin1();
    return true;
}

void TextEditorWindowPrivate::load(const QByteArray& bytes, int encoding)
{
    const QString text = decode(bytes, encoding);
    m_hasNul = text.contains(QChar(0));
    m_bom = encoding == Utf8 && bytes.startsWith("\xef\xbb\xbf");

    // The editor shows each line without its end: remember the ends, and
    // which one most lines have, for new lines.
    m_lines = splitLines(text);
    int lf = 0;
    int crlf = 0;
    int cr = 0;
    for (const Line& line : qAsConst(m_lines)) {
        lf += line.end == QLatin1String("\n");
        crlf += line.end == QLatin1String("\r\n");
        cr += line.end == QLatin1String("\r");
    }
    // A tie goes to "\n", then to "\r\n".
    if (crlf > lf && crlf >= cr)
        m_newLineEnd = QStringLiteral("\r\n");
    else if (cr > lf && cr > crlf)
        m_newLineEnd = QStringLiteral("\r");
    else
        m_newLineEnd = QStringLiteral("\n");

    ui->plainTextEdit->setPlainText(text);
    for (QTextBlock block = ui->plainTextEdit->document()->begin(); block.isValid(); block = block.next())
        block.setUserData(new ReadLine);
    ui->plainTextEdit->setReadOnly(m_hasNul);
    ui->plainTextEdit->highlightCurrentLine();
    m_sourceBytes = bytes;
    m_sourceText = editorText();
    m_sourceEncoding = encoding;
    if (m_hasNul) {
        status(TextEditorWindow::tr("The file holds NUL bytes: it is shown read-only and can't be saved"));
    } else if (text.contains(QChar::LineSeparator)) {
        status(TextEditorWindow::tr(
            "The file holds Unicode line separators: a line you edit is saved with a line end in place of each"));
    }
}

void TextEditorWindowPrivate::setLanguage(Language language)
{
    delete m_highlighter;
    m_highlighter = nullptr;
    QTextDocument* document = ui->plainTextEdit->document();
    switch (language) {
    case Lua: m_highlighter = new HighlighterLua(document); break;
    case C: m_highlighter = new HighlighterC(document); break;
    case ServerPage: m_highlighter = new HighlighterLuaServerPage(document); break;
    case NoLanguage: break;
    }
}

void TextEditorWindowPrivate::applyTabStop(const QString& sample)
{
    const qreal charWidth = QFontMetricsF(ui->plainTextEdit->font()).horizontalAdvance(sample);
    const qreal distance = qMin(qreal(readTabWidth()) * charWidth, MaxTabStopDistance);
    ui->plainTextEdit->setTabStopDistance(distance);
}

void TextEditorWindowPrivate::status(const QString& message)
{
    q->statusBar()->showMessage(message);
}

QString TextEditorWindowPrivate::saveTime() const
{
    return m_lastSave.toString(QStringLiteral("yyyy-MM-dd hh:mm.ss"));
}

void TextEditorWindowPrivate::endSaveWait()
{
    QObject::disconnect(m_tree, &TextEditorTreeLink::transactionProgress, q,
                        &TextEditorWindow::onClientTransactionProgress);
    QObject::disconnect(m_tree, &TextEditorTreeLink::transactionFinished, q,
                        &TextEditorWindow::onClientTransactionFinished);
    QObject::disconnect(m_tree, &TextEditorTreeLink::error, q, &TextEditorWindow::onClientError);
    m_progressBar->hide();
    m_saving = false;
}

QFont TextEditorWindowPrivate::readFont()
{
    QFont base = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    base.setPointSize(8);
    QSettings settings(QLatin1String(SettingsFile), QSettings::IniFormat);
    const bool italic = settings.value(QStringLiteral("font/italic"), base.style() != QFont::StyleNormal).toBool();
    bool ok = false;
    int weight = settings.value(QStringLiteral("font/weight"), base.weight()).toInt(&ok);
    if (!ok)
        weight = base.weight();
    int size = settings.value(QStringLiteral("font/size"), base.pointSize()).toInt(&ok);
    if (!ok || size <= 0)
        size = base.pointSize();
    const QString name = settings.value(QStringLiteral("font/name"), base.family()).toString();
    // QFont accepts weights 0 to 99 only.
    return QFont(name, size, qBound(0, weight, 99), italic);
}

void TextEditorWindowPrivate::writeFont(const QFont& font)
{
    QSettings settings(QLatin1String(SettingsFile), QSettings::IniFormat);
    settings.setValue(QStringLiteral("font/name"), font.family());
    settings.setValue(QStringLiteral("font/size"), font.pointSize());
    settings.setValue(QStringLiteral("font/weight"), font.weight());
    settings.setValue(QStringLiteral("font/italic"), font.style() != QFont::StyleNormal);
}

int TextEditorWindowPrivate::readTabWidth()
{
    QSettings settings(QLatin1String(SettingsFile), QSettings::IniFormat);
    bool ok = false;
    const int width = settings.value(QStringLiteral("tab/width")).toInt(&ok);
    // Missing, not a number, 0 or negative: the usual 8.
    return ok && width > 0 ? width : 8;
}

void TextEditorWindowPrivate::writeTabWidth(int width)
{
    QSettings settings(QLatin1String(SettingsFile), QSettings::IniFormat);
    settings.setValue(QStringLiteral("tab/width"), width);
}

TextEditorWindow::TextEditorWindow(const QString& title, TextEditorTreeLink* tree, const QCFTPFile& file,
                                   QWidget* parent)
    : QMainWindow(parent)
    , d(new TextEditorWindowPrivate(this))
{
    initViewsResources();
    // Top-level although it has a parent; closing deletes it later.
    setWindowFlags(windowFlags() | Qt::Window);
    setAttribute(Qt::WA_DeleteOnClose);

    d->ui = new Ui::TextEditorWindow;
    d->ui->setupUi(this);
    setWindowIcon(QIcon(QStringLiteral(":/img/resource/file_text.png")));

    d->m_encoding = TextEditorWindowPrivate::Latin1; // a file always opens as Latin-1

    d->m_progressBar = new QProgressBar(this);
    d->m_progressBar->setMaximumHeight(10);
    d->m_progressBar->setAlignment(Qt::AlignCenter);
    d->m_findDialog = new FindDialog(d->ui->plainTextEdit, this);
    auto* encodings = new QActionGroup(this);
    encodings->setExclusive(true);
    encodings->addAction(d->ui->actionLatin1);
    encodings->addAction(d->ui->actionUTF8);
    d->ui->actionLatin1->setChecked(true);

    statusBar()->addPermanentWidget(d->m_progressBar, 0);
    d->m_progressBar->hide();

    d->m_tree = tree ? tree : new TextEditorTreeLink;
    d->m_tree->setParent(this);
    d->m_path = file.path();
    setWindowTitle(title + QLatin1Char(' ') + d->m_path);

    // The editing actions act on the editor.
    CodeEditor* editor = d->ui->plainTextEdit;
    connect(d->ui->actionExit, &QAction::triggered, this, &QWidget::close);
    connect(d->ui->actionCopy, &QAction::triggered, editor, &QPlainTextEdit::copy);
    connect(d->ui->actionInsert, &QAction::triggered, editor, &QPlainTextEdit::paste);
    connect(d->ui->actionUndo, &QAction::triggered, editor, &QPlainTextEdit::undo);
    connect(d->ui->actionRedo, &QAction::triggered, editor, &QPlainTextEdit::redo);
    connect(d->ui->actionCut, &QAction::triggered, editor, &QPlainTextEdit::cut);
    connect(d->ui->actionSelect_All, &QAction::triggered, editor, &QPlainTextEdit::selectAll);

    // The language comes from the end of the path, case-sensitively;
    // checking the action attaches the highlighter.
    const auto endsWith = [this](std::initializer_list<const char*> suffixes) {
        for (const char* suffix : suffixes) {
            if (d->m_path.endsWith(QLatin1String(suffix)))
                return true;
        }
        return false;
    };
    if (endsWith({".lua"}))
        d->ui->actionLua->setChecked(true);
    else if (endsWith({".lp", ".lsp", ".html", ".htm"}))
        d->ui->actionLuaServerpage_lp->setChecked(true);
    else if (endsWith({".c", ".h", ".cpp", ".hpp"}))
        d->ui->actionC_C->setChecked(true);

    editor->setFont(TextEditorWindowPrivate::readFont());
    d->applyTabStop(QStringLiteral(" "));

    d->load(file.data(), TextEditorWindowPrivate::Latin1);

    d->m_lastChange = QDateTime::currentDateTime();
    d->m_lastSave = d->m_lastChange;
    d->m_confirmedText = d->editorText();

    connect(d->m_tree, &TextEditorTreeLink::treeDestroyed, this, &TextEditorWindow::onTreeDestroyed);
    connect(editor, &QPlainTextEdit::textChanged, this, &TextEditorWindow::onTextChanged);
}

TextEditorWindow::~TextEditorWindow()
{
    delete d->ui;
}

bool TextEditorWindow::hasUnsavedChanges() const
{
    return d->editorText() != d->m_confirmedText;
}

void TextEditorWindow::on_actionSave_triggered()
{
    if (d->m_hasNul) {
        d->status(tr("Can't save: the file holds NUL bytes and is shown read-only"));
        return;
    }
    const QString text = d->editorText();
    QByteArray bytes;
    if (!d->fileBytes(&bytes)) {
        d->status(tr("Can't save: the text holds characters that Latin1 cannot encode, use \"Convert to UTF-8\""));
        return;
    }
    QCFTPFile record;
    record.setPath(d->m_path);
    record.setData(bytes);

    // The tree refuses such a name at any time: say so rather than blame the link.
    if (!QCFTPClient::isPossibleName(record.path())) {
        d->status(tr("Can't upload, file name not possible on the node: %1").arg(record.path()));
        return;
    }
    if (d->m_tree->clientState() == BusyState) {
        d->status(tr("Can't upload, device is busy"));
        return;
    }
    if (!d->m_tree->uploadFile(record)) {
        d->status(tr("Can't upload, no connection"));
        return;
    }
    d->m_lastSave = QDateTime::currentDateTime();
    d->m_pendingText = text;
    d->m_saving = true;
    d->status(d->saveTime() + QStringLiteral(": Save file..."));
    connect(d->m_tree, &TextEditorTreeLink::transactionProgress, this,
            &TextEditorWindow::onClientTransactionProgress, Qt::UniqueConnection);
    connect(d->m_tree, &TextEditorTreeLink::transactionFinished, this,
            &TextEditorWindow::onClientTransactionFinished, Qt::UniqueConnection);
    connect(d->m_tree, &TextEditorTreeLink::error, this, &TextEditorWindow::onClientError,
            Qt::UniqueConnection);
}

void TextEditorWindow::onClientTransactionProgress(qlonglong current, qlonglong total)
{
    // The bar counts in int: scale very large transfers down.
    const qlonglong limit = std::numeric_limits<int>::max();
    if (total > limit) {
        current = current / (total / 1000 + 1);
        total = total / (total / 1000 + 1);
    }
    d->m_progressBar->setMaximum(int(qBound<qlonglong>(0, total, limit)));
    d->m_progressBar->setValue(int(qBound<qlonglong>(0, current, limit)));
    d->m_progressBar->show();
}

void TextEditorWindow::onClientError(const QString& message)
{
    d->endSaveWait();
    d->status(d->saveTime() + QStringLiteral(": Upload fail: ") + message + QStringLiteral("..."));
}

void TextEditorWindow::onClientTransactionFinished()
{
    d->endSaveWait();
    // The node holds the text of this save now.
    d->m_confirmedText = d->m_pendingText;
    d->status(d->saveTime() + QStringLiteral(": File saved..."));
}

void TextEditorWindow::onTreeDestroyed()
{
    if (d->m_saving) {
        // The tree took the pending upload with it: no answer will come.
        d->endSaveWait();
        d->status(tr("Can't upload, no connection"));
    }
    if (!hasUnsavedChanges()) {
        deleteLater();
        return;
    }
    // Keep the user's text: leave the explorer (which goes with its tree)
    // and stay open on its own.
    if (parent()) {
        const bool visible = isVisible();
        setParent(nullptr, windowFlags() | Qt::Window);
        if (visible)
            show();
    }
}

void TextEditorWindow::onTextChanged()
{
    d->m_lastChange = QDateTime::currentDateTime();
}

void TextEditorWindow::on_actionLua_toggled(bool state)
{
    if (!state) {
        d->setLanguage(TextEditorWindowPrivate::NoLanguage);
        return;
    }
    d->ui->actionC_C->setChecked(false);
    d->ui->actionLuaServerpage_lp->setChecked(false);
    d->setLanguage(TextEditorWindowPrivate::Lua);
}

void TextEditorWindow::on_actionC_C_toggled(bool state)
{
    if (!state) {
        d->setLanguage(TextEditorWindowPrivate::NoLanguage);
        return;
    }
    d->ui->actionLua->setChecked(false);
    d->ui->actionLuaServerpage_lp->setChecked(false);
    d->setLanguage(TextEditorWindowPrivate::C);
}

void TextEditorWindow::on_actionLuaServerpage_lp_toggled(bool state)
{
    if (!state) {
        d->setLanguage(TextEditorWindowPrivate::NoLanguage);
        return;
    }
    d->ui->actionLua->setChecked(false);
    d->ui->actionC_C->setChecked(false);
    d->setLanguage(TextEditorWindowPrivate::ServerPage);
}

void TextEditorWindow::on_actionSelect_Font_triggered()
{
    bool ok = false;
    const QFont font = QFontDialog::getFont(&ok, TextEditorWindowPrivate::readFont(), this,
                                            QStringLiteral("Select font"));
    if (!ok)
        return;
    d->ui->plainTextEdit->setFont(font);
    d->applyTabStop(QStringLiteral("_"));
    TextEditorWindowPrivate::writeFont(font);
}

void TextEditorWindow::on_actionSelect_Tab_width_triggered()
{
    const int preset = TextEditorWindowPrivate::readTabWidth();
    // Cancel gives back the preset, which is written back unchanged.
    const int width = QInputDialog::getInt(this, QStringLiteral("Get Tabwidth"),
                                           QStringLiteral("Enter new value in characters"), preset, 1,
                                           std::numeric_limits<int>::max(), 1);
    TextEditorWindowPrivate::writeTabWidth(width);
    d->applyTabStop(QStringLiteral(" "));
}

void TextEditorWindow::on_actionSearch_triggered()
{
    d->m_findDialog->show();
}

void TextEditorWindow::on_actionSearch_next_triggered()
{
    d->m_findDialog->onFind();
}

void TextEditorWindow::on_actionGoto_Line_triggered()
{
    CodeEditor* editor = d->ui->plainTextEdit;
    const int current = editor->textCursor().blockNumber();
    bool ok = false;
    const int line = QInputDialog::getInt(this, QStringLiteral("Goto line number"), QStringLiteral("Enter line"),
                                          0, 0, std::numeric_limits<int>::max(), 1, &ok);
    if (!ok)
        return;
    const int blocks = editor->blockCount();
    if (line > blocks) {
        QMessageBox::critical(this, QStringLiteral("ERROR"),
                              QStringLiteral("The selected line is out of Range. Maximum is ")
                                  + QString::number(blocks),
                              QMessageBox::Ok);
    }
    // Lines count from 1; moving stops at the first or the last block.
    const qint64 delta = qint64(line) - 1 - current;
    QTextCursor cursor = editor->textCursor();
    if (delta > 0)
        cursor.movePosition(QTextCursor::NextBlock, QTextCursor::MoveAnchor, int(qMin<qint64>(delta, blocks)));
    else if (delta < 0)
        cursor.movePosition(QTextCursor::PreviousBlock, QTextCursor::MoveAnchor, int(qMin<qint64>(-delta, blocks)));
    editor->setTextCursor(cursor);
}

void TextEditorWindow::on_actionLatin1_triggered(bool checked)
{
    if (!checked || d->m_encoding == TextEditorWindowPrivate::Latin1)
        return;
    QByteArray bytes;
    const QString text = d->editorText();
    if (text == d->m_sourceText && d->m_sourceEncoding == d->m_encoding)
        bytes = d->m_sourceBytes; // unedited: the bytes it was read from
    else
        d->fileBytes(&bytes); // UTF-8 holds any text
    d->load(bytes, TextEditorWindowPrivate::Latin1);
    d->m_encoding = TextEditorWindowPrivate::Latin1;
}

void TextEditorWindow::on_actionUTF8_triggered(bool checked)
{
    if (!checked || d->m_encoding == TextEditorWindowPrivate::Utf8)
        return;
    QByteArray bytes;
    const QString text = d->editorText();
    if (text == d->m_sourceText && d->m_sourceEncoding == d->m_encoding) {
        bytes = d->m_sourceBytes;
    } else if (!d->fileBytes(&bytes)) {
        // Edited text that Latin-1 cannot hold has no bytes to re-read.
        d->ui->actionLatin1->setChecked(true);
        d->status(tr("Can't re-read as UTF-8: the text holds characters that Latin1 cannot encode"));
        return;
    }
    d->load(bytes, TextEditorWindowPrivate::Utf8);
    d->m_encoding = TextEditorWindowPrivate::Utf8;
}

void TextEditorWindow::on_actionConvert_to_Latin1_triggered()
{
    if (d->m_encoding == TextEditorWindowPrivate::Latin1)
        return;
    d->m_encoding = TextEditorWindowPrivate::Latin1;
    d->ui->actionLatin1->setChecked(true);
}

void TextEditorWindow::on_actionConvert_to_UTF_8_triggered()
{
    if (d->m_encoding == TextEditorWindowPrivate::Utf8)
        return;
    d->m_encoding = TextEditorWindowPrivate::Utf8;
    d->ui->actionUTF8->setChecked(true);
}

void TextEditorWindow::closeEvent(QCloseEvent* event)
{
    if (hasUnsavedChanges()) {
        QMessageBox box(QMessageBox::Question, QStringLiteral("Unsaved changes"),
                        QStringLiteral("You have unsaved changes, do you realy want to close editior?"),
                        QMessageBox::Close | QMessageBox::Cancel, this);
        box.setEscapeButton(QMessageBox::Cancel);
        if (box.exec() != QMessageBox::Close) {
            event->ignore();
            return;
        }
    }
    event->accept();
}
