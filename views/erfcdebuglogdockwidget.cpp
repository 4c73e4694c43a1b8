#include "erfcdebuglogdockwidget.h"
#include "erfcdebuglogdockwidget_p.h"
#include "expandtabs.h"

#include "erfcdebuglogcell_p.h"
#include "erfceventsubscription_p.h"
#include "erfcnodemanager.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QTableWidget>

namespace {

constexpr quint8 LogEventId = 127;
constexpr quint32 DatagramDelivery = 1;
constexpr int FlushIntervalMs = 75;
constexpr int TabWidth = 8;
constexpr Qt::Alignment HeaderAlignment = Qt::AlignLeft | Qt::AlignVCenter;
constexpr quint8 ReconnectColour = 3;
constexpr int DropReportMs = 5000;
// Entries added by one pass of the flush: some 20 ms of work. A larger
// batch is added in passes, with the event loop running in between.
constexpr int MaxFlushEntries = 2000;
// With this many entries waiting, the view takes no more events for a
// while (they wait in the subscription's inbox) until a flush has caught up.
constexpr int IntakeHighWater = 2 * MaxFlushEntries;
constexpr int SharedTextsMax = 1024;

struct ColumnLayout
{
    const char* title;
    int width;
};

const ColumnLayout Columns[ErfcDebugLogCell::ColumnCount] = {
    {QT_TRANSLATE_NOOP("ErfcDebugLogDockWidget", "System time"), 175},
    {QT_TRANSLATE_NOOP("ErfcDebugLogDockWidget", "Timestamp"), 75},
    {QT_TRANSLATE_NOOP("ErfcDebugLogDockWidget", "Line"), 75},
    {QT_TRANSLATE_NOOP("ErfcDebugLogDockWidget", "File"), 100},
    {QT_TRANSLATE_NOOP("ErfcDebugLogDockWidget", "Module"), 100},
    {QT_TRANSLATE_NOOP("ErfcDebugLogDockWidget", "Context"), 100},
    {QT_TRANSLATE_NOOP("ErfcDebugLogDockWidget", "Function"), 100},
    {QT_TRANSLATE_NOOP("ErfcDebugLogDockWidget", "Text"), 500},
};

} // namespace

// ---------------------------------------------------------------- private

ErfcDebugLogDockWidgetPrivate::ErfcDebugLogDockWidgetPrivate(ErfcDebugLogDockWidget* q)
    : q(q)
{
}

QByteArray ErfcDebugLogDockWidgetPrivate::toLatin1Text(const QString& text)
{
    QByteArray out;
    out.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.unicode() <= 0xFF) {
            out.append(char(c.unicode()));
            continue;
        }
        out.append('?');
        // A character beyond the BMP is one question mark, not two.
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
    }
    return out;
}

