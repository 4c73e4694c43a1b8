#include "qerfcinterface.h"

QErfcInterface::QErfcInterface(QObject* parent)
    : QObject(parent)
{
}

QErfcInterface::~QErfcInterface() = default;
