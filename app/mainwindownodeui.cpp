#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "erfcnodeinfo.h"
#include "erfcnodemanager.h"
#include "logdockwidget.h"
#include "qcargonode.h"
#include "qerfcguiwait.h"
#include "qerfcrequest.h"
#include "scriptwidget.h"

#include <QCryptographicHash>
#include <QInputDialog>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QPointer>

namespace {

// The node's side of a user-interface download.
constexpr quint8 NodeUiCargoFunction = 123;
constexpr quint8 NodeUiControlFunction = 124;
constexpr char Authenticate = 0x00;
constexpr char ReadName = 0x10;
constexpr char Select = 0x20;

// How long the stream may take to connect before the node counts as busy.
constexpr int ConnectBoundMs = 10000;

const char* const BusyText =
    QT_TRANSLATE_NOOP("MainWindow", "Target is busy or not supported, please try again in a few seconds.");

enum class Outcome { NotSent, TimedOut, Answered };

// Sends a request for function 124 of addr and waits for its answer, at most
// as long as the stack's retries can take and a second more. The GUI thread
// is marked waiting meanwhile, so that a node calling a script's function
// now is answered at once instead of waiting for this thread. The request
// lives on the heap and deletes itself once the stack has completed it, also
// after a wait that ran out.
Outcome exchange(QErfcStack* stack, uchar addr, const QByteArray& payload, QErfcIncomingResponse* answer)
{
    auto* request = new QErfcRequest(addr, NodeUiControlFunction, payload);
    QObject::connect(request, &QErfcRequest::finished, request, &QObject::deleteLater);
    if (!stack->send(request)) {
        delete request;
        return Outcome::NotSent;
    }
    const int boundMs = (int(request->retries()) + 1) * int(request->timeout()) + 1000;
    bool answered;
    {
        QErfcGuiWait waiting;
        answered = request->waitForResponse(boundMs);
    }
    if (!answered)
        return Outcome::TimedOut;
    // Completed: finished has been emitted and the deletion is queued to
    // this thread, which does not run its event loop before this returns.
    *answer = request->response();
    return Outcome::Answered;
}

} // namespace

