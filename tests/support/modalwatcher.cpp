#include "modalwatcher.h"

#include "modaldriver.h"

#include <QApplication>
#include <QEvent>
#include <QMessageBox>
#include <QTest>
#include <QWidget>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace {

// The test function running, with its data tag: "function(tag)"; empty
// outside test functions.
QByteArray currentTest()
{
    const char* function = QTest::currentTestFunction();
    if (!function)
        return QByteArray();
    const char* tag = QTest::currentDataTag();
    return QByteArray(function) + '(' + QByteArray(tag ? tag : "") + ')';
}

} // namespace

// Ends the program with a failure unless destroyed within its time. A
// thread of its own: the test it guards may be stuck in a wait that runs
// no event loop.
class ModalWatcher::Deadline
{
public:
    Deadline(int ms, const QByteArray& message)
        : m_thread([this, ms, message] { run(ms, message); })
    {
    }

    ~Deadline()
    {
        {
            const std::lock_guard<std::mutex> lock(m_lock);
            m_over = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }

private:
    void run(int ms, const QByteArray& message)
    {
        std::unique_lock<std::mutex> lock(m_lock);
        if (m_wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_over; }))
            return;
        std::fprintf(stdout, "%s\n", message.constData());
        std::fflush(stdout);
        std::fflush(stderr);
        std::_Exit(EXIT_FAILURE);
    }

    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_over = false;
    std::thread m_thread; // last: started once the others are built
};

void ModalWatcher::startWhenRunning()
{
    QCoreApplication* app = QCoreApplication::instance();
    // Queued: start-up functions run while the application is being built.
    QMetaObject::invokeMethod(app, [app] {
        if (qobject_cast<QApplication*>(app))
            new ModalWatcher(app);
    }, Qt::QueuedConnection);
}

ModalWatcher::ModalWatcher(QObject* parent)
    : QObject(parent)
{
    if (const int ms = qEnvironmentVariableIntValue("QUORVEL_MODAL_WATCH_MS"); ms > 0)
        m_unansweredMs = m_graceMs = ms;
    connect(&m_timer, &QTimer::timeout, this, &ModalWatcher::poll);
    m_timer.start(100);
}

ModalWatcher::~ModalWatcher()
{
    watch(nullptr);
}

bool ModalWatcher::eventFilter(QObject* watched, QEvent* event)
{
    // Closed and perhaps opened again between two polls: a new wait.
    if (watched == m_modal && event->type() == QEvent::Hide)
        watch(nullptr);
    return false;
}

void ModalWatcher::poll()
{
    if (m_deadline && currentTest() != m_failedTest) {
        m_deadline.reset();
        m_failedTest.clear();
    }
    QWidget* modal = QApplication::activePopupWidget();
    if (!modal)
        modal = QApplication::activeModalWidget();
    if (!modal || ModalDriver::isAnswering(modal))
        watch(nullptr);
    else if (modal != m_modal)
        watch(modal);
    else if (m_since.elapsed() >= m_unansweredMs)
        fail(modal);
}

void ModalWatcher::watch(QWidget* modal)
{
    if (m_modal == modal)
        return;
    if (m_modal)
        m_modal->removeEventFilter(this);
    m_modal = modal;
    if (modal) {
        modal->installEventFilter(this);
        m_since.start();
    }
}

void ModalWatcher::fail(QWidget* modal)
{
    QString what = ModalDriver::describe(modal);
    if (!qobject_cast<QMessageBox*>(modal) && !modal->windowTitle().isEmpty())
        what += QStringLiteral(" \"%1\"").arg(modal->windowTitle());
    const QByteArray message = "unexpected modal: " + what.toUtf8();
    watch(nullptr);
    const QByteArray test = currentTest();
    if (test.isEmpty()) {
        qWarning("%s (outside any test function)", message.constData());
    } else {
        QTest::qFail(message.constData(), __FILE__, __LINE__);
        if (!m_deadline) {
            m_failedTest = test;
            m_deadline.reset(new Deadline(m_graceMs, "FAIL!  : " + test + " did not end within "
                                                         + QByteArray::number(m_graceMs) + " ms after the "
                                                         + message + "; the test program ends here"));
        }
    }
    ModalDriver::end(modal);
}
