#ifndef JSRTEWIDGETFACTORY_H
#define JSRTEWIDGETFACTORY_H

#include <QString>
#include <memory>

class QWidget;
class JsRteWidgetFactoryPrivate;

// The base of scriptable widget factories: while a form is loaded, every
// widget whose Designer class name equals className() is made by create()
// instead of the standard loader. Subclasses set the class name in their
// constructor.
class JsRteWidgetFactory
{
public:
    JsRteWidgetFactory();
    virtual ~JsRteWidgetFactory();

    QString className() const;
    void setClassName(const QString& className);

    // A new widget with that parent; null lets the standard loader make it.
    virtual QWidget* create(QWidget* parent) = 0;

private:
    JsRteWidgetFactory(const JsRteWidgetFactory&) = delete;
    JsRteWidgetFactory& operator=(const JsRteWidgetFactory&) = delete;
    std::unique_ptr<JsRteWidgetFactoryPrivate> d;
};

#endif // JSRTEWIDGETFACTORY_H