QStringList ErfcDebugLogDockWidgetPrivate::textLines(const QString& text)
{
    QString withoutCr = text;
    withoutCr.remove(QLatin1Char('\r'));
    const QString expanded = expandTabs(withoutCr, TabWidth);
    QStringList lines = expanded.split(QLatin1Char('\n'));
    if (lines.size() > 1 && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

void ErfcDebugLogDockWidgetPrivate::warn(const QString& line)
{
    // The system log shows the node manager's messages.
    emit ErfcNodeManager::instance()->message(line);
}

void ErfcDebugLogDockWidgetPrivate::reassemble(const QByteArray& payload)
{
    // Every record the payload completes, in order: one left in the buffer
    // would wait for an unrelated later event.
    const QStringList records = m_receiveBuffer.feed(payload);
    for (const QString& record : records) {
        // Dumped before its fields are counted: malformed records are kept too.
        writeDump(record);
        ErfcDebugLogEntry entry(0, 0, 0, QString(), QString(), QString(), 0, QString(), QString());
        if (!ErfcDebugLogEntry::fromRecord(record, &entry))
            continue;
        share(entry.module);
        share(entry.file);
        share(entry.function);
        share(entry.context);
        q->queueEntry(entry);
    }
    if (!m_intakePaused && m_printBuffer.size() >= IntakeHighWater) {
        m_intakePaused = true;
        m_subscription->setPaused(true);
    }
}

void ErfcDebugLogDockWidgetPrivate::share(QString& text)
{
    if (text.isEmpty())
        return;
    const auto it = m_sharedTexts.constFind(text);
    if (it != m_sharedTexts.constEnd()) {
        text = it.value();
        return;
    }
    if (m_sharedTexts.size() >= SharedTextsMax)
        m_sharedTexts.clear();
    m_sharedTexts.insert(text, text);
}

void ErfcDebugLogDockWidgetPrivate::onEventsDropped(quint64 count)
{
    // The record the gap cut must not be joined to the text after it.
    m_receiveBuffer.restart();
    m_droppedUnreported += count;
    if (!m_dropReportTimer.isActive())
        reportDrops();
}

void ErfcDebugLogDockWidgetPrivate::reportDrops()
{
    if (!m_droppedUnreported)
        return;
    warn(ErfcDebugLogDockWidget::tr("Log node %1: %2 events lost, the node sends more than the view can take")
             .arg(m_address)
             .arg(m_droppedUnreported));
    m_droppedUnreported = 0;
    m_dropReportTimer.start();
}

void ErfcDebugLogDockWidgetPrivate::openDumpFile()
{
    const QString name = QStringLiteral("log_%1.txt").arg(m_address);
    const QString path = QDir::current().absoluteFilePath(name);

    // An earlier dump is kept under the next free "<name>.<n>".
    const QFileInfo earlier(name);
    if (earlier.isFile() && earlier.size() > 0) {
        int n = 1;
        while (QFileInfo::exists(QStringLiteral("%1.%2").arg(name).arg(n)))
            ++n;
        const QString kept = QStringLiteral("%1.%2").arg(name).arg(n);
        QFile file(name);
        if (!file.rename(kept)) {
            warn(ErfcDebugLogDockWidget::tr("Log node %1: no dump, %2 could not be moved to %3: %4")
                     .arg(m_address)
                     .arg(path, QDir::current().absoluteFilePath(kept), file.errorString()));
            return;
        }
    }

    m_dumpFile.setFileName(name);
    if (!m_dumpFile.open(QIODevice::WriteOnly)) {
        warn(ErfcDebugLogDockWidget::tr("Log node %1: no dump, %2 could not be opened: %3")
                 .arg(m_address)
                 .arg(path, m_dumpFile.errorString()));
        return;
    }
    m_dumpFile.write(QByteArrayLiteral("LOG OF NODE ") + QByteArray::number(m_address)
                     + QByteArrayLiteral("\r\n"));
    m_dumpFile.flush();
}

void ErfcDebugLogDockWidgetPrivate::writeDump(const QString& record)
{
    if (!m_dumpFile.isOpen())
        return;
    m_dumpFile.write(toLatin1Text(record) + QByteArrayLiteral("\r\n"));
    m_dumpFile.flush();
}

void ErfcDebugLogDockWidgetPrivate::appendEntries(const QList<ErfcDebugLogEntry>& entries)
{
    if (entries.isEmpty())
        return;
    QVector<QStringList> lines;
    lines.reserve(entries.size());
    int added = 0;
    for (const ErfcDebugLogEntry& entry : entries) {
        lines.append(textLines(entry.text));
        added += lines.last().size();
    }

    // The rows are made in one step and filled with finished cells, so that
    // the model reports each cell once.
    int row = m_tableWidget->rowCount();
    m_tableWidget->setRowCount(row + added);
    QHeaderView* rows = m_tableWidget->verticalHeader();
    const int defaultHeight = rows->defaultSectionSize();

    for (int i = 0; i < entries.size(); ++i) {
        const ErfcDebugLogEntry& entry = entries.at(i);
        const QStringList& text = lines.at(i);
        const int height = m_rowHeight[entry.flags & (ErfcDebugLogEntry::Italic | ErfcDebugLogEntry::Bold)];

        ErfcDebugLogCell::RowPointer first(new ErfcDebugLogCell::Row);
        first->flags = entry.flags;
        first->colour = entry.colour;
        first->systemTime = entry.systemTime;
        first->timestamp = entry.timestamp;
        first->line = entry.line;
        first->file = entry.file;
        first->module = entry.module;
        first->context = entry.context;
        first->function = entry.function;
        first->text = text.first();
        for (int c = 0; c < ErfcDebugLogCell::ColumnCount; ++c)
            m_tableWidget->setItem(row, c, new ErfcDebugLogCell(first, c));
        if (height != defaultHeight)
            rows->resizeSection(row, height);
        ++row;

        for (int l = 1; l < text.size(); ++l) {
            ErfcDebugLogCell::RowPointer more(new ErfcDebugLogCell::Row);
            more->first = false;
            more->text = text.at(l);
            m_tableWidget->setItem(row, ErfcDebugLogCell::TextColumn,
                                   new ErfcDebugLogCell(more, ErfcDebugLogCell::TextColumn));
            if (height != defaultHeight)
                rows->resizeSection(row, height);
            ++row;
        }
    }
}

void ErfcDebugLogDockWidgetPrivate::scrollToBottom()
{
    m_tableWidget->setUpdatesEnabled(false);
    m_tableWidget->scrollToBottom();
    m_tableWidget->setUpdatesEnabled(true);
}

void ErfcDebugLogDockWidgetPrivate::copyToClipboard(const QString& text)
{
    QGuiApplication::clipboard()->setText(text, QClipboard::Clipboard);
}

// ---------------------------------------------------------------- view

ErfcDebugLogDockWidget::ErfcDebugLogDockWidget(QErfcStack* stack, uchar address, QWidget* parent)
    : QDockWidget(parent)
    , d(new ErfcDebugLogDockWidgetPrivate(this))
{
    setWindowTitle(QStringLiteral("%1 %2").arg(tr("Log Node")).arg(address));

    d->m_stack = stack;
    d->m_address = address;
    d->m_tableWidget = new QTableWidget(this);
    d->m_tableWidget->setObjectName(QStringLiteral("tableWidget"));

    d->m_clearPushButton = new QPushButton(d->m_tableWidget);
    d->m_clearPushButton->setObjectName(QStringLiteral("clearPushButton"));
    d->m_clearPushButton->setIcon(QIcon(QStringLiteral(":/img/resource/delete.png")));
    d->m_clearPushButton->setIconSize(QSize(12, 12));
    d->m_clearPushButton->setToolTip(tr("Clear"));
    d->m_clearPushButton->setFlat(true);
    d->m_clearPushButton->setFocusPolicy(Qt::NoFocus);
    connect(d->m_clearPushButton, &QPushButton::clicked, this,
            &ErfcDebugLogDockWidget::onClearPushButtonClicked);

    QTableWidget* table = d->m_tableWidget;
    table->setSortingEnabled(false);
    table->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    table->setCornerWidget(d->m_clearPushButton);
    // Some platforms answer the fixed-font question with a proportional one.
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    if (!QFontInfo(font).fixedPitch()) {
        font.setFamily(QStringLiteral("monospace"));
        font.setStyleHint(QFont::TypeWriter);
        font.setFixedPitch(true);
    }
    font.setPointSize(8);
    table->setFont(font);
    table->verticalHeader()->hide();
    table->setShowGrid(false);
    table->setWordWrap(false);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(table, &QWidget::customContextMenuRequested, this,
            &ErfcDebugLogDockWidget::onTableWidgetMenuRequested);

    table->setColumnCount(ErfcDebugLogCell::ColumnCount);
    for (int c = 0; c < ErfcDebugLogCell::ColumnCount; ++c) {
        auto* header = new QTableWidgetItem(tr(Columns[c].title));
        header->setTextAlignment(HeaderAlignment);
        table->setHorizontalHeaderItem(c, header);
        table->setColumnWidth(c, Columns[c].width);
    }
    table->setColumnHidden(ErfcDebugLogCell::FileColumn, true);

    // A row is as high as its Context cell's font plus 3 pixels. Most rows
    // have the default height, so only the others are sized one by one.
    for (int style = 0; style < 4; ++style)
        d->m_rowHeight[style] = QFontMetrics(ErfcDebugLogCell::contextFont(quint8(style))).height() + 3;
    QHeaderView* rows = table->verticalHeader();
    rows->setMinimumSectionSize(1);
    rows->setDefaultSectionSize(d->m_rowHeight[0]);
    setWidget(table);

    d->m_printBufferTimer.setInterval(FlushIntervalMs);
    d->m_printBufferTimer.setSingleShot(true);
    connect(&d->m_printBufferTimer, &QTimer::timeout, this,
            &ErfcDebugLogDockWidget::onPrintBufferTimerTimeout);

    d->m_dropReportTimer.setInterval(DropReportMs);
    d->m_dropReportTimer.setSingleShot(true);
    connect(&d->m_dropReportTimer, &QTimer::timeout, this, [this] { d->reportDrops(); });

    // The subscription's signals come from the stack's thread; its owner
    // passes them on to this thread.
    d->m_subscription = new ErfcEventSubscription(stack, address, LogEventId, DatagramDelivery);
    connect(d->m_subscription, &ErfcEventSubscription::eventPayload, this,
            [this](const QByteArray& payload) { d->reassemble(payload); });
    connect(d->m_subscription, &ErfcEventSubscription::eventsDropped, this,
            [this](quint64 count) { d->onEventsDropped(count); });
    connect(d->m_subscription, &ErfcEventSubscription::stateChanged, this,
            &ErfcDebugLogDockWidget::onEventConnectStateChangedSignal);
    ErfcNodeManager* manager = ErfcNodeManager::instance();
    connect(manager, &ErfcNodeManager::drcUpdate, this, &ErfcDebugLogDockWidget::onNodeManagerDrcUpdate);

    if (manager->dumpLog())
        d->openDumpFile();

    d->m_subscription->subscribe();

    table->installEventFilter(this);
}

ErfcDebugLogDockWidget::~ErfcDebugLogDockWidget()
{
    d->reportDrops();
    d->m_subscription->release();
    d->m_subscription = nullptr;
    d->m_dumpFile.close();
}

void ErfcDebugLogDockWidget::queueEntry(const ErfcDebugLogEntry& entry)
{
    d->m_printBuffer.append(entry);
    if (!d->m_printBufferTimer.isActive())
        d->m_printBufferTimer.start();
}

void ErfcDebugLogDockWidget::appendEntry(const ErfcDebugLogEntry& entry)
{
    d->appendEntries({entry});
}

void ErfcDebugLogDockWidget::onPrintBufferTimerTimeout()
{
    QTableWidget* table = d->m_tableWidget;
    QScrollBar* bar = table->verticalScrollBar();
    table->setUpdatesEnabled(false);

    // Whether the user is at the bottom is taken before anything moves.
    const bool atBottom = bar->value() >= bar->maximum();
    const int excess = table->rowCount() - MaxRows;
    if (excess > 0) {
        // One call: removing row by row costs time in the square of the rows.
        const int value = bar->value();
        table->model()->removeRows(0, excess);
        bar->setValue(value - excess);
    }

    QList<ErfcDebugLogEntry> entries;
    if (d->m_printBuffer.size() <= MaxFlushEntries) {
        entries.swap(d->m_printBuffer);
    } else {
        entries = d->m_printBuffer.mid(0, MaxFlushEntries);
        d->m_printBuffer.erase(d->m_printBuffer.begin(), d->m_printBuffer.begin() + MaxFlushEntries);
    }
    d->appendEntries(entries);

    if (atBottom)
        table->scrollToBottom();
    table->setUpdatesEnabled(true);

    // The rest of a large batch follows once the events that wait now (input,
    // painting) have had their turn.
    if (!d->m_printBuffer.isEmpty())
        d->m_printBufferTimer.start(0);
    else if (d->m_printBufferTimer.interval() != FlushIntervalMs)
        d->m_printBufferTimer.setInterval(FlushIntervalMs);
    if (d->m_intakePaused && d->m_printBuffer.size() < MaxFlushEntries) {
        d->m_intakePaused = false;
        d->m_subscription->setPaused(false);
    }
}

void ErfcDebugLogDockWidget::onClearPushButtonClicked()
{
    // Queued entries and the record being received stay.
    d->m_tableWidget->setUpdatesEnabled(false);
    d->m_tableWidget->setRowCount(0);
    d->m_tableWidget->setUpdatesEnabled(true);
}

void ErfcDebugLogDockWidget::onNodeManagerDrcUpdate(uchar addr, QErfc::DrcUpdate state, QErfc::Mode mode)
{
    if (addr != d->m_address || state != QErfc::NewNode || mode != QErfc::Application)
        return;
    queueEntry(ErfcDebugLogEntry(0, ReconnectColour, 0, QString(), QString(), QString(), 0, QString(),
                                 QStringLiteral("RECONNECT")));
    d->m_subscription->subscribe();
}

void ErfcDebugLogDockWidget::onEventConnectCallSignal(QErfcIncomingEvent event)
{
    d->reassemble(event.payload());
}

void ErfcDebugLogDockWidget::onEventConnectStateChangedSignal(QErfc::EventState state)
{
    const QString stateText = state == QErfc::EventConnected ? tr("Connected") : tr("Disconnected");
    setWindowTitle(QStringLiteral("%1 %2 (%3)").arg(tr("Log Node")).arg(d->m_address).arg(stateText));
}

QString ErfcDebugLogDockWidget::rowsAsText(int row, ExportForm form) const
{
    const QTableWidget* table = d->m_tableWidget;
    const int last = table->columnCount() - 1;
    QString out;
    for (int c = 0; c <= last; ++c) {
        if (table->isColumnHidden(c))
            continue;
        const QTableWidgetItem* item = table->item(row, c);
        if (form == TextForm) {
            if (item)
                out += item->text() + QLatin1Char('\t');
            continue;
        }
        QString text = item ? item->text() : QString();
        text.replace(QLatin1Char('"'), QLatin1String("\"\""));
        out += QLatin1Char('"') + text + QLatin1Char('"');
        if (c != last)
            out += QLatin1String("; ");
    }
    return out + QLatin1String("\r\n");
}

QString ErfcDebugLogDockWidget::allRowsText(ExportForm form) const
{
    QString out;
    const int count = d->m_tableWidget->rowCount();
    for (int row = 0; row < count; ++row)
        out += rowsAsText(row, form);
    return out;
}

QString ErfcDebugLogDockWidget::selectedRowsText(ExportForm form) const
{
    QString out;
    const QList<QTableWidgetSelectionRange> ranges = d->m_tableWidget->selectedRanges();
    for (const QTableWidgetSelectionRange& range : ranges) {
        for (int row = range.topRow(); row <= range.bottomRow(); ++row)
            out += rowsAsText(row, form);
    }
    return out;
}

void ErfcDebugLogDockWidget::saveToFile(const QString& text)
{
    const QString name = QFileDialog::getSaveFileName(this, tr("Please select file name"), QString(), QString());
    if (name.isEmpty())
        return;

    // Written aside and put in place only when all of it is written: a
    // failed save leaves an older file of that name as it was.
    QSaveFile file(name);
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly)) {
        QMessageBox::critical(this, tr("Can't save to file"), tr("Can't open the file to write"), QMessageBox::Ok);
        return;
    }
    const QByteArray bytes = ErfcDebugLogDockWidgetPrivate::toLatin1Text(text);
    if (file.write(bytes) != bytes.size() || !file.commit()) {
        const QString error = file.errorString();
        file.cancelWriting();
        QMessageBox::critical(this, tr("Can't save to file"), error, QMessageBox::Ok);
    }
}

