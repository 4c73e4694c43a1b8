#include "erfcnodestatisticwidget.h"
#include "ui_erfcnodestatisticwidget.h"

#include "erfcnodeinfo.h"
#include "erfcnodemanager.h"
#include "nodeinforows_p.h"

#include <QTimer>

class ErfcNodeStatisticWidgetPrivate
{
public:
    Ui::ErfcNodeStatisticWidget m_ui;
    // The registry's record, never freed; null for an address it never saw.
    QErfcNodeInfo* m_info = nullptr;
    QTimer m_refreshTimer;
};

ErfcNodeStatisticWidget::ErfcNodeStatisticWidget(quint8 address, QWidget* parent)
    : QWidget(parent)
    , d(new ErfcNodeStatisticWidgetPrivate)
{
    d->m_ui.setupUi(this);
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

void ErfcNodeStatisticWidget::onStatisticsRefreshed(QErfcStatistics statistics)
{
    auto n = [](quint32 value) { return QString::number(value); };
    fillNodeInfoRows(d->m_ui.treeWidgetStatistics,
                     {
                         {tr("# Frames TX"), n(statistics.frameTx)},
                         {tr("# Frames RX"), n(statistics.frameRx)},
                         {tr("# CRC Frame Errors"), n(statistics.crcError)},
                         {tr("# Frames Routed"), n(statistics.routing)},
                         {tr("# Routing Errors"), n(statistics.routingError)},
                         {tr("# Retries"), n(statistics.retries)},
                         {tr("# Max Retries"), n(statistics.maxRetries)},
                         {tr("# Retransmits"), n(statistics.retransmit)},
                         {tr("# MSG unknown Addr"), n(statistics.unknownNode)},
                         {tr("# Unknown Funct. ID"), n(statistics.unknownFunction)},
                         {tr("# Unknown Event ID"), n(statistics.unknownEvent)},
                         {tr("# Unexpected Responses"), n(statistics.unexpResponse)},
                         {tr("# RX Dropped"), n(statistics.rxqueueFull)},
                     });
}
