#ifndef TEXTEDITORWINDOW_P_H
#define TEXTEDITORWINDOW_P_H

#include "linepairs_p.h"

#include <QByteArray>
#include <QDateTime>
#include <QFont>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVector>

class FindDialog;
class QProgressBar;
class TextEditorTreeLink;
class TextEditorWindow;
class TextHighlighter;

namespace Ui {
class TextEditorWindow;
}

class TextEditorWindowPrivate
{
public:
    enum Encoding { Latin1 = 0, Utf8 = 1 };
    enum Language { NoLanguage, Lua, C, ServerPage };

    // A line of the text last read and the break that ended it.
    using Line = FileLine;

    explicit TextEditorWindowPrivate(TextEditorWindow* q);

    // The editor's text with "\n" line breaks (no-break spaces kept).
    QString editorText() const;
    // The editor's text as file content: each line the user left as it was
    // read ends as it did in the file; see the definition. endsMayChange,
    // if given, is set to the number of lines the file had that may be
    // saved with another end (see LinePairs).
    QString fileText(int* endsMayChange = nullptr) const;
    // The file content in the current encoding; false when the text holds
    // characters the encoding cannot hold.
    bool fileBytes(QByteArray* bytes, int* endsMayChange = nullptr) const;
    // Reads bytes in an encoding into the editor: all of them, NUL included.
    void load(const QByteArray& bytes, int encoding);
    void setLanguage(Language language);
    void applyTabStop(const QString& sample);
    void status(const QString& message);
    QString saveTime() const;
    void endSaveWait();

    static QString decode(const QByteArray& bytes, int encoding);
    // The lines the editor makes of text.
    static QVector<Line> splitLines(const QString& text);
    // False when the text holds characters the encoding cannot hold.
    static bool encode(const QString& text, int encoding, QByteArray* bytes);
    static QFont readFont();
    static void writeFont(const QFont& font);
    static int readTabWidth();
    static void writeTabWidth(int width);

    TextEditorWindow* const q;
    Ui::TextEditorWindow* ui = nullptr;
    QString m_path;
    int m_encoding = Latin1;
    QDateTime m_lastChange;
    QDateTime m_lastSave;
    QPointer<TextHighlighter> m_highlighter;
    QProgressBar* m_progressBar = nullptr;
    TextEditorTreeLink* m_tree = nullptr; // owned; outlives the tree
    FindDialog* m_findDialog = nullptr;

    // The last text the node confirmed: the opened text, then the text of
    // each save the tree reported as done.
    QString m_confirmedText;
    // The text of the save handed to the tree and not yet answered.
    QString m_pendingText;
    bool m_saving = false;
    // The bytes the text was last read from, the text read from them and
    // their encoding: re-reading unedited text starts from these bytes.
    QByteArray m_sourceBytes;
    QString m_sourceText;
    int m_sourceEncoding = Latin1;
    // The lines of the text last read; a line the file did not have ends
    // as most of them do ("\n" when none ends).
    QVector<Line> m_lines;
    QString m_newLineEnd = QStringLiteral("\n");
    bool m_bom = false; // the bytes last read as UTF-8 started with a byte order mark
    bool m_hasNul = false; // the text holds NUL characters: read-only
    // The text a Save last said may change line ends for: the next Save
    // of the same text saves it.
    QString m_endsWarnedText;
};

#endif // TEXTEDITORWINDOW_P_H
