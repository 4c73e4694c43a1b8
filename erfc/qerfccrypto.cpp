#include "qerfccrypto.h"

QErfcCrypto::QErfcCrypto(QObject* parent)
    : QObject(parent)
{
}

QErfcCrypto::~QErfcCrypto() = default;
