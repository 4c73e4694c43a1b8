#ifndef JSPLOTAXISCONFIG_P_H
#define JSPLOTAXISCONFIG_P_H

#include "jsplotaxisticker_p.h"
#include "jsplotwidget.h"

#include <QObject>

// The configuration keys of an axis, as properties: those the axis has, and
// the tick settings its ticker keeps. Configuration maps are read from and
// written into this object; keys it does not declare go to the axis itself.
// Enumerations and flags are plain integers here.
class JsPlotAxisConfig : public QObject
{
    Q_OBJECT
    Q_PROPERTY(int axisType READ axisType)
    Q_PROPERTY(QCPAxisRect* axisRect READ axisRect)
    Q_PROPERTY(int scaleType READ scaleType WRITE setScaleType)
    Q_PROPERTY(double scaleLogBase READ scaleLogBase WRITE setScaleLogBase)
    Q_PROPERTY(QCPRange range READ range WRITE setRange)
    Q_PROPERTY(bool rangeReversed READ rangeReversed WRITE setRangeReversed)
    Q_PROPERTY(bool autoTicks READ autoTicks WRITE setAutoTicks)
    Q_PROPERTY(int autoTickCount READ autoTickCount WRITE setAutoTickCount)
    Q_PROPERTY(bool autoTickLabels READ autoTickLabels WRITE setAutoTickLabels)
    Q_PROPERTY(bool autoTickStep READ autoTickStep WRITE setAutoTickStep)
    Q_PROPERTY(bool autoSubTicks READ autoSubTicks WRITE setAutoSubTicks)
    Q_PROPERTY(bool ticks READ ticks WRITE setTicks)
    Q_PROPERTY(bool tickLabels READ tickLabels WRITE setTickLabels)
    Q_PROPERTY(int tickLabelPadding READ tickLabelPadding WRITE setTickLabelPadding)
    Q_PROPERTY(int tickLabelType READ tickLabelType WRITE setTickLabelType)
    Q_PROPERTY(QFont tickLabelFont READ tickLabelFont WRITE setTickLabelFont)
    Q_PROPERTY(QColor tickLabelColor READ tickLabelColor WRITE setTickLabelColor)
    Q_PROPERTY(double tickLabelRotation READ tickLabelRotation WRITE setTickLabelRotation)
    Q_PROPERTY(int tickLabelSide READ tickLabelSide WRITE setTickLabelSide)
    Q_PROPERTY(QString dateTimeFormat READ dateTimeFormat WRITE setDateTimeFormat)
    Q_PROPERTY(int dateTimeSpec READ dateTimeSpec WRITE setDateTimeSpec)
    Q_PROPERTY(QString numberFormat READ numberFormat WRITE setNumberFormat)
    Q_PROPERTY(int numberPrecision READ numberPrecision WRITE setNumberPrecision)
    Q_PROPERTY(double tickStep READ tickStep WRITE setTickStep)
    Q_PROPERTY(QVector<double> tickVector READ tickVector WRITE setTickVector)
    Q_PROPERTY(QVector<QString> tickVectorLabels READ tickVectorLabels WRITE setTickVectorLabels)
    Q_PROPERTY(int tickLengthIn READ tickLengthIn WRITE setTickLengthIn)
    Q_PROPERTY(int tickLengthOut READ tickLengthOut WRITE setTickLengthOut)
    Q_PROPERTY(int subTickCount READ subTickCount WRITE setSubTickCount)
    Q_PROPERTY(int subTickLengthIn READ subTickLengthIn WRITE setSubTickLengthIn)
    Q_PROPERTY(int subTickLengthOut READ subTickLengthOut WRITE setSubTickLengthOut)
    Q_PROPERTY(QPen basePen READ basePen WRITE setBasePen)
    Q_PROPERTY(QPen tickPen READ tickPen WRITE setTickPen)
    Q_PROPERTY(QPen subTickPen READ subTickPen WRITE setSubTickPen)
    Q_PROPERTY(QFont labelFont READ labelFont WRITE setLabelFont)
    Q_PROPERTY(QColor labelColor READ labelColor WRITE setLabelColor)
    Q_PROPERTY(QString label READ label WRITE setLabel)
    Q_PROPERTY(int labelPadding READ labelPadding WRITE setLabelPadding)
    Q_PROPERTY(int padding READ padding WRITE setPadding)
    Q_PROPERTY(int offset READ offset WRITE setOffset)
    Q_PROPERTY(int selectedParts READ selectedParts WRITE setSelectedParts)
    Q_PROPERTY(int selectableParts READ selectableParts WRITE setSelectableParts)
    Q_PROPERTY(QFont selectedTickLabelFont READ selectedTickLabelFont WRITE setSelectedTickLabelFont)
    Q_PROPERTY(QFont selectedLabelFont READ selectedLabelFont WRITE setSelectedLabelFont)
    Q_PROPERTY(QColor selectedTickLabelColor READ selectedTickLabelColor WRITE setSelectedTickLabelColor)
    Q_PROPERTY(QColor selectedLabelColor READ selectedLabelColor WRITE setSelectedLabelColor)
    Q_PROPERTY(QPen selectedBasePen READ selectedBasePen WRITE setSelectedBasePen)
    Q_PROPERTY(QPen selectedTickPen READ selectedTickPen WRITE setSelectedTickPen)
    Q_PROPERTY(QPen selectedSubTickPen READ selectedSubTickPen WRITE setSelectedSubTickPen)
    Q_PROPERTY(QCPLineEnding lowerEnding READ lowerEnding WRITE setLowerEnding)
    Q_PROPERTY(QCPLineEnding upperEnding READ upperEnding WRITE setUpperEnding)
    Q_PROPERTY(QCPGrid* grid READ grid)
public:
    JsPlotAxisConfig(QCPAxis* axis, JsPlotAxisTicker* ticker);

