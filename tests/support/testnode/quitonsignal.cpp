#include "quitonsignal.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPair[2] = {-1, -1}; // [0] written by the handler, [1] read by the event loop
pid_t parentPid = 0;
const int handledSignals[] = {SIGTERM, SIGINT, SIGHUP};

void handleSignal(int number, siginfo_t* info, void*)
{
    const int savedErrno = errno;
    const char byte = char(number);
    [[maybe_unused]] const ssize_t written = ::write(signalPair[0], &byte, 1);
    // The next one takes the default action: a second Ctrl+C always ends it.
    // Not after one from the parent: it asks once, and when it dies the
    // kernel sends its death signal once for each of its ending threads.
    if (info->si_code != SI_USER || info->si_pid != parentPid) {
        struct sigaction action = {};
        action.sa_handler = SIG_DFL;
        ::sigaction(number, &action, nullptr);
    }
    errno = savedErrno;
}

} // namespace

QuitOnSignal::QuitOnSignal(QObject* parent)
    : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPair) != 0)
        return;
    // The handler must never block; a full pair already holds a quit.
    ::fcntl(signalPair[0], F_SETFL, ::fcntl(signalPair[0], F_GETFL) | O_NONBLOCK);
    m_notifier = new QSocketNotifier(signalPair[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &QuitOnSignal::onSignal);
    parentPid = ::getppid();
    struct sigaction action = {};
    action.sa_sigaction = handleSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_SIGINFO;
    for (const int number : handledSignals)
        ::sigaction(number, &action, nullptr);
    // A line printed while ending, its reader (a parent that died) gone,
    // must not end the program before it cleans up.
    ::signal(SIGPIPE, SIG_IGN);
}

QuitOnSignal::~QuitOnSignal()
{
    if (!m_notifier)
        return;
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    for (const int number : handledSignals)
        ::sigaction(number, &action, nullptr);
    delete m_notifier;
    ::close(signalPair[0]);
    ::close(signalPair[1]);
    signalPair[0] = signalPair[1] = -1;
}

void QuitOnSignal::onSignal()
{
    char bytes[16];
    [[maybe_unused]] const ssize_t got = ::read(signalPair[1], bytes, sizeof bytes);
    QCoreApplication::quit();
}
