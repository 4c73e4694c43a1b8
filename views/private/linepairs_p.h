#ifndef LINEPAIRS_P_H
#define LINEPAIRS_P_H

#include <QString>
#include <QStringList>
#include <QVector>

// A line of a text file and the break that ended it: "\r\n", "\n", "\r" or
// another character the editor starts a line at; empty for the last line.
struct FileLine
{
    QString text;
    QString end;
};

// Which line of the text read each line of the edited text stands for, and
// so which end it is saved with.
//
// Lines the two texts have in common, in order, stand for each other. Up to
// MaxEdits lines inserted and removed between them they are found exactly
// (a shortest edit); beyond, by content: lines that occur once on each side
// (or where none do, runs of lines that do) anchor the pairing, the longest
// series of anchors in the same order on both sides is kept, and the ranges
// between anchors are paired the same way, small ones exactly. The work is
// bounded by a fixed amount per line: what is left over stays unpaired.
//
// Between two common lines, the lines of now that were read (not typed or
// pasted) stand for the lines of before in order, the others for none;
// where fewer are left, the last stands for the last of before (lines
// joined into one end as the later did). A line that stands for none ends
// as most lines of the file do.
struct LinePairs
{
    // More lines inserted and removed than this, and the pairing goes by content.
    static const int MaxEdits = 1000;

    // For each line of now, the line of before it stands for, or -1.
    QVector<int> pairs;
    // The common lines were found exactly, within MaxEdits.
    bool exact = true;
    // Found by content only: lines of now, the last aside, that before had
    // with an end other than the one they are saved with, and that stand
    // for no line of the same text; zero when the search was exact.
    int endsMayChange = 0;

    // read[j]: line j of now came from the text read (see above).
    static LinePairs pair(const QVector<FileLine>& before, const QStringList& now, const QVector<bool>& read,
                          const QString& newLineEnd);

    // The end line j of now is saved with.
    const QString& end(const QVector<FileLine>& before, int j, const QString& newLineEnd) const
    {
        const int i = pairs[j];
        return i >= 0 && !before[i].end.isEmpty() ? before[i].end : newLineEnd;
    }
};

#endif // LINEPAIRS_P_H
