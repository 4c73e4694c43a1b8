#include "cargo2updatedialog.h"
#include "cargo2updatedialog_p.h"
#include "ui_cargo2updatedialog.h"

#include "erfcnodemanager.h"
#include "erfcservicerequest_p.h"
#include "qerfcdatagram.h"
#include "qerfcexception.h"
#include "qerfcstack.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QThread>

namespace {
constexpr quint8 FirmwareFunctionId = 126;
constexpr quint8 ServiceFunctionId = 127;
constexpr char CatchCommand = 0x00;
constexpr char FlashStateCommand = 0x14;
constexpr int CatchCount = 5;
constexpr unsigned long CatchPauseMs = 10;
constexpr quint8 FlashOk = 0x01;
// The object name (and the address) of a watch for a cancelled node's return.
constexpr char ReturnWatchName[] = "firmwareUpdateReturnWatch";

QString flashStatusText(quint8 status)
{
    switch (status) {
    case 0x00: return QStringLiteral("no flash state available");
    case 0x10: return QStringLiteral("flash error");
    case 0x11: return QStringLiteral("flash crc error");
    case 0x20: return QStringLiteral("header preamble, no firmware header found");
    case 0x21: return QStringLiteral("header type not for this bootloader");
    case 0x22: return QStringLiteral("header crc error");
    case 0x23: return QStringLiteral("no binary image");
    case 0x24: return QStringLiteral("vectab smaller then allowed or not 256byte alligned");
    case 0x25: return QStringLiteral("firmware header to long");
    case 0x26: return QStringLiteral("firmware is not comressed");
    default: return QString();
    }
}

QString returnWatchName(quint8 address)
{
    return QLatin1String(ReturnWatchName) + QString::number(address);
}

// A node that was restarting when its update was cancelled did not get the
// reset back into its application: it finds no node while the node is down.
// Sends it once the node is back in Maintenance; a node back in its
// application needs nothing. The system log says so when the node is not
// back within `waitMs`. One per address: a new update of the node drops it.
void resetWhenBack(quint8 address, int waitMs)
{
    ErfcNodeManager* manager = ErfcNodeManager::instance();
    auto* watch = new QObject(manager);
    watch->setObjectName(returnWatchName(address));
    auto* timer = new QTimer(watch);
    timer->setSingleShot(true);
    // Once only: later reports and the timer no longer reach it.
    const auto finish = [manager, watch, timer] {
        QObject::disconnect(manager, nullptr, watch, nullptr);
        timer->stop();
        watch->deleteLater();
    };
    QObject::connect(manager, &ErfcNodeManager::drcUpdate, watch,
                     [manager, address, finish](uchar addr, QErfc::DrcUpdate state, QErfc::Mode mode) {
                         if (addr != address || state != QErfc::NewNode)
                             return;
                         finish();
                         if (mode == QErfc::Maintenance)
                             manager->resetNode(address, QErfc::Application);
                     });
    QObject::connect(timer, &QTimer::timeout, watch, [manager, address, waitMs, finish] {
        finish();
        emit manager->message(Cargo2UpdateDialog::tr("Node %1 did not come back within %2 s after its "
                                                     "firmware update was cancelled: it may still be in "
                                                     "Maintenance.")
                                  .arg(address)
                                  .arg(waitMs / 1000));
    });
    timer->start(waitMs);
}

void dropReturnWatch(quint8 address)
{
    const QList<QObject*> watches = ErfcNodeManager::instance()->findChildren<QObject*>(
        returnWatchName(address), Qt::FindDirectChildrenOnly);
    qDeleteAll(watches);
}
} // namespace

Cargo2UpdateDialogPrivate::Cargo2UpdateDialogPrivate()
    : m_ui(new Ui::Cargo2UpdateDialog)
{
    m_restartWait.setSingleShot(true);
}

Cargo2UpdateDialogPrivate::~Cargo2UpdateDialogPrivate() = default;

void Cargo2UpdateDialogPrivate::log(const QString& line)
{
    m_ui->textEditLog->append(line);
}

