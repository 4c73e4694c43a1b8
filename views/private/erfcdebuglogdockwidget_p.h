#ifndef ERFCDEBUGLOGDOCKWIDGET_P_H
#define ERFCDEBUGLOGDOCKWIDGET_P_H

#include "erfcdebuglogdockwidget.h"
#include "erfcdebuglogreassembler_p.h"

#include <QFile>
#include <QHash>
#include <QList>
#include <QString>
#include <QTimer>

class ErfcEventSubscription;
class QPushButton;
class QTableWidget;

class ErfcDebugLogDockWidgetPrivate
{
public:
    explicit ErfcDebugLogDockWidgetPrivate(ErfcDebugLogDockWidget* q);

    // Latin-1 bytes of the text, one "?" for each character outside it.
    static QByteArray toLatin1Text(const QString& text);
    // The lines of an entry's text as shown: CRs gone, tabs expanded to the
    // next multiple of 8, an empty last line dropped (but a first line kept).
    static QStringList textLines(const QString& text);

    // Takes every record the payload completes.
    void reassemble(const QByteArray& payload);
    // Payloads were lost before the next one: told in the system log, at
    // most one line per DropReportMs with the count since the last.
    void onEventsDropped(quint64 count);
    void reportDrops();

    // The same text as an earlier record's, sharing its storage: modules,
    // files, functions and contexts repeat, and a full table holds 50000.
    void share(QString& text);

    void openDumpFile();
    void writeDump(const QString& record);
    // Adds the rows of these entries at the end, sizing the table once.
    void appendEntries(const QList<ErfcDebugLogEntry>& entries);
    void scrollToBottom();
    void copyToClipboard(const QString& text);
    void warn(const QString& line);

    ErfcDebugLogDockWidget* q;
    QTableWidget* m_tableWidget = nullptr;
    QPushButton* m_clearPushButton = nullptr;
    QTimer m_printBufferTimer;
    QErfcStack* m_stack = nullptr;
    ErfcEventSubscription* m_subscription = nullptr; // released, not deleted, by the view
    ErfcDebugLogReassembler m_receiveBuffer;
    uchar m_address = 0;
    QList<ErfcDebugLogEntry> m_printBuffer;
    QFile m_dumpFile;
    quint64 m_droppedUnreported = 0;
    QTimer m_dropReportTimer;
    QHash<QString, QString> m_sharedTexts;
    bool m_intakePaused = false;

    // Row heights by the Context cell's font: index = flags & 3.
    int m_rowHeight[4] = {};
};

#endif // ERFCDEBUGLOGDOCKWIDGET_P_H
