#include "erfcnodestatisticwidget.h"
#include "ui_erfcnodestatisticwidget.h"

#include "erfcnodeinfo.h"
#include "erfcnodemanager.h"
#include "nodeinforows_p.h"
#include "viewsize_p.h"

#include <QTimer>
#include <QTreeWidget>

namespace {

QVector<NodeInfoRow> statisticRows(const QErfcStatistics& statistics)
{
    auto n = [](quint32 value) { return QString::number(value); };
    return {
        {ErfcNodeStatisticWidget::tr("# Frames TX"), n(statistics.frameTx)},
        {ErfcNodeStatisticWidget::tr("# Frames RX"), n(statistics.frameRx)},
        {ErfcNodeStatisticWidget::tr("# CRC Frame Errors"), n(statistics.crcError)},
        {ErfcNodeStatisticWidget::tr("# Frames Routed"), n(statistics.routing)},
        {ErfcNodeStatisticWidget::tr("# Routing Errors"), n(statistics.routingError)},
        {ErfcNodeStatisticWidget::tr("# Retries"), n(statistics.retries)},
        {ErfcNodeStatisticWidget::tr("# Max Retries"), n(statistics.maxRetries)},
        {ErfcNodeStatisticWidget::tr("# Retransmits"), n(statistics.retransmit)},
        {ErfcNodeStatisticWidget::tr("# MSG unknown Addr"), n(statistics.unknownNode)},
        {ErfcNodeStatisticWidget::tr("# Unknown Funct. ID"), n(statistics.unknownFunction)},
        {ErfcNodeStatisticWidget::tr("# Unknown Event ID"), n(statistics.unknownEvent)},
        {ErfcNodeStatisticWidget::tr("# Unexpected Responses"), n(statistics.unexpResponse)},
        {ErfcNodeStatisticWidget::tr("# RX Dropped"), n(statistics.rxqueueFull)},
    };
}

} // namespace

class ErfcNodeStatisticWidgetPrivate
{
public:
    Ui::ErfcNodeStatisticWidget m_ui;
    // The registry's record, never freed; null for an address it never saw.
    QErfcNodeInfo* m_info = nullptr;
    QTimer m_refreshTimer;
    // The rows with every counter at its largest, measured once.
    QSize m_widestRows;
};

ErfcNodeStatisticWidget::ErfcNodeStatisticWidget(quint8 address, QWidget* parent)
    : QWidget(parent)
    , d(new ErfcNodeStatisticWidgetPrivate)
{
    d->m_ui.setupUi(this);
    startNodeInfoColumns(d->m_ui.treeWidgetStatistics);
    d->m_info = ErfcNodeManager::instance()->nodeInfo(address);
    if (d->m_info) {
        connect(d->m_info, &QErfcNodeInfo::statisticsRefreshed, this,
                &ErfcNodeStatisticWidget::onStatisticsRefreshed);
    }
    d->m_refreshTimer.setSingleShot(false);
    d->m_refreshTimer.setInterval(5000);
    connect(&d->m_refreshTimer, &QTimer::timeout, this, &ErfcNodeStatisticWidget::onRefreshTimerTimeout);
    d->m_refreshTimer.start();
    onRefreshTimerTimeout();
}

ErfcNodeStatisticWidget::~ErfcNodeStatisticWidget() = default;

void ErfcNodeStatisticWidget::onRefreshTimerTimeout()
{
    if (d->m_info)
        d->m_info->refreshStatistics();
}

QSize ErfcNodeStatisticWidget::sizeHint() const
{
    const QTreeWidget* tree = d->m_ui.treeWidgetStatistics;
    if (!d->m_widestRows.isValid()) {
        // Measured on a tree like the view's, so that the view's own rows
        // stay empty until the first answer.
        QTreeWidget widest;
        widest.setFont(tree->font());
        widest.setHeaderHidden(tree->isHeaderHidden());
        widest.setRootIsDecorated(tree->rootIsDecorated());
        widest.setColumnCount(tree->columnCount());
        QErfcStatistics largest;
        largest.frameTx = largest.frameRx = largest.routing = 0xffffffffu;
        largest.crcError = largest.routingError = largest.retries = largest.maxRetries = largest.retransmit =
            largest.unknownNode = largest.unknownFunction = largest.unknownEvent = largest.unexpResponse =
                largest.rxqueueFull = 0xffff;
        fillNodeInfoRows(&widest, statisticRows(largest));
        d->m_widestRows = QSize(treeContentWidth(&widest), treeContentHeight(&widest));
    }
    const QSize rows(treeContentWidth(tree), treeContentHeight(tree));
    return boundedToMdiArea(this, rows.expandedTo(d->m_widestRows));
}

void ErfcNodeStatisticWidget::onStatisticsRefreshed(QErfcStatistics statistics)
{
    fillNodeInfoRows(d->m_ui.treeWidgetStatistics, statisticRows(statistics));
}
