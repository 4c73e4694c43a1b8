#ifndef HIGHLIGHTERLUASERVERPAGE_H
#define HIGHLIGHTERLUASERVERPAGE_H

#include "texthighlighter.h"

#include <memory>

class HighlighterLuaServerPagePrivate;

// Colours web pages with embedded blocks: page text (tags, attributes),
// HTML comments, client scripts between "<script>" and "</script>", PHP
// blocks from "<?php", and Lua server-page blocks from "<?lsp", "<%" or any
// other "<?"; server blocks close on "%>" or "?>". The region in which a
// line ends is its block state, so the next line continues in it.
class HighlighterLuaServerPage : public TextHighlighter
{
    Q_OBJECT
public:
    explicit HighlighterLuaServerPage(QTextDocument* parent);
    ~HighlighterLuaServerPage() override;

protected:
    void highlightBlock(const QString& text) override;

private:
    Q_DISABLE_COPY(HighlighterLuaServerPage)
    std::unique_ptr<HighlighterLuaServerPagePrivate> d;
};

#endif // HIGHLIGHTERLUASERVERPAGE_H
