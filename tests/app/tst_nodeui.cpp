#include "erfcnodemanager.h"
#include "jsrtefixtures.h"
#include "mainwindow.h"
#include "modaldriver.h"
#include "qcargo.h"
#include "qerfcexception.h"
#include "qerfcfunction.h"
#include "qerfcstreaminterface.h"
#include "tcptestdevice.h"

#include <QCryptographicHash>
#include <QInputDialog>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QtTest>

// A node's user interface downloaded into the main window from a fake node:
// a second stack behind a loopback port with a scripted function 124 and a
// Cargo listener on 123 that streams the selected package and disconnects.
class tst_NodeUi : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void download_data();
    void download();
    void cleanup();

private:
    // Called on the node's stack thread.
    void answer(QErfcIncomingRequest& request, QErfcResponse& response, QErfc::ResponseCode& code);
    void sendPackage();
    QMdiArea* area() const { return window->findChild<QMdiArea*>(); }

    QErfcStack stack;
    MainWindow* window = nullptr;
    TcpServerTestDevice nodeDevice;
    QErfcStreamInterface nodeLink{&nodeDevice};
    QErfcStack node{2, QErfc::Maintenance};
    QErfcFunction control{124, QStringLiteral("UI"), QErfc::User};
    QCargo cargo{&node};

    // What the node answers, set per case; written on the test thread while
    // no request is in flight.
    QErfc::ResponseCode authCode = QErfc::OK;
    QByteArray authPayload;
    QList<QByteArray> names;
    QByteArray package;
    // What the node saw.
    QMutex lock;
    QList<QByteArray> requests;
};

void tst_NodeUi::answer(QErfcIncomingRequest& request, QErfcResponse& response, QErfc::ResponseCode& code)
{
    const QByteArray payload = request.payload();
    {
        QMutexLocker locker(&lock);
        requests << payload;
    }
    if (payload.startsWith('\x00')) {
        response.setPayload(authPayload);
        code = authCode;
    } else if (payload.startsWith('\x10')) {
        response.setPayload(names.value(quint8(payload.at(1))));
        code = QErfc::OK;
    } else if (payload.startsWith('\x20')) {
        QMetaObject::invokeMethod(this, &tst_NodeUi::sendPackage, Qt::QueuedConnection);
        code = QErfc::OK;
    }
}

void tst_NodeUi::sendPackage()
{
    cargo.write(package);
    QVERIFY(cargo.waitForBytesWritten(20000));
    cargo.disconnectFromNode();
}

void tst_NodeUi::initTestCase()
{
    connect(&control, &QErfcFunction::callSignal, this, &tst_NodeUi::answer, Qt::DirectConnection);
    // After every stream the node listens again.
    connect(&cargo, &QCargo::stateChanged, this, [this](QCargo::CargoState state) {
        if (state == QCargo::StateDisconnected)
            cargo.listen(QErfc::User, 123);
    }, Qt::QueuedConnection);
    window = new MainWindow(&stack);
    window->show();
    window->openTcpConnection(QStringLiteral("127.0.0.1"), nodeDevice.port(), 1);
    node.bindInterface(&nodeLink);
    node.enable();
    node.registerFunction(&control);
    QVERIFY(cargo.listen(QErfc::User, 123));
    QTRY_VERIFY_WITH_TIMEOUT(ErfcNodeManager::instance()->nodeInfo(2), 20000);
}

void tst_NodeUi::cleanupTestCase()
{
    delete window;
    try {
        node.unregisterFunction(&control);
        node.disable();
        node.releaseInterface(&nodeLink);
    } catch (const QErfcException&) {
    }
}

