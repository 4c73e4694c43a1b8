#include "qerfcdevice.h"

QErfcDevice::QErfcDevice(QObject* parent)
    : QObject(parent)
{
}

QErfcDevice::~QErfcDevice() = default;
