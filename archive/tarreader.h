#ifndef TARREADER_H
#define TARREADER_H

#include "tarentry.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

// Reading gzip-compressed tar archives held in memory. Free functions without
// state: every one may run on any thread. None of them throws.

// The most bytes gzipUncompress produces; a stream that inflates to more is
// refused, so a small archive cannot exhaust memory.
constexpr qint64 GzipOutputLimit = qint64(256) * 1024 * 1024;

// Gunzips input into output (gzip wrapper only; zlib or raw deflate streams
// are refused). Input after the end of the first gzip member is ignored. An
// empty input gives true with an empty output. False for corrupt or truncated
// data and for output beyond limit; output then keeps what was produced, at
// most limit bytes.
bool gzipUncompress(const QByteArray& input, QByteArray& output,
                    qint64 limit = GzipOutputLimit);

// Gzips input into output at the given level (above 9 is 9, negative is
// zlib's default). An empty input gives true with an empty output.
bool gzipCompress(const QByteArray& input, QByteArray& output, int level);

// Splits uncompressed tar bytes into members, in archive order. Names longer
// than the header's name field are read in all three forms tar writes them:
// a GNU long-name record ('L'), the path of a POSIX extended header ('x', or
// a global one 'g', which names every member after it, as GNU tar reads it)
// and the ustar name prefix. Those records, and GNU long link names ('K'),
// describe the next member and never become members; every other header
// yields a member, whatever its type. *ok is false, with the members read so
// far, when a size field is not an octal number of at most 32 bits.
QList<TarEntry> parseTar(const QByteArray& tar, bool* ok);

// gzipUncompress, then parseTar, done as the data inflate: only the members'
// data are kept, never the whole tar beside them. *ok is false and the list
// empty when the bytes do not gunzip.
QList<TarEntry> readTarGz(const QByteArray& archive, bool* ok);

// The members by name; a later member of the same name replaces an earlier one.
QHash<QString, TarEntry> tarEntriesByName(const QList<TarEntry>& entries);

#endif // TARREADER_H
