#ifndef QERFCEVENT_H
#define QERFCEVENT_H

#include "qerfcregister.h"

// An event the PC offers to subscribers.
class QErfcEvent : public QErfcRegister
{
    Q_OBJECT
public:
    explicit QErfcEvent(QObject* parent = nullptr);
    QErfcEvent(quint8 id, const QString& description, QErfc::Privilege privilege,
               QObject* parent = nullptr);
    ~QErfcEvent() override;
};

#endif // QERFCEVENT_H
