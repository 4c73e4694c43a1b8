#include "nodehub.h"

#include "qerfcstreaminterface_p.h"
#include "tcptestdevice.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTcpSocket>
#include <QTimer>

#include <cstdio>

namespace {
constexpr quint8 Broadcast = 63;
constexpr int HeaderSize = 4;
constexpr int AcceptWaitMs = 10000;
} // namespace

NodeHub::NodeHub(std::unique_ptr<QErfcDevice> program, bool listening, QObject* parent)
    : QObject(parent)
    , m_programDevice(std::move(program))
    , m_program(m_programDevice.get())
    , m_listening(listening)
{
    connect(&m_program, &QErfcInterface::frameReceived, this,
            [this](const QByteArray& frame) { deliver(nullptr, frame); });
    // Queued: the link reports its loss from inside its own reading.
    connect(&m_program, &QErfcInterface::releaseInterface, this, [this] { onProgramLost(); },
            Qt::QueuedConnection);
    auto* server = qobject_cast<TcpServerTestDevice*>(m_programDevice.get());
    if (m_listening && server && server->listenDescriptor() >= 0) {
        m_programPending = new QSocketNotifier(server->listenDescriptor(), QSocketNotifier::Read, this);
        m_programPending->setEnabled(false);
        connect(m_programPending, &QSocketNotifier::activated, this, [this] { onProgramPending(); });
    }
}

NodeHub::~NodeHub()
{
    if (m_programBound)
        m_program.release();
    for (auto& node : m_nodes)
        node->link->release();
}

quint16 NodeHub::addNode(quint8 address)
{
    m_nodes.emplace_back(new Port{address, std::make_unique<TcpServerTestDevice>(0, AcceptWaitMs), nullptr});
    Port* port = m_nodes.back().get();
    port->link.reset(new QErfcStreamInterface(port->device.get()));
    connect(port->link.get(), &QErfcInterface::frameReceived, this,
            [this, port](const QByteArray& frame) { deliver(port, frame); });
    return port->device->port();
}

bool NodeHub::attachNode(quint8 address)
{
    // The latest port made for that address: a node's frames have not moved it yet.
    for (auto it = m_nodes.rbegin(); it != m_nodes.rend(); ++it) {
        if ((*it)->address == address)
            return (*it)->link->bind();
    }
    return false;
}

void NodeHub::connectProgram()
{
    if (m_programPending) {
        m_programPending->setEnabled(true);
        return;
    }
    if (m_program.bind()) {
        m_programBound = true;
        emit programConnected();
        return;
    }
    m_program.release(); // a failed open may leave a half-made connection behind
    if (m_listening) {
        // The accept waits only briefly, so that the nodes' frames keep moving meanwhile.
        QTimer::singleShot(0, this, [this] { connectProgram(); });
        return;
    }
    std::fprintf(stdout, "error: cannot open the connection\n");
    std::fflush(stdout);
    QCoreApplication::exit(2);
}

void NodeHub::onProgramPending()
{
    // A connection waits in the backlog: the accept finds it at once.
    m_programPending->setEnabled(false);
    if (m_program.bind()) {
        m_programBound = true;
        emit programConnected();
        return;
    }
    m_program.release();
    m_programPending->setEnabled(true);
}

void NodeHub::onProgramLost()
{
    if (!m_programBound)
        return;
    m_program.release();
    m_programBound = false;
    emit programDisconnected();
    if (m_listening)
        QTimer::singleShot(0, this, [this] { connectProgram(); });
    else
        QCoreApplication::exit(0);
}

void NodeHub::deliver(Port* from, const QByteArray& frame)
{
    if (frame.size() < HeaderSize)
        return;
    // The header's first bytes: destination (six bits), then source (six bits).
    const quint8 destination = quint8(frame.at(0)) >> 2;
    const quint8 source = quint8((quint8(frame.at(0)) & 0x03) << 4 | quint8(frame.at(1)) >> 4);
    if (from && source != Broadcast)
        from->address = source;
    bool toProgram = from && m_programBound;
    for (auto& node : m_nodes) {
        if (destination != Broadcast && node->address != destination)
            continue;
        if (destination != Broadcast)
            toProgram = false; // a node's own port, even the one it came from
        if (node.get() != from)
            toNode(*node, frame);
    }
    if (toProgram)
        m_program.transmit(frame);
}

void NodeHub::toNode(Port& port, const QByteArray& frame)
{
    // Qt writes the socket's buffer when the event loop next turns.
    QTcpSocket* socket = port.device->socket();
    if (socket && socket->state() == QAbstractSocket::ConnectedState)
        socket->write(QErfcFrameStuffing::stuff(frame));
}
