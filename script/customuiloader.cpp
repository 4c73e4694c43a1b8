#include "customuiloader_p.h"
#include "jsrte_p.h"
#include "jsrtewidgetfactory.h"

CustomUiLoader::CustomUiLoader(JsRtePrivate* engine, QObject* parent)
    : QUiLoader(parent)
    , m_engine(engine)
{
}

CustomUiLoader::~CustomUiLoader() = default;

QWidget* CustomUiLoader::createWidget(const QString& className, QWidget* parent,
                                      const QString& name)
{
    if (JsRteWidgetFactory* factory = m_engine->m_factories.value(className)) {
        if (QWidget* widget = factory->create(parent)) {
            widget->setObjectName(name);
            return widget;
        }
    }
    return QUiLoader::createWidget(className, parent, name);
}
