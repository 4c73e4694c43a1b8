#include "jsrtewidgetfactory.h"

class JsRteWidgetFactoryPrivate
{
public:
    QString m_className;
};

JsRteWidgetFactory::JsRteWidgetFactory()
    : d(new JsRteWidgetFactoryPrivate)
{
}

JsRteWidgetFactory::~JsRteWidgetFactory() = default;

QString JsRteWidgetFactory::className() const
{
    return d->m_className;
}

void JsRteWidgetFactory::setClassName(const QString& className)
{
    d->m_className = className;
}