void tst_NodeUi::download_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("authCode");
    QTest::addColumn<QByteArray>("count");
    QTest::addColumn<QList<QByteArray>>("offered");
    QTest::addColumn<QString>("choice"); // empty: cancel
    QTest::addColumn<QStringList>("listed");
    QTest::addColumn<QStringList>("seen");
    QTest::addColumn<QString>("title"); // empty: no window

    const QList<QByteArray> two{QByteArray("Demo\0junk", 9), QByteArray("Demo")};
    QTest::newRow("started, first of two equal names") << QStringLiteral("pässwort") << 0 << QByteArray("\x02")
        << two << "Demo" << QStringList{"Demo", "Demo"} << QStringList() << "Node 2: Form";
    QTest::newRow("wrong password") << "x" << 1 << QByteArray() << two << "" << QStringList()
        << QStringList{"information Error: Wrong password!"} << "";
    QTest::newRow("busy") << "" << 7 << QByteArray() << two << "" << QStringList()
        << QStringList{"information Target is busy: Please try again in a few seconds."} << "";
    QTest::newRow("other code") << "" << 3 << QByteArray() << two << "" << QStringList()
        << QStringList{"information Error: " + QErfc::responseCodeString(3)} << "";
    QTest::newRow("nothing offered") << "" << 0 << QByteArray() << two << "" << QStringList()
        << QStringList{"information Error: No Scripts received!"} << "";
    QTest::newRow("choice cancelled, names cut at zero") << "" << 0 << QByteArray("\x02")
        << QList<QByteArray>{QByteArray("\0A", 2), QByteArray("B")} << "" << QStringList{"", "B"}
        << QStringList{"information Error: Can't send request to target."} << "";
}

void tst_NodeUi::download()
{
    QFETCH(QString, password);
    QFETCH(int, authCode);
    QFETCH(QByteArray, count);
    QFETCH(QList<QByteArray>, offered);
    QFETCH(QString, choice);
    QFETCH(QStringList, listed);
    QFETCH(QStringList, seen);
    QFETCH(QString, title);

    this->authCode = QErfc::ResponseCode(authCode);
    authPayload = count;
    names = offered;
    package = handMadePackage({{"main.js", "instance.title = 'x';"},
                               {"main.ui", "<ui version=\"4.0\"><class>Panel</class><widget class=\"QWidget\" "
                                           "name=\"Panel\"><property name=\"windowTitle\"><string>Panel</string>"
                                           "</property></widget></ui>"}});
    {
        QMutexLocker locker(&lock);
        requests.clear();
    }

    QStringList items;
    ModalDriver driver;
    driver.answer = [&](QWidget* widget) {
        auto* dialog = qobject_cast<QInputDialog*>(widget);
        if (!dialog)
            return false;
        if (dialog->windowTitle() == QLatin1String("Password")) {
            dialog->setTextValue(password);
            dialog->accept();
            return true;
        }
        items = dialog->comboBoxItems();
        if (choice.isEmpty())
            return false;
        dialog->setTextValue(choice);
        dialog->accept();
        return true;
    };
    QVERIFY(QMetaObject::invokeMethod(window, "onNodesDockWidgetScriptCargoRequested", Q_ARG(uchar, 2)));
    QCOMPARE(items, listed);
    QStringList boxes = driver.seen;
    boxes.removeAll(QStringLiteral("QInputDialog"));
    QCOMPARE(boxes, seen);

    QList<QByteArray> sent;
    {
        QMutexLocker locker(&lock);
        sent = requests;
    }
    QVERIFY(!sent.isEmpty());
    QCOMPARE(sent.first(), QByteArray(1, '\0') + QCryptographicHash::hash(password.toLatin1(), QCryptographicHash::Md5));

    if (title.isEmpty()) {
        // No window; the node listens again once the stream has gone.
        QTRY_COMPARE_WITH_TIMEOUT(cargo.state(), QCargo::StateListening, 20000);
        QCOMPARE(area()->subWindowList().size(), 0);
        return;
    }
    // The first position of the chosen name is sent.
    QTRY_COMPARE_WITH_TIMEOUT(area()->subWindowList().size(), 1, 30000);
    {
        QMutexLocker locker(&lock);
        QCOMPARE(requests.last(), QByteArray("\x20\x00", 2));
    }
    QCOMPARE(area()->subWindowList().first()->windowTitle(), title);

    // A second request while it is open is refused.
    driver.seen.clear();
    QVERIFY(QMetaObject::invokeMethod(window, "onNodesDockWidgetScriptCargoRequested", Q_ARG(uchar, 2)));
    QCOMPARE(driver.seen, QStringList{"information Error: Only one user interface per node is allowed"});
}

void tst_NodeUi::cleanup()
{
    qDeleteAll(area()->subWindowList());
    QTRY_COMPARE_WITH_TIMEOUT(cargo.state(), QCargo::StateListening, 20000);
}

QTEST_MAIN(tst_NodeUi)
#include "tst_nodeui.moc"
