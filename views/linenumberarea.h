#ifndef LINENUMBERAREA_H
#define LINENUMBERAREA_H

#include <QWidget>

class CodeEditor;

// The gutter of a CodeEditor: it asks the editor for its width and lets the
// editor paint the numbers.
class LineNumberArea : public QWidget
{
    Q_OBJECT
public:
    explicit LineNumberArea(CodeEditor* editor);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Q_DISABLE_COPY(LineNumberArea)
    CodeEditor* const m_codeEditor; // also the parent
};

#endif // LINENUMBERAREA_H
