#ifndef FRAMELISTENER_H
#define FRAMELISTENER_H

#include "qerfcmsg.h"
#include "qerfcstreaminterface_p.h"
#include "rawpeer.h"

#include <QElapsedTimer>
#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>

#include <memory>

// Stands where a node's TCP port would be: listens on 127.0.0.1, accepts
// every connection (numbered from 0) and keeps the frames that arrive on
// each, decoded, with their arrival time. Answers nothing.
class FrameListener
{
public:
    struct Frame
    {
        qint64 atMs;
        QErfcMsg msg;
    };

    FrameListener()
    {
        m_clock.start();
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                const int index = m_frames.size();
                m_frames.append(QList<Frame>());
                auto stuffing = std::make_shared<QErfcFrameStuffing>();
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [=] {
                    const QByteArray bytes = socket->readAll();
                    stuffing->feed(bytes.constData(), bytes.size(), [=](const QByteArray& raw) {
                        QErfcMsg msg;
                        if (msg.decode(raw) && !msg.crcError())
                            m_frames[index].append({m_clock.elapsed(), msg});
                    });
                });
                QObject::connect(socket, &QTcpSocket::disconnected, socket, [=] { m_closed.insert(index); });
            }
        });
    }

    quint16 port() const { return m_server.serverPort(); }
    bool isClosed(int connection) const { return m_closed.contains(connection); }
    QList<Frame> frames(int connection) const { return m_frames.value(connection); }
    int hellos(int connection) const
    {
        int n = 0;
        for (const Frame& f : m_frames.value(connection))
            n += RawPeer::isHello(f.msg) ? 1 : 0;
        return n;
    }

private:
    QElapsedTimer m_clock;
    QList<QList<Frame>> m_frames; // per connection
    QSet<int> m_closed;
    // Last: goes first, so its sockets report their end while the lists exist.
    QTcpServer m_server;
};

#endif // FRAMELISTENER_H
