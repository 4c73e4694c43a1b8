#ifndef TARWRITER_H
#define TARWRITER_H

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

// A gzip-compressed tar written by hand: one plain header per member (name
// and octal size only), members padded to 512 bytes, two zero blocks at the
// end. Member names are taken as given, also ones GNU tar would not write.
QByteArray handMadePackage(const QList<QPair<QByteArray, QByteArray>>& members);

// Every file below `dir` (names relative to it, in sorted order) packed as
// above; a null array when the folder has no readable file.
QByteArray packFolder(const QString& dir);

// GNU tar's gzip-compressed archive of `dir` (its entries as "./", "./a" and so
// on) in the given --format ("gnu", "posix", "ustar"); a null array when tar
// fails.
QByteArray gnuTarArchive(const QString& dir, const QString& format);

#endif // TARWRITER_H
