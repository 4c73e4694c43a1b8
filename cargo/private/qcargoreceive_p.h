#ifndef QCARGORECEIVE_P_H
#define QCARGORECEIVE_P_H

#include "qerfc.h"

#include <QByteArray>
#include <QMutex>
#include <QObject>

#include <functional>

class QCargoPrivate;
class QErfcIncomingRequest;
class QErfcResponse;

// The receive buffer with its sequencing, and the dispatcher of every frame
// the peer sends; onFunctionCall runs on the stack thread.
class QCargoReceive : public QObject
{
    Q_OBJECT
public:
    explicit QCargoReceive(QCargoPrivate* owner);

    // On entering a connection: a new window; unread bytes stay.
    void reset();

    qint64 read(char* data, qint64 maxlen);
    // Through the first "\n" (or maxlen bytes of that line); 0 without a "\n".
    qint64 readLine(char* data, qint64 maxlen);
    qint64 size() const;
    bool canReadLine() const;

    void onFunctionCall(QErfcIncomingRequest& request, QErfcResponse& response,
                        QErfc::ResponseCode& responseCode);

signals:
    void readyRead();

private:
    QErfc::ResponseCode onConnect(const QErfcIncomingRequest& request, quint8 sequence,
                                  const QByteArray& body, QErfcResponse& response);
    void onData(quint8 sequence, bool confirmed, const QByteArray& body);
    // Applies a sender's event once the answer to the current frame is queued.
    void afterAnswer(const std::function<void(QCargoPrivate*)>& apply);

    QCargoPrivate* d;
    mutable QMutex m_bufferLock;
    QByteArray m_buffer;
    // Touched by the dispatcher and by reset only.
    quint8 m_expected = 0;
    quint16 m_windowOffset = 0;
    bool m_resynchronising = false;
};

#endif // QCARGORECEIVE_P_H
