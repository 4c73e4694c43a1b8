#ifndef LOOPBACKRELAY_H
#define LOOPBACKRELAY_H

#include <QtGlobal>

#include <cstddef>
#include <thread>

// The plumbing of a TCP relay on 127.0.0.1: it listens on a port of its own,
// accepts one connection, connects to 127.0.0.1:targetPort and runs one pump
// per direction on its own thread. A subclass decides what a pump does with
// the bytes; it calls start() at the end of its constructor and stop() at the
// start of its destructor, so that no pump runs on a half-built object.
class LoopbackRelay
{
public:
    explicit LoopbackRelay(quint16 targetPort);
    virtual ~LoopbackRelay();

    // The port to connect to; 0 when listening failed.
    quint16 port() const { return m_port; }

protected:
    void start();
    void stop();
    // Forwards from `from` to `to` until the relay stops or `from` closes.
    // direction 0: from the accepted connection to the target; 1: back.
    virtual void pump(int from, int to, int direction) = 0;

    // Waits for readable bytes on `fd` or the stop signal, with an optional
    // time-out in ns (negative: none). Returns false once the relay stops.
    bool waitReadable(int fd, qint64 timeoutNs, bool* readable) const;
    static bool sendAll(int fd, const char* data, size_t size);

private:
    void run();

    const quint16 m_targetPort;
    int m_listenFd = -1;
    int m_stopFd = -1;
    int m_fds[2] = {-1, -1};
    quint16 m_port = 0;
    std::thread m_thread;
};

#endif // LOOPBACKRELAY_H
