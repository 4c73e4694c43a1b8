#ifndef QCFTPRECORDPATH_P_H
#define QCFTPRECORDPATH_P_H

#include <QDateTime>
#include <QString>

// The path convention both transfer records share: absolute, "/"-separated,
// a directory's path ends with "/".
namespace QCftpRecordPath {

inline QString withLeadingSlash(const QString& path)
{
    return path.startsWith(QLatin1Char('/')) ? path : QLatin1Char('/') + path;
}

inline bool isDir(const QString& path)
{
    return path.endsWith(QLatin1Char('/'));
}

inline QString name(const QString& path)
{
    const bool dir = isDir(path);
    const QString p = dir ? path.left(path.size() - 1) : path;
    QString out = p.mid(p.lastIndexOf(QLatin1Char('/')) + 1);
    if (dir)
        out += QLatin1Char('/');
    return out;
}

inline QString parentPath(const QString& path)
{
    if (path == QLatin1String("/"))
        return QString();
    const QString p = isDir(path) ? path.left(path.size() - 1) : path;
    return p.left(p.lastIndexOf(QLatin1Char('/')) + 1);
}

inline quint32 now()
{
    return quint32(QDateTime::currentMSecsSinceEpoch() / 1000);
}

} // namespace QCftpRecordPath

#endif // QCFTPRECORDPATH_P_H
