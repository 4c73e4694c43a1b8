#include "testnodeprocess.h"

#include <QDeadlineTimer>

TestNodeProcess::TestNodeProcess(const QString& program)
    : m_program(program)
{
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

TestNodeProcess::~TestNodeProcess()
{
    stop();
}

bool TestNodeProcess::stop()
{
    if (process.state() == QProcess::NotRunning)
        return true;
    // Ended as a user ends it, so that it removes its temporary folders; a
    // sanitized node on a loaded machine may take a while over it.
    process.terminate();
    if (process.waitForFinished(30000))
        return true;
    process.kill();
    process.waitForFinished(10000);
    return false;
}

bool TestNodeProcess::start(const QStringList& arguments)
{
    process.start(m_program, arguments);
    return process.waitForStarted(10000);
}

quint16 TestNodeProcess::listen(const QStringList& arguments)
{
    return start(QStringList{"--listen", "0"} + arguments) ? quint16(readUntil("listening port=").toUInt()) : 0;
}

QByteArray TestNodeProcess::readUntil(const QByteArray& prefix)
{
    const QDeadlineTimer deadline(60000);
    do {
        while (process.canReadLine()) {
            const QByteArray line = process.readLine().trimmed();
            if (line.startsWith(prefix))
                return line.mid(prefix.size());
        }
    } while (!deadline.hasExpired() && process.waitForReadyRead(int(qMax<qint64>(deadline.remainingTime(), 1))));
    return QByteArray();
}
