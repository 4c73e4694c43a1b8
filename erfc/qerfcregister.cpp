#include "qerfcregister.h"

class QErfcRegisterPrivate
{
public:
    quint8 m_id = 0;
    QErfc::Privilege m_privilege = QErfc::User;
    QString m_description;
    QVariant m_userData;
    const QErfcGuardPtr m_guard = std::make_shared<QErfcGuard>();
};

QErfcRegister::QErfcRegister(QObject* parent)
    : QObject(parent)
    , d(new QErfcRegisterPrivate)
{
}

QErfcRegister::QErfcRegister(quint8 id, const QString& description, QErfc::Privilege privilege,
                             QObject* parent)
    : QErfcRegister(parent)
{
    d->m_id = id;
    d->m_description = description;
    d->m_privilege = privilege;
}

QErfcRegister::~QErfcRegister()
{
    closeGuard();
}

QErfcGuardPtr QErfcRegister::guard() const { return d->m_guard; }
void QErfcRegister::closeGuard() { d->m_guard->close(); }

void QErfcRegister::setId(quint8 id) { d->m_id = id; }
quint8 QErfcRegister::id() const { return d->m_id; }
void QErfcRegister::setPrivilege(QErfc::Privilege privilege) { d->m_privilege = privilege; }
QErfc::Privilege QErfcRegister::privilege() const { return d->m_privilege; }
void QErfcRegister::setDescription(const QString& description) { d->m_description = description; }
QString QErfcRegister::description() const { return d->m_description; }
void QErfcRegister::setUserData(const QVariant& data) { d->m_userData = data; }
QVariant QErfcRegister::userData() const { return d->m_userData; }
