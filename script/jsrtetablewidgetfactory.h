#ifndef JSRTETABLEWIDGETFACTORY_H
#define JSRTETABLEWIDGETFACTORY_H

#include "jsrtewidgetfactory.h"

// Makes every "QTableWidget" of a script's form a JsRteTableWidget.
class JsRteTableWidgetFactory : public JsRteWidgetFactory
{
public:
    JsRteTableWidgetFactory();
    ~JsRteTableWidgetFactory() override;

    QWidget* create(QWidget* parent) override;
};

#endif // JSRTETABLEWIDGETFACTORY_H
