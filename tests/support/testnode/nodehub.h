#ifndef NODEHUB_H
#define NODEHUB_H

#include "qerfcdevice.h"
#include "qerfcstreaminterface.h"

#include <QObject>

#include <memory>
#include <vector>

class QSocketNotifier;
class TcpServerTestDevice;

// Puts several nodes, each its own stack, on the program's one connection.
// Every node connects over loopback TCP to a port of the hub; the hub passes
// whole frames between those ports and the program's connection like a
// switch: a broadcast goes to every other port, a frame to one of the nodes
// to that node's port only, anything else to the program. (A frame to a
// node given to every node would be answered with a routing error by the
// others, in that node's name.) Like a switch it learns where a node is from
// the frames the node sends: a node that takes another address is found at
// the new one from its hello on, and no longer at the old one.
//
// Frames to the nodes are written without a flush: all the frames for one
// node in one turn of the event loop leave in one write, and the node reads
// them in one go. A full segment's discovery is a few thousand hellos, each
// to every node; one write and one wake-up per frame and node made it cost
// seconds of CPU, and the answers to the program waited behind it.
class NodeHub : public QObject
{
    Q_OBJECT
public:
    // `program` is the connection to the program; when listening, a lost
    // connection is waited for again, else losing it ends the event loop.
    NodeHub(std::unique_ptr<QErfcDevice> program, bool listening, QObject* parent = nullptr);
    ~NodeHub() override;

    // A port for the node that starts at `address`; the node connects to
    // 127.0.0.1 at the port returned (0 on failure), then attachNode()
    // accepts it.
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
        quint8 address; // the source address of the node's last frame
        std::unique_ptr<TcpServerTestDevice> device;
        std::unique_ptr<QErfcStreamInterface> link;
    };

    // `from` is null for a frame of the program.
    void deliver(Port* from, const QByteArray& frame);
    static void toNode(Port& port, const QByteArray& frame);
    void onProgramLost();
    void onProgramPending();

    std::unique_ptr<QErfcDevice> m_programDevice;
    QErfcStreamInterface m_program;
    bool m_listening;
    bool m_programBound = false;
    std::vector<std::unique_ptr<Port>> m_nodes;
    // Listening: the program's connection is waited for by the event loop,
    // which keeps the nodes' frames moving meanwhile.
    QSocketNotifier* m_programPending = nullptr;
};

#endif // NODEHUB_H
