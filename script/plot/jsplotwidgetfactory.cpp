#include "jsplotwidgetfactory.h"

#include "jsplotwidget.h"

JsPlotWidgetFactory::JsPlotWidgetFactory()
{
    setClassName(QStringLiteral("JsPlot"));
}

QWidget* JsPlotWidgetFactory::create(QWidget* parent)
{
    return new JsPlotWidget(parent);
}
