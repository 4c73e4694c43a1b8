#ifndef FINDDIALOG_H
#define FINDDIALOG_H

#include <QDialog>

#include <memory>

class QPlainTextEdit;
class FindDialogPrivate;

// The editor's search dialog: a text and the options case, whole words,
// backward, from the start and wrap around. It is not modal; onFind() runs
// one search with the current text and options.
class FindDialog : public QDialog
{
    Q_OBJECT
public:
    FindDialog(QPlainTextEdit* editor, QWidget* parent = nullptr);
    ~FindDialog() override;

public slots:
    // A match becomes the editor's selection; without one, the editor's
    // cursor and selection stay as they were.
    void onFind();

private:
    Q_DISABLE_COPY(FindDialog)
    std::unique_ptr<FindDialogPrivate> d;
};

#endif // FINDDIALOG_H
