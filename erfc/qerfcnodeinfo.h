#ifndef QERFCNODEINFO_H
#define QERFCNODEINFO_H

#include "qerfc.h"
#include "qerfcstatistics.h"

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QString>

class QErfcStack;
class QErfcNodeInfoPrivate;

// The PC's client view of one remote node, read through the internal
// functions every node serves. Refresh slots send the requests; the answers
// arrive on the stack thread and are announced by signals; the waits block a
// caller (never the stack thread) until an answer set is complete. Batches
// of one kind may overlap: each ends with one signal carrying its own
// result, and a wait waits for the newest batch no wait has returned yet.
// The object may be deleted from any of its own signals, on any thread.
class QErfcNodeInfo : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString protocolVersion READ protocolVersion)
    Q_PROPERTY(QString nodeDescription READ nodeDescription)
    Q_PROPERTY(QString softwareVersion READ softwareVersion)
    Q_PROPERTY(QByteArray softwareHash READ softwareHash)
    Q_PROPERTY(QString bootloaderVersion READ bootloaderVersion)
    Q_PROPERTY(QByteArray bootloaderHash READ bootloaderHash)
    Q_PROPERTY(QString hardwareDescription READ hardwareDescription)
    Q_PROPERTY(QString hardwareRevision READ hardwareRevision)
    Q_PROPERTY(QString serial READ serial)
    Q_PROPERTY(QString manufacturer READ manufacturer)
    Q_PROPERTY(QString domain READ domain)
    Q_PROPERTY(QByteArray uniqueId READ uniqueId)
    Q_PROPERTY(QErfc::Mode mode READ mode)
public:
    enum NodeInfoState {
        NodeInfoOk = 0,
        NodeInfoError = 1
    };
    Q_ENUM(NodeInfoState)

    // The value waitForPing returns when no answer came.
    static constexpr uint NoPing = 0xFFFFFFFFu;

    QErfcNodeInfo(QErfcStack* stack, quint8 address, QObject* parent = nullptr);
    QErfcNodeInfo(const QErfcNodeInfo& other);
    QErfcNodeInfo& operator=(const QErfcNodeInfo& other);
    ~QErfcNodeInfo() override;

    quint8 address() const;
    bool isAvailable() const;
    // Counts the node's updates (arrivals and departures) as the stack
    // thread takes them; each empties the items. Information read while
    // the count stays the same belongs to one presence of the node.
    quint64 updateCount() const;
    QErfcStatistics statistics() const;
    QString protocolVersion() const;
    QString nodeDescription() const;
    QString softwareVersion() const;
    QByteArray softwareHash() const;
    QString bootloaderVersion() const;
    QByteArray bootloaderHash() const;
    QString hardwareDescription() const;
    QString hardwareRevision() const;
    QString serial() const;
    QString manufacturer() const;
    QString domain() const;
    QByteArray uniqueId() const;
    QErfc::Mode mode() const;
    quint16 channelCapacity() const;
    QMap<quint8, QString> functionList() const;
    QMap<quint8, QString> eventList() const;

    // Blocking waits; a negative timeout waits without limit. On the stack
    // thread they would never end: there they warn and return at once.
    bool waitForNode(int timeout);
    bool waitForMode(QErfc::Mode mode, int timeout);
    bool waitForStatistics(int timeout);
    bool waitForNodeInfo(int timeout);
    bool waitForFunctionList(int timeout);
    bool waitForEventList(int timeout);
    bool waitForChannelCapacity(int timeout);
    // The round trip in ms, or NoPing when no OK answer came in time.
    uint waitForPing(int timeout);

public slots:
    void ping(uchar bytes);
    void ping();
    void resetNode(QErfc::Mode mode);
    void resetNode();
    void refreshStatistics();
    void refreshNodeInfo();
    void refreshFunctionList(uchar from, uchar to);
    void refreshFunctionList(uchar from);
    void refreshFunctionList();
    void refreshEventList(uchar from, uchar to);
    void refreshEventList(uchar from);
    void refreshEventList();
    void refreshChannelCapacity();

signals:
    void nodeUpdate(QErfc::DrcUpdate state, QErfc::Mode mode);
    void statisticsRefreshed(QErfcStatistics statistic);
    void nodeInfoRefreshed(QErfcNodeInfo::NodeInfoState state);
    void functionListRefreshed(QMap<quint8, QString> list);
    void eventListRefreshed(QMap<quint8, QString> list);
    void channelCapacityRefreshed(quint16 capacity);
    void refreshFinished();
    void pingFinished(uint delay);

private:
    friend class QErfcNodeInfoPrivate;
    QErfcNodeInfoPrivate* d;
};

Q_DECLARE_METATYPE(QErfcNodeInfo*)
Q_DECLARE_METATYPE(QErfcNodeInfo::NodeInfoState)

#endif // QERFCNODEINFO_H
