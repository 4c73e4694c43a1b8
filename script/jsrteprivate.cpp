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
    stopEvaluation();
    // Extensions go first, while the form, the globals and this object are
    // whole: their teardown may still call into scripts (an fs action that
    // fails with "deleted" runs the script's callbacks).
    deleteExtensionsOnReset();
    for (const QPointer<JsRteExtension>& extension : qAsConst(m_extensionsDeleteOnDestroy))
        delete extension.data();
    m_extensionsDeleteOnDestroy.clear();
    m_extensions.clear();
    reset();
    qDeleteAll(m_factoriesDeleteOnDestroy);
    m_factoriesDeleteOnDestroy.clear();
    m_factories.clear();
}

void JsRtePrivate::stopEvaluation()
{
    q->clearExceptions();
    if (q->isEvaluating())
        q->abortEvaluation();
}

void JsRtePrivate::deleteExtensionsOnReset()
{
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
}

void JsRtePrivate::reset()
{
    stopEvaluation();
    // Before the form goes, as in the destructor.
    deleteExtensionsOnReset();
    // What the extensions' teardown left behind.
    stopEvaluation();
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
