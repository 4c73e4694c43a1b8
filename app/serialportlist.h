#ifndef SERIALPORTLIST_H
#define SERIALPORTLIST_H

#include <QList>
#include <QString>

#include <functional>

// One serial port as the platform reports it.
struct SerialPortEntry
{
    QString portName;
    QString description;
    QString serialNumber;
};

using SerialPortLister = std::function<QList<SerialPortEntry>()>;

// The serial ports present now, in the order the platform reports them.
QList<SerialPortEntry> availableSerialPorts();

// Replaces where the port list comes from (tests list made-up ports); an
// empty function restores the platform's list. GUI thread only.
void setSerialPortLister(SerialPortLister lister);

#endif // SERIALPORTLIST_H