void Cargo2UpdateDialogPrivate::releaseStream(QObject* dialog)
{
    QCargo* cargo = m_cargo;
    m_cargo = nullptr;
    if (!cargo)
        return;
    QObject::disconnect(cargo, nullptr, dialog, nullptr);
    QObject::connect(cargo, &QCargo::disconnected, cargo, &QObject::deleteLater);
    cargo->disconnectFromNode();
    // Already down (a refused connect, or the end raced with us): no further
    // disconnected may come. A second deleteLater is harmless.
    if (cargo->state() == QCargo::StateDisconnected)
        cargo->deleteLater();
}

Cargo2UpdateDialog::Cargo2UpdateDialog(QErfcStack* stack, quint8 address, QWidget* parent)
    : QDialog(parent)
    , d(new Cargo2UpdateDialogPrivate)
{
    d->m_stack = stack;
    d->m_address = address;
    d->m_ui->setupUi(this);
    connect(&d->m_restartWait, &QTimer::timeout, this, &Cargo2UpdateDialog::onRestartWaitOver);
}

Cargo2UpdateDialog::~Cargo2UpdateDialog()
{
    // A dialog destroyed without ending still must not leave its stream.
    d->releaseStream(this);
}

QString Cargo2UpdateDialog::errorString() const
{
    return d->m_errorString;
}

int Cargo2UpdateDialog::exec()
{
    const QString fileName = QFileDialog::getOpenFileName(this, tr("Select Firmware file"));
    if (fileName.isEmpty())
        return 0;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        d->m_errorString = tr("Can't read File.");
        return -1;
    }
    d->m_image = file.readAll();
    file.close();
    // Nothing to stream: the node would wait in Maintenance for an image
    // that never starts.
    if (d->m_image.isEmpty()) {
        d->m_errorString = tr("The firmware file is empty.");
        return -1;
    }
    d->m_ui->labelPath->setText(QFileInfo(fileName).fileName());

    // A node left restarting by an earlier update is this update's now.
    dropReturnWatch(d->m_address);
    connect(ErfcNodeManager::instance(), &ErfcNodeManager::drcUpdate, this,
            &Cargo2UpdateDialog::onErfcDrcUpdate);
    d->log(QStringLiteral(" - connecting ..."));
    d->m_restarting = true;
    d->m_restartWait.start(d->m_restartWaitMs);
    ErfcNodeManager::instance()->resetNode(d->m_address, QErfc::Maintenance);
    return QDialog::exec();
}

void Cargo2UpdateDialog::reject()
{
    // Escape, the close button and the Cancel button all end the same way.
    if (!d->m_ending) {
        d->m_ending = true;
        d->m_restartWait.stop();
        disconnect(ErfcNodeManager::instance(), &ErfcNodeManager::drcUpdate, this,
                   &Cargo2UpdateDialog::onErfcDrcUpdate);
        d->releaseStream(this);
        ErfcNodeManager::instance()->resetNode(d->m_address, QErfc::Application);
        // Down for its restart, the node does not get that reset.
        if (d->m_restarting)
            resetWhenBack(d->m_address, d->m_restartWaitMs);
    }
    QDialog::reject();
}

void Cargo2UpdateDialog::onErfcDrcUpdate(uchar addr, QErfc::DrcUpdate state, QErfc::Mode mode)
{
    if (d->m_ending || addr != d->m_address || state != QErfc::NewNode)
        return;
    d->m_restarting = false;
    // Back in its application (its catch missed, say): still waited for
    // until the wait is over, as it may yet be reset into Maintenance.
    if (mode != QErfc::Maintenance)
        return;
    d->m_restartWait.stop();
    disconnect(ErfcNodeManager::instance(), &ErfcNodeManager::drcUpdate, this,
               &Cargo2UpdateDialog::onErfcDrcUpdate);
    sendCatchRequest();

    d->m_cargo = new QCargo(d->m_stack, d->m_address, FirmwareFunctionId);
    connect(d->m_cargo, &QCargo::error, this, &Cargo2UpdateDialog::onCargoError);
    connect(d->m_cargo, &QCargo::stateChanged, this, &Cargo2UpdateDialog::onCargoStateChanged);
    connect(d->m_cargo, &QCargo::finished, this, &Cargo2UpdateDialog::onCargoFinished);
    connect(d->m_cargo, &QCargo::transactionProgress, this,
            &Cargo2UpdateDialog::onCargoTransactionProgress);
    connect(d->m_cargo, &QCargo::disconnected, this, &Cargo2UpdateDialog::onCargoDisconnected);
    d->m_cargo->connectToNode();
}

