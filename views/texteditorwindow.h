#ifndef TEXTEDITORWINDOW_H
#define TEXTEDITORWINDOW_H

#include "qcftpfile.h"
#include "texteditortreelink.h"

#include <QMainWindow>

#include <memory>
#include <type_traits>

class TextEditorWindowPrivate;

// Edits one text file of a node in a window of its own: line numbers,
// search, go to line, a highlighter chosen by the file name, Latin-1 or
// UTF-8 text, each line saved with the end it had in the file, and the
// user's font and tab width from "settings_texteditor.ini" in the current
// directory. Save hands the text to the explorer's remote file tree, which
// uploads it; the status bar reports the outcome. Closing asks while the
// text differs from the last text the node confirmed.
class TextEditorWindow : public QMainWindow
{
    Q_OBJECT
public:
    // The window title becomes title, a space and the file's path. The
    // window is top-level although it has a parent; the caller shows it.
    // The window owns the link; a null link means no tree (no upload).
    TextEditorWindow(const QString& title, TextEditorTreeLink* tree, const QCFTPFile& file,
                     QWidget* parent = nullptr);

    // The same with the explorer's tree itself (see TextEditorTreeLink).
    template <class Tree,
              typename = std::enable_if_t<!std::is_base_of<TextEditorTreeLink, Tree>::value>>
    TextEditorWindow(const QString& title, Tree* tree, const QCFTPFile& file, QWidget* parent = nullptr)
        : TextEditorWindow(title, TextEditorTreeLink::create(tree), file, parent)
    {
    }

    ~TextEditorWindow() override;

    // True while the text differs from the last text the node confirmed (the
    // opened text until a save succeeds).
    bool hasUnsavedChanges() const;

protected:
    void closeEvent(QCloseEvent* event) override;

private slots:
    void on_actionSave_triggered();
    void onClientTransactionProgress(qlonglong current, qlonglong total);
    void onClientError(const QString& message);
    void onClientTransactionFinished();
    void onTextChanged();
    void on_actionLua_toggled(bool state);
    void on_actionC_C_toggled(bool state);
    void on_actionLuaServerpage_lp_toggled(bool state);
    void on_actionSelect_Font_triggered();
    void on_actionSelect_Tab_width_triggered();
    void on_actionSearch_triggered();
    void on_actionSearch_next_triggered();
    void on_actionGoto_Line_triggered();
    void on_actionLatin1_triggered(bool checked);
    void on_actionUTF8_triggered(bool checked);
    void on_actionConvert_to_Latin1_triggered();
    void on_actionConvert_to_UTF_8_triggered();

private:
    void onTreeDestroyed();

    Q_DISABLE_COPY(TextEditorWindow)
    friend class TextEditorWindowPrivate;
    std::unique_ptr<TextEditorWindowPrivate> d;
};

#endif // TEXTEDITORWINDOW_H
