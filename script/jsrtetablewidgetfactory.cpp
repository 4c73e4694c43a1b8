#include "jsrtetablewidgetfactory.h"
#include "jsrtetablewidget.h"

JsRteTableWidgetFactory::JsRteTableWidgetFactory()
{
    setClassName(QStringLiteral("QTableWidget"));
}

JsRteTableWidgetFactory::~JsRteTableWidgetFactory() = default;

QWidget* JsRteTableWidgetFactory::create(QWidget* parent)
{
    return new JsRteTableWidget(parent);
}
