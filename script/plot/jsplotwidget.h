#ifndef JSPLOTWIDGET_H
#define JSPLOTWIDGET_H

// The plot library's header loops with the foreach keyword, which this
// project turns off for its own code; its loops only read.
#if defined(QT_NO_FOREACH) && !defined(foreach)
#define foreach(variable, container) for (variable : qAsConst(container))
#include <qcustomplot.h>
#undef foreach
#else
#include <qcustomplot.h>
#endif

#include <QScriptValue>
#include <QScriptable>
#include <QVariant>
#include <memory>

class JsPlotWidgetPrivate;

// Value types of the plot library that travel in QVariant under their own
// names, so that configuration maps can dispatch on QVariant::typeName().
Q_DECLARE_METATYPE(QCPRange)
Q_DECLARE_METATYPE(QCPLineEnding)
Q_DECLARE_METATYPE(QCPScatterStyle)

// The plot of script forms (class name "JsPlot"). Scripts keep named graphs
// in it, feed them key/value points, set axis ranges, select graphs, read
// and change the look of the plot, its graphs, axes and legend as plain
// maps, and connect to its signals, which carry plain script values.
//
// Axes are addressed by the numbers 0..3 (bottom, left, top, right). No slot
// redraws: scripts call replot() when they want their changes drawn.
// Everything runs on the GUI thread.
class JsPlotWidget : public QCustomPlot, protected QScriptable
{
    Q_OBJECT
public:
    explicit JsPlotWidget(QWidget* parent = nullptr);
    ~JsPlotWidget() override;

    // The graph registered under name, or null.
    QCPGraph* graph(const QString& name) const;

    // Plain values and maps for colours, brushes, pens, ranges and mouse events.
    static QColor colorFromVariant(const QVariant& value);
    static QVariant colorToVariant(const QColor& color);
    static QBrush brushFromMap(const QVariantMap& map);
    static QVariant brushToMap(const QBrush& brush);
    static QPen penFromMap(const QVariantMap& map);
    static QVariant penToMap(const QPen& pen);
    static QVariant rangeToMap(const QCPRange& range);
    static QVariantMap mouseEventToMap(const QMouseEvent* event);

    // The axis of this plot for 0..3; otherwise raises "Axis is not a valid
    // value (JsPlot.Axis)" in the calling script and returns null.
    QCPAxis* checkAxis(const QScriptValue& axis);
    // 0..3 for the four axes of this plot, 0 for any other axis.
    int axisToValue(const QCPAxis* axis) const;

public slots:
    // The name exactly as passed, or null after a script error.
    QScriptValue addGraph(const QScriptValue& name, const QScriptValue& axisKey = QScriptValue(0),
                          const QScriptValue& axisValue = QScriptValue(1));
    void removeGraph(const QScriptValue& name);

    // Numbers or arrays of numbers of equal length.
    void setData(const QScriptValue& name, const QScriptValue& key, const QScriptValue& value);
    void addData(const QScriptValue& name, const QScriptValue& key, const QScriptValue& value);
    // Keys below, above, in (fromKey, toKey], or equal to fromKey when toKey is null.
    void removeDataBefore(const QScriptValue& name, const QScriptValue& key);
    void removeDataAfter(const QScriptValue& name, const QScriptValue& key);
    void removeData(const QScriptValue& name, const QScriptValue& fromKey,
                    const QScriptValue& toKey = QScriptValue(QScriptValue::NullValue));
    void clearData(const QScriptValue& name);

    void setGraphConfiguration(const QScriptValue& name, const QScriptValue& configuration);
    QVariant getGraphConfiguration(const QScriptValue& name);
    void setAxisConfiguration(const QScriptValue& axis, const QScriptValue& configuration);
    QVariant getAxisConfiguration(const QScriptValue& axis);

    void setAxisRange(const QScriptValue& axis, const QScriptValue& lower, const QScriptValue& upper);
    void setAxisRangeLower(const QScriptValue& axis, const QScriptValue& value);
    void setAxisRangeUpper(const QScriptValue& axis, const QScriptValue& value);
    void rescaleAxisForGraph(const QScriptValue& name, bool onlyEnlarge = false);

    void selectGraph(const QScriptValue& name);
    void deselectGraph(const QScriptValue& name);

    void setLegendConfiguration(const QScriptValue& configuration);
    QVariant getLegendConfiguration();
    void setConfiguration(const QScriptValue& configuration);
    QVariant getConfiguration();

signals:
    void graphClicked(QVariant graph, QVariant event);
    void graphDoubleClicked(QVariant graph, QVariant event);
    void axisClicked(QVariant axis, int part, QVariant event);
    void axisDoubleClicked(QVariant axis, int part, QVariant event);
    void legendClicked(QVariant event);
    void legendDoubleClicked(QVariant event);
    void titleClicked(QVariant title, QVariant event);
    void titleDoubleClicked(QVariant title, QVariant event);
    void graphSelectionChanged(QVariantList graphs);
    void axisTicksRequest(QVariant axis);
    void axisRangeChanged(QVariant axis, QVariant newRange, QVariant oldRange);
    void axisScaleTypeChanged(QVariant axis, int scaleType);

private slots:
    void onPlottableClick(QCPAbstractPlottable* plottable, int dataIndex, QMouseEvent* event);
    void onPlottableDoubleClick(QCPAbstractPlottable* plottable, int dataIndex, QMouseEvent* event);
    void onAxisClick(QCPAxis* axis, QCPAxis::SelectablePart part, QMouseEvent* event);
    void onAxisDoubleClick(QCPAxis* axis, QCPAxis::SelectablePart part, QMouseEvent* event);
    void onLegendClick(QCPLegend* legend, QCPAbstractLegendItem* item, QMouseEvent* event);
    void onLegendDoubleClick(QCPLegend* legend, QCPAbstractLegendItem* item, QMouseEvent* event);
    void onTitleClick(QMouseEvent* event);
    void onTitleDoubleClick(QMouseEvent* event);
    void onSelectionChangedByUser();
    void onAxisRangeChanged(const QCPRange& newRange, const QCPRange& oldRange);
    void onAxisScaleTypeChanged(QCPAxis::ScaleType scaleType);
    void onBeforeReplot();

private:
    friend class JsPlotWidgetPrivate;
    Q_DISABLE_COPY(JsPlotWidget)
    std::unique_ptr<JsPlotWidgetPrivate> d;
};

#endif // JSPLOTWIDGET_H
