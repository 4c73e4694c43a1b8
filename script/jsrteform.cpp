// Loading a script's form into the host widget and exposing it as "ui".

#include "customuiloader_p.h"
#include "jsrte_p.h"

#include <QDir>
#include <QIcon>
#include <QLayout>
#include <QVBoxLayout>

QScriptValue JsRtePrivate::loadUi(const QScriptValue& title, const QString& workingDirectory,
                                  QIODevice* device)
{
    CustomUiLoader loader(this);
    loader.setWorkingDirectory(QDir(workingDirectory));
    QWidget* form = loader.load(device, m_uiHost);
    // A form the loader cannot build is reported; the host stays as it was.
    if (!form)
        throw JsRteException(JsRteException::CantOpenUiFile);
    m_form = form;

    if (!m_uiHost->layout())
        new QVBoxLayout(m_uiHost);
    m_uiHost->show();
    m_uiHost->layout()->addWidget(form);
    m_uiHost->setWindowIcon(form->windowIcon());
    if (title.isValid() && !title.isUndefined() && !title.isNull()) {
        form->setWindowTitle(title.toString());
        m_uiHost->setWindowTitle(title.toString());
    }
    form->show();

    // The wrapper's own lookup of children by name would find the first of
    // two objects of one name; the members set below decide instead.
    QScriptValue ui = q->newQObject(form, QScriptEngine::QtOwnership,
                                    QScriptEngine::ExcludeChildObjects);
    exposeChildren(ui, form);
    q->globalObject().setProperty(QStringLiteral("ui"), ui);
    return ui;
}

void JsRtePrivate::exposeChildren(QScriptValue& ui, QObject* object)
{
    // Depth first, parents before children: a later object of the same name wins.
    const QObjectList children = object->children();
    for (QObject* child : children) {
        ui.setProperty(child->objectName(), q->newQObject(child, QScriptEngine::QtOwnership));
        exposeChildren(ui, child);
    }
}
