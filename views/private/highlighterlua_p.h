#ifndef HIGHLIGHTERLUA_P_H
#define HIGHLIGHTERLUA_P_H

#include "highlightingrule.h"

class HighlighterLuaPrivate
{
public:
    QVector<HighlightingRule> m_rules; // applied in order to every code span
    QTextCharFormat m_lineCommentFormat;
    QTextCharFormat m_blockCommentFormat;
};

#endif // HIGHLIGHTERLUA_P_H
