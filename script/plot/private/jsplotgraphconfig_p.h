#ifndef JSPLOTGRAPHCONFIG_P_H
#define JSPLOTGRAPHCONFIG_P_H

#include "jsplotwidget.h"

#include <QObject>

class JsPlotWidgetPrivate;
struct JsPlotGraphRecord;

// The configuration keys that every graph takes besides those of the graph
// itself: selection as a whole-graph flag, the selected look, and error-bar
// antialiasing (kept, nothing draws error bars). Written, never read back.
class JsPlotPlottableConfig : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool antialiasedErrorBars READ antialiasedErrorBars WRITE setAntialiasedErrorBars)
    Q_PROPERTY(QPen selectedPen READ selectedPen WRITE setSelectedPen)
    Q_PROPERTY(QBrush selectedBrush READ selectedBrush WRITE setSelectedBrush)
    Q_PROPERTY(bool selectable READ selectable WRITE setSelectable)
    Q_PROPERTY(bool selected READ selected WRITE setSelected)
public:
    JsPlotPlottableConfig(JsPlotWidgetPrivate* plot, QCPGraph* graph, JsPlotGraphRecord* record);

    bool antialiasedErrorBars() const;
    void setAntialiasedErrorBars(bool on);
    QPen selectedPen() const;
    void setSelectedPen(const QPen& pen);
    QBrush selectedBrush() const;
    void setSelectedBrush(const QBrush& brush);
    bool selectable() const;
    void setSelectable(bool on);
    bool selected() const;
    void setSelected(bool on);

protected:
    JsPlotWidgetPrivate* const m_plot;
    QCPGraph* const m_graph;
    JsPlotGraphRecord* const m_record;
};

// The keys a graph's configuration map reads: the graph's own, with error
// bars as values of our own (nothing draws them). Enumerations are integers.
class JsPlotGraphConfig : public JsPlotPlottableConfig
{
    Q_OBJECT
    Q_PROPERTY(int lineStyle READ lineStyle WRITE setLineStyle)
    Q_PROPERTY(QCPScatterStyle scatterStyle READ scatterStyle WRITE setScatterStyle)
    Q_PROPERTY(int errorType READ errorType WRITE setErrorType)
    Q_PROPERTY(QPen errorPen READ errorPen WRITE setErrorPen)
    Q_PROPERTY(double errorBarSize READ errorBarSize WRITE setErrorBarSize)
    Q_PROPERTY(bool errorBarSkipSymbol READ errorBarSkipSymbol WRITE setErrorBarSkipSymbol)
    Q_PROPERTY(QCPGraph* channelFillGraph READ channelFillGraph)
    Q_PROPERTY(bool adaptiveSampling READ adaptiveSampling WRITE setAdaptiveSampling)
public:
    using JsPlotPlottableConfig::JsPlotPlottableConfig;

    int lineStyle() const { return m_graph->lineStyle(); }
    void setLineStyle(int style);
    QCPScatterStyle scatterStyle() const { return m_graph->scatterStyle(); }
    void setScatterStyle(const QCPScatterStyle& style) { m_graph->setScatterStyle(style); }
    int errorType() const;
    void setErrorType(int type);
    QPen errorPen() const;
    void setErrorPen(const QPen& pen);
    double errorBarSize() const;
    void setErrorBarSize(double size);
    bool errorBarSkipSymbol() const;
    void setErrorBarSkipSymbol(bool on);
    QCPGraph* channelFillGraph() const { return m_graph->channelFillGraph(); }
    bool adaptiveSampling() const { return m_graph->adaptiveSampling(); }
    void setAdaptiveSampling(bool on) { m_graph->setAdaptiveSampling(on); }
};

#endif // JSPLOTGRAPHCONFIG_P_H
