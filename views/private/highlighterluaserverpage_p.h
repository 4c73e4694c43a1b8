#ifndef HIGHLIGHTERLUASERVERPAGE_P_H
#define HIGHLIGHTERLUASERVERPAGE_P_H

#include "highlightingrule.h"

class HighlighterLuaServerPagePrivate
{
public:
    // Block states: the region a line ends in.
    enum State {
        Html = 0,
        HtmlComment = 1,
        Script = 2,
        ScriptLineComment = 3, // only while a block is scanned
        ScriptBlockComment = 4,
        Php = 5,
        PhpLineComment = 6, // only while a block is scanned
        PhpBlockComment = 7,
        Lua = 8,
        LuaLineComment = 9, // only while a block is scanned
        LuaBlockComment = 10
    };

    QVector<HighlightingRule> m_htmlRules;
    QVector<HighlightingRule> m_scriptRules;
    QVector<HighlightingRule> m_phpRules; // empty: PHP code keeps the default format
    QVector<HighlightingRule> m_luaRules;
    QTextCharFormat m_delimiterFormat;
    QTextCharFormat m_lineCommentFormat;
    QTextCharFormat m_blockCommentFormat;

    const QVector<HighlightingRule>& rulesOf(int state) const
    {
        switch (state) {
        case Script: return m_scriptRules;
        case Php: return m_phpRules;
        case Lua: return m_luaRules;
        default: return m_htmlRules;
        }
    }
};

#endif // HIGHLIGHTERLUASERVERPAGE_P_H
