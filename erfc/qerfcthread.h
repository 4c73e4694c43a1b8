#ifndef QERFCTHREAD_H
#define QERFCTHREAD_H

#include <QByteArray>
#include <QMutex>
#include <QSet>
#include <QThread>

class QErfcInterface;
class QTimer;

// The stack's own thread. Every link lives on it and every received frame is
// handled on it; its two timers drive discovery and retransmission.
class QErfcThread : public QThread
{
    Q_OBJECT
public:
    enum { DiscoveryIntervalMs = 3000, RetransmitIntervalMs = 25 };

    explicit QErfcThread(QObject* parent = nullptr);
    ~QErfcThread() override;

    // True on the thread of any stack: a blocking wait there would wait for
    // the very thread that has to end it.
    static bool isCurrentStackThread();

    // Drops a link without touching it, from any thread: frames still queued
    // for it are not written and frames it still delivers are ignored. For a
    // link whose close the stack thread could not take up in time.
    void forgetLink(QErfcInterface* devInterface);

signals:
    void frameReceived(QErfcInterface* devInterface, QByteArray frame);
    void drcRefresh();
    void retransmitRefresh();

public slots:
    void onFrameReceived(QByteArray frame);
    void onNewInterface(QErfcInterface* devInterface, bool* ok);
    void onRemoveInterface(QErfcInterface* devInterface);
    void onFrameTransmit(QErfcInterface* devInterface, QByteArray frame);

protected:
    void run() override;

private:
    QTimer* m_discoveryTimer = nullptr;
    QTimer* m_retransmitTimer = nullptr;
    // The links bound on this thread: a frame queued for a link released
    // meanwhile is dropped instead of written through a stale pointer.
    // Written on this thread, and by forgetLink; a frame is written under
    // the lock, so that a forgotten link is never written to afterwards.
    QMutex m_linksLock;
    QSet<QErfcInterface*> m_links;
};

#endif // QERFCTHREAD_H
