#ifndef CONNECTIONDIALOG_H
#define CONNECTIONDIALOG_H

#include <QDialog>

class ErfcDevice;

namespace Ui {
class ConnectionDialog;
}

// Lets the user choose a TCP/IP address or a serial port and the PC's own
// node address, and makes the matching connection device on Connect.
// The device is not owned by the dialog: whoever reads device() takes it.
class ConnectionDialog : public QDialog
{
    Q_OBJECT
public:
    explicit ConnectionDialog(QWidget* parent = nullptr);
    ~ConnectionDialog() override;

    // Presets the own address; values above 62 show as 62.
    void setOwnAddress(quint8 address);
    int ownAddress() const;

    // Make the device without showing the dialog (also used by Connect).
    void openTcp(const QString& address, quint16 port);
    void openSerial(const QString& portName, quint32 baudRate);

    // Null until a device was made.
    ErfcDevice* device() const { return m_device; }
    // "TCP/IP host:port" or "Serial name:rate"; empty until a device was made.
    QString description() const { return m_description; }

private slots:
    void on_comboBox_currentIndexChanged(int index);
    void on_pushButtonRefreshPorts_clicked();
    void on_pushButtonConnect_clicked();
    void on_pushButtonCancel_clicked();

private:
    Ui::ConnectionDialog* ui;
    ErfcDevice* m_device = nullptr;
    QString m_description;
};

#endif // CONNECTIONDIALOG_H
