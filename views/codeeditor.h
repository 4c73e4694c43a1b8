#ifndef CODEEDITOR_H
#define CODEEDITOR_H

#include <QPlainTextEdit>

#include <memory>

class CodeEditorPrivate;

// A plain-text editor with a gutter of line numbers on its left and a pale
// highlight across the line that holds the cursor (none when read-only).
class CodeEditor : public QPlainTextEdit
{
    Q_OBJECT
public:
    explicit CodeEditor(QWidget* parent = nullptr);
    ~CodeEditor() override;

    // 6 pixels plus one width of "9" per decimal digit of the block count.
    int lineNumberAreaWidth();
    void lineNumberAreaPaintEvent(QPaintEvent* event);
    QWidget* lineNumberArea() const;

protected:
    void resizeEvent(QResizeEvent* event) override;

public slots:
    void updateLineNumberAreaWidth(int newBlockCount);
    void highlightCurrentLine();
    void updateLineNumberArea(const QRect& rect, int dy);

private:
    Q_DISABLE_COPY(CodeEditor)
    std::unique_ptr<CodeEditorPrivate> d;
};

#endif // CODEEDITOR_H
