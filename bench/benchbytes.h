#ifndef BENCHBYTES_H
#define BENCHBYTES_H

#include <QByteArray>
#include <QRandomGenerator>

// Reproducible payload bytes for the benchmarks: the same seed gives the
// same bytes.
inline QByteArray randomBytes(int size, quint32 seed)
{
    QRandomGenerator generator(seed);
    QByteArray out(size, Qt::Uninitialized);
    for (char& c : out)
        c = char(generator.bounded(256));
    return out;
}

#endif // BENCHBYTES_H
