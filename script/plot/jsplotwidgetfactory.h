#ifndef JSPLOTWIDGETFACTORY_H
#define JSPLOTWIDGETFACTORY_H

#include "jsrtewidgetfactory.h"

// Makes a JsPlotWidget for every widget of the class name "JsPlot" in a form.
class JsPlotWidgetFactory : public JsRteWidgetFactory
{
public:
    JsPlotWidgetFactory();

    QWidget* create(QWidget* parent) override;
};

#endif // JSPLOTWIDGETFACTORY_H