void ErfcDebugLogDockWidget::onTableWidgetMenuRequested(QPoint pos)
{
    QMenu menu(this);
    QAction* saveSelectedText = menu.addAction(tr("Save selection to text file"));
    QAction* saveAllText = menu.addAction(tr("Save all to text file"));
    QAction* saveSelectedCsv = menu.addAction(tr("Save selection to CSV file"));
    QAction* saveAllCsv = menu.addAction(tr("Save all to CSV file"));
    QAction* copySelected = menu.addAction(tr("Copy selection to clipboard"));
    QAction* copyAll = menu.addAction(tr("Copy all to clipboard"));
    // Shown only; the key itself is handled by the view.
    copySelected->setShortcut(QKeySequence::Copy);
    copySelected->setShortcutContext(Qt::WidgetShortcut);

    QAction* chosen = menu.exec(d->m_tableWidget->viewport()->mapToGlobal(pos));
    // The texts are taken from the table as it stands after the choice.
    if (chosen == saveSelectedText)
        saveToFile(selectedRowsText(TextForm));
    else if (chosen == saveAllText)
        saveToFile(allRowsText(TextForm));
    else if (chosen == saveSelectedCsv)
        saveToFile(selectedRowsText(CsvForm));
    else if (chosen == saveAllCsv)
        saveToFile(allRowsText(CsvForm));
    else if (chosen == copySelected)
        d->copyToClipboard(selectedRowsText(TextForm));
    else if (chosen == copyAll)
        d->copyToClipboard(allRowsText(TextForm));
}

bool ErfcDebugLogDockWidget::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == d->m_tableWidget
        && (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride)) {
        auto* key = static_cast<QKeyEvent*>(event);
        // The table would copy its current cell, and a window shortcut
        // could take the key first: the rows' text goes instead.
        if (key->matches(QKeySequence::Copy)) {
            if (event->type() == QEvent::KeyPress)
                d->copyToClipboard(selectedRowsText(TextForm));
            event->accept();
            return true;
        }
        if (event->type() == QEvent::KeyPress && key->key() == Qt::Key_End) {
            d->scrollToBottom();
            return true;
        }
    }
    return QDockWidget::eventFilter(watched, event);
}

void ErfcDebugLogDockWidget::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Copy)) {
        d->copyToClipboard(selectedRowsText(TextForm));
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_End) {
        d->scrollToBottom();
        event->accept();
        return;
    }
    QDockWidget::keyPressEvent(event);
}

void ErfcDebugLogDockWidget::closeEvent(QCloseEvent* event)
{
    QDockWidget::closeEvent(event);
    emit closed();
}
