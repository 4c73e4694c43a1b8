#include "getuserdialog.h"
#include "ui_getuserdialog.h"

#include "erfcnodeinfo.h"
#include "erfcnodemanager.h"
#include "usercredentialcache.h"

class GetUserDialogPrivate
{
public:
    Ui::GetUserDialog m_ui;
    quint8 m_address = 0;
    QString m_userName;
    QString m_password;

    // The node's unique id, or an empty one when the node cannot be told
    // apart from others (no record, or the id not answered).
    QByteArray uniqueId() const
    {
        const ErfcNodeInfo* record = ErfcNodeManager::instance()->nodeInfo(m_address);
        return record ? record->uniqueId() : QByteArray();
    }
};

GetUserDialog::GetUserDialog(quint8 address, QWidget* parent)
    : QDialog(parent)
    , d(new GetUserDialogPrivate)
{
    d->m_ui.setupUi(this);
    d->m_address = address;
    const QByteArray id = d->uniqueId();
    UserCredentialCache* cache = credentialCache();
    if (!id.isEmpty() && cache->contains(id)) {
        d->m_ui.lineEditUserName->setText(cache->userName(id));
        d->m_ui.lineEditUserPassword->setText(cache->password(id));
    }
    d->m_ui.lineEditUserName->setFocus(Qt::OtherFocusReason);
}

GetUserDialog::~GetUserDialog() = default;

UserCredentialCache* GetUserDialog::credentialCache()
{
    static UserCredentialCache* const cache = new UserCredentialCache;
    return cache;
}

QString GetUserDialog::userName() const
{
    return d->m_userName;
}

QString GetUserDialog::password() const
{
    return d->m_password;
}

void GetUserDialog::setUserName(const QString& userName)
{
    d->m_userName = userName;
    d->m_ui.lineEditUserName->setText(userName);
}

void GetUserDialog::setPassword(const QString& password)
{
    d->m_password = password;
    d->m_ui.lineEditUserPassword->setText(password);
}

void GetUserDialog::on_buttonBox_accepted()
{
    d->m_userName = d->m_ui.lineEditUserName->text();
    d->m_password = d->m_ui.lineEditUserPassword->text();
    const QByteArray id = d->uniqueId();
    if (!id.isEmpty()) {
        UserCredentialCache* cache = credentialCache();
        if (d->m_ui.checkBoxRemember->isChecked()) {
            cache->setUserName(id, d->m_userName);
            cache->setPassword(id, d->m_password);
        } else {
            cache->remove(id);
        }
    }
    accept();
}

void GetUserDialog::on_buttonBox_rejected()
{
    reject();
}
