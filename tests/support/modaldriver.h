#ifndef MODALDRIVER_H
#define MODALDRIVER_H

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <functional>

class QWidget;

// Answers the modal dialogs that code under test opens, so that a test can
// step through a QMessageBox::critical() or a QDialog::exec() without a user.
// From its creation it polls QApplication::activeModalWidget() from the event
// loop (a modal dialog's own included) and ends each modal widget it meets: a
// message box with its escape (else default, else first) button, another
// dialog with reject(). It stops by itself after boundMs, so a test that
// expects no dialog never hangs on one. A test that wants another answer
// sets `answer`: it is offered each modal widget first, and then popups
// (menus) too, and returns true when it has dealt with the widget itself.
class ModalDriver : public QObject
{
    Q_OBJECT
public:
    explicit ModalDriver(int boundMs = 30000, QObject* parent = nullptr);

    // Each modal widget answered so far, as "<icon> <title>: <text>" for a
    // message box ("critical Check port: No port selected") and as its class
    // name for any other.
    QStringList seen;
    std::function<bool(QWidget*)> answer;

private:
    void poll();

    QTimer m_timer;
    QElapsedTimer m_running;
    int m_boundMs;
    QPointer<QWidget> m_answering;
};

#endif // MODALDRIVER_H