void MainWindow::onNodesDockWidgetScriptCargoRequested(uchar addr)
{
    if (m_scriptWindows.contains(addr)) {
        QMessageBox::information(this, tr("Error"), tr("Only one user interface per node is allowed"),
                                 QMessageBox::Ok);
        return;
    }
    bool ok = false;
    const QString password = QInputDialog::getText(this, tr("Password"), tr("Please enter user password"),
                                                   QLineEdit::Password, QString(), &ok);
    if (!ok)
        return;
    const QByteArray digest = QCryptographicHash::hash(password.toLatin1(), QCryptographicHash::Md5);

    auto* cargo = new QCargoNode(m_erfcStack, addr, NodeUiCargoFunction);
    cargo->connectToNode();
    bool connected;
    {
        QErfcGuiWait waiting;
        connected = cargo->waitForConnected(ConnectBoundMs);
    }
    if (!connected) {
        delete cargo;
        QMessageBox::information(this, tr("Error"), tr(BusyText), QMessageBox::Ok);
        return;
    }
    // Both arrive queued from the stream's own thread.
    connect(cargo, &QCargo::readyRead, this, &MainWindow::onCargoReadyReadStartScript, Qt::QueuedConnection);
    connect(cargo, &QCargo::disconnected, this, &MainWindow::onCargoDisconnectedStartScript,
            Qt::QueuedConnection);
    connect(cargo, &QCargo::disconnected, cargo, &QObject::deleteLater);
    // Tracked until it goes, so that the window deletes it before the stack.
    m_downloads.insert(cargo);
    connect(cargo, &QObject::destroyed, this, [this, cargo] {
        m_downloads.remove(cargo);
        m_choosing.remove(cargo);
    });

    const auto tearDown = [&](const QString& title, const QString& text) {
        disconnect(cargo, &QCargo::readyRead, this, &MainWindow::onCargoReadyReadStartScript);
        disconnect(cargo, &QCargo::disconnected, this, &MainWindow::onCargoDisconnectedStartScript);
        cargo->disconnectFromNode();
        QMessageBox::information(this, title, text, QMessageBox::Ok);
    };
    const auto tearDownAfter = [&](Outcome outcome, const QErfcIncomingResponse& answer, const QString& notSent) {
        if (outcome == Outcome::NotSent)
            tearDown(tr("Error"), notSent);
        else if (outcome == Outcome::TimedOut)
            tearDown(tr("Error"), tr(BusyText));
        else
            tearDown(tr("Error"), answer.responseCodeString());
    };

    QErfcIncomingResponse answer;
    Outcome outcome = exchange(m_erfcStack, addr, QByteArray(1, Authenticate) + digest, &answer);
    int count = 0;
    if (outcome == Outcome::Answered && answer.responseCode() == QErfc::Busy) {
        tearDown(tr("Target is busy"), tr("Please try again in a few seconds."));
        return;
    }
    if (outcome == Outcome::Answered && answer.responseCode() == QErfc::Specific1) {
        tearDown(tr("Error"), tr("Wrong password!"));
        return;
    }
    if (outcome != Outcome::Answered || answer.responseCode() != QErfc::OK) {
        tearDownAfter(outcome, answer, tr("Can't send authentification request to target."));
        return;
    }
    if (!answer.payload().isEmpty())
        count = quint8(answer.payload().at(0));

    QStringList names;
    for (int i = 0; i < count; ++i) {
        outcome = exchange(m_erfcStack, addr, QByteArray(1, ReadName) + char(i), &answer);
        if (outcome != Outcome::Answered || answer.responseCode() != QErfc::OK) {
            tearDownAfter(outcome, answer, tr("Can't send request to target."));
            return;
        }
        const QByteArray payload = answer.payload();
        const int end = payload.indexOf('\0');
        names << QString::fromLatin1(end < 0 ? payload : payload.left(end));
    }
    if (names.isEmpty()) {
        tearDown(tr("Error"), tr("No Scripts received!"));
        return;
    }

    // The choice runs an event loop: the stream may end meanwhile (the node
    // left or restarted) and delete itself. Until the selection is sent, its
    // end is this dialogue's to report: its disconnection may already be on
    // its way to this window when the dialogue returns, and is ignored then.
    const QPointer<QCargoNode> stream(cargo);
    m_choosing.insert(cargo);
    const QString chosen = QInputDialog::getItem(this, tr("Select UI"), tr("Select the desired user interface."),
                                                 names, 0, false, &ok);
    if (!stream) {
        QMessageBox::information(this, tr("Error"), tr("Can't send request to target."), QMessageBox::Ok);
        return;
    }
    if (!ok || cargo->state() != QCargo::StateConnected) {
        tearDown(tr("Error"), tr("Can't send request to target."));
        return;
    }
    // Nothing answers a selection: the stack keeps only a copy of it.
    QErfcRequest select(addr, NodeUiControlFunction, QByteArray(1, Select) + char(names.indexOf(chosen)));
    select.setNoResponse(true);
    if (!m_erfcStack->send(&select)) {
        tearDown(tr("Error"), tr("Can't send request to target."));
        return;
    }
    // From here the stream's end reports the download.
    m_choosing.remove(cargo);
}

void MainWindow::onCargoReadyReadStartScript()
{
    auto* cargo = dynamic_cast<QCargoNode*>(sender());
    if (cargo && cargo->isReadable())
        cargo->collect();
}

void MainWindow::onCargoDisconnectedStartScript()
{
    auto* cargo = dynamic_cast<QCargoNode*>(sender());
    if (!cargo || m_choosing.contains(cargo))
        return;
    // The last window's readyRead may come after this from the stream's
    // other thread: whatever is still readable belongs to the package. The
    // stream stays open for reading until its last bytes have been read.
    if (cargo->isReadable())
        cargo->collect();
    const uchar addr = cargo->remoteAddress();
    const ErfcNodeInfo* record = ErfcNodeManager::instance()->nodeInfo(addr);
    if (!record) {
        QMessageBox::information(this, tr("Error"), tr("Target not available."), QMessageBox::Ok);
        return;
    }
    if (cargo->buffer().isEmpty()) {
        QMessageBox::information(this, tr("Error"), tr("No data received."), QMessageBox::Ok);
        return;
    }
    const QByteArray package = cargo->buffer();
    const QString description = record->nodeDescription();
    auto* script = new ScriptWidget(m_erfcStack, addr, this);
    auto* log = new LogDockWidget(tr("%1 : %2 - UI Log").arg(addr).arg(description), this);
    // A downloaded interface's log starts hidden.
    startScriptWindow(script, log, false, [script, package] { return script->startPackage(package); },
                      [this, addr](QMdiSubWindow* window) {
                          m_scriptWindows.insert(addr, window);
                          registerNodeWindow(addr, window);
                      });
}
