#include "erfcdevice.h"

ErfcDevice::ErfcDevice(QObject* parent)
    : QErfcDevice(parent)
{
}

ErfcDevice::~ErfcDevice() = default;
