#include "qcftppathresolver_p.h"

#include <QDir>
#include <QFileInfo>

namespace QCftpPathResolver {

bool isInside(const QString& root, const QString& path)
{
    if (root.isEmpty() || path.isEmpty())
        return false;
    if (path == root)
        return true;
    const QString prefix = root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/');
    return path.startsWith(prefix);
}

bool resolve(const QString& root, const QString& path, Use use, QString* local)
{
    if (root.isEmpty())
        return false;
    QString p = path;
    p.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (p.contains(QChar(0)) || p.contains(QLatin1Char(':')))
        return false;
    const QStringList segments = p.split(QLatin1Char('/'));
    if (segments.contains(QStringLiteral("..")))
        return false;

    const QString cleanRoot = QDir::cleanPath(root);
    const QString target = QDir::cleanPath(cleanRoot + QLatin1Char('/') + p);
    if (!isInside(cleanRoot, target))
        return false;
    if (use == BelowRoot && target == cleanRoot)
        return false;

    const QString realRoot = QFileInfo(cleanRoot).canonicalFilePath();
    if (realRoot.isEmpty())
        return false;

    // The target, or its deepest existing ancestor, must really be inside.
    QString at = target;
    for (;;) {
        const QFileInfo info(at);
        if (info.isSymLink() && !info.exists())
            return false; // dangling: writing through it would land who knows where
        if (info.exists()) {
            if (!isInside(realRoot, info.canonicalFilePath()))
                return false;
            break;
        }
        if (at == cleanRoot)
            return false;
        at = QFileInfo(at).path();
        if (!isInside(cleanRoot, at))
            return false;
    }
    *local = target;
    return true;
}

} // namespace QCftpPathResolver
