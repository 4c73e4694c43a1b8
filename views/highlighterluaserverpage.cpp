#include "highlighterluaserverpage.h"

#include "highlighterluaserverpage_p.h"
#include "highlightingrules_p.h"

using namespace HighlightingRules;
using State = HighlighterLuaServerPagePrivate::State;

HighlighterLuaServerPage::HighlighterLuaServerPage(QTextDocument* parent)
    : TextHighlighter(parent)
    , d(new HighlighterLuaServerPagePrivate)
{
    d->m_delimiterFormat = charFormat(Qt::darkCyan, true);
    d->m_lineCommentFormat = charFormat(Qt::darkGray);
    d->m_blockCommentFormat = charFormat(Qt::darkGray, false, true);

    const QTextCharFormat keywordFormat = charFormat(Qt::darkCyan, true);
    const QTextCharFormat classNameFormat = charFormat(Qt::darkMagenta, true);
    const QTextCharFormat quotationFormat = charFormat(Qt::darkGreen);
    const QTextCharFormat callFormat = charFormat(Qt::blue, false, true);

    // Tag names match as words anywhere in page text; "style" and "embed"
    // have no closing boundary.
    static const char* const tags[] = {
        "DOCTYPE", "a", "abbr", "address", "area", "article", "aside", "audio", "b", "base", "bdi",
        "bdo", "blockquote", "body", "br", "button", "canvas", "caption", "cite", "code", "col",
        "colgroup", "datalist", "dd", "del", "details", "dfn", "dialog", "div", "dl", "dt", "em",
        "embed", "fieldset", "figcaption", "figure", "footer", "form", "h[1-6]", "head", "header",
        "hr", "html", "i", "iframe", "img", "input", "ins", "kbd", "keygen", "label", "legend", "li",
        "link", "main", "map", "mark", "menu", "menuitem", "meta", "meter", "nav", "noscript",
        "object", "ol", "optgroup", "option", "output", "p", "param", "pre", "progress", "q", "rp",
        "rt", "ruby", "s", "samp", "script", "section", "select", "small", "source", "span",
        "strong", "style", "sub", "summary", "sup", "table", "tbody", "td", "textarea", "tfoot",
        "th", "thead", "time", "title", "tr", "track", "u", "ul", "var", "video", "wbr"};
    for (const char* tag : tags) {
        const QString name = QLatin1String(tag);
        const bool open = name == QLatin1String("style") || name == QLatin1String("embed");
        d->m_htmlRules.append(rule(open ? QStringLiteral("\\b%1").arg(name)
                                        : QStringLiteral("\\b%1\\b").arg(name),
                                   keywordFormat));
    }
    d->m_htmlRules.append(rule(QStringLiteral("\\bQ[A-Za-z]+\\b"), classNameFormat));
    d->m_htmlRules.append(rule(QStringLiteral("\".*\""), quotationFormat));
    // Attributes: a blank, the name and "=", all coloured.
    d->m_htmlRules.append(rule(QStringLiteral("\\s\\b[A-Za-z0-9_-]+\\b="), callFormat));

    addKeywords(d->m_scriptRules,
                {QStringLiteral("function"), QStringLiteral("return"), QStringLiteral("var"),
                 QStringLiteral("this"), QStringLiteral("self")},
                keywordFormat);
    addCommonRules(d->m_scriptRules, classNameFormat, quotationFormat, callFormat);

    addKeywords(d->m_luaRules, luaKeywords(), keywordFormat);
    addCommonRules(d->m_luaRules, classNameFormat, quotationFormat, callFormat);
}

HighlighterLuaServerPage::~HighlighterLuaServerPage() = default;

