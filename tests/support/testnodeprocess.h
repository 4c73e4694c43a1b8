#ifndef TESTNODEPROCESS_H
#define TESTNODEPROCESS_H

#include <QDeadlineTimer>
#include <QProcess>
#include <QStringList>

// Starts the erfc-testnode program (for tests built with TESTNODE_PATH) on a
// free loopback port with the given further arguments; the port it listens
// on, or 0 when it does not say so within the bound. Its errors go to the
// test's own.
inline quint16 startTestNode(QProcess& node, const QStringList& arguments, int timeoutMs = 20000)
{
    node.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    node.start(QStringLiteral(TESTNODE_PATH), QStringList{"--listen", "0"} + arguments);
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired() && node.waitForReadyRead(int(qMax<qint64>(deadline.remainingTime(), 1)))) {
        while (node.canReadLine()) {
            const QByteArray line = node.readLine().trimmed();
            if (line.startsWith("listening port="))
                return quint16(line.mid(15).toUInt());
        }
    }
    return 0;
}

#endif // TESTNODEPROCESS_H
