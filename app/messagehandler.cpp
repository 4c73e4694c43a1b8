#include "messagehandler.h"

#include <QByteArray>
#include <QMutex>
#include <QString>
#include <QThread>
#include <QTime>

#include <cstdio>
#include <cstdlib>

namespace {

QLatin1String levelMark(QtMsgType type)
{
    switch (type) {
    case QtWarningMsg:
        return QLatin1String("+");
    case QtCriticalMsg:
        return QLatin1String("!");
    case QtFatalMsg:
        return QLatin1String("^");
    case QtDebugMsg:
    default:
        // Informational messages, and any level a later Qt adds, read as debug.
        return QLatin1String("~");
    }
}

// The part after the last "/"; without one, the part after the last "\".
QString fileBaseName(const char* file)
{
    const QString path = QString::fromUtf8(file);
    int cut = path.lastIndexOf(QLatin1Char('/'));
    if (cut < 0)
        cut = path.lastIndexOf(QLatin1Char('\\'));
    return path.mid(cut + 1);
}

} // namespace

void messageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    // hh:mm:ss.zzz, formatted by hand: QTime::toString is not safe to call
    // from several threads at once (it now and then yields an empty text).
    // The clock is read under a lock of our own: reading the local time
    // re-reads the time-zone setting, which the C library guards with a lock
    // that the thread sanitizer cannot see, so lines logged from several
    // threads at once would read to it as a race.
    QTime now;
    {
        static QBasicMutex clockLock;
        QMutexLocker lock(&clockLock);
        now = QTime::currentTime();
    }
    char time[48];
    std::snprintf(time, sizeof time, "%02d:%02d:%02d.%03d", now.hour(), now.minute(), now.second(), now.msec());

    const QThread* thread = QThread::currentThread();
    const QString threadName = thread ? thread->objectName() : QString();

    // One pass over the format: text that a value brings in ("%1" inside the
    // message, say) is never taken for a placeholder.
    const QString line = QStringLiteral("%1%2: %6 - %3:%4\t%5\n")
                             .arg(levelMark(type),
                                  QLatin1String(time),
                                  fileBaseName(context.file),
                                  QString::number(context.line),
                                  message,
                                  threadName);

    // The whole line in one call: stdio locks the stream per call, so lines
    // written from several threads at once never interleave. stderr is
    // unbuffered; the flush covers a stream someone made buffered.
    const QByteArray bytes = line.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);

    if (type == QtFatalMsg)
        std::abort();
}
