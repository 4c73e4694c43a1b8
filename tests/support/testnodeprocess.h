#ifndef TESTNODEPROCESS_H
#define TESTNODEPROCESS_H

#include "childprocess.h"

// The test node program run by one test; ended (SIGTERM) when the object
// goes, or when the test process ends without ending it, so that it removes
// its temporary folders. Its standard error goes to the test's.
class TestNodeProcess
{
public:
    explicit TestNodeProcess(const QString& program);
    ~TestNodeProcess();

    // Starts it listening on a free loopback port; the port, or 0.
    quint16 listen(const QStringList& arguments);
    bool start(const QStringList& arguments);
    // Ends it with SIGTERM and waits; false when it had to be killed.
    bool stop();
    // Reads its output up to a line starting with `prefix`; the rest of that
    // line, or a null array when none came within 60 s (a sanitized node starts slowly on a loaded machine).
    QByteArray readUntil(const QByteArray& prefix);

    ChildProcess process;

private:
    QString m_program;
};

#endif // TESTNODEPROCESS_H
