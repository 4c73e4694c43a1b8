#include "erfcnodemanager.h"
#include "jsrte.h"
#include "jsrtefixtures.h"
#include "mainwindow.h"
#include "modaldriver.h"
#include "qcargo.h"
#include "qcargonode.h"
#include "qerfcexception.h"
#include "qerfcevent.h"
#include "qerfcfunction.h"
#include "qerfcrequest.h"
#include "qerfcstreaminterface.h"
#include "scriptwidget.h"
#include "tcptestdevice.h"

#include <QCryptographicHash>
#include <QInputDialog>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QDockWidget>
#include <QMessageBox>
#include <QTextEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSemaphore>
#include <QtTest>

#include <atomic>

namespace {

// Remembers every download stream of the program that receives an event
// (each one does: its signals and its deletion come through its event
// queue), so that a test sees when the streams have gone.
class StreamWatch : public QObject
{
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* stream = dynamic_cast<QCargoNode*>(watched);
        if (stream && !seen.contains(stream)) {
            seen.insert(stream);
            streams << stream;
        }
        return QObject::eventFilter(watched, event);
    }
    bool allGone() const
    {
        return std::all_of(streams.cbegin(), streams.cend(), [](const QPointer<QCargoNode>& s) { return !s; });
    }
    QList<QPointer<QCargoNode>> streams;
    QSet<QObject*> seen;
};

} // namespace

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
    void streamFromUnknownNode();
    void heldUpStackEndsWithBusyText();
    void lastWindowIsNeverLost();
    void nodeLeavesWhileChoosing();
    void endlessScriptsFreezeNothing_data();
    void endlessScriptsFreezeNothing();
    void windowFitsItsForm_data();
    void windowFitsItsForm();
    void cleanup();

private:
    // Called on the node's stack thread.
    void answer(QErfcIncomingRequest& request, QErfcResponse& response, QErfc::ResponseCode& code);
    void sendPackage();
    QMdiArea* area() const { return window->findChild<QMdiArea*>(); }
    void requestDownload() const
    {
        QVERIFY(QMetaObject::invokeMethod(window, "onNodesDockWidgetScriptCargoRequested", Q_ARG(uchar, 2)));
    }
    // Answers the password with `password` and the choice with `choice`
    // (empty: cancelled); the names offered go to `items`.
    void answerDialogue(ModalDriver& driver, const QString& password, const QString& choice, QStringList* items);
    static QStringList boxes(const ModalDriver& driver)
    {
        QStringList seen = driver.seen;
        seen.removeAll(QStringLiteral("QInputDialog"));
        return seen;
    }

    QErfcStack stack;
    MainWindow* window = nullptr;
    TcpServerTestDevice nodeDevice;
    QErfcStreamInterface nodeLink{&nodeDevice};
    QErfcStack node{2, QErfc::Maintenance};
    QErfcFunction control{124, QStringLiteral("UI"), QErfc::User};
    QErfcEvent level{40, QStringLiteral("Level"), QErfc::User}; // never sent
    QCargo cargo{&node};
    StreamWatch watch;

    // What the node answers, set per case; written on the test thread while
    // no request is in flight.
    QErfc::ResponseCode authCode = QErfc::OK;
    QByteArray authPayload;
    QList<QByteArray> names;
    QByteArray package;
    // Set: before answering the authentication the node calls function 50
    // of the program, whose handler holds the program's stack thread until
    // `heldUp` is released.
    std::atomic<bool> holdUpStack{false};
    QSemaphore heldUp;
    QErfcFunction holdingFunction{50, QStringLiteral("Hold"), QErfc::User};
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
        if (holdUpStack) {
            auto* call = new QErfcRequest(1, 50, QByteArray());
            connect(call, &QErfcRequest::finished, call, &QObject::deleteLater);
            if (!node.send(call))
                delete call;
        }
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
    if (!package.isEmpty()) {
        cargo.write(package);
        QVERIFY(cargo.waitForBytesWritten(20000));
    }
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
    // Runs on the program's stack thread.
    connect(&holdingFunction, &QErfcFunction::callSignal, this,
            [this](QErfcIncomingRequest&, QErfcResponse&, QErfc::ResponseCode& code) {
                heldUp.tryAcquire(1, 60000);
                code = QErfc::OK;
            }, Qt::DirectConnection);
    qApp->installEventFilter(&watch);
    window = new MainWindow(&stack);
    window->show();
    window->openTcpConnection(QStringLiteral("127.0.0.1"), nodeDevice.port(), 1);
    node.bindInterface(&nodeLink);
    node.enable();
    node.registerFunction(&control);
    node.registerEvent(&level);
    QVERIFY(cargo.listen(QErfc::User, 123));
    stack.registerFunction(&holdingFunction);
    QTRY_VERIFY_WITH_TIMEOUT(ErfcNodeManager::instance()->nodeInfo(2), 20000);
}

