#ifndef HIGHLIGHTINGRULES_P_H
#define HIGHLIGHTINGRULES_P_H

#include "highlightingrule.h"

#include <QBrush>
#include <QColor>
#include <QFont>
#include <QStringList>

// Building blocks of the highlighters' rule lists.
namespace HighlightingRules {

// A solid foreground colour, optionally bold (weight 75) and italic; nothing
// else is set, so the editor's font and background stay.
inline QTextCharFormat charFormat(Qt::GlobalColor colour, bool bold = false, bool italic = false)
{
    QTextCharFormat f;
    f.setForeground(QBrush(QColor(colour), Qt::SolidPattern));
    if (bold)
        f.setFontWeight(QFont::Bold);
    if (italic)
        f.setFontItalic(true);
    return f;
}

inline HighlightingRule rule(const QString& pattern, const QTextCharFormat& format)
{
    HighlightingRule r{QRegularExpression(pattern), format};
    r.pattern.optimize(); // compile now, not on the first block
    return r;
}

// One "\bword\b" rule per word, in the order given.
inline void addKeywords(QVector<HighlightingRule>& rules, const QStringList& words, const QTextCharFormat& format)
{
    for (const QString& word : words)
        rules.append(rule(QStringLiteral("\\b%1\\b").arg(word), format));
}

// Class names, greedy double-quoted text and calls, in that order.
inline void addCommonRules(QVector<HighlightingRule>& rules, const QTextCharFormat& classNameFormat,
                           const QTextCharFormat& quotationFormat, const QTextCharFormat& callFormat)
{
    rules.append(rule(QStringLiteral("\\bQ[A-Za-z]+\\b"), classNameFormat));
    rules.append(rule(QStringLiteral("\".*\""), quotationFormat));
    rules.append(rule(QStringLiteral("\\b[A-Za-z0-9_]+(?=\\()"), callFormat));
}

inline QStringList luaKeywords()
{
    return {QStringLiteral("and"),    QStringLiteral("break"),  QStringLiteral("do"),
            QStringLiteral("else"),   QStringLiteral("elseif"), QStringLiteral("end"),
            QStringLiteral("false"),  QStringLiteral("for"),    QStringLiteral("function"),
            QStringLiteral("if"),     QStringLiteral("in"),     QStringLiteral("local"),
            QStringLiteral("nil"),    QStringLiteral("not"),    QStringLiteral("or"),
            QStringLiteral("repeat"), QStringLiteral("return"), QStringLiteral("then"),
            QStringLiteral("true"),   QStringLiteral("until"),  QStringLiteral("while")};
}

} // namespace HighlightingRules

#endif // HIGHLIGHTINGRULES_P_H
