#ifndef HIGHLIGHTINGRULE_H
#define HIGHLIGHTINGRULE_H

#include <QRegularExpression>
#include <QTextCharFormat>
#include <QVector>

// One colouring rule: every match of the pattern gets the format.
// Patterns are compiled once, when a highlighter builds its rule list.
struct HighlightingRule
{
    QRegularExpression pattern;
    QTextCharFormat format;
};

Q_DECLARE_TYPEINFO(HighlightingRule, Q_MOVABLE_TYPE);

#endif // HIGHLIGHTINGRULE_H
