#include "servicemenuwidget.h"
#include "ui_servicemenuwidget.h"

#include "erfcnodeinfo.h"
#include "erfcnodemanager.h"
#include "erfcservicerequest_p.h"
#include "qerfcexception.h"
#include "qerfcstack.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDateTime>
#include <QMessageBox>
#include <QTimer>

#include <functional>

namespace {
enum ServiceCommand : quint8 {
    SetAddress = 0x80,
    Password = 0x81,
    SetTime = 0x82,
};
enum PasswordAction : quint8 {
    Unlock = 0x00,
    Change = 0x01,
};

QByteArray servicePayload(const std::function<void(QDataStream&)>& write)
{
    QByteArray payload;
    QDataStream stream(&payload, QIODevice::WriteOnly);
    stream.setByteOrder(QDataStream::LittleEndian);
    write(stream);
    return payload;
}

bool isLatin1(const QString& text)
{
    for (const QChar c : text) {
        if (c.unicode() > 0xff)
            return false;
    }
    return true;
}

QByteArray md5(const QString& text)
{
    return QCryptographicHash::hash(text.toLatin1(), QCryptographicHash::Md5);
}
} // namespace

class ServiceMenuWidgetPrivate
{
public:
    Ui::ServiceMenuWidget m_ui;
    QErfcStack* m_stack = nullptr;
    QTimer m_clockTimer;
    quint8 m_address = 0;

    // Why the node may not take this address, or empty when it may.
    QString addressRefusal(quint8 newAddress) const;
    // Shows a failure as prefix + reason.
    void showFailure(QWidget* view, const QString& failurePrefix, const QString& reason) const;
    // Sends one service request and shows a failure as prefix + code name;
    // true when the node answered OK.
    bool request(QWidget* view, const QByteArray& payload, const QString& failurePrefix);
};

bool ServiceMenuWidgetPrivate::request(QWidget* view, const QByteArray& payload,
                                       const QString& failurePrefix)
{
    QString failure;
    try {
        const QErfcIncomingResponse response = ErfcServiceRequest::call(m_stack, m_address, payload);
        if (response.responseCode() == QErfc::OK)
            return true;
        failure = response.responseCodeString();
    } catch (const QErfcException& e) {
        failure = QString::fromLatin1(e.what());
    }
    showFailure(view, failurePrefix, failure);
    return false;
}

void ServiceMenuWidgetPrivate::showFailure(QWidget* view, const QString& failurePrefix,
                                           const QString& reason) const
{
    QMessageBox::critical(view, ServiceMenuWidget::tr("Error"), failurePrefix + reason, QMessageBox::Ok);
}

QString ServiceMenuWidgetPrivate::addressRefusal(quint8 newAddress) const
{
    // The node's own address again is harmless: it is the one present there.
    if (newAddress == m_address)
        return {};
    // Frames to the program's address never leave it: the node would be
    // unreachable until it is moved by other means.
    if (newAddress == m_stack->address())
        return ServiceMenuWidget::tr("address %1 is this program's own address").arg(newAddress);
    // Two nodes at one address answer in turn, and neither can be told apart.
    const ErfcNodeManager* manager = ErfcNodeManager::instance();
    if (!manager->isPresent(newAddress))
        return {};
    // Named as the node tree shows it: with its description once read.
    QString holder = QString::number(newAddress);
    if (const ErfcNodeInfo* record = manager->nodeInfo(newAddress)) {
        const QString description = record->nodeDescription();
        if (!description.isEmpty())
            holder = QStringLiteral("%1 : %2").arg(holder, description);
    }
    return ServiceMenuWidget::tr("address %1 is in use by node %2").arg(newAddress).arg(holder);
}

ServiceMenuWidget::ServiceMenuWidget(QErfcStack* stack, quint8 address, QWidget* parent)
    : QWidget(parent)
    , d(new ServiceMenuWidgetPrivate)
{
    d->m_stack = stack;
    d->m_address = address;
    d->m_ui.setupUi(this);
    d->m_ui.spinBoxErfcAddress->setValue(address);
    d->m_ui.dateTimeEditTimeSelected->setDateTime(QDateTime::currentDateTime());
    d->m_clockTimer.setSingleShot(false);
    d->m_clockTimer.setInterval(500);
    connect(&d->m_clockTimer, &QTimer::timeout, this, &ServiceMenuWidget::onUpdateTimeTimerTimeout);
    d->m_clockTimer.start();
}

ServiceMenuWidget::~ServiceMenuWidget() = default;

quint8 ServiceMenuWidget::address() const
{
    return d->m_address;
}

void ServiceMenuWidget::onUpdateTimeTimerTimeout()
{
    if (d->m_ui.checkBoxTimeCurrent->isChecked())
        d->m_ui.dateTimeEditTimeSelected->setDateTime(QDateTime::currentDateTime());
}

void ServiceMenuWidget::on_pushButtonErfcAddressSet_clicked()
{
    const quint8 newAddress = quint8(d->m_ui.spinBoxErfcAddress->value());
    const QString refusal = d->addressRefusal(newAddress);
    if (!refusal.isEmpty()) {
        d->showFailure(this, tr("Set address fail: "), refusal);
        return;
    }
    const QByteArray payload = servicePayload([newAddress](QDataStream& s) {
        s << quint8(SetAddress) << newAddress;
    });
    if (!d->request(this, payload, tr("Set address fail: ")))
        return;
    // The node answers at its new address from now on; the old one may soon
    // belong to another node.
    d->m_address = newAddress;
    setWindowTitle(tr("Service Menu Node %1").arg(newAddress));
}

void ServiceMenuWidget::on_pushButtonPasswordSet_clicked()
{
    const QString current = d->m_ui.lineEditPasswordCurrent->text();
    const QString next = d->m_ui.lineEditPasswordNew->text();
    // Other characters would all turn into the same '?' and collide.
    if (!isLatin1(current) || !isLatin1(next)) {
        QMessageBox::critical(this, tr("Error"), tr("Password must contain Latin-1 characters only"),
                              QMessageBox::Ok);
        return;
    }
    const QByteArray unlockDigest = md5(current);
    const QByteArray unlock = servicePayload([&unlockDigest](QDataStream& s) {
        s << quint8(Password) << quint8(Unlock);
        s.writeRawData(unlockDigest.constData(), unlockDigest.size());
    });
    if (!d->request(this, unlock, tr("Unlock password fail: ")))
        return;
    const QByteArray newDigest = next.isEmpty() ? QByteArray(16, '\0') : md5(next);
    const QByteArray change = servicePayload([&newDigest](QDataStream& s) {
        s << quint8(Password) << quint8(Change);
        s.writeRawData(newDigest.constData(), newDigest.size());
    });
    d->request(this, change, tr("Set password fail: "));
}

void ServiceMenuWidget::on_pushButtonTimeSet_clicked()
{
    const qint64 seconds = d->m_ui.dateTimeEditTimeSelected->dateTime().toMSecsSinceEpoch() / 1000;
    const QByteArray payload = servicePayload([seconds](QDataStream& s) {
        s << quint8(SetTime) << qint32(quint32(quint64(seconds) & 0xffffffffu));
    });
    d->request(this, payload, tr("Set time fail: "));
}

void ServiceMenuWidget::on_dateTimeEditTimeSelected_editingFinished()
{
    d->m_ui.checkBoxTimeCurrent->setChecked(false);
}

void ServiceMenuWidget::on_checkBoxTimeCurrent_toggled(bool checked)
{
    if (checked)
        d->m_ui.dateTimeEditTimeSelected->setDateTime(QDateTime::currentDateTime());
}
