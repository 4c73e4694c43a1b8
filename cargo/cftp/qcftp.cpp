#include "qcftp.h"

#include <QCryptographicHash>
#include <QDebug>

namespace QCFTP {

QByteArray loginToken(const QString& password, const QByteArray& challenge)
{
    const QByteArray p = QCryptographicHash::hash(password.toLatin1(), QCryptographicHash::Md5);
    QByteArray x;
    if (challenge.size() >= p.size()) {
        x.resize(p.size());
        for (int i = 0; i < p.size(); ++i)
            x[i] = char(p.at(i) ^ challenge.at(i));
    } else {
        qWarning("CFTP challenge of %d bytes is too short: the login token covers no password",
                 int(challenge.size()));
    }
    return QCryptographicHash::hash(x, QCryptographicHash::Md5).toHex();
}

void registerMetaTypes()
{
    qRegisterMetaType<ResponseCode>("QCFTP::ResponseCode");
    qRegisterMetaType<Client::State>("QCFTP::Client::State");
    qRegisterMetaType<Server::State>("QCFTP::Server::State");
}

} // namespace QCFTP
