#ifndef ERFCDEBUGLOGDOCKWIDGET_P_H
#define ERFCDEBUGLOGDOCKWIDGET_P_H

#include "erfcdebuglogdockwidget.h"
#include "erfcdebuglogreassembler_p.h"

#include <QColor>
#include <QFile>
#include <QFont>
#include <QList>
#include <QString>
#include <QTimer>
#include <QVector>

class ErfcEventSubscription;
class QPushButton;
class QTableWidget;

class ErfcDebugLogDockWidgetPrivate
{
public:
    enum Column {
        SystemTimeColumn,
        TimestampColumn,
        LineColumn,
        FileColumn,
        ModuleColumn,
        ContextColumn,
        FunctionColumn,
        TextColumn,
        ColumnCount
    };

    explicit ErfcDebugLogDockWidgetPrivate(ErfcDebugLogDockWidget* q);

    // The colours of an entry's columns 0 to 6, by its colour index.
    static const QVector<QColor>& colourTable();
    // Latin-1 bytes of the text, one "?" for each character outside it.
    static QByteArray toLatin1Text(const QString& text);
    // The lines of an entry's text as shown: CRs gone, tabs expanded to the
    // next multiple of 8, an empty last line dropped (but a first line kept).
    static QStringList textLines(const QString& text);

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

    // Row heights by the Context cell's font: index = flags & 3.
    int m_rowHeight[4] = {};
    QFont m_contextFont[4];
};

#endif // ERFCDEBUGLOGDOCKWIDGET_P_H
