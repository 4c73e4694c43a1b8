#ifndef HIGHLIGHTERLUA_H
#define HIGHLIGHTERLUA_H

#include "texthighlighter.h"

#include <memory>

class HighlighterLuaPrivate;

// Colours Lua: keywords, class names, quotations, calls, "--" line comments
// and block comments from "--[[" to "]]--".
class HighlighterLua : public TextHighlighter
{
    Q_OBJECT
public:
    explicit HighlighterLua(QTextDocument* parent);
    ~HighlighterLua() override;

protected:
    void highlightBlock(const QString& text) override;

private:
    Q_DISABLE_COPY(HighlighterLua)
    std::unique_ptr<HighlighterLuaPrivate> d;
};

#endif // HIGHLIGHTERLUA_H