void tst_NodeUi::answerDialogue(ModalDriver& driver, const QString& password, const QString& choice,
                                QStringList* items)
{
    driver.answer = [=](QWidget* widget) {
        auto* dialog = qobject_cast<QInputDialog*>(widget);
        if (!dialog)
            return false;
        if (dialog->windowTitle() == QLatin1String("Password")) {
            dialog->setTextValue(password);
            dialog->accept();
            return true;
        }
        *items = dialog->comboBoxItems();
        if (choice.isEmpty())
            return false;
        dialog->setTextValue(choice);
        dialog->accept();
        return true;
    };
}

void tst_NodeUi::cleanupTestCase()
{
    qApp->removeEventFilter(&watch);
    stack.unregisterFunction(&holdingFunction);
    delete window;
    try {
        node.unregisterFunction(&control);
        node.unregisterEvent(&level);
        node.disable();
        node.releaseInterface(&nodeLink);
    } catch (const QErfcException&) {
    }
}

namespace {

QByteArray panelPackage()
{
    return handMadePackage({{"main.js", "instance.title = 'x';"},
                            {"main.ui", "<ui version=\"4.0\"><class>Panel</class><widget class=\"QWidget\" "
                                        "name=\"Panel\"><property name=\"windowTitle\"><string>Panel</string>"
                                        "</property></widget></ui>"}});
}

} // namespace

void tst_NodeUi::download_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("authCode");
    QTest::addColumn<QByteArray>("count");
    QTest::addColumn<QList<QByteArray>>("offered");
    QTest::addColumn<QString>("choice"); // empty: cancel
    QTest::addColumn<QByteArray>("sent"); // the package the node streams
    QTest::addColumn<QStringList>("listed");
    QTest::addColumn<QStringList>("seen");
    QTest::addColumn<QString>("title"); // empty: no window

    const QByteArray panel = panelPackage();
    const QList<QByteArray> two{QByteArray("Demo\0junk", 9), QByteArray("Demo")};
    const auto error = [](const QString& text) { return QStringList{"information Error: " + text}; };
    QTest::newRow("started, first of two equal names") << QStringLiteral("pässwort") << 0 << QByteArray("\x02")
        << two << "Demo" << panel << QStringList{"Demo", "Demo"} << QStringList() << "Node 2: Form";
    QTest::newRow("wrong password") << "x" << 1 << QByteArray() << two << "" << panel << QStringList()
        << error("Wrong password!") << "";
    QTest::newRow("busy") << "" << 7 << QByteArray() << two << "" << panel << QStringList()
        << QStringList{"information Target is busy: Please try again in a few seconds."} << "";
    QTest::newRow("other code") << "" << 3 << QByteArray() << two << "" << panel << QStringList()
        << error(QErfc::responseCodeString(3)) << "";
    QTest::newRow("nothing offered") << "" << 0 << QByteArray() << two << "" << panel << QStringList()
        << error("No Scripts received!") << "";
    QStringList cut = QVector<QString>(200).toList(); // the count is unsigned; a name ends at a zero
    cut[1] = QStringLiteral("B");
    QTest::newRow("choice cancelled") << "" << 0 << QByteArray("\xC8")
        << QList<QByteArray>{QByteArray("\0A", 2), QByteArray("B")} << "" << panel << cut
        << error("Can't send request to target.") << "";
    QTest::newRow("stream without data") << "" << 0 << QByteArray("\x01") << two << "Demo" << QByteArray()
        << QStringList{"Demo"} << error("No data received.") << "";
}

