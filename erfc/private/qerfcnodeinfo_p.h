#ifndef QERFCNODEINFO_P_H
#define QERFCNODEINFO_P_H

#include "qerfcincomingresponse.h"
#include "qerfcnodeinfo.h"
#include "qerfcwire.h"

#include <QMutex>
#include <QSemaphore>
#include <QWaitCondition>
#include <memory>

class QErfcNodeInfoPrivate : public QObject
{
    Q_OBJECT
public:
    enum { ItemCount = QErfcWire::NodeInfoItemCount, ListSize = 128 };
    using AnswerSlot = void (QErfcNodeInfoPrivate::*)(QErfcIncomingResponse);

    // Lets answers and node updates that arrive on the stack thread find out,
    // safely, whether this object still exists.
    struct Guard
    {
        QMutex lock;
        QErfcNodeInfoPrivate* target = nullptr;
    };

    QErfcNodeInfoPrivate(QErfcStack* stack, quint8 address, QErfcNodeInfo* owner);
    ~QErfcNodeInfoPrivate() override;

    void copyFrom(const QErfcNodeInfoPrivate& other);
    void computeAvailable();
    // Sends one request; one that the stack refuses is answered at once
    // with ConnectionError, so that its batch still completes.
    void sendRequest(quint8 functionId, const QByteArray& payload, const QVariant& userData,
                     AnswerSlot slot);
    bool acquire(QSemaphore& semaphore, int permits, int timeout, const char* what);
    bool waitForPresence(int mode, int timeout);
    QString textItem(int index) const;
    QByteArray byteItem(int index) const;
    void startList(bool functions, uchar from, uchar to);
    void listAnswer(bool functions, const QErfcIncomingResponse& response);

    QErfcStack* m_stack;
    quint8 m_address;
    QErfcNodeInfo* m_owner;
    std::shared_ptr<Guard> m_guard;

    mutable QMutex m_infoLock; // available, items, mode
    QWaitCondition m_presenceChanged;
    bool m_available = false;
    QByteArray m_items[ItemCount];
    QErfc::Mode m_mode = QErfc::Application;

    mutable QMutex m_statisticsLock;
    QErfcStatistics m_statistics;

    mutable QMutex m_functionListLock;
    QMap<quint8, QString> m_functionList;
    mutable QMutex m_eventListLock;
    QMap<quint8, QString> m_eventList;

    mutable QMutex m_capacityLock;
    quint16 m_channelCapacity = 0;

    std::atomic<uint> m_pingDelay{QErfcNodeInfo::NoPing};

    QSemaphore m_statisticsSemaphore;
    QSemaphore m_nodeInfoSemaphore;
    QSemaphore m_functionListSemaphore;
    QSemaphore m_eventListSemaphore;
    QSemaphore m_capacitySemaphore;
    QSemaphore m_pingSemaphore;

    QMutex m_batchLock; // the batches' counts and state
    int m_infoOutstanding = 0;
    QErfcNodeInfo::NodeInfoState m_infoState = QErfcNodeInfo::NodeInfoOk;
    int m_functionOutstanding = 0;
    int m_functionBatch = 0;
    int m_eventOutstanding = 0;
    int m_eventBatch = 0;

public slots:
    void drcUpdate(uchar addr, QErfc::DrcUpdate state, QErfc::Mode nodeMode);
    void pingResponseCall(QErfcIncomingResponse response);
    void resetResponseCall(QErfcIncomingResponse response);
    void statisticsResponse(QErfcIncomingResponse response);
    void nodeInfoResponseCall(QErfcIncomingResponse response);
    void functionInfoResponseCall(QErfcIncomingResponse response);
    void eventInfoResponseCall(QErfcIncomingResponse response);
    void channelCapacityResponseCall(QErfcIncomingResponse response);
};

#endif // QERFCNODEINFO_P_H
