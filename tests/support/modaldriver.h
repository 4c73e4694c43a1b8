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
// dialog with reject(), a popup menu by closing it.
//
// After boundMs it answers nothing any more: each modal widget still met is
// ended as above and noted in `seen` as "unanswered <class>", so that a test
// waiting on a dialog that was never answered fails with its own message
// instead of hanging until the test runner kills it.
class ModalDriver : public QObject
{
    Q_OBJECT
public:
    explicit ModalDriver(int boundMs = 30000, QObject* parent = nullptr);
    ~ModalDriver() override;

    // Each modal widget answered so far, as "<icon> <title>: <text>" for a
    // message box ("critical Check port: No port selected") and as its class
    // name for any other.
    QStringList seen;

    // Tried first on each modal or popup widget met; true when it answered
    // the widget (choosing a menu entry, a file name, a button).
    std::function<bool(QWidget*)> answer;

    // The one way a test answers a file dialog: when widget is a QFileDialog,
    // makes it return exactly path (its selectedFiles() is {path}, whatever
    // has focus, is typed or is selected in its views, and without its own
    // checks such as "replace the file?"), or cancels it for an empty path,
    // and returns true. False for any other widget.
    static bool answerFileDialog(QWidget* widget, const QString& path);

    // True while a driver within its bound has taken `widget`: answered it,
    // or left it to the test when `answer` returned true.
    static bool isAnswering(const QWidget* widget);
    // A modal widget as `seen` notes it.
    static QString describe(const QWidget* modal);
    // Ends a modal widget as a user would decline it (see above).
    static void end(QWidget* modal);

private:
    void poll();

    QTimer m_timer;
    QElapsedTimer m_running;
    int m_boundMs;
    QPointer<QWidget> m_answering;
};

#endif // MODALDRIVER_H
