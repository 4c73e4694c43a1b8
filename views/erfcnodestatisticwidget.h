#ifndef ERFCNODESTATISTICWIDGET_H
#define ERFCNODESTATISTICWIDGET_H

#include "qerfcstatistics.h"

#include <QWidget>

#include <memory>

class ErfcNodeStatisticWidgetPrivate;

// One node's thirteen Erfc traffic counters. Asks the node for fresh
// counters when built and every 5 s after; every answer of the node's
// record refills it, whoever asked. Empty until the first answer, unchanged
// after a failed one. It asks for the size that shows every row uncut,
// also before the first answer.
class ErfcNodeStatisticWidget : public QWidget
{
    Q_OBJECT
public:
    explicit ErfcNodeStatisticWidget(quint8 address, QWidget* parent = nullptr);
    ~ErfcNodeStatisticWidget() override;

    // All thirteen rows in full, with every counter at its largest, within
    // the multi-document area that holds the view.
    QSize sizeHint() const override;

private slots:
    void onRefreshTimerTimeout();
    void onStatisticsRefreshed(QErfcStatistics statistics);

private:
    Q_DISABLE_COPY(ErfcNodeStatisticWidget)
    std::unique_ptr<ErfcNodeStatisticWidgetPrivate> d;
};

#endif // ERFCNODESTATISTICWIDGET_H
