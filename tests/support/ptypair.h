#ifndef PTYPAIR_H
#define PTYPAIR_H

#include "childprocess.h"

#include <QTemporaryDir>

// A serial line for tests: two pseudo-terminals joined by socat, reached
// through two links in a temporary folder. Ending the relay hangs up both
// ends, as pulling out an adapter does; starting it again makes a new pair
// under the same names. The relay ends with the object, or with the test
// process however that ends.
class PtyPair
{
public:
    PtyPair();
    ~PtyPair();
    Q_DISABLE_COPY(PtyPair)

    // socat's path; empty when it is not installed.
    static QString relayProgram();

    // Starts the relay and waits until both links lead to their ends.
    bool start();
    // Ends the relay and waits until it has gone; false when it had to be
    // killed.
    bool stop();

    QString ours() const { return m_ours; }
    QString theirs() const { return m_theirs; }

private:
    QTemporaryDir m_dir;
    QString m_ours;
    QString m_theirs;
    ChildProcess m_relay;
};

#endif // PTYPAIR_H
