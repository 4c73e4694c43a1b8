#ifndef NODEHUB_H
#define NODEHUB_H

#include "qerfcdevice.h"
#include "qerfcstreaminterface.h"

#include <map>
#include <QObject>

#include <memory>

class TcpServerTestDevice;

// Puts several nodes, each its own stack, on the program's one connection.
// Every node connects over loopback TCP to a port of the hub; the hub passes
// whole frames between those ports and the program's connection like a
// switch: a broadcast goes to every other port, a frame to one of the nodes
// to that node's port only, anything else to the program. (A frame to a
// node given to every node would be answered with a routing error by the
// others, in that node's name.)
class NodeHub : public QObject
{
    Q_OBJECT
public:
    // `program` is the connection to the program; when listening, a lost
    // connection is waited for again, else losing it ends the event loop.
    NodeHub(std::unique_ptr<QErfcDevice> program, bool listening, QObject* parent = nullptr);
    ~NodeHub() override;

    // A port for the node at `address`; the node connects to 127.0.0.1 at
    // the port returned (0 on failure), then attachNode() accepts it.
    quint16 addNode(quint8 address);
    bool attachNode(quint8 address);
    // Binds the program's connection (again, while listening, until it comes).
    void connectProgram();

signals:
    void programConnected();
    void programDisconnected();

private:
    struct Port
    {
        std::unique_ptr<TcpServerTestDevice> device;
        std::unique_ptr<QErfcStreamInterface> link;
    };

    void deliver(QErfcInterface* from, const QByteArray& frame);
    void onProgramLost();

    std::unique_ptr<QErfcDevice> m_programDevice;
    QErfcStreamInterface m_program;
    bool m_listening;
    bool m_programBound = false;
    std::map<quint8, Port> m_nodes;
};

#endif // NODEHUB_H
