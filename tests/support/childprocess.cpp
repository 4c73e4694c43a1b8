#include "childprocess.h"

#include <sys/prctl.h>
#include <unistd.h>

ChildProcess::ChildProcess(int signal, QObject* parent)
    : QProcess(parent)
    , m_signal(signal)
    , m_parent(::getpid())
{
}

// Runs in the child between fork and exec: system calls only.
void ChildProcess::setupChildProcess()
{
    ::prctl(PR_SET_PDEATHSIG, m_signal);
    // The parent may have gone before the request took effect.
    if (::getppid() != pid_t(m_parent))
        ::_exit(127);
}
