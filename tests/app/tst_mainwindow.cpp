#include "childprocess.h"
#include "closedport.h"
#include "commandline.h"
#include "erfcnodeinfo.h"
#include "mainwindow.h"
#include "modaldriver.h"
#include "ptypair.h"
#include "qcftpfileexplorerwidget.h"
#include "qerfcdatagram.h"
#include "qerfcexception.h"
#include "qerfcnodeinfo_p.h"
#include "qerfcwire.h"
#include "rawpeer.h"
#include "testnodeprocess.h"
#include "texteditorwindow.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCommandLineParser>
#include <QDeadlineTimer>
#include <QDir>
#include <QDockWidget>
#include <QFile>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScopeGuard>
#include <QTcpServer>
#include <QTextEdit>
#include <QtTest>

#include <atomic>
#include <memory>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// What one thread of this process has used so far: its CPU time, and its
// read and write calls to the system (on terminals, sockets and the event
// loop's wake-ups alike).
struct ThreadUsage
{
    double cpuSeconds = 0;
    qint64 systemCalls = 0;
};

bool readThreadUsage(qint64 thread, ThreadUsage* usage)
{
    const QString task = QStringLiteral("/proc/self/task/%1/").arg(thread);
    QFile stat(task + "stat");
    QFile io(task + "io");
    if (!stat.open(QIODevice::ReadOnly) || !io.open(QIODevice::ReadOnly))
        return false;
    // After the command name, which may hold spaces: user and system time
    // in clock ticks are the 12th and 13th fields.
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return false;
    usage->cpuSeconds = (fields[11].toDouble() + fields[12].toDouble()) / double(::sysconf(_SC_CLK_TCK));
    usage->systemCalls = 0;
    for (const QByteArray& counter : io.readAll().split('\n')) {
        if (counter.startsWith("syscr:") || counter.startsWith("syscw:"))
            usage->systemCalls += counter.mid(6).trimmed().toLongLong();
    }
    return true;
}

// The descriptor of this process's TCP socket from localPort to remotePort
// on 127.0.0.1; -1 when there is none.
int loopbackSocket(quint16 localPort, quint16 remotePort)
{
    const QStringList entries = QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::System);
    for (const QString& entry : entries) {
        bool number = false;
        const int fd = entry.toInt(&number);
        sockaddr_in local{};
        sockaddr_in remote{};
        socklen_t localSize = sizeof(local);
        socklen_t remoteSize = sizeof(remote);
        if (number && ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localSize) == 0
            && ::getpeername(fd, reinterpret_cast<sockaddr*>(&remote), &remoteSize) == 0
            && local.sin_family == AF_INET && ntohs(local.sin_port) == localPort
            && ntohs(remote.sin_port) == remotePort)
            return fd;
    }
    return -1;
}

// Stands where a node's TCP port would be: accepts every connection
// (numbered from 0) and keeps what arrives on each. Answers nothing.
struct FrameListener
{
    QList<QByteArray> received; // per connection
    QSet<int> closed;
    QTcpServer server; // last: goes first, while the lists still exist

    FrameListener()
    {
        server.listen(QHostAddress::LocalHost);
        QObject::connect(&server, &QTcpServer::newConnection, &server, [this] {
            while (QTcpSocket* socket = server.nextPendingConnection()) {
                const int index = received.size();
                received.append(QByteArray());
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [=] { received[index] += socket->readAll(); });
                QObject::connect(socket, &QTcpSocket::disconnected, socket, [=] { closed.insert(index); });
            }
        });
    }
    QList<QErfcMsg> frames(int connection) const
    {
        const QByteArray bytes = received.value(connection);
        QList<QErfcMsg> decoded;
        QErfcFrameStuffing().feed(bytes.constData(), bytes.size(), [&](const QByteArray& raw) {
            QErfcMsg msg;
            if (msg.decode(raw) && !msg.crcError())
                decoded << msg;
        });
        return decoded;
    }
    int hellos(int connection) const
    {
        const QList<QErfcMsg> list = frames(connection);
        return int(std::count_if(list.begin(), list.end(), &RawPeer::isHello));
    }
};

} // namespace

