#include "qerfcevent.h"

QErfcEvent::QErfcEvent(QObject* parent)
    : QErfcRegister(parent)
{
}

QErfcEvent::QErfcEvent(quint8 id, const QString& description, QErfc::Privilege privilege,
                       QObject* parent)
    : QErfcRegister(id, description, privilege, parent)
{
}

QErfcEvent::~QErfcEvent()
{
    closeGuard();
}
