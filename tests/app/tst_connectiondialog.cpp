#include "connectiondialog.h"
#include "modaldriver.h"
#include "serialdevice.h"
#include "serialportlist.h"
#include "startupflags.h"
#include "tcpsocketdevice.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <memory>

class TestConnectionDialog : public QObject
{
    Q_OBJECT
private slots:
    void cleanup()
    {
        setSerialPortLister({});
        viewAllSerialInterfaces = false;
    }
    void formObjectsAndTexts();
    void modesAndFreshPortList();
    void tcpAddress_data();
    void tcpAddress();
    void serialConnectAndCancel();
    void portFilterAndRename_data();
    void portFilterAndRename();
};

template<typename T = QWidget> T* child(QWidget& dialog, const char* name)
{
    T* widget = dialog.findChild<T*>(QLatin1String(name));
    if (!widget)
        qFatal("no widget %s", name);
    return widget;
}

// Clicks Connect while a driver answers any message box; returns what it saw.
QList<ModalDriver::Seen> clickConnect(ConnectionDialog& dialog)
{
    ModalDriver driver;
    driver.start();
    QTest::mouseClick(child<QPushButton>(dialog, "pushButtonConnect"), Qt::LeftButton);
    return driver.seen();
}

void TestConnectionDialog::formObjectsAndTexts()
{
    ConnectionDialog dialog;
    const struct { const char* name; const char* property; QVariant value; } expected[] = {
        {"ConnectionDialog", "windowTitle", "Connection Dialog"},
        {"ConnectionDialog", "size", QSize(400, 170)},
        {"groupBox", "title", "Connection"},
        {"comboBox", "currentText", "TCP/IP"},
        {"lineEditAddress", "placeholderText", "ip[:port=1328]"},
        {"comboBoxPort", "count", 0},
        {"pushButtonRefreshPorts", "text", "Refresh"},
        {"groupBox_2", "title", "quorvel"},
        {"label", "text", "Own Address:"},
        {"spinBoxOwnAddress", "minimum", 0},
        {"spinBoxOwnAddress", "maximum", 62},
        {"pushButtonConnect", "text", "Connect"},
        {"pushButtonConnect", "default", true},
        {"pushButtonCancel", "text", "Cancel"},
    };
    for (const auto& e : expected) {
        QObject* object = e.name == dialog.objectName() ? &dialog : child(dialog, e.name);
        QCOMPARE(object->property(e.property), e.value);
    }
    QCOMPARE(child<QComboBox>(dialog, "comboBox")->itemText(1), QStringLiteral("Serial"));

    // Own address: a preset above 62 shows and yields 62.
    dialog.setOwnAddress(100);
    QCOMPARE(child(dialog, "spinBoxOwnAddress")->property("value").toInt(), 62);
    QCOMPARE(dialog.ownAddress(), 62);
    QVERIFY(!dialog.device());
    QVERIFY(dialog.description().isEmpty());
}

void TestConnectionDialog::modesAndFreshPortList()
{
    int listings = 0;
    setSerialPortLister([&listings] {
        ++listings;
        return QList<SerialPortEntry>{{QStringLiteral("ttyUSB%1").arg(listings), "", "ORVIK1"}};
    });
    ConnectionDialog dialog;
    dialog.show();
    auto* type = child<QComboBox>(dialog, "comboBox");
    auto* ports = child<QComboBox>(dialog, "comboBoxPort");
    const auto visible = [&dialog] {
        return QVector<bool>{child(dialog, "lineEditAddress")->isVisible(),
                             child(dialog, "comboBoxPort")->isVisible(),
                             child(dialog, "pushButtonRefreshPorts")->isVisible()};
    };
    const QVector<bool> tcp{true, false, false}, serial{false, true, true};

    QCOMPARE(visible(), tcp);
    QCOMPARE(listings, 0);
    for (int round = 1; round <= 2; ++round) {
        type->setCurrentIndex(1);
        QCOMPARE(visible(), serial);
        QCOMPARE(listings, round);
        QCOMPARE(ports->currentData().toString(), QStringLiteral("ttyUSB%1").arg(round));
        type->setCurrentIndex(0);
        QCOMPARE(visible(), tcp);
    }
    type->setCurrentIndex(1);
    QTest::mouseClick(child(dialog, "pushButtonRefreshPorts"), Qt::LeftButton);
    QCOMPARE(listings, 4);
    QCOMPARE(ports->count(), 1);
}

void TestConnectionDialog::tcpAddress_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("host"); // null: refused with the "Check port" box
    QTest::addColumn<int>("port");

    QTest::newRow("address:port") << "192.168.1.1:1328" << "192.168.1.1" << 1328;
    QTest::newRow("no port") << "192.168.1.1" << "192.168.1.1" << 1328;
    QTest::newRow("empty port") << "192.168.1.1:" << QString() << 0;
    QTest::newRow("not a number") << "192.168.1.1:80a" << QString() << 0;
    QTest::newRow("negative") << "192.168.1.1:-1" << QString() << 0;
    QTest::newRow("65536 wraps") << "192.168.1.1:65536" << "192.168.1.1" << 0;
    QTest::newRow("70000 wraps") << "192.168.1.1:70000" << "192.168.1.1" << 4464;
    QTest::newRow("ipv6 loopback") << "::1" << "" << 1328;
    QTest::newRow("ipv6") << "fe80::1:2" << "fe80" << 1328;
}

