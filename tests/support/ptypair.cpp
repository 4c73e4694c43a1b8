#include "ptypair.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

PtyPair::PtyPair()
{
    // Port lock files are named after the port's file name: keep it unique.
    const QString stem = m_dir.filePath(QFileInfo(m_dir.path()).fileName());
    m_ours = stem + "-a";
    m_theirs = stem + "-b";
    m_relay.setStandardOutputFile(QProcess::nullDevice());
    m_relay.setStandardErrorFile(QProcess::nullDevice());
}

PtyPair::~PtyPair()
{
    stop();
}

QString PtyPair::relayProgram()
{
    return QStandardPaths::findExecutable(QStringLiteral("socat"));
}

bool PtyPair::start()
{
    if (!m_dir.isValid() || m_relay.state() != QProcess::NotRunning)
        return false;
    m_relay.start(relayProgram(), {"pty,raw,echo=0,link=" + m_ours, "pty,raw,echo=0,link=" + m_theirs});
    if (!m_relay.waitForStarted(10000))
        return false;
    // A link is made once its end is open; a relay that ends meanwhile has failed.
    const QDeadlineTimer deadline(10000);
    while (!QFileInfo::exists(m_ours) || !QFileInfo::exists(m_theirs)) {
        if (deadline.hasExpired() || m_relay.waitForFinished(20))
            return false;
    }
    return true;
}

bool PtyPair::stop()
{
    bool ended = true;
    if (m_relay.state() != QProcess::NotRunning) {
        // Asked to end, the relay closes both ends and removes its links.
        m_relay.terminate();
        if (!m_relay.waitForFinished(10000)) {
            ended = false;
            m_relay.kill();
            m_relay.waitForFinished(10000);
        }
    }
    // Links a killed relay left would hide the new ones from start().
    QFile::remove(m_ours);
    QFile::remove(m_theirs);
    return ended;
}
