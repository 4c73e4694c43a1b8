#include "modaldriver.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalBlocker>

#include <algorithm>

namespace {
// The drivers alive, all on the GUI thread.
QList<const ModalDriver*> liveDrivers;
} // namespace

ModalDriver::ModalDriver(int boundMs, QObject* parent)
    : QObject(parent)
    , m_boundMs(boundMs)
{
    connect(&m_timer, &QTimer::timeout, this, &ModalDriver::poll);
    m_running.start();
    m_timer.start(10);
    liveDrivers.append(this);
}

ModalDriver::~ModalDriver()
{
    liveDrivers.removeOne(this);
}

bool ModalDriver::isAnswering(const QWidget* widget)
{
    return std::any_of(liveDrivers.cbegin(), liveDrivers.cend(), [widget](const ModalDriver* driver) {
        return driver->m_answering == widget && driver->m_running.elapsed() <= driver->m_boundMs;
    });
}

QString ModalDriver::describe(const QWidget* modal)
{
    if (auto* box = qobject_cast<const QMessageBox*>(modal)) {
        static const char* const icons[] = {"none", "information", "warning", "critical", "question"};
        return QStringLiteral("%1 %2: %3").arg(QLatin1String(icons[box->icon()]), box->windowTitle(), box->text());
    }
    return QString::fromLatin1(modal->metaObject()->className());
}

bool ModalDriver::answerFileDialog(QWidget* widget, const QString& path)
{
    auto* dialog = qobject_cast<QFileDialog*>(widget);
    if (!dialog)
        return false;
    if (path.isEmpty()) {
        dialog->reject();
        return true;
    }
    // selectFile() is ignored while the name field has focus, a row the
    // views select wins over the typed name, and typing selects the matching
    // row, which in turn writes its bare name into the field. So: clear every
    // selection, then type the whole path with the field's signals blocked;
    // the typed path alone is the answer.
    const QList<QAbstractItemView*> views = dialog->findChildren<QAbstractItemView*>();
    for (QAbstractItemView* view : views) {
        if (view->selectionModel())
            view->selectionModel()->clear();
    }
    auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (name) {
        const QSignalBlocker quiet(name);
        name->setText(path);
    }
    if (!name || dialog->selectedFiles() != QStringList(path)) {
        qWarning("ModalDriver: the file dialog would return %s instead of %s",
                 qPrintable(dialog->selectedFiles().join(QLatin1Char(','))), qPrintable(path));
        dialog->reject();
        return true;
    }
    // done() rather than accept(): accept() runs the dialog's own checks
    // (existing file, overwrite question) and may leave it open.
    static_cast<QDialog*>(dialog)->done(QDialog::Accepted); // protected in QFileDialog
    return true;
}

void ModalDriver::poll()
{
    QWidget* modal = QApplication::activePopupWidget();
    if (!modal)
        modal = QApplication::activeModalWidget();
    // A widget already answered may still be on the modal stack for a moment.
    if (!modal || modal == m_answering)
        return;
    m_answering = modal;
    if (m_running.elapsed() > m_boundMs) {
        seen << QStringLiteral("unanswered ") + QString::fromLatin1(modal->metaObject()->className());
        qWarning("ModalDriver: a %s was still open after %d ms; ending it", modal->metaObject()->className(), m_boundMs);
        end(modal);
        return;
    }
    if (answer && answer(modal))
        return;

    seen << describe(modal);
    end(modal);
}

void ModalDriver::end(QWidget* modal)
{
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        QAbstractButton* button = box->escapeButton();
        if (!button)
            button = box->defaultButton();
        if (!button && !box->buttons().isEmpty())
            button = box->buttons().first();
        if (button)
            button->click();
        else
            box->done(0);
    } else if (auto* dialog = qobject_cast<QDialog*>(modal)) {
        dialog->reject();
    } else {
        modal->close();
    }
}
