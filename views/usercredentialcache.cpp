#include "usercredentialcache.h"

bool UserCredentialCache::contains(const QByteArray& uniqueId) const
{
    return m_entries.contains(uniqueId);
}

QString UserCredentialCache::userName(const QByteArray& uniqueId) const
{
    return m_entries.value(uniqueId).userName;
}

QString UserCredentialCache::password(const QByteArray& uniqueId) const
{
    return m_entries.value(uniqueId).password;
}

void UserCredentialCache::setUserName(const QByteArray& uniqueId, const QString& userName)
{
    m_entries[uniqueId].userName = userName;
}

void UserCredentialCache::setPassword(const QByteArray& uniqueId, const QString& password)
{
    m_entries[uniqueId].password = password;
}

void UserCredentialCache::remove(const QByteArray& uniqueId)
{
    m_entries.remove(uniqueId);
}
