#ifndef TEXTHIGHLIGHTER_H
#define TEXTHIGHLIGHTER_H

#include "highlightingrule.h"

#include <QSyntaxHighlighter>

class QTextDocument;

// Base of the text editor's highlighters. Attaches to the document given as
// parent; subclasses scan each block and colour its code spans with
// applyRules().
class TextHighlighter : public QSyntaxHighlighter
{
    Q_OBJECT
public:
    explicit TextHighlighter(QTextDocument* parent);
    ~TextHighlighter() override;

protected:
    void highlightBlock(const QString& text) override = 0;

    // Applies the rules, in list order, to the characters [from, to) of the
    // block. The span is matched on its own: its ends count as the start and
    // the end of the subject. A later rule's format wins where two match.
    void applyRules(const QString& text, const QVector<HighlightingRule>& rules, int from, int to);

    // The scanner shared by the C/C++ and Lua highlighters: code spans get
    // the rules, a line comment runs to the end of the block, a block comment
    // runs from its opener to its closer, across blocks (block state 2).
    void highlightCommentedCode(const QString& text, const QVector<HighlightingRule>& rules,
                                const QString& blockOpener, const QString& lineToken,
                                const QString& blockCloser, const QTextCharFormat& lineCommentFormat,
                                const QTextCharFormat& blockCommentFormat);

private:
    Q_DISABLE_COPY(TextHighlighter)
};

#endif // TEXTHIGHLIGHTER_H
