#ifndef ERFCDEBUGLOGDOCKWIDGET_H
#define ERFCDEBUGLOGDOCKWIDGET_H

#include "erfcdebuglogentry.h"
#include "qerfc.h"
#include "qerfcincomingevent.h"

#include <QDockWidget>
#include <QPoint>

#include <memory>

class ErfcDebugLogDockWidgetPrivate;
class QErfcStack;

// The live debug log of one node: subscribes to the node's event 127, puts
// the records it carries together and shows each as a table row (plus a row
// per further line of its text), coloured and styled by the record. New
// entries are added in batches at most 75 ms apart; the table keeps at most
// 50000 rows and follows the newest while the user is at the bottom. When
// the node comes back in Application mode a "RECONNECT" row marks it and
// the view subscribes again. Rows can be copied or saved as text or CSV.
// With the dump-log flag the raw records also go to "log_<address>.txt".
//
// A large batch goes into the table in passes, so the window stays
// responsive. Events that come faster than the view can show them wait in
// a bounded inbox; beyond it they are dropped whole (the record they cut
// is dropped too, never shown garbled) and the system log says how many.
//
// GUI thread only. The subscription's events arrive queued from the stack's
// thread. Deleting the view unsubscribes; the subscription object itself
// stays until the stack is done with it.
class ErfcDebugLogDockWidget : public QDockWidget
{
    Q_OBJECT
public:
    // Largest number of rows kept from flush to flush.
    static constexpr int MaxRows = 50000;

    enum ExportForm {
        TextForm = 0,
        CsvForm = 1
    };

    ErfcDebugLogDockWidget(QErfcStack* stack, uchar address, QWidget* parent = nullptr);
    ~ErfcDebugLogDockWidget() override;

    // Queues an entry for the next flush (starting the flush timer).
    void queueEntry(const ErfcDebugLogEntry& entry);
    // Adds the entry's rows at the end of the table.
    void appendEntry(const ErfcDebugLogEntry& entry);

    // One row in a form; all rows; the selected rows (per selected range, in
    // the order the table reports them). Texts as shown, without the hidden
    // File column, each row ending in CR LF.
    QString rowsAsText(int row, ExportForm form) const;
    QString allRowsText(ExportForm form) const;
    QString selectedRowsText(ExportForm form) const;
    // Asks for a file name and writes the text as Latin-1; a failure is
    // shown in a message box and leaves an older file of that name intact.
    void saveToFile(const QString& text);

    bool eventFilter(QObject* watched, QEvent* event) override;

signals:
    void closed();

public slots:
    void onPrintBufferTimerTimeout();
    void onClearPushButtonClicked();
    void onNodeManagerDrcUpdate(uchar addr, QErfc::DrcUpdate state, QErfc::Mode mode);
    void onEventConnectCallSignal(QErfcIncomingEvent event);
    void onEventConnectStateChangedSignal(QErfc::EventState state);
    void onTableWidgetMenuRequested(QPoint pos);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    Q_DISABLE_COPY(ErfcDebugLogDockWidget)
    friend class ErfcDebugLogDockWidgetPrivate;
    std::unique_ptr<ErfcDebugLogDockWidgetPrivate> d;
};

#endif // ERFCDEBUGLOGDOCKWIDGET_H
