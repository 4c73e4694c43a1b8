#include "connectiondialog.h"
#include "ui_connectiondialog.h"

#include "serialdevice.h"
#include "serialportlist.h"
#include "startupflags.h"
#include "tcpsocketdevice.h"

#include <QHostAddress>
#include <QMessageBox>

namespace {

constexpr quint16 defaultTcpPort = 1328;
constexpr quint32 dialogBaudRate = 115200;

enum ConnectionType { Tcp = 0, Serial = 1 };

// Our own USB interfaces carry this mark in their serial number.
const QString interfaceMark = QStringLiteral("ORVIK");

} // namespace

ConnectionDialog::ConnectionDialog(QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::ConnectionDialog)
{
    ui->setupUi(this);
    ui->comboBox->setCurrentIndex(Tcp);
    ui->comboBoxPort->hide();
    ui->pushButtonRefreshPorts->hide();
}

ConnectionDialog::~ConnectionDialog()
{
    delete ui;
}

void ConnectionDialog::setOwnAddress(quint8 address)
{
    ui->spinBoxOwnAddress->setValue(address);
}

int ConnectionDialog::ownAddress() const
{
    return ui->spinBoxOwnAddress->value();
}

void ConnectionDialog::openTcp(const QString& address, quint16 port)
{
    m_description = QStringLiteral("TCP/IP %1:%2").arg(address, QString::number(port));
    m_device = new TcpSocketDevice(QHostAddress(address), port);
}

void ConnectionDialog::openSerial(const QString& portName, quint32 baudRate)
{
    m_description = QStringLiteral("Serial %1:%2").arg(portName, QString::number(baudRate));
    m_device = new SerialDevice(portName, qint32(baudRate));
}

void ConnectionDialog::on_comboBox_currentIndexChanged(int index)
{
    if (index == Serial) {
        ui->lineEditAddress->hide();
        ui->pushButtonRefreshPorts->show();
        ui->comboBoxPort->show();
        on_pushButtonRefreshPorts_clicked();
    } else {
        ui->pushButtonRefreshPorts->hide();
        ui->comboBoxPort->hide();
        ui->lineEditAddress->show();
    }
    // Grow wide enough for the whole port text; never shrink.
    ui->groupBox->updateGeometry();
    resize(qMax(width(), sizeHint().width()), height());
}

void ConnectionDialog::on_pushButtonRefreshPorts_clicked()
{
    ui->comboBoxPort->clear();
    const QList<SerialPortEntry> ports = availableSerialPorts();
    for (const SerialPortEntry& entry : ports) {
        QString serialNumber = entry.serialNumber;
        QString description = entry.description;
        const bool ours = serialNumber.contains(interfaceMark);
        if (!ours && !viewAllSerialInterfaces)
            continue;
        if (ours) {
            // The mark and the check character after it are not part of
            // the number the user knows.
            serialNumber.remove(interfaceMark);
            serialNumber.chop(1);
            description = QStringLiteral("Orvik - USB Interface");
        }
        ui->comboBoxPort->addItem(
            QStringLiteral("%1: %2 (%3)").arg(entry.portName, description, serialNumber),
            entry.portName);
    }
}

void ConnectionDialog::on_pushButtonConnect_clicked()
{
    if (ui->comboBox->currentIndex() == Tcp) {
        const QStringList parts = ui->lineEditAddress->text().split(QLatin1Char(':'));
        quint16 port = defaultTcpPort;
        // An IPv6 address has several colons and therefore takes the default
        // port; only "address:port" carries a port of its own.
        if (parts.size() == 2) {
            bool ok = false;
            const qulonglong value = parts.at(1).toULongLong(&ok, 10);
            if (!ok) {
                QMessageBox::critical(this, QStringLiteral("Check port"),
                                      QStringLiteral("address should look like 192.168.1.1:1328"));
                return;
            }
            port = quint16(value);
        }
        openTcp(parts.first(), port);
        hide();
        return;
    }

    if (ui->comboBoxPort->currentIndex() < 0) {
        QMessageBox::critical(this, QStringLiteral("Check port"), QStringLiteral("No port selected"));
        return;
    }
    openSerial(ui->comboBoxPort->currentData().toString(), dialogBaudRate);
    hide();
}

void ConnectionDialog::on_pushButtonCancel_clicked()
{
    hide();
}
