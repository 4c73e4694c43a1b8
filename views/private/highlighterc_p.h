#ifndef HIGHLIGHTERC_P_H
#define HIGHLIGHTERC_P_H

#include "highlightingrule.h"

class HighlighterCPrivate
{
public:
    QVector<HighlightingRule> m_rules; // applied in order to every code span
    QTextCharFormat m_lineCommentFormat;
    QTextCharFormat m_blockCommentFormat;
};

#endif // HIGHLIGHTERC_P_H
