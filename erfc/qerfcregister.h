#ifndef QERFCREGISTER_H
#define QERFCREGISTER_H

#include "qerfc.h"

#include <QObject>
#include <QString>
#include <QVariant>
#include <memory>

class QErfcRegisterPrivate;

// The base of what the PC offers to other nodes: an id, a description and the
// privilege a caller or subscriber must have.
class QErfcRegister : public QObject
{
    Q_OBJECT
public:
    explicit QErfcRegister(QObject* parent = nullptr);
    QErfcRegister(quint8 id, const QString& description, QErfc::Privilege privilege,
                  QObject* parent = nullptr);
    ~QErfcRegister() override;

    void setId(quint8 id);
    quint8 id() const;
    void setPrivilege(QErfc::Privilege privilege);
    QErfc::Privilege privilege() const;
    void setDescription(const QString& description);
    QString description() const;
    void setUserData(const QVariant& data);
    QVariant userData() const;

private:
    Q_DISABLE_COPY(QErfcRegister)
    std::unique_ptr<QErfcRegisterPrivate> d;
};

#endif // QERFCREGISTER_H
