#include "erfcnodeinfo.h"
#include "erfcnodemanager.h"
#include "framelistener.h"
#include "mainwindow.h"
#include "modaldriver.h"
#include "qerfcexception.h"
#include "qerfcstack.h"
#include "qerfcstreaminterface.h"
#include "tcptestdevice.h"

#include <QAction>
#include <QApplication>
#include <QDockWidget>
#include <QLabel>
#include <QPointer>
#include <QSpinBox>
#include <QTextEdit>
#include <QtTest>

// One main window for the whole run (the node manager is process-wide); the
// cases run in order: unconnected, a refused connection, connected to a fake
// node (a second stack behind a loopback port), then to a listener that
// records the frames, and at last destroyed while connected.
class tst_MainWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void unconnected();
    void refusedConnectionAndInvalidAddress();
    void nodeJoinsAndLeaves();
    void viewsOfAReplacedNodeClose();
    void reconnectSaysGoodbyeThenHello();
    void closingEndsTheApplication();
    void destroyWhileConnectedSaysGoodbye();

private:
    QString label(const char* name) const { return window->findChild<QLabel*>(QLatin1String(name))->text(); }
    QString systemLog() const
    {
        return window->findChild<QDockWidget*>(QStringLiteral("systemLog"))->findChild<QTextEdit*>()->toPlainText();
    }
    void trigger(const char* action) { window->findChild<QAction*>(QLatin1String(action))->trigger(); }
    QString tcpState(quint16 port) const { return QStringLiteral("State: TCP/IP 127.0.0.1:%1").arg(port); }

    MainWindow* window = nullptr;
    FrameListener listener;
    // The fake node: address 2 in Maintenance, listening for the window.
    TcpServerTestDevice nodeDevice;
    QErfcStreamInterface nodeLink{&nodeDevice};
    QErfcStack node{2, QErfc::Maintenance};
};

void tst_MainWindow::initTestCase()
{
    QVERIFY(listener.port() != 0 && nodeDevice.port() != 0);
    node.setUniqueId(QByteArray::fromHex("aa01"));
    window = new MainWindow;
    window->show();
}

void tst_MainWindow::cleanupTestCase()
{
    delete window;
    try {
        node.disable();
        node.releaseInterface(&nodeLink);
    } catch (const QErfcException&) {
    }
}

void tst_MainWindow::unconnected()
{
    QCOMPARE(window->windowTitle(), QStringLiteral("quorvel Explorer"));
    QCOMPARE(label("labelState"), QStringLiteral("State: Unconnected"));
    QCOMPARE(label("labelConnectionError"), QString());
    QCOMPARE(label("labelRx"), QStringLiteral("RX: - "));
    QCOMPARE(label("labelTx"), QStringLiteral("TX: - "));
    QTRY_COMPARE_WITH_TIMEOUT(label("labelRx"), QStringLiteral("RX: 0 B/s"), 5000);
    QCOMPARE(label("labelTx"), QStringLiteral("TX: 0 B/s"));

    ModalDriver driver;
    driver.start();
    trigger("actionConnectionReconnect");
    QCOMPARE(driver.seen().size(), 1);
    QCOMPARE(driver.seen().at(0).windowTitle, QStringLiteral("Error"));
    QCOMPARE(driver.seen().at(0).text, QStringLiteral("Select connection first!"));

    // Select, cancelled: the dialog offered the address in use, nothing changed.
    int preset = -1;
    QTimer::singleShot(0, this, [&] {
        if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            preset = dialog->findChild<QSpinBox*>(QStringLiteral("spinBoxOwnAddress"))->value();
            dialog->reject();
        }
    });
    trigger("actionConnectionSelect");
    QCOMPARE(preset, 59);
    QCOMPARE(label("labelState"), QStringLiteral("State: Unconnected"));
    driver.clear();
    trigger("actionConnectionReconnect");
    QCOMPARE(driver.seen().size(), 1); // still nothing to reconnect
}

void tst_MainWindow::refusedConnectionAndInvalidAddress()
{
    quint16 closedPort;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        closedPort = probe.serverPort();
    }
    window->openTcpConnection(QStringLiteral("127.0.0.1"), closedPort, 1);
    QCOMPARE(label("labelState"), tcpState(closedPort));
    QTRY_COMPARE_WITH_TIMEOUT(label("labelConnectionError"),
                              QStringLiteral("Connection Error: Can't connect to address!"), 10000);

    // Refused before anything changes, and no exception.
    window->openTcpConnection(QStringLiteral("127.0.0.1"), listener.port(), 63);
    const QString text = QStringLiteral("Connection Error: Invalid own address 63 (0..62)");
    QCOMPARE(label("labelConnectionError"), text);
    QCOMPARE(label("labelState"), tcpState(closedPort));
    QTRY_VERIFY_WITH_TIMEOUT(systemLog().contains(text), 5000);
}