namespace {

struct Token
{
    QLatin1String text;
    enum Kind { Opener, Closer, CommentOpener, HtmlCommentOpener, LineComment } kind;
    int next;
};

// The tokens each code region looks for, in the order they are tried.
const Token htmlTokens[] = {
    {QLatin1String("<!--"), Token::HtmlCommentOpener, State::HtmlComment},
    {QLatin1String("<script>"), Token::Opener, State::Script},
    {QLatin1String("<?php"), Token::Opener, State::Php},
    {QLatin1String("<?lsp"), Token::Opener, State::Lua},
    {QLatin1String("<%"), Token::Opener, State::Lua},
    {QLatin1String("<?"), Token::Opener, State::Lua},
};
const Token scriptTokens[] = {
    {QLatin1String("</script>"), Token::Closer, State::Html},
    {QLatin1String("/*"), Token::CommentOpener, State::ScriptBlockComment},
    {QLatin1String("//"), Token::LineComment, State::ScriptLineComment},
};
const Token phpTokens[] = {
    {QLatin1String("%>"), Token::Closer, State::Html},
    {QLatin1String("?>"), Token::Closer, State::Html},
    {QLatin1String("/*"), Token::CommentOpener, State::PhpBlockComment},
    {QLatin1String("//"), Token::LineComment, State::PhpLineComment},
    {QLatin1String("#"), Token::LineComment, State::PhpLineComment},
};
const Token luaTokens[] = {
    {QLatin1String("%>"), Token::Closer, State::Html},
    {QLatin1String("?>"), Token::Closer, State::Html},
    {QLatin1String("--[["), Token::CommentOpener, State::LuaBlockComment},
    {QLatin1String("--"), Token::LineComment, State::LuaLineComment},
};

template <size_t N>
const Token* findToken(const Token (&tokens)[N], const QString& text, int pos)
{
    const QStringRef rest = text.midRef(pos);
    for (const Token& token : tokens) {
        if (rest.startsWith(token.text))
            return &token;
    }
    return nullptr;
}

} // namespace

void HighlighterLuaServerPage::highlightBlock(const QString& text)
{
    int state = previousBlockState();
    const int length = text.size();
    if (length == 0) {
        setCurrentBlockState(state);
        return;
    }
    if (state < State::Html || state > State::LuaBlockComment)
        state = State::Html;

    int pos = 0;
    int spanStart = 0;
    while (pos < length) {
        switch (state) {
        case State::Html:
        case State::Script:
        case State::Php:
        case State::Lua: {
            const Token* token = nullptr;
            if (state == State::Html)
                token = findToken(htmlTokens, text, pos);
            else if (state == State::Script)
                token = findToken(scriptTokens, text, pos);
            else if (state == State::Php)
                token = findToken(phpTokens, text, pos);
            else
                token = findToken(luaTokens, text, pos);

            if (!token) {
                ++pos;
                if (pos >= length)
                    applyRules(text, d->rulesOf(state), spanStart, length);
                break;
            }
            applyRules(text, d->rulesOf(state), spanStart, pos);
            const int tokenLength = token->text.size();
            switch (token->kind) {
            case Token::Opener:
                setFormat(pos, tokenLength, d->m_delimiterFormat);
                spanStart = pos;
                pos += tokenLength;
                break;
            case Token::Closer:
                setFormat(pos, tokenLength, d->m_delimiterFormat);
                pos += tokenLength;
                spanStart = pos;
                break;
            case Token::CommentOpener:
                setFormat(pos, tokenLength, d->m_blockCommentFormat);
                spanStart = pos;
                pos += tokenLength;
                break;
            case Token::HtmlCommentOpener:
                spanStart = pos;
                pos += tokenLength;
                break;
            case Token::LineComment:
                spanStart = pos;
                break;
            }
            state = token->next;
            break;
        }
        case State::HtmlComment:
        case State::ScriptBlockComment:
        case State::PhpBlockComment:
        case State::LuaBlockComment: {
            const QLatin1String closer = state == State::HtmlComment ? QLatin1String("-->")
                                         : state == State::LuaBlockComment ? QLatin1String("]]--")
                                                                           : QLatin1String("*/");
            const int found = text.indexOf(closer, pos);
            if (found < 0) {
                setFormat(spanStart, length - spanStart, d->m_blockCommentFormat);
                pos = length;
                break;
            }
            const int end = found + closer.size();
            setFormat(spanStart, end - spanStart, d->m_blockCommentFormat);
            spanStart = pos = end;
            state = state == State::HtmlComment ? State::Html : state - 2;
            break;
        }
        default: // the line comments run to the end of the block
            setFormat(spanStart, length - spanStart, d->m_lineCommentFormat);
            pos = length;
            state = state - 1;
            break;
        }
    }
    setCurrentBlockState(state);
}
