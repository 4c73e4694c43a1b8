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
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QIcon>
#include <QMessageBox>
#include <QScriptEngineDebugger>
#include <QTimer>

namespace {

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

    // Normal and error output of the scripts leave through one signal.
    connect(m_engine, &JsRte::print, this, &ScriptWidget::printDebugMessage, Qt::DirectConnection);
    connect(m_engine, &JsRte::printE, this, &ScriptWidget::printDebugMessage, Qt::DirectConnection);
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
