#include "qcargonode.h"

QCargoNode::QCargoNode(QErfcStack* stack, quint8 remoteAddress, quint8 remoteFunctionId,
                       QObject* parent)
    : QCargo(stack, remoteAddress, remoteFunctionId, parent)
{
}

QCargoNode::~QCargoNode() = default;

qint64 QCargoNode::collect()
{
    const QByteArray bytes = readAll();
    m_buffer.append(bytes);
    return bytes.size();
}
