#include "texthighlighter.h"

#include <QStringRef>

TextHighlighter::TextHighlighter(QTextDocument* parent)
    : QSyntaxHighlighter(parent)
{
}

TextHighlighter::~TextHighlighter() = default;

void TextHighlighter::applyRules(const QString& text, const QVector<HighlightingRule>& rules, int from, int to)
{
    from = qBound(0, from, text.size());
    to = qBound(from, to, text.size());
    if (from == to)
        return;
    const QStringRef subject = text.midRef(from, to - from);
    for (const HighlightingRule& rule : rules) {
        QRegularExpressionMatchIterator it = rule.pattern.globalMatch(subject);
        while (it.hasNext()) {
            const QRegularExpressionMatch match = it.next();
            if (match.capturedLength() > 0)
                setFormat(from + match.capturedStart(), match.capturedLength(), rule.format);
        }
    }
}

void TextHighlighter::highlightCommentedCode(const QString& text, const QVector<HighlightingRule>& rules,
                                             const QString& blockOpener, const QString& lineToken,
                                             const QString& blockCloser,
                                             const QTextCharFormat& lineCommentFormat,
                                             const QTextCharFormat& blockCommentFormat)
{
    enum { Code = 0, LineComment = 1, BlockComment = 2 };

    int state = previousBlockState();
    const int length = text.size();
    if (length == 0) {
        // An empty line hands its state on unchanged (-1 included).
        setCurrentBlockState(state);
        return;
    }
    if (state != Code && state != LineComment && state != BlockComment)
        state = Code;

    int pos = 0;
    int spanStart = 0;
    while (pos < length) {
        if (state == Code) {
            if (text.midRef(pos, blockOpener.size()) == blockOpener) {
                applyRules(text, rules, spanStart, pos);
                setFormat(pos, blockOpener.size(), blockCommentFormat);
                spanStart = pos;
                pos += blockOpener.size();
                state = BlockComment;
            } else if (text.midRef(pos, lineToken.size()) == lineToken) {
                applyRules(text, rules, spanStart, pos);
                spanStart = pos;
                state = LineComment;
            } else {
                ++pos;
                if (pos >= length)
                    applyRules(text, rules, spanStart, length);
            }
        } else if (state == LineComment) {
            setFormat(spanStart, length - spanStart, lineCommentFormat);
            state = Code;
            break;
        } else {
            const int closer = text.indexOf(blockCloser, pos);
            if (closer < 0) {
                setFormat(spanStart, length - spanStart, blockCommentFormat);
                break;
            }
            const int end = closer + blockCloser.size();
            setFormat(spanStart, end - spanStart, blockCommentFormat);
            spanStart = pos = end;
            state = Code;
        }
    }
    setCurrentBlockState(state);
}
