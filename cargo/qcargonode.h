#ifndef QCARGONODE_H
#define QCARGONODE_H

#include "qcargo.h"

#include <QByteArray>

// A Cargo stream with a buffer for what has been received from the node,
// for a receiver that collects a whole transfer before it uses it.
class QCargoNode : public QCargo
{
public:
    QCargoNode(QErfcStack* stack, quint8 remoteAddress, quint8 remoteFunctionId,
               QObject* parent = nullptr);
    ~QCargoNode() override;

    QByteArray& buffer() { return m_buffer; }
    const QByteArray& buffer() const { return m_buffer; }
    // Appends everything readable to the buffer; the bytes appended.
    qint64 collect();

private:
    QByteArray m_buffer;
};

#endif // QCARGONODE_H
