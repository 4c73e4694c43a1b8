#include "cargo2updatedialog.h"
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
} // namespace

class Cargo2UpdateDialogPrivate
{
public:
    Ui::Cargo2UpdateDialog m_ui;
    QErfcStack* m_stack = nullptr;
    QCargo* m_cargo = nullptr;
    quint8 m_address = 0;
    QString m_errorString;
    QByteArray m_image;
    qint64 m_bytesWritten = 0;
    // Set once the dialog ends: stream and node-manager signals are ignored.
    bool m_ending = false;

    void log(const QString& line) { m_ui.textEditLog->append(line); }
    // Hands a remaining stream over to itself: it no longer reaches the
    // dialog, is disconnected and deletes itself once it reports so.
    void releaseStream(QObject* dialog);
};

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
    d->m_ui.setupUi(this);
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
    d->m_ui.labelPath->setText(QFileInfo(fileName).fileName());

    connect(ErfcNodeManager::instance(), &ErfcNodeManager::drcUpdate, this,
            &Cargo2UpdateDialog::onErfcDrcUpdate);
    d->log(QStringLiteral(" - connecting ..."));
    ErfcNodeManager::instance()->resetNode(d->m_address, QErfc::Maintenance);
    return QDialog::exec();
}

void Cargo2UpdateDialog::reject()
{
    // Escape, the close button and the Cancel button all end the same way.
    if (!d->m_ending) {
        d->m_ending = true;
        disconnect(ErfcNodeManager::instance(), &ErfcNodeManager::drcUpdate, this,
                   &Cargo2UpdateDialog::onErfcDrcUpdate);
        d->releaseStream(this);
        ErfcNodeManager::instance()->resetNode(d->m_address, QErfc::Application);
    }
    QDialog::reject();
}

void Cargo2UpdateDialog::onErfcDrcUpdate(uchar addr, QErfc::DrcUpdate state, QErfc::Mode mode)
{
    if (d->m_ending || addr != d->m_address || state != QErfc::NewNode || mode != QErfc::Maintenance)
        return;
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
}

void Cargo2UpdateDialog::onCargoStateChanged(QCargo::CargoState cargoState)
{
    if (d->m_ending)
        return;
    if (cargoState == QCargo::StateConnected) {
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
    d->m_ui.progressBar->setMaximum(int(total));
    d->m_ui.progressBar->setValue(int(bytes));
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
    d->m_ui.pushButtonCancel->setText(tr("close"));
}
