#ifndef QCARGOSEND_P_H
#define QCARGOSEND_P_H

#include <QByteArray>
#include <QMutex>
#include <QObject>

class QCargoPrivate;

// The send buffer and the window sender; onTransmitData runs on the
// stream's send thread.
class QCargoSend : public QObject
{
    Q_OBJECT
public:
    explicit QCargoSend(QCargoPrivate* owner);

    void append(const char* data, qint64 length);
    // Empties the buffer; a transmission running meanwhile then removes
    // nothing from it when it finishes.
    void clear();
    bool isEmpty() const;
    qint64 size() const;

public slots:
    void onTransmitData();

signals:
    void transactionProgress(qint64 bytes, qint64 total);
    void bytesWritten(qint64 bytes);
    void finished();

private:
    enum WindowResult { WindowDone, WindowFailed };
    WindowResult sendWindow(const QByteArray& window, qint64 restart);
    bool sendBlock(const char* data, int length, bool confirmed);
    bool sendEndOfWindow();
    // Waits until the frames queued ahead have nearly crossed a line of known
    // rate, so that a request's time-out does not run out in the queue.
    void holdForLine();
    void noteQueued(int dataBytes);
    bool mustStop() const;

    QCargoPrivate* d;
    mutable QMutex m_bufferLock;
    QByteArray m_buffer;
    quint64 m_clears = 0; // under the buffer lock
    qint64 m_sent = 0;
    quint8 m_sequence = 0;
    qint64 m_lineFreeAtUs = 0; // when the frames queued so far will have crossed
    quint64 m_connection = 0;  // the connection the running transmission serves
};

#endif // QCARGOSEND_P_H