// The command line of the program run as a process; then one main window
// (the node manager is process-wide): unconnected, refused, connected to a
// fake node (a second stack behind a loopback port), closed, connected over
// a serial line that goes away and comes back, then connected to a listener
// that records the frames, and destroyed while connected.
class tst_MainWindow : public QObject
{
    Q_OBJECT
private slots:
    void commandLine_data();
    void commandLine();
    void options_data();
    void options();

    void cleanupTestCase();
    void unconnected();
    void refusedConnectionAndInvalidAddress();
    void nodeJoinsAndLeaves();
    void staleViews_data();
    void staleViews();
    void destroyedViewsAreForgotten();
    void replacedNodeClosesItsViews();
    void oneFileExplorerPerNode();
    void replacedNodeClosesItsFileExplorer_data();
    void replacedNodeClosesItsFileExplorer();
    void maximisingSwitchesToTabs_data();
    void maximisingSwitchesToTabs();
    void closingEndsTheApplication();
    void stalledPeerIsLogged();
    void lostSerialLine();
    void reconnectAndDestroySayGoodbye();

private:
    QString labels() const
    {
        QStringList texts;
        for (const char* name : {"labelState", "labelConnectionError", "labelRx", "labelTx"})
            texts << window->findChild<QLabel*>(QLatin1String(name))->text();
        return texts.join('|');
    }
    QString systemLog() const
    {
        return window->findChild<QDockWidget*>(QStringLiteral("systemLog"))->findChild<QTextEdit*>()->toPlainText();
    }
    // The main window hears that the node at addr reports this unique id;
    // views it closes are gone on return.
    void refresh(uchar addr, const QByteArray& uniqueId);
    void trigger(const char* action) { window->findChild<QAction*>(QLatin1String(action))->trigger(); }

    QErfcStack stack; // outlives the window, as in the program
    MainWindow* window = nullptr;
    FrameListener listener;
    // The fake node: address 2 in Maintenance, listening for the window.
    TcpServerTestDevice nodeDevice;
    QErfcStreamInterface nodeLink{&nodeDevice};
    QErfcStack node{2, QErfc::Maintenance};
};

void tst_MainWindow::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("output"); // standard output; for an error the end of standard error

    QTest::newRow("version") << QStringList{"--version"} << "quorvel Explorer 1.6.2.0\n";
    QTest::newRow("unknown") << QStringList{"--foo"} << "quorvel Explorer: Unknown option 'foo'.\n";
}

void tst_MainWindow::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, output);
    ChildProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(EXPLORER_PATH), arguments);
    QVERIFY(process.waitForFinished(60000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    const bool error = output.startsWith("quorvel Explorer: ");
    QCOMPARE(process.exitCode() != 0, error);
    // The platform may warn before the parser's message.
    const QString out = QString::fromUtf8(error ? process.readAllStandardError() : process.readAllStandardOutput());
    QCOMPARE(error ? out.right(output.size()) : out, output);
}

void tst_MainWindow::options_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("expected"); // what readStartupOptions made of them

    QTest::newRow("address narrowed") << QStringList{"--address", "300"} << "dialog address 44 flags ----";
    QTest::newRow("address decimal") << QStringList{"--address", "010"} << "dialog address 10 flags ----";
    QTest::newRow("serial over tcp, default rate")
        << QStringList{"--tcp-ip", "127.0.0.1", "--serial", "/dev/ttyUSB3", "--address", "7"}
        << "serial /dev/ttyUSB3 115200 address 7 flags ----";
    QTest::newRow("tcp, default port") << QStringList{"--tcp-ip", "::1", "--baudrate", "9600"}
                                       << "tcp ::1 1328 address 0 flags ----";
    QTest::newRow("tcp port narrowed") << QStringList{"--tcp-ip", "10.0.0.2", "--port", "65537"}
                                       << "tcp 10.0.0.2 1 address 0 flags ----";
    QTest::newRow("flags") << QStringList{"--view-all-tty", "--service", "--extscripts", "--dumplog"}
                           << "dialog address 0 flags dxsv";
}

