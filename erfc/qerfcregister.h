#ifndef QERFCREGISTER_H
#define QERFCREGISTER_H

#include "qerfc.h"
#include "qerfcguard.h"

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

    // What the stack keeps while the object is registered: every read of it
    // and every call into it from the stack thread runs inside this guard.
    QErfcGuardPtr guard() const;

protected:
    // Marks the object gone and waits for a read or call still running on
    // another thread. The class that overrides call() does it first thing in
    // its destructor, so that no call runs into a half-destroyed object.
    void closeGuard();

private:
    Q_DISABLE_COPY(QErfcRegister)
    std::unique_ptr<QErfcRegisterPrivate> d;
};

#endif // QERFCREGISTER_H
