#include "expandtabs.h"

QString expandTabs(const QString& text, int tabWidth)
{
    QString out;
    out.reserve(text.size() + 16);
    int column = 0;
    for (const QChar c : text) {
        if (c == QLatin1Char('\t')) {
            const int blanks = tabWidth - column % tabWidth;
            out.append(QString(blanks, QLatin1Char(' ')));
            column += blanks;
        } else {
            out.append(c);
            column = c == QLatin1Char('\n') ? 0 : column + 1;
        }
    }
    return out;
}
