#include "jsplotgraphconfig_p.h"
#include "jsplotwidget_p.h"

JsPlotPlottableConfig::JsPlotPlottableConfig(JsPlotWidgetPrivate* plot, QCPGraph* graph,
                                             JsPlotGraphRecord* record)
    : m_plot(plot)
    , m_graph(graph)
    , m_record(record)
{
}

bool JsPlotPlottableConfig::antialiasedErrorBars() const
{
    return m_record->antialiasedErrorBars;
}

void JsPlotPlottableConfig::setAntialiasedErrorBars(bool on)
{
    m_record->antialiasedErrorBars = on;
}

QPen JsPlotPlottableConfig::selectedPen() const
{
    const QCPSelectionDecorator* decorator = m_graph->selectionDecorator();
    return decorator ? decorator->pen() : QPen();
}

void JsPlotPlottableConfig::setSelectedPen(const QPen& pen)
{
    if (QCPSelectionDecorator* decorator = m_graph->selectionDecorator())
        decorator->setPen(pen);
}

QBrush JsPlotPlottableConfig::selectedBrush() const
{
    const QCPSelectionDecorator* decorator = m_graph->selectionDecorator();
    return decorator ? decorator->brush() : QBrush();
}

void JsPlotPlottableConfig::setSelectedBrush(const QBrush& brush)
{
    if (QCPSelectionDecorator* decorator = m_graph->selectionDecorator())
        decorator->setBrush(brush);
}

bool JsPlotPlottableConfig::selectable() const
{
    return m_graph->selectable() != QCP::stNone;
}

void JsPlotPlottableConfig::setSelectable(bool on)
{
    // A graph is selected as a whole, or not at all.
    m_graph->setSelectable(on ? QCP::stWhole : QCP::stNone);
    if (!on)
        m_record->emptySelected = false;
}

bool JsPlotPlottableConfig::selected() const
{
    return m_plot->isSelected(m_graph);
}

void JsPlotPlottableConfig::setSelected(bool on)
{
    m_plot->setSelected(m_graph, on);
}

void JsPlotGraphConfig::setLineStyle(int style)
{
    if (style >= QCPGraph::lsNone && style <= QCPGraph::lsImpulse)
        m_graph->setLineStyle(QCPGraph::LineStyle(style));
}

int JsPlotGraphConfig::errorType() const
{
    return m_record->errorType;
}

void JsPlotGraphConfig::setErrorType(int type)
{
    if (type >= 0 && type <= 3)
        m_record->errorType = type;
}

QPen JsPlotGraphConfig::errorPen() const
{
    return m_record->errorPen;
}

void JsPlotGraphConfig::setErrorPen(const QPen& pen)
{
    m_record->errorPen = pen;
}

double JsPlotGraphConfig::errorBarSize() const
{
    return m_record->errorBarSize;
}

void JsPlotGraphConfig::setErrorBarSize(double size)
{
    m_record->errorBarSize = size;
}

bool JsPlotGraphConfig::errorBarSkipSymbol() const
{
    return m_record->errorBarSkipSymbol;
}

void JsPlotGraphConfig::setErrorBarSkipSymbol(bool on)
{
    m_record->errorBarSkipSymbol = on;
}