void TestConnectionDialog::tcpAddress()
{
    QFETCH(QString, text);
    QFETCH(QString, host);
    QFETCH(int, port);

    ConnectionDialog dialog;
    dialog.show();
    child<QLineEdit>(dialog, "lineEditAddress")->setText(text);
    const QList<ModalDriver::Seen> boxes = clickConnect(dialog);
    std::unique_ptr<ErfcDevice> device(dialog.device());
    if (host.isNull()) {
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0].windowTitle, QStringLiteral("Check port"));
        QCOMPARE(boxes[0].text, QStringLiteral("address should look like 192.168.1.1:1328"));
        QCOMPARE(boxes[0].icon, QMessageBox::Critical);
        QVERIFY(!device);
        QVERIFY(dialog.description().isEmpty());
        QVERIFY(dialog.isVisible());
        return;
    }
    QVERIFY(boxes.isEmpty());
    QVERIFY(!dialog.isVisible());
    auto* tcp = qobject_cast<TcpSocketDevice*>(device.get());
    QVERIFY(tcp);
    QCOMPARE(tcp->host(), QHostAddress(host));
    QCOMPARE(int(tcp->port()), port);
    QCOMPARE(dialog.description(), QStringLiteral("TCP/IP %1:%2").arg(host).arg(port));
}

void TestConnectionDialog::serialConnectAndCancel()
{
    QList<SerialPortEntry> list;
    setSerialPortLister([&list] { return list; });
    ConnectionDialog dialog;
    dialog.show();
    child<QComboBox>(dialog, "comboBox")->setCurrentIndex(1);

    const QList<ModalDriver::Seen> boxes = clickConnect(dialog);
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes[0].windowTitle, QStringLiteral("Check port"));
    QCOMPARE(boxes[0].text, QStringLiteral("No port selected"));
    QVERIFY(!dialog.device());
    QVERIFY(dialog.isVisible());

    list = {{"ttyACM3", "d", "12ORVIK9"}};
    QTest::mouseClick(child(dialog, "pushButtonRefreshPorts"), Qt::LeftButton);
    QVERIFY(clickConnect(dialog).isEmpty());
    QVERIFY(!dialog.isVisible());
    std::unique_ptr<ErfcDevice> device(dialog.device());
    auto* serial = qobject_cast<SerialDevice*>(device.get());
    QVERIFY(serial);
    QCOMPARE(serial->portName(), QStringLiteral("ttyACM3"));
    QCOMPARE(serial->baudRate(), 115200);
    QCOMPARE(dialog.description(), QStringLiteral("Serial ttyACM3:115200"));

    ConnectionDialog cancelled;
    cancelled.show();
    QTest::mouseClick(child(cancelled, "pushButtonCancel"), Qt::LeftButton);
    QVERIFY(!cancelled.isVisible());
    QVERIFY(!cancelled.device());
}

void TestConnectionDialog::portFilterAndRename_data()
{
    QTest::addColumn<bool>("viewAll");
    QTest::addColumn<QStringList>("items"); // text, then port name

    const QStringList ours{"ttyUSB0: Orvik - USB Interface (A1B2)", "ttyUSB0",
                           "ttyUSB2: Orvik - USB Interface (0042)", "ttyUSB2",
                           "ttyUSB4: Orvik - USB Interface ()", "ttyUSB4"};
    QTest::newRow("ours only") << false << ours;
    QTest::newRow("every port")
        << true
        << QStringList{ours[0], ours[1], "ttyS0: Built-in port (FT1234)", "ttyS0", ours[2], ours[3],
                       "ttyUSB3: Adapter (orvik77)", "ttyUSB3", ours[4], ours[5], "ttyUSB5:  ()", "ttyUSB5"};
}

void TestConnectionDialog::portFilterAndRename()
{
    QFETCH(bool, viewAll);
    QFETCH(QStringList, items);

    setSerialPortLister([] {
        return QList<SerialPortEntry>{
            {"ttyUSB0", "FT232R USB UART", "A1B2ORVIKX"},
            {"ttyS0", "Built-in port", "FT1234"},
            {"ttyUSB2", "Dual UART", "ORVIK00ORVIK42Z"}, // every mark goes
            {"ttyUSB3", "Adapter", "orvik77"},           // capitals only
            {"ttyUSB4", "x", "ORVIK"},
            {"ttyUSB5", "", ""},
        };
    });
    viewAllSerialInterfaces = viewAll;
    ConnectionDialog dialog;
    child<QComboBox>(dialog, "comboBox")->setCurrentIndex(1);
    auto* ports = child<QComboBox>(dialog, "comboBoxPort");
    QStringList shown;
    for (int i = 0; i < ports->count(); ++i)
        shown << ports->itemText(i) << ports->itemData(i).toString();
    QCOMPARE(shown, items);
    QCOMPARE(ports->currentIndex(), 0);
}

QTEST_MAIN(TestConnectionDialog)
#include "tst_connectiondialog.moc"
