#include "modaldriver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPushButton>

ModalDriver::ModalDriver(int boundMs, QObject* parent)
    : QObject(parent)
    , m_boundMs(boundMs)
{
    connect(&m_timer, &QTimer::timeout, this, &ModalDriver::poll);
    m_running.start();
    m_timer.start(10);
}

void ModalDriver::poll()
{
    if (m_running.elapsed() > m_boundMs) {
        m_timer.stop();
        return;
    }
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal && answer)
        modal = QApplication::activePopupWidget();
    // A widget already answered may still be on the modal stack for a moment.
    if (!modal || modal == m_answering)
        return;
    m_answering = modal;

    auto* box = qobject_cast<QMessageBox*>(modal);
    if (box) {
        static const char* const icons[] = {"none", "information", "warning", "critical", "question"};
        seen << QStringLiteral("%1 %2: %3").arg(QLatin1String(icons[box->icon()]), box->windowTitle(), box->text());
    } else {
        seen << QString::fromLatin1(modal->metaObject()->className());
    }
    if (answer && answer(modal))
        return;
    if (box) {
        QAbstractButton* button = box->escapeButton();
        if (!button)
            button = box->defaultButton();
        if (!button && !box->buttons().isEmpty())
            button = box->buttons().first();
        if (button)
            button->click();
        else
            box->done(0);
        return;
    }
    if (auto* dialog = qobject_cast<QDialog*>(modal))
        dialog->reject();
    else
        modal->close();
}
