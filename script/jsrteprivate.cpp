#include "jsrte_p.h"
#include "jsrteextension.h"
#include "jsrtewidgetfactory.h"

#include <QLayout>

JsRtePrivate::JsRtePrivate(JsRte* q)
    : QObject(q)
    , q(q)
{
}

JsRtePrivate::~JsRtePrivate()
{
    reset();
    for (const QPointer<JsRteExtension>& extension : qAsConst(m_extensionsDeleteOnDestroy))
        delete extension.data();
    m_extensionsDeleteOnDestroy.clear();
    qDeleteAll(m_factoriesDeleteOnDestroy);
    m_factoriesDeleteOnDestroy.clear();
    m_extensions.clear();
    m_factories.clear();
}

void JsRtePrivate::reset()
{
    q->clearExceptions();
    if (q->isEvaluating())
        q->abortEvaluation();
    m_initialised = false;

    if (m_form) {
        QWidget* form = m_form;
        if (m_uiHost && m_uiHost->layout())
            m_uiHost->layout()->removeWidget(form);
        form->hide();
        form->setParent(nullptr);
        delete form;
    }
    m_form = nullptr;

    while (!m_extensionsDeleteOnReset.isEmpty()) {
        JsRteExtension* extension = m_extensionsDeleteOnReset.takeFirst();
        for (auto it = m_extensions.begin(); it != m_extensions.end();) {
            if (it.value() == extension || it.value().isNull())
                it = m_extensions.erase(it);
            else
                ++it;
        }
        delete extension;
    }
    while (!m_factoriesDeleteOnReset.isEmpty()) {
        JsRteWidgetFactory* factory = m_factoriesDeleteOnReset.takeFirst();
        for (auto it = m_factories.begin(); it != m_factories.end();) {
            if (it.value() == factory)
                it = m_factories.erase(it);
            else
                ++it;
        }
        delete factory;
    }
}
