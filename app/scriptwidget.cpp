#include "scriptwidget.h"
#include "ui_scriptwidget.h"

#include "jsplot.h"
#include "jsplotwidgetfactory.h"
#include "jsqerfc.h"
#include "jsrte.h"
#include "jsrtefilesystem.h"
#include "jsrtetablewidgetfactory.h"
#include "jsrtetimer.h"
#include "jsrtetype.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QIcon>
#include <QLayout>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QScriptEngineDebugger>
#include <QTimer>

namespace {

// Input that may start a handler of the form: a click, a key, a mnemonic or
// another shortcut, the wheel, a drop.
bool isUserInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::Shortcut:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::Drop:
        return true;
    default:
        return false;
    }
}

// Deletes an engine and the debugger attached to it once the evaluation it
// is still inside has unwound; checked from the event loop. The debugger
// stays attached until then: detached, it would never hear the continue
// that ends its own loop, and the evaluation would never unwind.
void deleteAfterEvaluation(JsRte* engine, QScriptEngineDebugger* debugger)
{
    if (!engine->isEvaluating()) {
        if (debugger)
            debugger->detach();
        delete engine;
        delete debugger;
        return;
    }
    QTimer::singleShot(10, [engine, debugger] { deleteAfterEvaluation(engine, debugger); });
}

} // namespace

ScriptWidget::ScriptWidget(QErfcStack* stack, uchar addr, QWidget* parent)
    : QWidget(parent)
    , ui(new Ui::ScriptWidget)
    , m_stack(stack)
    , m_addr(addr)
{
    ui->setupUi(this);
    setWindowIcon(QIcon(QStringLiteral(":/img/resource/script_ui.png")));
    // Input to the form while the script is busy is dropped (eventFilter).
    qApp->installEventFilter(this);
}

ScriptWidget::~ScriptWidget()
{
    if (m_engine && m_engine->isEvaluating()) {
        // Closed while a script runs, typically held by the debugger at a
        // breakpoint or an uncaught error: the evaluation is aborted and the
        // debugger's own loop told to return; the engine goes only once the
        // evaluation has unwound, never under it.
        m_engine->abortEvaluation();
        if (m_debugger) {
            m_debugger->setParent(nullptr);
            m_debugger->action(QScriptEngineDebugger::ContinueAction)->trigger();
        }
        deleteAfterEvaluation(m_engine, m_debugger);
    } else {
        if (m_debugger)
            m_debugger->detach();
        delete m_engine;
        delete m_debugger;
    }
    delete ui;
}

bool ScriptWidget::isEvaluating() const
{
    return m_engine && m_engine->isEvaluating();
}

bool ScriptWidget::event(QEvent* event)
{
    const bool result = QWidget::event(event);
    // The window is shown empty, before the script runs, so that a script
    // that never returns can be closed; its form is laid out later. The
    // first time it is, the window takes its size, as it would have opened
    // with it.
    if (event->type() == QEvent::LayoutRequest && !m_fitted && layout() && layout()->count() > 0) {
        m_fitted = true;
        fitWindowToForm();
    }
    return result;
}

void ScriptWidget::fitWindowToForm()
{
    auto* window = qobject_cast<QMdiSubWindow*>(parentWidget());
    if (!window || (window->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen)))
        return;
    QSize size = window->sizeHint().expandedTo(window->size());
    if (QMdiArea* area = window->mdiArea())
        size = size.boundedTo(area->viewport()->size());
    window->resize(size.expandedTo(window->minimumSizeHint()));
}

void ScriptWidget::closeEvent(QCloseEvent* event)
{
    if (!isEvaluating()) {
        QWidget::closeEvent(event);
        return;
    }
    // The script is inside an evaluation (an endless loop, a breakpoint):
    // the window and its engine cannot go under it. The evaluation is
    // aborted, and the window closes once it has unwound. That may take
    // long: another script's evaluation may run inside this one's, which
    // unwinds only after it. The window leaves the screen now.
    event->ignore();
    if (m_stopping)
        return;
    m_stopping = true;
    if (auto* window = qobject_cast<QMdiSubWindow*>(parentWidget())) {
        // Out of its area's list too, so that no tab shows it; until it
        // goes it is a hidden child of the area's window (the area itself
        // would take it back into its list).
        if (QMdiArea* area = window->mdiArea()) {
            area->removeSubWindow(window);
            window->setParent(area->window());
        }
        window->hide();
    } else {
        hide();
    }
    const QString message =
        tr("Node %1: the script was stopped, its window was closed while it was running").arg(m_addr);
    emit printDebugMessage(message);
    emit stopped(message);
    m_engine->stop();
    if (m_debugger)
        m_debugger->action(QScriptEngineDebugger::ContinueAction)->trigger();
    QTimer::singleShot(10, this, &ScriptWidget::closeAfterEvaluation);
}

