#include "highlighterc.h"

#include "highlighterc_p.h"
#include "highlightingrules_p.h"

using namespace HighlightingRules;

HighlighterC::HighlighterC(QTextDocument* parent)
    : TextHighlighter(parent)
    , d(new HighlighterCPrivate)
{
    addKeywords(d->m_rules,
                {QStringLiteral("char"),     QStringLiteral("class"),     QStringLiteral("const"),
                 QStringLiteral("double"),   QStringLiteral("enum"),      QStringLiteral("explicit"),
                 QStringLiteral("friend"),   QStringLiteral("inline"),    QStringLiteral("int"),
                 QStringLiteral("long"),     QStringLiteral("namespace"), QStringLiteral("operator"),
                 QStringLiteral("private"),  QStringLiteral("protected"), QStringLiteral("public"),
                 QStringLiteral("short"),    QStringLiteral("signals"),   QStringLiteral("signed"),
                 QStringLiteral("slots"),    QStringLiteral("static"),    QStringLiteral("struct"),
                 QStringLiteral("template"), QStringLiteral("typedef"),   QStringLiteral("typename"),
                 QStringLiteral("union"),    QStringLiteral("unsigned"),  QStringLiteral("virtual"),
                 QStringLiteral("void"),     QStringLiteral("volatile")},
                charFormat(Qt::darkBlue, true));
    addCommonRules(d->m_rules, charFormat(Qt::darkMagenta, true), charFormat(Qt::darkGreen),
                   charFormat(Qt::blue, false, true));
    d->m_lineCommentFormat = charFormat(Qt::red);
    d->m_blockCommentFormat = charFormat(Qt::red);
}

HighlighterC::~HighlighterC() = default;

void HighlighterC::highlightBlock(const QString& text)
{
    highlightCommentedCode(text, d->m_rules, QStringLiteral("/*"), QStringLiteral("//"),
                           QStringLiteral("*/"), d->m_lineCommentFormat, d->m_blockCommentFormat);
}
