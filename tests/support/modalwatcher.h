#ifndef MODALWATCHER_H
#define MODALWATCHER_H

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <memory>

class QWidget;

// Ends a widget test that meets a modal dialog nobody answers, instead of
// leaving it blocked in the dialog's own event loop until the test runner
// kills it. Every test program with a QApplication that links the widget
// fixtures runs one (watchmodals.cpp starts it).
//
// It polls QApplication::activePopupWidget() and activeModalWidget() from the
// event loop, a dialog's own included. A modal or popup widget that stays open
// for UnansweredMs, and that no ModalDriver within its bound has taken, fails
// the current test function ("unexpected modal: <what ModalDriver notes>")
// and is ended as ModalDriver ends one. Should that test function not end
// within GraceMs after, the program ends with a failure: the test may be
// stuck in a wait no event loop runs in. Tests that answer their modals
// themselves do so long before UnansweredMs. QUORVEL_MODAL_WATCH_MS, when
// set, replaces both times (the watcher's own test).
class ModalWatcher : public QObject
{
    Q_OBJECT
public:
    enum : int { UnansweredMs = 15000, GraceMs = 12000 };

    // Starts the program's watcher once its event loop first runs, when the
    // application is a QApplication.
    static void startWhenRunning();

    ~ModalWatcher() override;

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class Deadline;

    explicit ModalWatcher(QObject* parent);
    void poll();
    void watch(QWidget* modal);
    void fail(QWidget* modal);

    int m_unansweredMs = UnansweredMs;
    int m_graceMs = GraceMs;
    QTimer m_timer;
    QPointer<QWidget> m_modal; // open, unanswered, since m_since
    QElapsedTimer m_since;
    QByteArray m_failedTest; // "function(tag)" while the deadline runs
    std::unique_ptr<Deadline> m_deadline;
};

#endif // MODALWATCHER_H