void tst_MainWindow::options()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, expected);
    QCommandLineParser parser;
    addStartupOptions(parser);
    QVERIFY2(parser.parse(QStringList{"quorvel-explorer"} + arguments), qPrintable(parser.errorText()));
    const StartupOptions o = readStartupOptions(parser);
    QString seen = o.connection == StartupOptions::Serial
        ? QStringLiteral("serial %1 %2 ").arg(o.serialPort).arg(o.baudRate)
        : o.connection == StartupOptions::Tcp ? QStringLiteral("tcp %1 %2 ").arg(o.tcpIp).arg(o.tcpPort)
                                              : QStringLiteral("dialog ");
    seen += QStringLiteral("address %1 flags %2%3%4%5").arg(o.ownAddress)
                .arg(o.dumpLog ? 'd' : '-').arg(o.allowExternalScripts ? 'x' : '-')
                .arg(o.showServiceFunctions ? 's' : '-').arg(o.viewAllSerialInterfaces ? 'v' : '-');
    QCOMPARE(seen, expected);
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
    window = new MainWindow(&stack);
    window->show();
    QCOMPARE(window->windowTitle(), QStringLiteral("quorvel Explorer"));
    QCOMPARE(labels(), QStringLiteral("State: Unconnected||RX: - |TX: - "));
    QTRY_COMPARE_WITH_TIMEOUT(labels(), QStringLiteral("State: Unconnected||RX: 0 B/s|TX: 0 B/s"), 5000);

    ModalDriver driver;
    trigger("actionConnectionReconnect");
    QCOMPARE(driver.seen, QStringList{"information Error: Select connection first!"});
}

void tst_MainWindow::refusedConnectionAndInvalidAddress()
{
    // A port bound by nobody listening: refuses at once.
    const ClosedPort refusing;
    const quint16 closedPort = refusing.port();
    QVERIFY(closedPort != 0);
    const QString state = QStringLiteral("State: TCP/IP 127.0.0.1:%1|").arg(closedPort);
    window->openTcpConnection(QStringLiteral("127.0.0.1"), closedPort, 1);
    QTRY_VERIFY_WITH_TIMEOUT(labels().startsWith(state + "Connection Error: Can't connect to address!|"), 10000);

    // Refused before anything changes, and no exception.
    window->openTcpConnection(QStringLiteral("127.0.0.1"), listener.server.serverPort(), 63);
    const QString text = QStringLiteral("Connection Error: Invalid own address 63 (0..62)");
    QVERIFY2(labels().startsWith(state + text + '|'), qPrintable(labels()));
    QTRY_VERIFY_WITH_TIMEOUT(systemLog().contains(text), 5000);

    // 62, the highest node address, is taken: the stack gets it and the
    // device is opened (and refused by the closed port).
    window->openTcpConnection(QStringLiteral("127.0.0.1"), closedPort, 62);
    QCOMPARE(stack.address(), uchar(62));
    QTRY_VERIFY_WITH_TIMEOUT(labels().startsWith(state + "Connection Error: Can't connect to address!|"), 10000);
    QVERIFY(!systemLog().contains(QStringLiteral("Invalid own address 62")));
}

void tst_MainWindow::nodeJoinsAndLeaves()
{
    // The window's connect completes in the listen backlog; the node accepts after.
    window->openTcpConnection(QStringLiteral("127.0.0.1"), nodeDevice.port(), 1);
    QVERIFY(labels().startsWith(QStringLiteral("State: TCP/IP 127.0.0.1:%1||").arg(nodeDevice.port())));
    node.bindInterface(&nodeLink);
    node.enable();
    QTRY_VERIFY_WITH_TIMEOUT(systemLog().contains(QStringLiteral("Node 2, connected to Maintenance ...")), 15000);
    const QRegularExpression rates(QStringLiteral("\\|RX: [1-9][0-9]* B/s\\|TX: [1-9][0-9]* B/s$"));
    QTRY_VERIFY_WITH_TIMEOUT(rates.match(labels()).hasMatch(), 10000);

    node.disable();
    QTRY_VERIFY_WITH_TIMEOUT(systemLog().contains(QStringLiteral("Node 2, Maintenance disconnected ...")), 10000);
}

// The node information a refresh reports, with only the unique id set.
struct Reported
{
    explicit Reported(QErfcStack* stack, const QByteArray& uniqueId)
        : info(stack, 7)
    {
        info.findChild<QErfcNodeInfoPrivate*>()->m_items[QErfcWire::ItemUniqueId] = uniqueId;
    }
    QErfcNodeInfo info;
};

