#ifndef GETUSERDIALOG_H
#define GETUSERDIALOG_H

#include <QDialog>

#include <memory>

class GetUserDialogPrivate;
class UserCredentialCache;

// Asks for the user name and password of one node's file system. The
// fields start with what is remembered for the node's unique id; accepting
// with "remember for this node" checked remembers the typed texts for it,
// accepting with the box clear forgets the node's entry. A node without a
// unique id (unknown to the node registry, or its id not answered) gets
// nothing filled in and nothing remembered or forgotten: such nodes cannot
// be told apart. Run it with exec() and read userName() and password()
// after an Accepted result.
class GetUserDialog : public QDialog
{
    Q_OBJECT
public:
    explicit GetUserDialog(quint8 address, QWidget* parent = nullptr);
    ~GetUserDialog() override;

    // The logins remembered for this run of the program.
    static UserCredentialCache* credentialCache();

    // The texts taken when the dialog was accepted (empty before).
    QString userName() const;
    QString password() const;
    // Store the value and show it in its field.
    void setUserName(const QString& userName);
    void setPassword(const QString& password);

private slots:
    void on_buttonBox_accepted();
    void on_buttonBox_rejected();

private:
    Q_DISABLE_COPY(GetUserDialog)
    std::unique_ptr<GetUserDialogPrivate> d;
};

#endif // GETUSERDIALOG_H