void ScriptWidget::closeAfterEvaluation()
{
    if (isEvaluating()) {
        QTimer::singleShot(10, this, &ScriptWidget::closeAfterEvaluation);
        return;
    }
    if (auto* window = qobject_cast<QMdiSubWindow*>(parentWidget()))
        window->close();
    else
        close();
}

bool ScriptWidget::eventFilter(QObject* watched, QEvent* event)
{
    // A click, key or shortcut on the form while the script is busy would
    // run its handler inside the evaluation under way: dropped. A shortcut
    // goes to what it triggers (a button, an action): the widget that
    // object belongs to decides.
    if (!isUserInput(event->type()) || !isEvaluating())
        return false;
    QObject* owner = watched;
    while (owner && !owner->isWidgetType())
        owner = owner->parent();
    auto* widget = static_cast<QWidget*>(owner);
    return widget && (widget == this || isAncestorOf(widget));
}

bool ScriptWidget::debuggerEnabled()
{
    static const bool enabled = qEnvironmentVariableIsEmpty("QUORVEL_SCRIPT_NO_DEBUGGER");
    return enabled;
}

uchar ScriptWidget::currentAddr()
{
    return m_addr;
}

void ScriptWidget::setupEngine()
{
    if (debuggerEnabled())
        m_debugger = new QScriptEngineDebugger(this);
    m_engine = new JsRte;

    // Normal and error output of the scripts leave through one signal; a
    // stopped script's last statements may still run as it unwinds, but
    // its log ends with the line that says it was stopped.
    const auto output = [this](const QString& text) {
        if (!m_stopping)
            emit printDebugMessage(text);
    };
    connect(m_engine, &JsRte::print, this, output, Qt::DirectConnection);
    connect(m_engine, &JsRte::printE, this, output, Qt::DirectConnection);
    if (m_debugger) {
        connect(m_debugger, &QScriptEngineDebugger::evaluationResumed, m_engine,
                &JsRte::onDebuggerResume, Qt::DirectConnection);
        connect(m_debugger, &QScriptEngineDebugger::evaluationSuspended, m_engine,
                &JsRte::onDebuggerSuspend, Qt::DirectConnection);
    }

    m_engine->setInstance(this);
    m_engine->setUiHost(this);

    m_engine->registerExtension(new JsRteType, JsRte::DeleteOnDestroy);
    m_engine->registerExtension(new JsRteTimer, JsRte::DeleteOnDestroy);
    m_engine->registerExtension(new JsRteFileSystem, JsRte::DeleteOnDestroy);
    m_engine->registerExtension(new JsQErfc(m_stack), JsRte::DeleteOnDestroy);
    m_engine->registerExtension(new JsPlot, JsRte::DeleteOnDestroy);
    m_engine->registerWidgetFactory(new JsRteTableWidgetFactory, JsRte::DeleteOnDestroy);
    m_engine->registerWidgetFactory(new JsPlotWidgetFactory, JsRte::DeleteOnDestroy);

    if (m_debugger)
        m_debugger->attachTo(m_engine);
}

bool ScriptWidget::start(const std::function<void()>& run)
{
    try {
        setupEngine();
        emit aboutToRun();
        run();
    } catch (const JsRteException& e) {
        QMessageBox::critical(this, tr("Script Error"), tr("Error %1").arg(QString::fromUtf8(e.what())),
                              QMessageBox::Ok);
        return false;
    }
    return true;
}

bool ScriptWidget::startPackage(const QByteArray& data)
{
    return start([&] { m_engine->startPackage(data, true); });
}

bool ScriptWidget::loadScriptFile()
{
    m_scriptPath = QFileDialog::getOpenFileName(this, tr("Please select script"));
    if (m_scriptPath.isEmpty())
        return false;
    const QFileInfo info(m_scriptPath);
    if (!info.exists())
        return false;
    if (info.fileName().contains(QLatin1String(".tar.gz"))) {
        QFile file(m_scriptPath);
        if (!file.open(QIODevice::ReadOnly))
            return false;
        const QByteArray data = file.readAll();
        file.close();
        return startPackage(data);
    }
    return start([&] { m_engine->startScript(m_scriptPath, false); });
}
