#ifndef CHILDPROCESS_H
#define CHILDPROCESS_H

#include <QProcess>

#include <csignal>

// A program started by a test that ends with the test process however that
// ends, a crash or SIGKILL included: the kernel sends the child `signal` when
// its parent goes (SIGTERM lets the test node remove its temporary folders).
// Start it from a thread that lives as long as the child: the signal follows
// the thread that started it.
class ChildProcess : public QProcess
{
    Q_OBJECT
public:
    explicit ChildProcess(int signal = SIGTERM, QObject* parent = nullptr);

protected:
    void setupChildProcess() override;

private:
    const int m_signal;
    const qint64 m_parent;
};

#endif // CHILDPROCESS_H
