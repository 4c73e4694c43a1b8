#include "modaldriver.h"

#include <QAbstractButton>
#include <QPushButton>
#include <QApplication>
#include <QDialog>

ModalDriver::ModalDriver(QObject* parent)
    : QObject(parent)
{
    connect(&m_timer, &QTimer::timeout, this, &ModalDriver::poll);
}

ModalDriver::~ModalDriver() = default;

void ModalDriver::start(int boundMs, int pollMs)
{
    m_boundMs = boundMs;
    m_running.start();
    m_timer.start(pollMs);
}

void ModalDriver::stop()
{
    m_timer.stop();
}

void ModalDriver::poll()
{
    if (m_running.elapsed() > m_boundMs) {
        stop();
        return;
    }
    QWidget* modal = QApplication::activeModalWidget();
    // A widget already answered may still be on the modal stack for a moment.
    if (!modal || modal == m_answering)
        return;
    m_answering = modal;

    Seen seen;
    seen.className = QString::fromLatin1(modal->metaObject()->className());
    seen.windowTitle = modal->windowTitle();

    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        seen.text = box->text();
        seen.icon = box->icon();
        m_seen.append(seen);
        QAbstractButton* button = nullptr;
        if (m_answer != QMessageBox::NoButton)
            button = box->button(m_answer);
        if (!button)
            button = box->escapeButton();
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

    m_seen.append(seen);
    if (auto* dialog = qobject_cast<QDialog*>(modal))
        dialog->reject();
    else
        modal->close();
}
