// A TCP peer that floods the program with ECHO requests and never reads its
// answers: the program's resident memory before and after, and once the
// peer reads again, how long a fresh request waits behind the stale answers.
// Run by hand against a Release build of the program:
//   bench_stalledpeer <path to quorvel-explorer> [seconds=60] [echo|badcrc]
// "badcrc" sends the same requests with a broken CRC (answered with CrcError).

#include "qerfcmsg.h"
#include "qerfcstreaminterface_p.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr uchar PeerAddress = 4;
constexpr uchar ProgramAddress = 0; // the program's own address unless told otherwise

// VmRSS of a process in KiB; -1 when it cannot be read.
long rssKib(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

QErfcMsg echoRequest(uchar id, bool windowBit, const QByteArray& payload)
{
    QErfcMsg m;
    m.setSource(PeerAddress);
    m.setDestination(ProgramAddress);
    m.setFunctionId(0);
    m.setRequestId(id);
    m.setWindowBit(windowBit);
    m.setPayload(payload);
    return m;
}

// NETWORK hello to everyone: the program answers ECHO only to nodes it knows.
QByteArray hello()
{
    QErfcMsg m;
    m.setSource(PeerAddress);
    m.setDestination(QErfcMsg::BroadcastAddress);
    m.setFunctionId(5);
    m.setNoResponse(true);
    m.setPayload(QByteArray::fromHex("000a0b0c0d1000"));
    return QErfcFrameStuffing::stuff(m.encode());
}

// 32 requests with every request id under both window bits, stuffed.
QByteArray floodChunk(bool badCrc)
{
    QByteArray chunk;
    for (int i = 0; i < 32; ++i) {
        QByteArray frame = echoRequest(uchar(i % 16), i % 2 == 0, QByteArray(32, char('a' + i % 26))).encode();
        if (badCrc)
            frame[frame.size() - 1] = char(frame.at(frame.size() - 1) ^ 0x5A);
        chunk += QErfcFrameStuffing::stuff(frame);
    }
    return chunk.repeated(32);
}

int listenLoopback(quint16* port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(addr);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0
        || ::listen(fd, 1) != 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return -1;
    *port = ntohs(addr.sin_port);
    return fd;
}

bool waitFor(int fd, short events, int timeoutMs)
{
    pollfd pfd{fd, events, 0};
    return ::poll(&pfd, 1, timeoutMs) > 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <quorvel-explorer> [seconds=60] [echo|badcrc]\n", argv[0]);
        return 2;
    }
    const int seconds = argc > 2 ? atoi(argv[2]) : 60;
    const bool badCrc = argc > 3 && QByteArray(argv[3]) == "badcrc";

    quint16 port = 0;
    const int listenFd = listenLoopback(&port);
    if (listenFd < 0) {
        std::perror("listen");
        return 1;
    }

    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.setStandardOutputFile(QProcess::nullDevice());
    program.start(QString::fromLocal8Bit(argv[1]),
                  {QStringLiteral("--tcp-ip"), QStringLiteral("127.0.0.1"), QStringLiteral("--port"),
                   QString::number(port)});
    if (!program.waitForStarted(10000) || !waitFor(listenFd, POLLIN, 30000)) {
        std::fprintf(stderr, "the program did not connect\n");
        program.kill();
        program.waitForFinished(10000);
        return 1;
    }
    const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    ::close(listenFd);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    const qint64 pid = program.processId();

    const QByteArray greeting = hello();
    if (::send(fd, greeting.constData(), size_t(greeting.size()), MSG_NOSIGNAL) != greeting.size()) {
        std::perror("send");
        return 1;
    }

    // Let start-up settle, then take the starting figure.
    QDeadlineTimer settle(2000);
    while (!settle.hasExpired())
        app.processEvents(QEventLoop::AllEvents, 50);
    const long startKib = rssKib(pid);
    std::printf("peer sends %s requests, reads nothing, for %d s\n", badCrc ? "bad-CRC" : "ECHO", seconds);
    std::printf("  RSS at start: %.1f MiB\n", startKib / 1024.0);

    const QByteArray chunk = floodChunk(badCrc);
    qint64 sent = 0;
    qint64 offset = 0;
    QElapsedTimer flood;
    flood.start();
    qint64 nextReport = 10000;
    while (flood.elapsed() < seconds * 1000LL) {
        if (!waitFor(fd, POLLOUT, 100))
            continue;
        const ssize_t n = ::send(fd, chunk.constData() + offset, size_t(chunk.size() - offset), MSG_NOSIGNAL);
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            std::perror("send");
            break;
        }
        if (n > 0) {
            sent += n;
            offset = (offset + n) % chunk.size();
        }
        if (flood.elapsed() >= nextReport) {
            std::printf("  %3lld s: RSS %.1f MiB, %.1f MiB of requests sent\n", nextReport / 1000,
                        rssKib(pid) / 1024.0, sent / 1048576.0);
            std::fflush(stdout);
            nextReport += 10000;
        }
    }
    const long endKib = rssKib(pid);
    std::printf("  RSS after %d s: %.1f MiB (%+.1f MiB)\n", seconds, endKib / 1024.0,
                (endKib - startKib) / 1024.0);

    // Finish the frame cut off by the last send, so the next one is whole.
    while (offset != 0) {
        waitFor(fd, POLLOUT, 100);
        const ssize_t n = ::send(fd, chunk.constData() + offset, size_t(chunk.size() - offset), MSG_NOSIGNAL);
        if (n > 0)
            offset = (offset + n) % chunk.size();
        else if (n < 0 && errno != EAGAIN && errno != EINTR)
            break;
    }

    // Read again, and ask with a fresh request of its own every 200 ms (an
    // answer dropped while the program's link was still full is lost, as on
    // the wire) until one is answered.
    QElapsedTimer answer;
    answer.start();
    qint64 drained = 0;
    int asked = 0;
    qint64 nextAsk = 0;
    QByteArray pending;
    bool answered = false;
    QErfcFrameStuffing receiver;
    char buffer[65536];
    while (!answered && answer.elapsed() < 60000) {
        if (answer.elapsed() >= nextAsk && pending.isEmpty()) {
            const QByteArray marker = "fresh request " + QByteArray::number(asked);
            // A hello first: a node silent for long has been forgotten.
            pending = hello() + QErfcFrameStuffing::stuff(echoRequest(uchar(asked % 16), asked % 2 == 1, marker).encode());
            ++asked;
            nextAsk += 200;
        }
        if (!pending.isEmpty()) {
            const ssize_t n = ::send(fd, pending.constData(), size_t(pending.size()), MSG_NOSIGNAL);
            if (n > 0)
                pending.remove(0, int(n));
        }
        if (!waitFor(fd, POLLIN, 20))
            continue;
        const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
        if (n <= 0)
            break;
        drained += n;
        receiver.feed(buffer, n, [&](const QByteArray& raw) {
            if (raw.contains("fresh request"))
                answered = true;
        });
    }
    if (answered)
        std::printf("  reading again: a fresh request was answered after %lld ms (%d asked), behind %.1f MiB of stale answers\n",
                    answer.elapsed(), asked, drained / 1048576.0);
    else
        std::printf("  reading again: no fresh request answered within %lld ms (%d asked, %.1f MiB drained)\n",
                    answer.elapsed(), asked, drained / 1048576.0);
    std::printf("  RSS at the end: %.1f MiB\n", rssKib(pid) / 1024.0);

    ::close(fd);
    program.terminate();
    if (!program.waitForFinished(10000)) {
        program.kill();
        program.waitForFinished(10000);
    }
    return answered ? 0 : 1;
}