void tst_NodeUi::download()
{
    QFETCH(QString, password);
    QFETCH(int, authCode);
    QFETCH(QByteArray, count);
    QFETCH(QList<QByteArray>, offered);
    QFETCH(QString, choice);
    QFETCH(QByteArray, sent);
    QFETCH(QStringList, listed);
    QFETCH(QStringList, seen);
    QFETCH(QString, title);

    this->authCode = QErfc::ResponseCode(authCode);
    authPayload = count;
    names = offered;
    package = sent;
    {
        QMutexLocker locker(&lock);
        requests.clear();
    }

    QStringList items;
    ModalDriver driver;
    answerDialogue(driver, password, choice, &items);
    requestDownload();
    QCOMPARE(items, listed);
    QTRY_COMPARE_WITH_TIMEOUT(boxes(driver), seen, 20000);

    QList<QByteArray> received;
    {
        QMutexLocker locker(&lock);
        received = requests;
    }
    QVERIFY(!received.isEmpty());
    QCOMPARE(received.first(), QByteArray(1, '\0') + QCryptographicHash::hash(password.toLatin1(), QCryptographicHash::Md5));
    // One read-name request per offered interface, in order.
    for (int i = 0; i < listed.size(); ++i)
        QCOMPARE(received.value(1 + i), QByteArray("\x10") + char(i));

    if (title.isEmpty()) {
        // No window; the node listens again once the stream has gone.
        QTRY_COMPARE_WITH_TIMEOUT(cargo.state(), QCargo::StateListening, 20000);
        QCOMPARE(area()->subWindowList().size(), 0);
        QVERIFY(!watch.streams.isEmpty());
        QTRY_VERIFY(watch.allGone());
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
    requestDownload();
    QCOMPARE(driver.seen, QStringList{"information Error: Only one user interface per node is allowed"});
}

void tst_NodeUi::streamFromUnknownNode()
{
    // A stream that ends for an address the node manager never reported.
    ModalDriver driver;
    QCargoNode stream(&stack, 9, 123);
    stream.buffer() = panelPackage();
    connect(&stream, SIGNAL(disconnected()), window, SLOT(onCargoDisconnectedStartScript()));
    emit stream.disconnected();
    QCOMPARE(driver.seen, QStringList{"information Error: Target not available."});
    QCOMPARE(area()->subWindowList().size(), 0);
}

void tst_NodeUi::nodeLeavesWhileChoosing()
{
    // The node goes while the user chooses: its stream ends at once; the
    // selection cannot be sent, and nothing starts.
    authCode = QErfc::OK;
    authPayload = "\x01";
    names = {"Demo"};
    package = panelPackage();
    bool streamGone = false;
    // The stream's function is on the program's stack from its connect to
    // its end: the stack's functions tell when it has ended, whatever the
    // stream's object received meanwhile.
    const auto functions = [this] {
        QList<uchar> ids = stack.functionIds();
        std::sort(ids.begin(), ids.end());
        return ids;
    };
    const QList<uchar> before = functions();
    bool connectedWhileChoosing = false;
    ModalDriver driver(180000);
    driver.answer = [&](QWidget* widget) {
        auto* dialog = qobject_cast<QInputDialog*>(widget);
        if (!dialog)
            return false;
        if (dialog->windowTitle() != QLatin1String("Select UI")) {
            dialog->accept();
            return true;
        }
        // Chosen only once the stream has gone (or after a generous bound:
        // a loaded machine may take a while to hear the node leave).
        connectedWhileChoosing = functions() != before;
        node.disable();
        QElapsedTimer waited;
        waited.start();
        auto* poll = new QTimer(dialog);
        connect(poll, &QTimer::timeout, dialog, [&, dialog, waited] {
            streamGone = functions() == before;
            if (streamGone || waited.hasExpired(90000))
                dialog->accept();
        });
        poll->start(10);
        return true;
    };
    requestDownload();
    QVERIFY(connectedWhileChoosing);
    QVERIFY(streamGone);
    QCOMPARE(boxes(driver).join(QLatin1String(" | ")), QStringLiteral("information Error: Can't send request to target."));
    QCOMPARE(area()->subWindowList().size(), 0);

    node.enable();
    QTRY_VERIFY_WITH_TIMEOUT(stack.knownNodes().contains(2), 20000);
    if (cargo.state() != QCargo::StateListening)
        QVERIFY(cargo.listen(QErfc::User, 123));
}

void tst_NodeUi::heldUpStackEndsWithBusyText()
{
    // The program's stack thread is held while the authentication is
    // answered: the wait ends at its bound and the stream is torn down.
    authCode = QErfc::OK;
    authPayload = "\x01";
    names = {"Demo"};
    package = panelPackage();
    holdUpStack = true;
    ModalDriver driver(120000);
    driver.answer = [this](QWidget* widget) {
        if (qobject_cast<QMessageBox*>(widget))
            heldUp.release();
        auto* dialog = qobject_cast<QInputDialog*>(widget);
        if (!dialog || dialog->windowTitle() != QLatin1String("Password"))
            return false;
        dialog->accept();
        return true;
    };
    {
        QMutexLocker locker(&lock);
        requests.clear();
    }
    requestDownload();
    holdUpStack = false;
    {
        QMutexLocker locker(&lock);
        QCOMPARE(requests.size(), 1); // the stream was connected
    }
    QCOMPARE(boxes(driver), QStringList{"information Error: Target is busy or not supported, please try again "
                                        "in a few seconds."});
    QCOMPARE(area()->subWindowList().size(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(watch.allGone(), 20000);
}

void tst_NodeUi::lastWindowIsNeverLost()
{
    // Several windows, the last one partial: its readyRead and the end of
    // the stream race each other on the way to the main window.
    QByteArray blob(9000, '\0');
    QRandomGenerator random(15);
    random.fillRange(reinterpret_cast<quint32*>(blob.data()), blob.size() / 4);
    authCode = QErfc::OK;
    authPayload = "\x01";
    names = {"Big"};
    package = handMadePackage({{"main.js", "print('started');"}, {"blob.bin", blob}});
    QVERIFY(package.size() > 2 * 4096);
    for (int run = 0; run < 5; ++run) {
        ModalDriver driver;
        QStringList items;
        answerDialogue(driver, QString(), QStringLiteral("Big"), &items);
        requestDownload();
        QTRY_VERIFY_WITH_TIMEOUT(area()->subWindowList().size() == 1 || !boxes(driver).isEmpty(), 30000);
        QVERIFY2(boxes(driver).isEmpty(), qPrintable(QString::number(run) + ": " + boxes(driver).join('|')));
        cleanup();
    }
}

void tst_NodeUi::cleanup()
{
    qDeleteAll(area()->subWindowList());
    QTRY_COMPARE_WITH_TIMEOUT(cargo.state(), QCargo::StateListening, 20000);
}

void tst_NodeUi::endlessScriptsFreezeNothing_data()
{
    QTest::addColumn<QString>("main");
    QTest::addColumn<bool>("click"); // the loop runs in the button's handler

    const QString form = "var information = {name: 'Loop', uifile: 'main.ui', entry: function (ui) {"
                         "  ui.button.clicked.connect(function () { print('entered'); while (true) {} }); }};";
    QTest::newRow("top level") << "print('entered'); while (true) {}" << false;
    QTest::newRow("timer") << "timer.singleShot(10, function () { print('entered'); while (true) {} });" << false;
    QTest::newRow("button") << form << true;
    // A wait without a bound on a live subscription whose event never comes.
    QTest::newRow("waitForEvent") << "var sig = {address: 2, eid: 40}; erfc.connectToEvent(sig, function () {});"
                                     " print('entered'); erfc.waitForEvent(sig, -1); print('after the wait');"
                                  << false;
}

void tst_NodeUi::endlessScriptsFreezeNothing()
{
    QFETCH(QString, main);
    QFETCH(bool, click);
    // A script that never returns, at its top level, in a timer's function
    // or in a button's handler: the main window still answers, a second
    // click runs no second handler, and closing the script's window stops
    // the script, closes the window and frees the engine.
    ModalDriver driver;
    QStringList log;
    QPointer<ScriptWidget> script;
    QPointer<JsRte> engine;
    QPointer<QMdiSubWindow> sub;
    bool answered = false;
    bool clicked = false;
    int step = 0;
    // Steps driven by a timer: they run in whatever loop is running, the
    // script's own handling of events during its evaluation included.
    QTimer probe;
    connect(&probe, &QTimer::timeout, this, [&] {
        if (step == 0 && !area()->subWindowList().isEmpty()) {
            sub = area()->subWindowList().first();
            script = qobject_cast<ScriptWidget*>(sub->widget());
            engine = script ? script->engine() : nullptr;
            connect(script, &ScriptWidget::printDebugMessage, &probe, [&](const QString& text) { log << text; });
            sub->resize(400, 300); // room for the button
            step = 1;
        } else if (step == 1 && click && !clicked && script->findChild<QPushButton*>("button")->height() > 0) {
            clicked = true; // from a single shot: this timer keeps running inside the handler
            QTimer::singleShot(0, &probe, [&] {
                QTest::mouseClick(script->findChild<QPushButton*>("button"), Qt::LeftButton);
            });
        } else if (step == 1 && engine && engine->isEvaluating()) {
            // Inside the endless evaluation: the window answers a queued call.
            QMetaObject::invokeMethod(window, [&] { answered = engine && engine->isEvaluating(); },
                                      Qt::QueuedConnection);
            step = 2;
        } else if (step == 2 && answered) {
            // A second click, while the handler loops, must not run it again.
            if (click) {
                QTimer::singleShot(0, &probe, [&] {
                    QTest::mouseClick(script->findChild<QPushButton*>("button"), Qt::LeftButton);
                });
            }
            step = 3;
        } else if (step == 3) {
            sub->close();
            step = 4;
        }
    });
    probe.start(20);

    QByteArray package = handMadePackage({{"main.js", main.toUtf8()},
        {"main.ui", "<ui version=\"4.0\"><class>Form</class><widget class=\"QWidget\" name=\"Form\">"
                    "<layout class=\"QVBoxLayout\"><item><widget class=\"QPushButton\" name=\"button\"/></item>"
                    "</layout></widget></ui>"}});
    QCargoNode stream(&stack, 2, 123);
    stream.buffer() = package;
    connect(&stream, SIGNAL(disconnected()), window, SLOT(onCargoDisconnectedStartScript()));
    emit stream.disconnected(); // returns once a loop at the top level is stopped

    QTRY_VERIFY_WITH_TIMEOUT(step == 4, 30000);
    QVERIFY(answered);
    QTRY_VERIFY_WITH_TIMEOUT(script.isNull() && sub.isNull() && engine.isNull(), 30000);
    const QString stopped = "Node 2: the script was stopped, its window was closed while it was running";
    // The handler ran once; the script's log ends with the stop.
    QVERIFY(log.count(" entered") == (click ? 1 : log.count(" entered")) && log.count(" entered") <= 1);
    QCOMPARE(log.last(), stopped);
    QTRY_VERIFY(window->findChild<QDockWidget*>("systemLog")->findChild<QTextEdit*>()->toPlainText().contains(stopped));
    QCOMPARE(driver.seen, QStringList());
}

void tst_NodeUi::windowFitsItsForm_data()
{
    QTest::addColumn<QString>("entry");
    QTest::newRow("entry returns") << "function (ui) { print('entered'); }";
    QTest::newRow("entry never returns") << "function (ui) { print('entered'); while (true) {} }";
}

void tst_NodeUi::windowFitsItsForm()
{
    QFETCH(QString, entry);
    // The window is shown empty before the script runs; the form it loads
    // later sizes it, also while the entry is still running. A timer looks
    // at it (from the script's own handling of events when the entry never
    // returns) and closes it, once it fits or after a generous bound.
    QPointer<QMdiSubWindow> sub;
    QSize seen;
    bool fits = false;
    QElapsedTimer waited;
    waited.start();
    QTimer probe;
    connect(&probe, &QTimer::timeout, this, [&] {
        if (!sub && !area()->subWindowList().isEmpty())
            sub = area()->subWindowList().first();
        if (!sub || !sub->widget())
            return;
        seen = sub->widget()->size();
        fits = seen.width() >= 240 && seen.height() >= 160;
        if (fits || waited.hasExpired(20000)) {
            probe.stop();
            sub->close();
        }
    });
    probe.start(20);

    const QByteArray main = "var information = {name: 'Box', uifile: 'main.ui', entry: " + entry.toUtf8() + "};";
    QCargoNode stream(&stack, 2, 123);
    stream.buffer() = handMadePackage({{"main.js", main},
        {"main.ui", "<ui version=\"4.0\"><class>Form</class><widget class=\"QWidget\" name=\"Form\">"
                    "<layout class=\"QVBoxLayout\"><item><widget class=\"QFrame\" name=\"box\">"
                    "<property name=\"minimumSize\"><size><width>240</width><height>160</height></size>"
                    "</property></widget></item></layout></widget></ui>"}});
    connect(&stream, SIGNAL(disconnected()), window, SLOT(onCargoDisconnectedStartScript()));
    emit stream.disconnected(); // returns once an entry that never returns is stopped

    QTRY_VERIFY_WITH_TIMEOUT(!probe.isActive() && sub.isNull(), 30000);
    QVERIFY2(fits, qPrintable(QStringLiteral("%1x%2").arg(seen.width()).arg(seen.height())));
}

QTEST_MAIN(tst_NodeUi)
#include "tst_nodeui.moc"
