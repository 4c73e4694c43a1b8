#ifndef USERCREDENTIALCACHE_H
#define USERCREDENTIALCACHE_H

#include "usercredential.h"

#include <QByteArray>
#include <QMap>

// The logins remembered for this run of the program, keyed by the node's
// unique id (compared as bytes), so that an entry follows its node to
// another address and never passes to another node. Nothing is written to
// disk. GUI thread only; the one instance is GetUserDialog::credentialCache().
class UserCredentialCache
{
public:
    bool contains(const QByteArray& uniqueId) const;
    // Empty texts when there is no entry.
    QString userName(const QByteArray& uniqueId) const;
    QString password(const QByteArray& uniqueId) const;
    // Each creates the entry (both fields empty) when it is missing.
    void setUserName(const QByteArray& uniqueId, const QString& userName);
    void setPassword(const QByteArray& uniqueId, const QString& password);
    void remove(const QByteArray& uniqueId);

private:
    QMap<QByteArray, UserCredential> m_entries;
};

#endif // USERCREDENTIALCACHE_H
