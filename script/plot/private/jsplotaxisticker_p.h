#ifndef JSPLOTAXISTICKER_P_H
#define JSPLOTAXISTICKER_P_H

#include "jsplotwidget.h"

#include <QPointer>
#include <functional>

// The tick settings of one axis and the ticker that reads them; one per axis,
// installed when the plot is made and never replaced.
//
// With automatic ticks a linear axis gets multiples of a step (chosen for
// about autoTickCount ticks, or tickStep), a logarithmic one the powers of
// scaleLogBase. Otherwise the request callback runs (the plot tells the script
// during the replot) and the script's tickVector is used. Labels are numbers,
// or date-times of keys read as seconds since the epoch; without automatic
// labels the callback runs as well and the script's tickVectorLabels are used.
// Only ticks inside the range reach the axis.
class JsPlotAxisTicker : public QCPAxisTicker
{
public:
    explicit JsPlotAxisTicker(QCPAxis* axis);

    void generate(const QCPRange& range, const QLocale& locale, QChar formatChar, int precision,
                  QVector<double>& ticks, QVector<double>* subTicks,
                  QVector<QString>* tickLabels) override;

    // The step automatic ticks use for a range of that size.
    static double autoTickStep(double rangeSize, int tickCount);
    // The sub-tick count that fits a step, or fallback when none fits.
    static int autoSubTickCount(double tickStep, int fallback);

    // Called during the replot when the script is to give ticks or labels.
    std::function<void()> m_request;

    bool m_autoTicks = true;
    int m_autoTickCount = 6;
    bool m_autoTickLabels = true;
    bool m_autoTickStep = true;
    bool m_autoSubTicks = true;
    int m_subTickCount = 4;
    double m_tickStep = 1;
    double m_scaleLogBase = 10;
    int m_tickLabelType = 0; // 0 numbers, 1 date-times
    QString m_dateTimeFormat = QStringLiteral("hh:mm:ss\ndd.MM.yy");
    int m_dateTimeSpec = Qt::LocalTime;
    QVector<double> m_tickVector;
    QVector<QString> m_tickVectorLabels;

    // More ticks or sub-ticks than anyone can read only cost memory and time.
    static constexpr int maxTicks = 1000;
    static constexpr int maxSubTicks = 10000;

private:
    QVector<double> linearTicks(const QCPRange& range);
    QVector<double> logTicks(const QCPRange& range) const;
    QString label(double tick, const QLocale& locale, QChar formatChar, int precision) const;

    QPointer<QCPAxis> m_axis;
};

#endif // JSPLOTAXISTICKER_P_H
