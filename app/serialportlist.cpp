#include "serialportlist.h"

#include <QSerialPortInfo>

namespace {

QList<SerialPortEntry> platformPorts()
{
    QList<SerialPortEntry> ports;
    const QList<QSerialPortInfo> infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& info : infos)
        ports.append({info.portName(), info.description(), info.serialNumber()});
    return ports;
}

SerialPortLister& lister()
{
    static SerialPortLister current;
    return current;
}

} // namespace

QList<SerialPortEntry> availableSerialPorts()
{
    const SerialPortLister& current = lister();
    return current ? current() : platformPorts();
}

void setSerialPortLister(SerialPortLister replacement)
{
    lister() = std::move(replacement);
}
