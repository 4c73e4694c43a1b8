#ifndef ERFCNODEMANAGER_H
#define ERFCNODEMANAGER_H

#include "qerfc.h"
#include "qerfcnodeinfo.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class ErfcNodeInfo;
class ErfcNodeManagerPrivate;
class QErfcStack;

// The process-wide registry of the nodes the stack has discovered. It keeps
// one ErfcNodeInfo per address for the whole run, starts the refresh of a
// node's information whenever the node announces itself, catches a node in
// Maintenance when the user asked for it, and passes node updates and
// completed information on. It lives on the GUI thread.
//
// Whatever the manager sends to a node goes out on a sender thread of that
// node, in the order it was asked for: QErfcStack::send may wait seconds for
// a slot in a slow node's request window, and the GUI thread must not wait
// with it. One slow node never holds up the requests to another.
class ErfcNodeManager : public QObject
{
    Q_OBJECT
public:
    // The one manager, created on the first call (on the GUI thread) and
    // never freed.
    static ErfcNodeManager* instance();

    // Follows this stack's node updates. Call it before the stack is
    // enabled, and with null after the stack was disabled and before it is
    // destroyed: that waits for the request being sent (a disabled stack
    // refuses at once) and drops what was not sent yet. The records made so
    // far talk to the next stack set, their items emptied.
    void setStack(QErfcStack* stack);

    // The record of the address, or null when the address was never reported.
    ErfcNodeInfo* nodeInfo(quint8 address) const;
    // Whether a node is on the network at the address, as the node trees
    // show it: announced, and not gone since.
    bool isPresent(quint8 address) const;
    // Asks the node to restart in this mode; queued like every request of the
    // manager, so it returns before the request is sent. Nothing for an
    // address never reported.
    void resetNode(quint8 address, QErfc::Mode mode);
    // Runs `requests` with the address's record on that node's sender
    // thread, after everything queued for the node before. Nothing for an
    // address never reported.
    void queueRequests(quint8 address, const std::function<void(ErfcNodeInfo*)>& requests);

    bool dumpLog() const;
    void setDumpLog(bool dumpLog);

signals:
    void drcUpdate(uchar addr, QErfc::DrcUpdate state, QErfc::Mode mode);
    void nodeInfoRefreshed(uchar addr, QErfcNodeInfo* info);
    void message(QString message);

private slots:
    void onErfcDrcUpdate(uchar addr, QErfc::DrcUpdate state, QErfc::Mode mode);
    // A record's information batch completed while the node was in the
    // presence given (see ErfcNodeInfo::presence) and the record had seen
    // `updates` node updates (see QErfcNodeInfo::updateCount).
    void onErfcNodeInfoRefreshed(ErfcNodeInfo* record, quint64 presence, quint64 updates);

private:
    ErfcNodeManager();
    ~ErfcNodeManager() override;
    Q_DISABLE_COPY(ErfcNodeManager)
    friend class ErfcNodeManagerPrivate;
    std::unique_ptr<ErfcNodeManagerPrivate> d;
};

#endif // ERFCNODEMANAGER_H
