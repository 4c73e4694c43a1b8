#ifndef EXPANDTABS_H
#define EXPANDTABS_H

#include <QString>

// Expands tabs to the next multiple of tabWidth columns; the column starts
// again after every line feed. Log views show text this way in a fixed font.
QString expandTabs(const QString& text, int tabWidth = 8);

#endif // EXPANDTABS_H
