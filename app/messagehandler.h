#ifndef MESSAGEHANDLER_H
#define MESSAGEHANDLER_H

#include <QtGlobal>

class QMessageLogContext;
class QString;

// The process-wide Qt message handler (install with qInstallMessageHandler).
// Writes each message as one UTF-8 line to standard error:
//   <mark><hh:mm:ss.zzz>: <thread name> - <file base name>:<line>\t<text>\n
// with the mark "~" debug (and info), "+" warning, "!" critical, "^" fatal.
// Safe to call from any thread at once; a fatal message aborts the process.
void messageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message);

#endif // MESSAGEHANDLER_H
