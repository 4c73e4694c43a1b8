#ifndef QCFTPPATHRESOLVER_P_H
#define QCFTPPATHRESOLVER_P_H

#include <QString>

// Maps a path a client sends to a local path below the server's root, and
// refuses every path that could reach outside it: "\" counts as "/"; NUL,
// ":" and ".." segments are refused; the cleaned path must be the root or
// below it; the real (symlink-resolved) location of the target, or of its
// deepest existing ancestor, must lie inside the real root; a dangling
// symlink at or above the target is refused. With no root, or a root that
// does not exist, everything is refused.
namespace QCftpPathResolver {

enum Use {
    AnyPath,    // the root itself included
    BelowRoot   // the operation must not touch the root itself (delete, move)
};

bool resolve(const QString& root, const QString& path, Use use, QString* local);

// Whether `path` (made absolute and clean) is `root` or lies below it.
bool isInside(const QString& root, const QString& path);

} // namespace QCftpPathResolver

#endif // QCFTPPATHRESOLVER_P_H
