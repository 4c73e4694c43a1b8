#ifndef TARENTRY_H
#define TARENTRY_H

#include <QByteArray>
#include <QString>

// One member of a gzip-compressed tar archive: a script package or an
// uploaded archive. The name always begins with "/"; mode, uid and gid are
// the header's text fields as written.
struct TarEntry
{
    QString name;
    QString mode;
    QString uid;
    QString gid;
    QByteArray data;
};

#endif // TARENTRY_H