void tst_MainWindow::nodeJoinsAndLeaves()
{
    // The window's connect completes in the listen backlog; the node accepts after.
    window->openTcpConnection(QStringLiteral("127.0.0.1"), nodeDevice.port(), 1);
    QCOMPARE(label("labelState"), tcpState(nodeDevice.port()));
    QCOMPARE(label("labelConnectionError"), QString());
    node.bindInterface(&nodeLink);
    node.enable();

    QTRY_VERIFY_WITH_TIMEOUT(systemLog().contains(QStringLiteral("Node 2, connected to Maintenance ...")),
                             15000);
    const QRegularExpression rate(QStringLiteral("^[RT]X: [1-9][0-9]* B/s$"));
    QTRY_VERIFY_WITH_TIMEOUT(rate.match(label("labelRx")).hasMatch(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(rate.match(label("labelTx")).hasMatch(), 10000);

    node.disable();
    QTRY_VERIFY_WITH_TIMEOUT(
        systemLog().contains(QStringLiteral("Node 2, Maintenance disconnected ...")), 10000);
}

void tst_MainWindow::viewsOfAReplacedNodeClose()
{
    ErfcNodeManager* manager = ErfcNodeManager::instance();
    node.enable();
    QTRY_VERIFY_WITH_TIMEOUT(manager->nodeInfo(2) && manager->nodeInfo(2)->isAvailable()
                                 && manager->nodeInfo(2)->uniqueId() == QByteArray::fromHex("aa01"),
                             15000);

    QPointer<QWidget> ofNode = new QWidget;
    QPointer<QWidget> ofNobody = new QWidget; // address without a record: an empty id
    auto* gone = new QWidget;
    window->registerNodeWindow(2, ofNode);
    window->registerNodeWindow(7, ofNobody);
    window->registerNodeWindow(7, gone);
    QCOMPARE(ofNode->property(MainWindow::NodeUniqueIdProperty), QVariant(QByteArray::fromHex("aa01")));
    QCOMPARE(ofNobody->property(MainWindow::NodeUniqueIdProperty), QVariant(QByteArray()));
    // A destroyed view is forgotten: the refresh must not touch it; a refresh
    // without a record counts as the empty id.
    delete gone;
    QVERIFY(QMetaObject::invokeMethod(window, "onNodeManagerNodeInfoRefreshed", Q_ARG(uchar, 7),
                                      Q_ARG(QErfcNodeInfo*, nullptr)));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(ofNobody);

    // Another node takes address 2: the views opened for the old one close.
    node.disable();
    node.setUniqueId(QByteArray::fromHex("bb02"));
    node.enable();
    QTRY_VERIFY_WITH_TIMEOUT(ofNode.isNull(), 15000);
    QVERIFY(ofNobody);
    delete ofNobody;
}

void tst_MainWindow::reconnectSaysGoodbyeThenHello()
{
    window->openTcpConnection(QStringLiteral("127.0.0.1"), listener.port(), 5);
    QTRY_VERIFY_WITH_TIMEOUT(listener.hellos(0) > 0, 10000);
    QCOMPARE(listener.frames(0).first().msg.source(), quint8(5));

    trigger("actionConnectionReconnect");
    QTRY_VERIFY_WITH_TIMEOUT(listener.isClosed(0) && listener.hellos(1) > 0, 10000);
    QVERIFY(RawPeer::isGoodbye(listener.frames(0).last().msg));
    QVERIFY(RawPeer::isHello(listener.frames(1).first().msg));
    QCOMPARE(label("labelState"), tcpState(listener.port()));
}

void tst_MainWindow::closingEndsTheApplication()
{
    // Another top-level window stays open; closing the main window ends the
    // event loop all the same (the fallback would end it with 1).
    QWidget other;
    other.show();
    QTimer fallback;
    connect(&fallback, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    fallback.start(10000);
    QTimer::singleShot(0, window, &QWidget::close);
    QCOMPARE(QApplication::exec(), 0);
}

void tst_MainWindow::destroyWhileConnectedSaysGoodbye()
{
    delete window;
    window = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT(listener.isClosed(1), 10000);
    QVERIFY(RawPeer::isGoodbye(listener.frames(1).last().msg));
}

QTEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
