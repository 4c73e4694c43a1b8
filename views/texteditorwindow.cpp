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
#include <QSettings>
#include <QStatusBar>
#include <QTextBlock>
#include <QTextCodec>
#include <QTextCursor>

#include <limits>

namespace {

const int BusyState = 7; // the tree's client is in a transaction
const qreal MaxTabStopDistance = 10000.0;
const char SettingsFile[] = "settings_texteditor.ini";

// Marks a block of the editor that came from the text read, edited or not.
// Blocks the user adds (a line break typed or pasted) have none, nor have
// blocks an undo brings back: those are found by their text. The editor
// keeps the mark through edits within the line and, when lines are joined
// or deleted, on the block that is left.
class ReadLine : public QTextBlockUserData
{
};

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

QString TextEditorWindowPrivate::fileText(int* endsMayChange) const
{
    // A line the user did not change is written as it was read, with the
    // end it had; a changed line ends as the line it stands for did (see
    // LinePairs), a new one as most lines of the file do. The last line
    // never ends: the user sees whether the text ends in an empty line.
    QStringList lines;
    QVector<bool> read;
    for (QTextBlock block = ui->plainTextEdit->document()->begin(); block.isValid(); block = block.next()) {
        lines << block.text();
        read << (block.userData() != nullptr);
    }
    const LinePairs pairs = LinePairs::pair(m_lines, lines, read, m_newLineEnd);
    if (endsMayChange)
        *endsMayChange = pairs.endsMayChange;
    QString text;
    for (int j = 0; j < lines.size(); ++j) {
        const int before = pairs.pairs[j];
        if (before >= 0 && m_lines[before].text == lines[j]) {
            text += lines[j];
        } else {
            // A line separator (Shift+Enter) in an edited line becomes a line end.
            QString line = lines[j];
            text += line.replace(QChar::LineSeparator, m_newLineEnd);
        }
        if (j + 1 < lines.size())
            text += pairs.end(m_lines, j, m_newLineEnd);
    }
    return text;
}

bool TextEditorWindowPrivate::fileBytes(QByteArray* bytes, int* endsMayChange) const
{
    if (!encode(fileText(endsMayChange), m_encoding, bytes))
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
        return;
    }
    QStringList warnings;
    if (encoding == Utf8) {
        // Bytes that are no UTF-8 read as replacement characters, and are
        // saved as such: say so while the bytes can still be read as Latin-1.
        QTextCodec::ConverterState state;
        QTextCodec::codecForMib(106)->toUnicode(bytes.constData(), bytes.size(), &state);
        if (state.invalidChars > 0 || state.remainingChars > 0) {
            warnings << TextEditorWindow::tr(
                "The file holds bytes that are not UTF-8: each is shown and saved as a replacement character");
        }
    }
    if (text.contains(QChar::LineSeparator)) {
        warnings << TextEditorWindow::tr(
            "The file holds Unicode line separators: a line you edit is saved with a line end in place of each");
    }
    if (!warnings.isEmpty())
        status(warnings.join(QStringLiteral("; ")));
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
    int endsMayChange = 0;
    if (!d->fileBytes(&bytes, &endsMayChange)) {
        d->status(tr("Can't save: the text holds characters that Latin1 cannot encode, use \"Convert to UTF-8\""));
        return;
    }
    // Lines moved too far to be told apart may lose their ends: say so
    // once, before this text is saved.
    if (endsMayChange > 0 && text != d->m_endsWarnedText) {
        d->m_endsWarnedText = text;
        d->status(tr("The file has mixed line ends: %1 of its lines may be saved with another end, "
                     "Save again to save so").arg(endsMayChange));
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