    int axisType() const { return m_axis->axisType(); }
    QCPAxisRect* axisRect() const { return m_axis->axisRect(); }
    int scaleType() const { return m_axis->scaleType(); }
    void setScaleType(int type);
    double scaleLogBase() const { return m_ticker->m_scaleLogBase; }
    void setScaleLogBase(double base) { m_ticker->m_scaleLogBase = base; }
    QCPRange range() const { return m_axis->range(); }
    void setRange(const QCPRange& range) { m_axis->setRange(range); }
    bool rangeReversed() const { return m_axis->rangeReversed(); }
    void setRangeReversed(bool reversed) { m_axis->setRangeReversed(reversed); }
    bool autoTicks() const { return m_ticker->m_autoTicks; }
    void setAutoTicks(bool on) { m_ticker->m_autoTicks = on; }
    int autoTickCount() const { return m_ticker->m_autoTickCount; }
    void setAutoTickCount(int count) { m_ticker->m_autoTickCount = count; }
    bool autoTickLabels() const { return m_ticker->m_autoTickLabels; }
    void setAutoTickLabels(bool on) { m_ticker->m_autoTickLabels = on; }
    bool autoTickStep() const { return m_ticker->m_autoTickStep; }
    void setAutoTickStep(bool on) { m_ticker->m_autoTickStep = on; }
    bool autoSubTicks() const { return m_ticker->m_autoSubTicks; }
    void setAutoSubTicks(bool on) { m_ticker->m_autoSubTicks = on; }
    bool ticks() const { return m_axis->ticks(); }
    void setTicks(bool on) { m_axis->setTicks(on); }
    bool tickLabels() const { return m_axis->tickLabels(); }
    void setTickLabels(bool on) { m_axis->setTickLabels(on); }
    int tickLabelPadding() const { return m_axis->tickLabelPadding(); }
    void setTickLabelPadding(int padding) { m_axis->setTickLabelPadding(padding); }
    int tickLabelType() const { return m_ticker->m_tickLabelType; }
    void setTickLabelType(int type);
    QFont tickLabelFont() const { return m_axis->tickLabelFont(); }
    void setTickLabelFont(const QFont& font) { m_axis->setTickLabelFont(font); }
    QColor tickLabelColor() const { return m_axis->tickLabelColor(); }
    void setTickLabelColor(const QColor& color) { m_axis->setTickLabelColor(color); }
    double tickLabelRotation() const { return m_axis->tickLabelRotation(); }
    void setTickLabelRotation(double degrees) { m_axis->setTickLabelRotation(degrees); }
    int tickLabelSide() const { return m_axis->tickLabelSide(); }
    void setTickLabelSide(int side);
    QString dateTimeFormat() const { return m_ticker->m_dateTimeFormat; }
    void setDateTimeFormat(const QString& format) { m_ticker->m_dateTimeFormat = format; }
    int dateTimeSpec() const { return m_ticker->m_dateTimeSpec; }
    void setDateTimeSpec(int timeSpec);
    QString numberFormat() const { return m_axis->numberFormat(); }
    void setNumberFormat(const QString& format) { m_axis->setNumberFormat(format); }
    int numberPrecision() const { return m_axis->numberPrecision(); }
    void setNumberPrecision(int precision) { m_axis->setNumberPrecision(precision); }
    double tickStep() const { return m_ticker->m_tickStep; }
    void setTickStep(double step) { m_ticker->m_tickStep = step; }
    QVector<double> tickVector() const { return m_ticker->m_tickVector; }
    void setTickVector(const QVector<double>& ticks) { m_ticker->m_tickVector = ticks; }
    QVector<QString> tickVectorLabels() const { return m_ticker->m_tickVectorLabels; }
    void setTickVectorLabels(const QVector<QString>& labels) { m_ticker->m_tickVectorLabels = labels; }
    int tickLengthIn() const { return m_axis->tickLengthIn(); }
    void setTickLengthIn(int length) { m_axis->setTickLengthIn(length); }
    int tickLengthOut() const { return m_axis->tickLengthOut(); }
    void setTickLengthOut(int length) { m_axis->setTickLengthOut(length); }
    int subTickCount() const { return m_ticker->m_subTickCount; }
    void setSubTickCount(int count) { m_ticker->m_subTickCount = count; }
    int subTickLengthIn() const { return m_axis->subTickLengthIn(); }
    void setSubTickLengthIn(int length) { m_axis->setSubTickLengthIn(length); }
    int subTickLengthOut() const { return m_axis->subTickLengthOut(); }
    void setSubTickLengthOut(int length) { m_axis->setSubTickLengthOut(length); }
    QPen basePen() const { return m_axis->basePen(); }
    void setBasePen(const QPen& pen) { m_axis->setBasePen(pen); }
    QPen tickPen() const { return m_axis->tickPen(); }
    void setTickPen(const QPen& pen) { m_axis->setTickPen(pen); }
    QPen subTickPen() const { return m_axis->subTickPen(); }
    void setSubTickPen(const QPen& pen) { m_axis->setSubTickPen(pen); }
    QFont labelFont() const { return m_axis->labelFont(); }
    void setLabelFont(const QFont& font) { m_axis->setLabelFont(font); }
    QColor labelColor() const { return m_axis->labelColor(); }
    void setLabelColor(const QColor& color) { m_axis->setLabelColor(color); }
    QString label() const { return m_axis->label(); }
    void setLabel(const QString& label) { m_axis->setLabel(label); }
    int labelPadding() const { return m_axis->labelPadding(); }
    void setLabelPadding(int padding) { m_axis->setLabelPadding(padding); }
    int padding() const { return m_axis->padding(); }
    void setPadding(int padding) { m_axis->setPadding(padding); }
    int offset() const { return m_axis->offset(); }
    void setOffset(int offset) { m_axis->setOffset(offset); }
    int selectedParts() const { return int(m_axis->selectedParts()); }
    void setSelectedParts(int parts);
    int selectableParts() const { return int(m_axis->selectableParts()); }
    void setSelectableParts(int parts);
    QFont selectedTickLabelFont() const { return m_axis->selectedTickLabelFont(); }
    void setSelectedTickLabelFont(const QFont& font) { m_axis->setSelectedTickLabelFont(font); }
    QFont selectedLabelFont() const { return m_axis->selectedLabelFont(); }
    void setSelectedLabelFont(const QFont& font) { m_axis->setSelectedLabelFont(font); }
    QColor selectedTickLabelColor() const { return m_axis->selectedTickLabelColor(); }
    void setSelectedTickLabelColor(const QColor& color) { m_axis->setSelectedTickLabelColor(color); }
    QColor selectedLabelColor() const { return m_axis->selectedLabelColor(); }
    void setSelectedLabelColor(const QColor& color) { m_axis->setSelectedLabelColor(color); }
    QPen selectedBasePen() const { return m_axis->selectedBasePen(); }
    void setSelectedBasePen(const QPen& pen) { m_axis->setSelectedBasePen(pen); }
    QPen selectedTickPen() const { return m_axis->selectedTickPen(); }
    void setSelectedTickPen(const QPen& pen) { m_axis->setSelectedTickPen(pen); }
    QPen selectedSubTickPen() const { return m_axis->selectedSubTickPen(); }
    void setSelectedSubTickPen(const QPen& pen) { m_axis->setSelectedSubTickPen(pen); }
    QCPLineEnding lowerEnding() const { return m_axis->lowerEnding(); }
    void setLowerEnding(const QCPLineEnding& ending) { m_axis->setLowerEnding(ending); }
    QCPLineEnding upperEnding() const { return m_axis->upperEnding(); }
    void setUpperEnding(const QCPLineEnding& ending) { m_axis->setUpperEnding(ending); }
    QCPGrid* grid() const { return m_axis->grid(); }

private:
    QCPAxis* const m_axis;
    JsPlotAxisTicker* const m_ticker;
};

#endif // JSPLOTAXISCONFIG_P_H