void tst_MainWindow::refresh(uchar addr, const QByteArray& uniqueId)
{
    Reported reported(&stack, uniqueId);
    QVERIFY(QMetaObject::invokeMethod(window, "onNodeManagerNodeInfoRefreshed", Q_ARG(uchar, addr),
                                      Q_ARG(QErfcNodeInfo*, &reported.info)));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void tst_MainWindow::staleViews_data()
{
    QTest::addColumn<QVariant>("tag"); // the view's unique-id property; invalid: none
    QTest::addColumn<QList<QByteArray>>("reported");
    QTest::addColumn<QString>("open"); // after each refresh: 1 open, 0 closed

    const QVariant a(QByteArray("A"));
    QTest::newRow("another id closes") << a << QList<QByteArray>{"B"} << "0";
    // No node record at registration: the empty id, adopted by the first
    // non-empty id a refresh reports.
    QTest::newRow("empty id adopts, later other closes")
        << QVariant(QByteArray()) << QList<QByteArray>{"", "A", "A", "B"} << "1110";
    QTest::newRow("no property never closes") << QVariant() << QList<QByteArray>{"A", "B"} << "11";
    // A read that failed, or nothing read yet, tells no other node.
    QTest::newRow("empty id never closes") << a << QList<QByteArray>{"", "A", "", "B"} << "1110";
}

void tst_MainWindow::staleViews()
{
    QFETCH(QVariant, tag);
    QFETCH(QList<QByteArray>, reported);
    QFETCH(QString, open);

    // Address 7 has no node record.
    QPointer<QWidget> view = new QWidget;
    window->registerNodeWindow(7, view);
    QCOMPARE(view->property(MainWindow::NodeUniqueIdProperty), QVariant(QByteArray()));
    view->setProperty(MainWindow::NodeUniqueIdProperty, tag);

    QString seen;
    for (const QByteArray& id : reported) {
        refresh(7, id);
        seen += view ? '1' : '0';
    }
    QCOMPARE(seen, open);
    delete view;
}

void tst_MainWindow::destroyedViewsAreForgotten()
{
    // A view destroyed before its node is replaced is never touched again;
    // the one left still closes.
    auto* gone = new QWidget;
    QPointer<QWidget> kept = new QWidget;
    window->registerNodeWindow(7, gone);
    window->registerNodeWindow(7, kept);
    window->registerNodeWindow(8, gone);
    delete gone;
    refresh(8, "B");
    refresh(7, "A");
    QVERIFY(kept);
    refresh(7, "B");
    QVERIFY(!kept);
}

void tst_MainWindow::replacedNodeClosesItsViews()
{
    // Node 2 has a record; the view goes with its whole sub-window.
    QVERIFY(QMetaObject::invokeMethod(window, "onNodesDockWidgetStatisitcRequested", Q_ARG(uchar, 2)));
    QMdiArea* area = window->findChild<QMdiArea*>();
    QCOMPARE(area->subWindowList().size(), 1);
    refresh(2, "first");
    QCOMPARE(area->subWindowList().size(), 1);
    refresh(2, "second");
    QCOMPARE(area->subWindowList().size(), 0);
}

void tst_MainWindow::oneFileExplorerPerNode()
{
    // The login is cancelled: the explorer stays, titled for its node.
    ModalDriver driver;
    const auto request = [this](uchar addr) {
        QVERIFY(QMetaObject::invokeMethod(window, "onNodesDockWidgetCftpFileExplorerRequested", Q_ARG(uchar, addr)));
    };
    request(7);
    QMdiArea* area = window->findChild<QMdiArea*>();
    QCOMPARE(area->subWindowList().size(), 1);
    QMdiSubWindow* sub = area->subWindowList().first();
    QCOMPARE(sub->widget()->windowTitle(), QStringLiteral("File Explorer Node 7"));
    QVERIFY(!sub->windowIcon().isNull());
    request(7);
    request(8);
    QCOMPARE(driver.seen, QStringList({"GetUserDialog", "information Error: Only one file explorer per node is allowed",
                                       "GetUserDialog"}));
    QCOMPARE(area->subWindowList().size(), 2);
    // Closed, another may open.
    delete sub;
    request(7);
    QCOMPARE(area->subWindowList().size(), 2);
    qDeleteAll(area->subWindowList());
}

void tst_MainWindow::replacedNodeClosesItsFileExplorer_data()
{
    QTest::addColumn<QString>("editor"); // "", "clean" or "unsaved"
    QTest::addColumn<bool>("keep");      // the user keeps the unsaved text, and so the explorer

    QTest::newRow("no editor") << "" << false;
    QTest::newRow("clean editor") << "clean" << false;
    QTest::newRow("unsaved, closed") << "unsaved" << false;
    QTest::newRow("unsaved, kept") << "unsaved" << true;
}

void tst_MainWindow::replacedNodeClosesItsFileExplorer()
{
    QFETCH(QString, editor);
    QFETCH(bool, keep);

    // The login is cancelled; each question about unsaved text is noted
    // and answered as the row says.
    QStringList asked;
    ModalDriver driver;
    driver.answer = [&](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (!box || box->windowTitle() != QLatin1String("Unsaved changes"))
            return false;
        asked << box->text();
        box->button(keep ? QMessageBox::Cancel : QMessageBox::Close)->click();
        return true;
    };
    QVERIFY(QMetaObject::invokeMethod(window, "onNodesDockWidgetCftpFileExplorerRequested", Q_ARG(uchar, 7)));
    QMdiArea* area = window->findChild<QMdiArea*>();
    QCOMPARE(area->subWindowList().size(), 1);
    QPointer<QMdiSubWindow> sub = area->subWindowList().first();
    QPointer<QCFTPFileExplorerWidget> explorer = qobject_cast<QCFTPFileExplorerWidget*>(sub->widget());
    QVERIFY(explorer);

    QPointer<TextEditorWindow> edit;
    // Whatever the outcome: an editor with unsaved text outlives its explorer.
    const auto cleanup = qScopeGuard([&] {
        delete sub;
        delete edit;
    });
    if (!editor.isEmpty()) {
        QCFTPFile file;
        file.setPath(QStringLiteral("/www/index.lp"));
        file.setData("<h1>old</h1>\n");
        explorer->onClientDownloadEditFileFinished(file);
        edit = explorer->findChild<TextEditorWindow*>();
        QVERIFY(edit);
        if (editor == QLatin1String("unsaved"))
            edit->findChild<QPlainTextEdit*>()->insertPlainText(QStringLiteral("<p>new</p>\n"));
        QCOMPARE(edit->hasUnsavedChanges(), editor == QLatin1String("unsaved"));
    }

    // The node at the address reports its id, then another device takes
    // the address.
    refresh(7, "first");
    QCoreApplication::processEvents();
    QVERIFY(explorer);
    refresh(7, "second");
    const int questions = editor == QLatin1String("unsaved") ? 1 : 0;
    if (keep) {
        QTRY_VERIFY_WITH_TIMEOUT(asked.size() == questions && !QApplication::activeModalWidget(), 10000);
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(explorer && sub && explorer->isVisible());
        QVERIFY(edit && edit->hasUnsavedChanges());
        // Not asked about again when the address changes hands once more.
        refresh(7, "third");
        QCoreApplication::processEvents();
        QVERIFY(explorer);
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(!sub, 10000);
        QVERIFY(!explorer && !edit);
    }
    QCOMPARE(asked.size(), questions);
    QCOMPARE(driver.seen, QStringList{"GetUserDialog"});
}

void tst_MainWindow::maximisingSwitchesToTabs_data()
{
    QTest::addColumn<QByteArray>("slot");

    QTest::newRow("information") << QByteArray("onNodesDockWidgetInformationRequested");
    QTest::newRow("statistics") << QByteArray("onNodesDockWidgetStatisitcRequested");
    QTest::newRow("service menu") << QByteArray("onNodesDockWidgetServiceMenuRequested");
    QTest::newRow("file explorer") << QByteArray("onNodesDockWidgetCftpFileExplorerRequested");
}

void tst_MainWindow::maximisingSwitchesToTabs()
{
    QFETCH(QByteArray, slot);
    ModalDriver driver; // cancels the explorer's login
    QMdiArea* area = window->findChild<QMdiArea*>();
    auto* tabs = window->findChild<QAction*>(QStringLiteral("actionTab_views"));
    tabs->setChecked(false);
    area->setViewMode(QMdiArea::SubWindowView);
    const auto cleanup = qScopeGuard([&] {
        qDeleteAll(area->subWindowList());
        tabs->setChecked(false);
        area->setViewMode(QMdiArea::SubWindowView);
    });

    // Node 2 has a record.
    QVERIFY(QMetaObject::invokeMethod(window, slot.constData(), Q_ARG(uchar, 2)));
    QCOMPARE(area->subWindowList().size(), 1);
    QCOMPARE(area->viewMode(), QMdiArea::SubWindowView);
    area->subWindowList().first()->showMaximized();
    QCOMPARE(area->viewMode(), QMdiArea::TabbedView);
    QVERIFY(tabs->isChecked());
}

void tst_MainWindow::closingEndsTheApplication()
{
    // Another top-level window stays open; closing the main window ends the
    // event loop all the same (the fallback would end it with 1).
    QWidget other;
    other.show();
    QTimer::singleShot(10000, &other, [] { QCoreApplication::exit(1); });
    QTimer::singleShot(0, window, &QWidget::close);
    QCOMPARE(QApplication::exec(), 0);
}

void tst_MainWindow::stalledPeerIsLogged()
{
    // Node 4 says hello and floods the window with ECHO requests, but never
    // reads an answer. The system holds little of the answers at either
    // end, whatever its limits and however it grows the buffers of a busy
    // link: a few thousand answers fill them. (Left to grow, the window's
    // end took megabytes, more than a loaded machine answered before node
    // 4 expired, after which its requests get only short refusals.)
    const int small = 4096;
    QTcpServer port;
    QVERIFY(port.listen(QHostAddress::LocalHost));
    // Set before the connection comes: the accepted socket starts with it.
    QCOMPARE(::setsockopt(int(port.socketDescriptor()), SOL_SOCKET, SO_RCVBUF, &small, sizeof(small)), 0);
    window->openTcpConnection(QStringLiteral("127.0.0.1"), port.serverPort(), 1);
    QVERIFY(port.waitForNewConnection(10000));
    QTcpSocket* peer = port.nextPendingConnection();
    peer->setReadBufferSize(4096);
    const int windowEnd = loopbackSocket(peer->peerPort(), port.serverPort());
    QVERIFY(windowEnd >= 0);
    QCOMPARE(::setsockopt(windowEnd, SOL_SOCKET, SO_SNDBUF, &small, sizeof(small)), 0);
    QErfcMsg hello = RawPeer::frame(4, QErfcMsg::BroadcastAddress, 5, 0, false,
                                    QByteArray::fromHex("000a0b0c0d1000"));
    hello.setNoResponse(true);
    peer->write(QErfcFrameStuffing::stuff(hello.encode()));
    QByteArray round;
    for (int i = 0; i < 10000; ++i)
        round += QErfcFrameStuffing::stuff(RawPeer::frame(4, 1, 0, uchar(i % 16), i % 2, QByteArray(32, 'e')).encode());

    // Round after round, until the answers fill what the system buffers and
    // then the window's own cap. Bounded in real time: on a loaded machine
    // each turn of the wait takes longer than it says.
    const QString line = QStringLiteral("Connection stalled: the other side takes no data, frames are dropped");
    const QDeadlineTimer deadline(120000);
    while (!systemLog().contains(line) && !deadline.hasExpired()) {
        if (peer->bytesToWrite() == 0)
            peer->write(round);
        QTest::qWait(20);
    }
    QVERIFY2(systemLog().contains(line), "no stall reported within 120 s");
    QCOMPARE(systemLog().count(line), 1);
}

// A serial line whose other end goes away: the port stops instead of
// failing again and again on the stack thread, one line says so, the node
// expires, and Reconnect opens the new line under the same name.
void tst_MainWindow::lostSerialLine()
{
    if (PtyPair::relayProgram().isEmpty())
        QSKIP("socat is not installed");
    PtyPair line;
    QVERIFY(line.start());
    const QStringList nodeArguments{"--address", "12", "--serial", line.theirs(), "--baudrate", "115200"};
    auto testNode = std::make_unique<TestNodeProcess>(QStringLiteral(TESTNODE_PATH));
    QVERIFY(testNode->start(nodeArguments));
    // A node on a loaded machine may take long to start; once it has its
    // end open, it joins at the first hello.
    QVERIFY(!testNode->readUntil("ready address=").isNull());
    // The stack thread, which owns the port, reports each frame it reads.
    const auto stackThread = std::make_shared<std::atomic<qint64>>(0);
    const QMetaObject::Connection reading = connect(&stack, &QErfcStack::trafficRx, &stack,
        [stackThread](int) { *stackThread = qint64(::gettid()); }, Qt::DirectConnection);
    const auto disconnectReading = qScopeGuard([reading] { QObject::disconnect(reading); });
    window->openSerialConnection(line.ours(), 115200, 1);
    const QString joined = QStringLiteral("Node 12, connected to Application ...");
    QTRY_COMPARE_WITH_TIMEOUT(systemLog().count(joined), 1, 30000);
    QVERIFY(*stackThread != 0);

    // Both ends hang up, as when the adapter is pulled out.
    QVERIFY(line.stop());
    const QString lost = QStringLiteral("Connection Error: Serial line lost");
    QTRY_VERIFY_WITH_TIMEOUT(systemLog().contains(lost), 10000);
    // Until the node expires, seconds later, the stack thread only wakes for
    // its timers, with a few calls to the system a second; a port that keeps
    // failing has it read or write thousands of times a second, however
    // little time a loaded machine gives it. Counted in calls, not CPU time:
    // a machine short of memory charges its reclaiming to whichever thread
    // touches memory, idle or not.
    ThreadUsage before;
    QVERIFY(readThreadUsage(*stackThread, &before));
    QElapsedTimer gone;
    gone.start();
    QTRY_VERIFY_WITH_TIMEOUT(systemLog().contains(QStringLiteral("Node 12, Application disconnected ...")), 30000);
    ThreadUsage after;
    QVERIFY(readThreadUsage(*stackThread, &after));
    const qint64 ms = gone.elapsed();
    const qint64 calls = after.systemCalls - before.systemCalls;
    QVERIFY2(calls < 1000 + ms,
             qPrintable(QStringLiteral("%1 system calls and %2 CPU seconds on the stack thread in the %3 ms after the line went")
                            .arg(calls).arg(after.cpuSeconds - before.cpuSeconds).arg(ms)));
    QCOMPARE(systemLog().count(lost), 1);
    const QString state = QStringLiteral("State: Serial %1:115200|").arg(line.ours());
    QVERIFY2(labels().startsWith(state + lost + '|'), qPrintable(labels()));

    // A new line under the same name, a new node on its other end.
    testNode.reset();
    QVERIFY(line.start());
    testNode = std::make_unique<TestNodeProcess>(QStringLiteral(TESTNODE_PATH));
    QVERIFY(testNode->start(nodeArguments));
    QVERIFY(!testNode->readUntil("ready address=").isNull());
    trigger("actionConnectionReconnect");
    QVERIFY2(labels().startsWith(state + '|'), qPrintable(labels()));
    QTRY_COMPARE_WITH_TIMEOUT(systemLog().count(joined), 2, 30000);
}

void tst_MainWindow::reconnectAndDestroySayGoodbye()
{
    window->openTcpConnection(QStringLiteral("127.0.0.1"), listener.server.serverPort(), 5);
    QTRY_VERIFY_WITH_TIMEOUT(listener.hellos(0) > 0, 10000);
    QCOMPARE(listener.frames(0).first().source(), quint8(5));
    trigger("actionConnectionReconnect");
    QTRY_VERIFY_WITH_TIMEOUT(listener.closed.contains(0) && listener.hellos(1) > 0, 10000);
    QVERIFY(RawPeer::isGoodbye(listener.frames(0).last()));
    QVERIFY(RawPeer::isHello(listener.frames(1).first()));

    // A window that holds the stack (a script window, say) outlives the
    // main window: the stack is still there, disabled and without a link.
    QWidget scriptWindow;
    QObject::connect(window, &QObject::destroyed, &scriptWindow, [&] {
        QErfcDatagram datagram(63, 40);
        QVERIFY_EXCEPTION_THROWN(stack.send(&datagram), QErfcException);
    });
    delete window;
    window = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT(listener.closed.contains(1), 10000);
    QVERIFY(RawPeer::isGoodbye(listener.frames(1).last()));
    QVERIFY(!stack.isEnabled() && stack.knownNodes().isEmpty());
}

QTEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
