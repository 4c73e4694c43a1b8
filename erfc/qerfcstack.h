#ifndef QERFCSTACK_H
#define QERFCSTACK_H

#include "qerfc.h"
#include "qerfcstatistics.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

class QErfcCrypto;
class QErfcDatagram;
class QErfcEmitEvent;
class QErfcEvent;
class QErfcEventConnect;
class QErfcFunction;
class QErfcInterface;
class QErfcRequest;
class QErfcStackPrivate;

// The PC as a node of the Erfc network: its identity, its links, what it
// offers, and the way to send requests, datagrams and events. Every
// operation may be called from any thread; errors in the arguments throw
// QErfcException, faults on the network never do.
class QErfcStack : public QObject
{
    Q_OBJECT
public:
    explicit QErfcStack(QObject* parent = nullptr);
    QErfcStack(uchar address, QObject* parent = nullptr);
    QErfcStack(uchar address, QErfc::Mode mode, QObject* parent = nullptr);
    ~QErfcStack() override;

    void setAddress(uchar address);
    uchar address() const;
    void setPrivilege(QErfc::Privilege privilege);
    QErfc::Privilege privilege() const;
    QErfc::Mode mode() const;

    void setNodeDescription(const QString& text);
    QString nodeDescription() const;
    void setSoftwareVersion(const QString& text);
    QString softwareVersion() const;
    void setSoftwareHash(const QByteArray& hash);
    QByteArray softwareHash() const;
    void setBootloaderVersion(const QString& text);
    QString bootloaderVersion() const;
    void setBootloaderHash(const QByteArray& hash);
    QByteArray bootloaderHash() const;
    void setHardwareDescription(const QString& text);
    QString hardwareDescription() const;
    void setHardwareRevision(const QString& text);
    QString hardwareRevision() const;
    void setSerial(const QString& text);
    QString serial() const;
    void setUniqueId(const QByteArray& id);
    QByteArray uniqueId() const;
    void setCrypto(QErfcCrypto* cipher);
    QErfcCrypto* crypto() const;

    void enable();
    void disable();
    bool isEnabled() const;

    QErfcStatistics statistics() const;
    void resetStatistics();
    QList<uchar> knownNodes() const;
    // Whether the node is listed as present, and then the mode it announced.
    bool knownNode(uchar address, QErfc::Mode* mode = nullptr) const;
    QList<uchar> functionIds() const;
    QList<uchar> eventIds() const;
    // Bytes per second of the link that reaches a node, where the link knows
    // it (a serial line); 0 otherwise or for an unknown node.
    qint32 linkByteRate(uchar address) const;

public slots:
    // Both wait for the stack thread to open or close the link; a stack
    // thread that does not take the call up in time makes them throw
    // TimeoutError, and the link is then no longer the stack's.
    void bindInterface(QErfcInterface* device);
    void releaseInterface(QErfcInterface* device);
    void registerFunction(QErfcFunction* function);
    void registerEvent(QErfcEvent* event);
    void unregisterFunction(QErfcFunction* function);
    // Unregisters the function and deletes it once the stack can no longer
    // be inside a call of it: at once, or (later, on the function's own
    // thread) right after a call in progress on the stack thread. Never waits.
    void releaseFunction(QErfcFunction* function);
    void unregisterEvent(QErfcEvent* event);
    bool send(QErfcRequest* request);
    bool send(QErfcDatagram* datagram);
    bool send(QErfcEmitEvent* event);
    bool connectToEvent(QErfcEventConnect* event);
    bool disconnectFromEvent(QErfcEventConnect* event);
    bool disconnectFromEvent(uchar remoteAddr, uchar eventId);

signals:
    // Emitted on the stack thread, in the order the node table changed;
    // the removals made by disable and releaseInterface follow shortly
    // after those calls return.
    void drcUpdate(uchar addr, QErfc::DrcUpdate state, QErfc::Mode mode);
    void trafficTx(int bytes);
    void trafficRx(int bytes);
    void errorDetected(QErfc::Error error);

private:
    friend class QErfcStackPrivate;
    Q_DISABLE_COPY(QErfcStack)
    QErfcStackPrivate* d;
};

#endif // QERFCSTACK_H
