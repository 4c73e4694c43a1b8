#ifndef USERCREDENTIAL_H
#define USERCREDENTIAL_H

#include <QString>

// One remembered login of a node's file system: the user name and the
// password as typed (in clear text; they are kept in memory only).
struct UserCredential
{
    QString userName;
    QString password;
};

#endif // USERCREDENTIAL_H
