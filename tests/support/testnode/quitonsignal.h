#ifndef QUITONSIGNAL_H
#define QUITONSIGNAL_H

#include <QObject>

class QSocketNotifier;

// Ends the event loop normally on SIGTERM, SIGINT or SIGHUP, so that the
// program's destructors run and its temporary folders are removed. The
// handler only writes a byte to a socket pair; the event loop reads it and
// quits. A second signal, should the ending hang, ends the program at once,
// unless it comes from the parent process: a parent that dies sends one for
// each of its threads (see ChildProcess). One per process.
class QuitOnSignal : public QObject
{
    Q_OBJECT
public:
    explicit QuitOnSignal(QObject* parent = nullptr);
    ~QuitOnSignal() override;

private:
    void onSignal();

    QSocketNotifier* m_notifier = nullptr;
};

#endif // QUITONSIGNAL_H
