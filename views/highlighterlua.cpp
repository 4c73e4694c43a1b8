#include "highlighterlua.h"

#include "highlighterlua_p.h"
#include "highlightingrules_p.h"

using namespace HighlightingRules;

HighlighterLua::HighlighterLua(QTextDocument* parent)
    : TextHighlighter(parent)
    , d(new HighlighterLuaPrivate)
{
    addKeywords(d->m_rules, luaKeywords(), charFormat(Qt::darkBlue, true));
    addCommonRules(d->m_rules, charFormat(Qt::darkMagenta, true), charFormat(Qt::darkGreen),
                   charFormat(Qt::blue, false, true));
    d->m_lineCommentFormat = charFormat(Qt::darkGray);
    d->m_blockCommentFormat = charFormat(Qt::darkGray, false, true);
}

HighlighterLua::~HighlighterLua() = default;

void HighlighterLua::highlightBlock(const QString& text)
{
    // The block comment closes only on "]]--"; "--[[" is tested before "--".
    highlightCommentedCode(text, d->m_rules, QStringLiteral("--[["), QStringLiteral("--"),
                           QStringLiteral("]]--"), d->m_lineCommentFormat, d->m_blockCommentFormat);
}
