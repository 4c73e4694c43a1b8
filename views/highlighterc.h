#ifndef HIGHLIGHTERC_H
#define HIGHLIGHTERC_H

#include "texthighlighter.h"

#include <memory>

class HighlighterCPrivate;

// Colours C and C++: keywords, class names, quotations, calls, "//" line
// comments and "/* */" block comments.
class HighlighterC : public TextHighlighter
{
    Q_OBJECT
public:
    explicit HighlighterC(QTextDocument* parent);
    ~HighlighterC() override;

protected:
    void highlightBlock(const QString& text) override;

private:
    Q_DISABLE_COPY(HighlighterC)
    std::unique_ptr<HighlighterCPrivate> d;
};

#endif // HIGHLIGHTERC_H