void Cargo2UpdateDialog::onRestartWaitOver()
{
    if (d->m_ending)
        return;
    disconnect(ErfcNodeManager::instance(), &ErfcNodeManager::drcUpdate, this,
               &Cargo2UpdateDialog::onErfcDrcUpdate);
    d->log(QStringLiteral(" - Error: Node didn't come back in Maintenance within %1 s, update not started")
               .arg(d->m_restartWaitMs / 1000));
}

void Cargo2UpdateDialog::sendCatchRequest()
{
    try {
        QErfcDatagram datagram(d->m_address, ServiceFunctionId, QByteArray(1, CatchCommand));
        for (int i = 0; i < CatchCount; ++i) {
            d->m_stack->send(&datagram);
            QThread::msleep(CatchPauseMs);
        }
    } catch (const QErfcException&) {
        // The node may still take the stream without being caught.
    }
}

void Cargo2UpdateDialog::onCargoError(QCargo::CargoError cargoError)
{
    if (d->m_ending)
        return;
    d->log(QStringLiteral(" - Error: %1").arg(QCargo::errorString(cargoError)));
    // A failed connect is final (the stream has given up its retries by
    // then), and the stream would stay connecting until told otherwise.
    if (!d->m_connected && d->m_cargo) {
        d->releaseStream(this);
        d->log(QStringLiteral(" - Error: Can't connect to the firmware channel, update not started"));
    }
}

void Cargo2UpdateDialog::onCargoStateChanged(QCargo::CargoState cargoState)
{
    if (d->m_ending)
        return;
    if (cargoState == QCargo::StateConnected) {
        d->m_connected = true;
        d->log(QStringLiteral(" - uploading ..."));
        d->m_bytesWritten = 0;
        if (d->m_cargo)
            d->m_cargo->write(d->m_image);
    } else if (cargoState == QCargo::StateDisconnected) {
        if (d->m_bytesWritten != d->m_image.size()) {
            d->log(QStringLiteral(" - ERROR: Only %1 of %2 Bytes written")
                       .arg(d->m_bytesWritten)
                       .arg(d->m_image.size()));
        }
        checkFlashState();
    }
}

void Cargo2UpdateDialog::onCargoFinished()
{
    if (d->m_ending)
        return;
    if (d->m_cargo)
        d->m_cargo->disconnectFromNode();
}

void Cargo2UpdateDialog::onCargoDisconnected()
{
    if (!d->m_cargo)
        return;
    d->m_cargo->deleteLater();
    d->m_cargo = nullptr;
}

void Cargo2UpdateDialog::onCargoTransactionProgress(qint64 bytes, qint64 total)
{
    if (d->m_ending)
        return;
    d->m_bytesWritten = bytes;
    d->m_ui->progressBar->setMaximum(int(total));
    d->m_ui->progressBar->setValue(int(bytes));
}

void Cargo2UpdateDialog::on_pushButtonCancel_clicked()
{
    reject();
}

void Cargo2UpdateDialog::checkFlashState()
{
    QErfc::ResponseCode code = QErfc::ConnectionError;
    QByteArray payload;
    bool sent = false;
    try {
        const QErfcIncomingResponse response = ErfcServiceRequest::call(
            d->m_stack, d->m_address, QByteArray(1, FlashStateCommand), &sent);
        code = response.responseCode();
        payload = response.payload();
    } catch (const QErfcException&) {
        sent = false; // refused by the stack, e.g. while it is disabled
    }
    if (!sent) {
        d->log(QStringLiteral(" - Error: Can't send get flash state request"));
        return;
    }
    if (code != QErfc::OK) {
        d->log(QStringLiteral(" - Error: Can't get flash state"));
        return;
    }
    const quint8 status = payload.isEmpty() ? 0 : quint8(payload.at(0));
    if (status == FlashOk) {
        d->log(QStringLiteral(" - Update sucessfull"));
    } else {
        d->log(QStringLiteral(" - Error: %1, %2")
                   .arg(QString::number(status, 16).toUpper(), flashStatusText(status)));
    }
    d->m_ui->pushButtonCancel->setText(tr("close"));
}
