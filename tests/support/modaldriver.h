#ifndef MODALDRIVER_H
#define MODALDRIVER_H

#include <QElapsedTimer>
#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

// Answers the modal dialogs that code under test opens, so that a test can
// step through a QMessageBox::critical() or a QDialog::exec() without a user.
//
// While running it polls QApplication::activeModalWidget() from the event
// loop (a modal dialog's own loop included), records each modal widget it
// meets and ends it: a QMessageBox with the chosen button (by default its
// escape button, else its default button, else its first button), any other
// QDialog with reject(), any other widget with close(). It stops by itself
// after the bound given to start(), so a test that expects no dialog never
// hangs on one.
class ModalDriver : public QObject
{
    Q_OBJECT
public:
    struct Seen
    {
        QString className;   // of the modal widget
        QString windowTitle;
        QString text;        // a message box's text, else empty
        QMessageBox::Icon icon = QMessageBox::NoIcon;
    };

    explicit ModalDriver(QObject* parent = nullptr);
    ~ModalDriver() override;

    // Starts answering; polls every pollMs until stop() or boundMs have passed.
    void start(int boundMs = 30000, int pollMs = 10);
    void stop();
    bool isRunning() const { return m_timer.isActive(); }

    // The button a message box is answered with; NoButton: the default rule.
    void setAnswer(QMessageBox::StandardButton button) { m_answer = button; }

    // Everything answered so far, in order.
    QList<Seen> seen() const { return m_seen; }
    void clear() { m_seen.clear(); }

private:
    void poll();

    QTimer m_timer;
    QElapsedTimer m_running;
    int m_boundMs = 0;
    QMessageBox::StandardButton m_answer = QMessageBox::NoButton;
    QList<Seen> m_seen;
    QPointer<QWidget> m_answering;
};

#endif // MODALDRIVER_H
