// erfc-testnode: a small node for end-to-end tests and for trying the program
// without hardware. It joins a network over TCP (as client or listening) or a
// serial port and answers like a node: node information, statistics, an echo
// function at id 16 and an event 16 ("TICK") emitted periodically (its payload:
// the tick count as u32, then a float following a sine wave of period 20 s with
// a little noise, both little-endian). Two Cargo
// channels listen for streams: 100 sends back what it receives, 101 swallows
// it; function 102 answers what 101 has received on its current or last
// connection (byte count as u64 little-endian, then its SHA-1), which is also
// printed when the connection ends. A CFTP file service listens on channel 125.
// The node offers user interfaces for download on channel 123 and function
// 124 (password --ui-password, default empty): the built-in "Demo" and each
// folder given with --ui NAME=DIR, packed as gzip-compressed tars.
//
// With --nodes N it runs N such nodes, addresses --address upward, with names
// and serial numbers of their own, on the one connection (see nodehub.h);
// --maintenance puts one of them in Maintenance, --leave lets one say goodbye
// 5 s after the program has connected. Each serves all of the above, the
// service function and the firmware channel too; the first writes its image
// to --firmware-out FILE, the others to FILE.<address>.
//
// SIGTERM, SIGINT and SIGHUP end it normally: its temporary folders go.
//
// With --call FID the node (the first of several) calls function FID of every
// node it knows every 200 ms and prints each answer's code ("call address=A
// code=C"); with --poke FID it does so once before each answer of its service
// function.

#include "nodehub.h"
#include "qcargo.h"
#include "quitonsignal.h"
#include "qerfcemitevent.h"
#include "qerfcevent.h"
#include "qerfcexception.h"
#include "qerfcfunction.h"
#include "qerfcrequest.h"
#include "qerfcstack.h"
#include "qerfcstreaminterface.h"
#include "serialdevice.h"
#include "tcptestdevice.h"
#include "testcftpserver.h"
#include "testlogsource.h"
#include "testnodefirmware.h"
#include "testnodeoutput.h"
#include "testnodereset.h"
#include "testnodeservice.h"
#include "testuiservice.h"
#include "tarwriter.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QMutex>
#include <QRandomGenerator>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <vector>

namespace {

enum : uchar {
    EchoFunction = 16,
    TickEvent = 16,
    EchoChannel = 100,
    SinkChannel = 101,
    SinkFunction = 102
};

void say(const QString& line)
{
    std::fprintf(stdout, "%s\n", qPrintable(line));
    std::fflush(stdout);
}

// A Cargo channel that listens again after every connection. The echo
// channel writes back each window it receives; the sink counts and hashes.
class CargoChannel : public QObject
{
public:
    CargoChannel(QErfcStack* stack, quint8 id, bool echo)
        : m_stack(stack)
        , m_cargo(stack)
        , m_id(id)
        , m_echo(echo)
        , m_hash(QCryptographicHash::Sha1)
    {
        m_cargo.setName(echo ? QStringLiteral("ECHO CHANNEL") : QStringLiteral("SINK CHANNEL"));
        connect(&m_cargo, &QCargo::connected, this, [this] {
            QMutexLocker lock(&m_lock);
            m_bytes = 0;
            m_hash.reset();
        });
        connect(&m_cargo, &QCargo::readyRead, this, [this] { take(); });
        connect(&m_cargo, &QCargo::disconnected, this, [this] {
            take();
            const QByteArray answer = summary();
            TestNodeOutput::print(m_stack->address(), m_echo ? "echo" : "sink",
                                  QStringLiteral("bytes=%1 sha1=%2").arg(m_bytes).arg(QString::fromLatin1(answer.mid(8).toHex())));
            listen();
        });
    }

    void listen() { m_cargo.listen(QErfc::User, m_id); }

    // Count (u64, little-endian) and SHA-1 of the bytes of this connection.
    QByteArray summary()
    {
        QMutexLocker lock(&m_lock);
        QByteArray out;
        for (int i = 0; i < 8; ++i)
            out.append(char(quint64(m_bytes) >> (8 * i)));
        return out + m_hash.result();
    }

private:
    void take()
    {
        if (!m_cargo.isReadable())
            return;
        const QByteArray bytes = m_cargo.readAll();
        if (bytes.isEmpty())
            return;
        {
            QMutexLocker lock(&m_lock);
            m_bytes += bytes.size();
            m_hash.addData(bytes);
        }
        if (m_echo && m_cargo.state() == QCargo::StateConnected)
            m_cargo.write(bytes);
    }

    QErfcStack* m_stack;
    QCargo m_cargo;
    const quint8 m_id;
    const bool m_echo;
    QMutex m_lock; // the function answers on the stack thread
    qint64 m_bytes = 0;
    QCryptographicHash m_hash;
};

class TestNode : public QObject
{
public:
    TestNode(QErfcStack* stack, std::unique_ptr<QErfcDevice> device, bool listening)
        : m_stack(stack)
        , m_device(std::move(device))
        , m_link(new QErfcStreamInterface(m_device.get()))
        , m_listening(listening)
        , m_echo(EchoFunction, QStringLiteral("ECHO16"), QErfc::User)
        , m_tick(TickEvent, QStringLiteral("TICK"), QErfc::User)
        , m_echoChannel(stack, EchoChannel, true)
        , m_sinkChannel(stack, SinkChannel, false)
        , m_sinkInfo(SinkFunction, QStringLiteral("SINK INFO"), QErfc::User)
    {
        connect(&m_echo, &QErfcFunction::callSignal, this,
                [](QErfcIncomingRequest& request, QErfcResponse& response, QErfc::ResponseCode& code) {
                    response.setPayload(request.payload());
                    code = QErfc::OK;
                },
                Qt::DirectConnection);
        m_stack->registerFunction(&m_echo);
        m_stack->registerEvent(&m_tick);
        connect(&m_sinkInfo, &QErfcFunction::callSignal, this,
                [this](QErfcIncomingRequest&, QErfcResponse& response, QErfc::ResponseCode& code) {
                    response.setPayload(m_sinkChannel.summary());
                    code = QErfc::OK;
                },
                Qt::DirectConnection);
        m_stack->registerFunction(&m_sinkInfo);
        m_echoChannel.listen();
        m_sinkChannel.listen();
        say(QStringLiteral("cargo echo=%1 sink=%2 info=%3").arg(EchoChannel).arg(SinkChannel).arg(SinkFunction));
        // Queued: the link reports its loss from the stack thread's work.
        connect(m_link.get(), &QErfcInterface::releaseInterface, this, [this] { onLinkLost(); },
                Qt::QueuedConnection);
        // Listening, the program's connection is waited for by the event
        // loop, so that a signal to end the node is answered meanwhile.
        auto* server = qobject_cast<TcpServerTestDevice*>(m_device.get());
        if (m_listening && server && server->listenDescriptor() >= 0) {
            m_pending = new QSocketNotifier(server->listenDescriptor(), QSocketNotifier::Read, this);
            m_pending->setEnabled(false);
            connect(m_pending, &QSocketNotifier::activated, this, [this] {
                m_pending->setEnabled(false);
                connectLink();
            });
        }
    }

    ~TestNode() override
    {
        m_stack->disable();
        if (m_bound)
            m_stack->releaseInterface(m_link.get());
        m_stack->unregisterFunction(&m_echo);
        m_stack->unregisterFunction(&m_sinkInfo);
        m_stack->unregisterEvent(&m_tick);
    }

    // The tick's value: a slow sine wave of the time since ticking began, with
    // noise of up to 0.05 either way.
    quint32 tickValue() const
    {
        const double seconds = m_clock.elapsed() / 1000.0;
        const double noise = (QRandomGenerator::global()->generateDouble() - 0.5) / 10;
        const float value = float(std::sin(2 * M_PI * seconds / 20) + noise);
        quint32 bits;
        std::memcpy(&bits, &value, sizeof bits);
        return bits;
    }

    static void appendLittleEndian(QByteArray& payload, quint32 number)
    {
        for (int i = 0; i < 4; ++i)
            payload.append(char(number >> (8 * i)));
    }

    void startTicking(int intervalMs)
    {
        if (intervalMs <= 0)
            return;
        auto* timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, [this] {
            if (!m_bound)
                return;
            ++m_ticks;
            QByteArray payload;
            appendLittleEndian(payload, m_ticks);
            appendLittleEndian(payload, tickValue());
            QErfcEmitEvent event(TickEvent, payload);
            try {
                m_stack->send(&event);
            } catch (const QErfcException&) {
            }
        });
        m_clock.start();
        timer->start(intervalMs);
    }

    // Binds the link, once a connection waits when listening.
    void start()
    {
        if (m_pending)
            m_pending->setEnabled(true);
        else
            connectLink();
    }

    // Binds the link; in listening mode waits for the next connection.
    void connectLink()
    {
        try {
            m_stack->bindInterface(m_link.get());
        } catch (const QErfcException&) {
            m_stack->releaseInterface(m_link.get()); // a failed bind stays listed
            if (m_listening) {
                QTimer::singleShot(0, this, [this] { start(); });
                return;
            }
            say(QStringLiteral("error: cannot open the connection"));
            QCoreApplication::exit(2);
            return;
        }
        m_bound = true;
        m_stack->enable();
        say(QStringLiteral("ready address=%1").arg(m_stack->address()));
    }

private:
    void onLinkLost()
    {
        if (!m_bound)
            return;
        m_stack->disable();
        m_stack->releaseInterface(m_link.get());
        m_bound = false;
        say(QStringLiteral("disconnected"));
        if (m_listening)
            QTimer::singleShot(0, this, [this] { start(); });
        else
            QCoreApplication::exit(0);
    }

    QErfcStack* m_stack;
    std::unique_ptr<QErfcDevice> m_device;
    std::unique_ptr<QErfcStreamInterface> m_link;
    bool m_listening;
    QSocketNotifier* m_pending = nullptr;
    bool m_bound = false;
    quint32 m_ticks = 0;
    QElapsedTimer m_clock;
    QErfcFunction m_echo;
    QErfcEvent m_tick;
    CargoChannel m_echoChannel;
    CargoChannel m_sinkChannel;
    QErfcFunction m_sinkInfo;
};

// Calls one function of every known node at a steady pace and prints the
// answers' codes.
class PeriodicCaller : public QObject
{
public:
    enum { IntervalMs = 200 };

    PeriodicCaller(QErfcStack* stack, uchar functionId)
        : m_stack(stack)
        , m_functionId(functionId)
    {
        connect(&m_timer, &QTimer::timeout, this, [this] { callAll(); });
        m_timer.start(IntervalMs);
    }

private:
    void callAll()
    {
        for (uchar address : m_stack->knownNodes()) {
            auto* request = new QErfcRequest(address, m_functionId);
            // Completed on the stack thread: printed from this one.
            connect(request, &QErfcRequest::callSignal, this, [address](QErfcIncomingResponse response) {
                say(QStringLiteral("call address=%1 code=%2").arg(address).arg(int(response.responseCode())));
            }, Qt::QueuedConnection);
            connect(request, &QErfcRequest::finished, request, &QObject::deleteLater, Qt::QueuedConnection);
            try {
                m_stack->send(request);
            } catch (const QErfcException&) {
                delete request;
            }
        }
    }

    QErfcStack* m_stack;
    const uchar m_functionId;
    QTimer m_timer;
};

// What the nodes of a --nodes run are called, in address order.
// The user interfaces every node offers, packed once.
struct UserInterfaces
{
    QString password;
    QList<QPair<QString, QByteArray>> packages;

    void offer(TestUiService* service) const
    {
        for (const auto& package : packages)
            service->addInterface(package.first, package.second);
        service->start();
    }
};

const char* const nodeNames[] = {"Pump controller", "Valve block", "Level sensor", "Gateway"};
constexpr int LeaveAfterMs = 5000;

struct SeveralNodes
{
    uint first = 10;
    int count = 1;
    QList<uint> maintenance;
    int leaving = -1;
    QErfc::Mode mode = QErfc::Application;
    QByteArray uniqueId;
    int tickMs = 500;
    QString cftpRoot; // empty: a seeded temporary folder per node
    QString cftpUser;
    QString cftpPassword;
    bool cftpRecord = false;
    QString cftpFault; // empty: none
    TestLogSource::Options log;
    UserInterfaces interfaces;
    const QCommandLineParser* parser = nullptr; // the service and firmware options
};

// Where the node at `address` writes a firmware image: the file given for the
// first node, the file with ".<address>" appended for the others.
QString firmwarePath(const QString& given, uint first, uchar address)
{
    if (given.isEmpty() || address == first)
        return given;
    return given + QLatin1Char('.') + QString::number(address);
}

// Runs `setup.count` test nodes, each with its own stack, on one connection.
int runSeveralNodes(std::unique_ptr<QErfcDevice> program, bool listening, const SeveralNodes& setup)
{
    NodeHub hub(std::move(program), listening);
    std::vector<std::unique_ptr<QErfcStack>> stacks; // outlive the nodes that use them
    std::vector<std::unique_ptr<TestNode>> nodes;
    std::vector<std::unique_ptr<QTemporaryDir>> folders;
    std::vector<std::unique_ptr<TestCftpServer>> fileServices;
    std::vector<std::unique_ptr<TestNodeReset>> resets;
    std::vector<std::unique_ptr<TestLogSource>> logs;
    std::vector<std::unique_ptr<TestUiService>> interfaces;
    std::vector<std::unique_ptr<TestNodeService>> services;
    std::vector<std::unique_ptr<TestNodeFirmware>> firmware;
    QErfcStack* leaving = nullptr;
    for (int i = 0; i < setup.count; ++i) {
        const uchar address = uchar(setup.first + uint(i));
        const QErfc::Mode mode = setup.maintenance.contains(address) ? QErfc::Maintenance : setup.mode;
        stacks.emplace_back(new QErfcStack(address, mode));
        QErfcStack* stack = stacks.back().get();
        stack->setNodeDescription(i < int(std::size(nodeNames)) ? QString::fromLatin1(nodeNames[i])
                                                                 : QStringLiteral("Test node %1").arg(address));
        stack->setSerial(QStringLiteral("SN-%1").arg(1001 + i));
        QByteArray uniqueId = setup.uniqueId.isEmpty() ? QByteArray(1, '\0') : setup.uniqueId;
        uniqueId[uniqueId.size() - 1] = char(uniqueId.at(uniqueId.size() - 1) + i);
        stack->setUniqueId(uniqueId);
        stack->setHardwareDescription(QStringLiteral("erfc-testnode"));
        if (int(address) == setup.leaving)
            leaving = stack;

        QString root = setup.cftpRoot;
        if (root.isEmpty()) {
            folders.emplace_back(new QTemporaryDir);
            root = TestCftpServer::seed(folders.back()->path());
        }
        fileServices.emplace_back(new TestCftpServer(stack, setup.cftpUser, setup.cftpPassword));
        fileServices.back()->setRootPath(root);
        fileServices.back()->listen(QErfc::User, TestCftpServer::Channel);
        if (setup.cftpRecord) {
            QObject::connect(fileServices.back().get(), &TestCftpServer::commandServed, [stack](const QString& line) {
                TestNodeOutput::print(stack->address(), "cftp", line);
            });
        }
        if (!setup.cftpFault.isEmpty() && !fileServices.back()->setFault(setup.cftpFault)) {
            say(QStringLiteral("error: --cftp-fault CMD=code|drop|half[@n]"));
            return 1;
        }
        say(QStringLiteral("cftp address=%1 channel=%2 root=%3 user=%4 password=%5")
                .arg(address).arg(TestCftpServer::Channel).arg(root, setup.cftpUser, setup.cftpPassword));
        resets.emplace_back(new TestNodeReset(stack));
        if (!resets.back()->readOptions(*setup.parser))
            return 1; // the first node already: nothing registered yet
        logs.emplace_back(new TestLogSource(stack, setup.log));
        interfaces.emplace_back(new TestUiService(stack, setup.interfaces.password));
        setup.interfaces.offer(interfaces.back().get());
        QObject::connect(resets.back().get(), &TestNodeReset::restarted, logs.back().get(),
                         &TestLogSource::reset);

        // The service function and the firmware channel, as a single node has them.
        services.emplace_back(new TestNodeService(stack));
        TestNodeService* service = services.back().get();
        firmware.emplace_back(new TestNodeFirmware(stack, service));
        TestNodeFirmware* image = firmware.back().get();
        if (!service->readOptions(*setup.parser) || !image->readOptions(*setup.parser))
            return 1; // the first node already: nothing registered yet
        stack->registerFunction(service);
        resets.back()->setRecorder([service](const QByteArray& payload) { service->record(payload); });
        image->setOutputPath(firmwarePath(image->outputPath(), setup.first, address));
        QObject::connect(resets.back().get(), &TestNodeReset::restarted, image, &TestNodeFirmware::start);
        image->start();

        const quint16 port = hub.addNode(address);
        if (port == 0) {
            say(QStringLiteral("error: no port for node %1").arg(address));
            return 1;
        }
        // The node's side first: its connect completes in the listen backlog.
        nodes.emplace_back(new TestNode(stack, std::make_unique<TcpClientTestDevice>(port), false));
        nodes.back()->startTicking(setup.tickMs);
        nodes.back()->connectLink();
        if (!hub.attachNode(address)) {
            say(QStringLiteral("error: node %1 did not connect").arg(address));
            return 1;
        }
    }

    // The leaving node is back for each new connection and says goodbye after a while.
    QTimer leave;
    leave.setSingleShot(true);
    QObject::connect(&leave, &QTimer::timeout, &hub, [leaving] {
        leaving->disable();
        say(QStringLiteral("left address=%1").arg(leaving->address()));
    });
    QObject::connect(&hub, &NodeHub::programConnected, &hub, [&leave, leaving] {
        say(QStringLiteral("connected"));
        if (leaving) {
            leaving->enable();
            leave.start(LeaveAfterMs);
        }
    });
    QObject::connect(&hub, &NodeHub::programDisconnected, &hub, [&leave] {
        say(QStringLiteral("disconnected"));
        leave.stop();
    });
    // The first node is the one that calls, as a single node does.
    std::unique_ptr<PeriodicCaller> caller;
    if (setup.parser->isSet(QStringLiteral("call")))
        caller.reset(new PeriodicCaller(stacks.front().get(), uchar(setup.parser->value(QStringLiteral("call")).toUInt())));
    QTimer::singleShot(0, &hub, [&hub] { hub.connectProgram(); });
    const int status = QCoreApplication::exec();
    caller.reset();
    nodes.clear();
    for (size_t i = 0; i < services.size(); ++i)
        stacks[i]->unregisterFunction(services[i].get());
    firmware.clear();
    services.clear();
    interfaces.clear();
    logs.clear();
    resets.clear();
    fileServices.clear();
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QuitOnSignal quitOnSignal;
    QCoreApplication::setApplicationName(QStringLiteral("erfc-testnode"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("A small Erfc node for tests."));
    parser.addHelpOption();
    const QCommandLineOption address(QStringLiteral("address"), QStringLiteral("Node address (0..62)."),
                                     QStringLiteral("n"), QStringLiteral("10"));
    const QCommandLineOption listen(QStringLiteral("listen"),
                                    QStringLiteral("Wait for a TCP connection on 127.0.0.1:port."),
                                    QStringLiteral("port"));
    const QCommandLineOption tcp(QStringLiteral("tcp-ip"), QStringLiteral("Connect to this TCP host."),
                                 QStringLiteral("host"));
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("TCP port to connect to."),
                                  QStringLiteral("port"), QStringLiteral("1328"));
    const QCommandLineOption serial(QStringLiteral("serial"), QStringLiteral("Serial port to open."),
                                    QStringLiteral("device"));
    const QCommandLineOption baud(QStringLiteral("baudrate"), QStringLiteral("Serial baud rate."),
                                  QStringLiteral("rate"), QStringLiteral("115200"));
    const QCommandLineOption description(QStringLiteral("description"),
                                         QStringLiteral("Node description."), QStringLiteral("text"),
                                         QStringLiteral("Test node"));
    const QCommandLineOption serialNumber(QStringLiteral("serial-number"),
                                          QStringLiteral("Serial number."), QStringLiteral("text"),
                                          QStringLiteral("TN-0001"));
    const QCommandLineOption uniqueId(QStringLiteral("unique-id"), QStringLiteral("Unique id, hex."),
                                      QStringLiteral("hex"), QStringLiteral("0102030405060708"));
    const QCommandLineOption softwareHash(QStringLiteral("software-hash"), QStringLiteral("Software hash, hex."),
                                          QStringLiteral("hex"));
    const QCommandLineOption bootloaderHash(QStringLiteral("bootloader-hash"),
                                            QStringLiteral("Bootloader hash, hex."), QStringLiteral("hex"));
    const QCommandLineOption mode(QStringLiteral("mode"),
                                  QStringLiteral("application or maintenance."),
                                  QStringLiteral("mode"), QStringLiteral("application"));
    const QCommandLineOption tick(QStringLiteral("tick"),
                                  QStringLiteral("Emit event 16 every this many ms (0: never)."),
                                  QStringLiteral("ms"), QStringLiteral("500"));
    const QCommandLineOption cftpRoot(QStringLiteral("cftp-root"),
                                      QStringLiteral("Folder the file service serves (default: a new "
                                                     "temporary folder with a few files)."),
                                      QStringLiteral("dir"));
    const QCommandLineOption cftpUser(QStringLiteral("cftp-user"), QStringLiteral("File service user."),
                                      QStringLiteral("name"), QStringLiteral("user"));
    const QCommandLineOption cftpPassword(QStringLiteral("cftp-password"),
                                          QStringLiteral("File service password."), QStringLiteral("text"),
                                          QStringLiteral("secret"));
    const QCommandLineOption nodeCount(QStringLiteral("nodes"),
                                       QStringLiteral("Run this many nodes (1..62), from --address upward "
                                                      "(without --address: from 10, or lower when they "
                                                      "would not fit)."),
                                       QStringLiteral("count"), QStringLiteral("1"));
    const QCommandLineOption maintenance(QStringLiteral("maintenance"),
                                         QStringLiteral("With --nodes: this node starts in Maintenance."),
                                         QStringLiteral("address"));
    const QCommandLineOption leave(QStringLiteral("leave"),
                                   QStringLiteral("With --nodes: this node says goodbye 5 s after the "
                                                  "program connected."),
                                   QStringLiteral("address"));
    const QCommandLineOption cftpRecord(QStringLiteral("cftp-record"),
                                        QStringLiteral("Print each file service command served."));
    const QCommandLineOption cftpFault(QStringLiteral("cftp-fault"),
                                       QStringLiteral("One fault of the file service: CMD=code, CMD=drop or "
                                                      "CMD=half (GET, STR), each with @n for the nth."),
                                       QStringLiteral("fault"));
    const QCommandLineOption call(QStringLiteral("call"),
                                  QStringLiteral("Call this function of every known node every 200 ms "
                                                 "and print the answers' codes."),
                                  QStringLiteral("fid"));
    const QCommandLineOption uiPassword(QStringLiteral("ui-password"),
                                        QStringLiteral("Password of the user-interface download."),
                                        QStringLiteral("text"), QString());
    const QCommandLineOption ui(QStringLiteral("ui"),
                                QStringLiteral("Also offer the files of DIR as user interface NAME "
                                               "(repeatable)."),
                                QStringLiteral("NAME=DIR"));
    parser.addOptions({address, listen, tcp, port, serial, baud, description, serialNumber, uniqueId,
                       softwareHash, bootloaderHash,
                       mode, tick, nodeCount, maintenance, leave, cftpRoot, cftpUser, cftpPassword,
                       cftpRecord, cftpFault, call, uiPassword, ui});
    TestLogSource::addOptions(parser);
    TestNodeReset::addOptions(parser);
    TestNodeService::addOptions(parser);
    TestNodeFirmware::addOptions(parser);
    parser.process(app);

    bool ok = false;
    const uint addr = parser.value(address).toUInt(&ok);
    if (!ok || addr > 62) {
        say(QStringLiteral("error: address must be 0..62"));
        return 1;
    }

    const uint count = parser.value(nodeCount).toUInt(&ok);
    if (!ok || count < 1 || count > 62) {
        say(QStringLiteral("error: --nodes must be 1..62"));
        return 1;
    }
    // Addresses end at 62: without --address, a run too long to start at 10
    // starts lower (62 nodes: 1..62, leaving 0 for the program).
    uint first = addr;
    if (!parser.isSet(address) && first + count - 1 > 62)
        first = 63 - count;
    if (first + count - 1 > 62) {
        say(QStringLiteral("error: %1 nodes from address %2 would end at %3; addresses end at 62, "
                           "so at most %4 fit from %2 (--address 1 for 62 nodes)")
                .arg(count).arg(first).arg(first + count - 1).arg(63 - first));
        return 1;
    }

    UserInterfaces interfaces;
    interfaces.password = parser.value(uiPassword);
    interfaces.packages.append({QStringLiteral("Demo"), TestUiService::demoPackage()});
    for (const QString& text : parser.values(ui)) {
        const int split = text.indexOf('=');
        const QByteArray package = split > 0 ? packFolder(text.mid(split + 1)) : QByteArray();
        if (package.isEmpty()) {
            say(QStringLiteral("error: --ui NAME=DIR needs a folder with files: %1").arg(text));
            return 1;
        }
        interfaces.packages.append({text.left(split), package});
    }
    {
        QStringList names;
        for (const auto& package : interfaces.packages)
            names << package.first;
        say(QStringLiteral("ui channel=%1 function=%2 interfaces=%3")
                .arg(TestUiService::Channel).arg(TestUiService::Function).arg(names.join(',')));
    }

    std::unique_ptr<QErfcDevice> device;
    bool listening = false;
    if (parser.isSet(listen)) {
        // Several nodes: the accept waits briefly, so the nodes' frames keep moving.
        auto* server = new TcpServerTestDevice(quint16(parser.value(listen).toUInt()), count > 1 ? 250 : 10000);
        if (server->port() == 0) {
            say(QStringLiteral("error: cannot listen on port %1").arg(parser.value(listen)));
            delete server;
            return 1;
        }
        say(QStringLiteral("listening port=%1").arg(server->port()));
        device.reset(server);
        listening = true;
    } else if (parser.isSet(tcp)) {
        device.reset(new TcpClientTestDevice(parser.value(tcp), quint16(parser.value(port).toUInt())));
    } else if (parser.isSet(serial)) {
        device.reset(new SerialDevice(parser.value(serial), parser.value(baud).toInt()));
    } else {
        say(QStringLiteral("error: give --listen, --tcp-ip or --serial"));
        return 1;
    }

    const QErfc::Mode nodeMode = parser.value(mode) == QLatin1String("maintenance")
        ? QErfc::Maintenance
        : QErfc::Application;
    if (count > 1) {
        TestNodeOutput::setNamingNodes(true);
        SeveralNodes setup;
        setup.first = first;
        setup.count = int(count);
        for (const QString& text : parser.values(maintenance))
            setup.maintenance.append(text.toUInt());
        setup.leaving = parser.isSet(leave) ? int(parser.value(leave).toUInt()) : -1;
        setup.mode = nodeMode;
        setup.uniqueId = QByteArray::fromHex(parser.value(uniqueId).toLatin1()).left(32);
        setup.tickMs = parser.value(tick).toInt();
        setup.cftpRoot = parser.value(cftpRoot);
        setup.cftpUser = parser.value(cftpUser);
        setup.cftpPassword = parser.value(cftpPassword);
        setup.cftpRecord = parser.isSet(cftpRecord);
        setup.cftpFault = parser.value(cftpFault);
        setup.log = TestLogSource::readOptions(parser);
        setup.interfaces = interfaces;
        setup.parser = &parser;
        return runSeveralNodes(std::move(device), listening, setup);
    }

    QErfcStack stack(uchar(addr), nodeMode);
    try {
        stack.setNodeDescription(parser.value(description));
        stack.setSerial(parser.value(serialNumber));
        stack.setUniqueId(QByteArray::fromHex(parser.value(uniqueId).toLatin1()));
        stack.setHardwareDescription(QStringLiteral("erfc-testnode"));
        stack.setSoftwareHash(QByteArray::fromHex(parser.value(softwareHash).toLatin1()));
        stack.setBootloaderHash(QByteArray::fromHex(parser.value(bootloaderHash).toLatin1()));
    } catch (const QErfcException& e) {
        say(QStringLiteral("error: %1").arg(QString::fromLatin1(e.what())));
        return 1;
    }

    int status;
    {
        // Made only when needed: a node killed outright leaves nothing behind
        // when it serves a folder of its caller's.
        std::unique_ptr<QTemporaryDir> seeded;
        if (!parser.isSet(cftpRoot))
            seeded.reset(new QTemporaryDir);
        const QString root = seeded ? TestCftpServer::seed(seeded->path()) : parser.value(cftpRoot);
        TestCftpServer files(&stack, parser.value(cftpUser), parser.value(cftpPassword));
        files.setRootPath(root);
        files.listen(QErfc::User, TestCftpServer::Channel);
        if (parser.isSet(cftpRecord))
            QObject::connect(&files, &TestCftpServer::commandServed, [](const QString& line) { say("cftp " + line); });
        if (parser.isSet(cftpFault) && !files.setFault(parser.value(cftpFault))) {
            say(QStringLiteral("error: --cftp-fault CMD=code|drop|half[@n]"));
            return 1;
        }
        say(QStringLiteral("cftp channel=%1 root=%2 user=%3 password=%4")
                .arg(TestCftpServer::Channel).arg(root, parser.value(cftpUser), parser.value(cftpPassword)));
        TestNodeReset reset(&stack);
        if (!reset.readOptions(parser))
            return 1;
        TestNodeService service(&stack);
        if (!service.readOptions(parser))
            return 1;
        stack.registerFunction(&service);
        TestUiService userInterfaces(&stack, interfaces.password);
        interfaces.offer(&userInterfaces);
        reset.setRecorder([&service](const QByteArray& payload) { service.record(payload); });
        TestNodeFirmware firmware(&stack, &service);
        if (!firmware.readOptions(parser))
            return 1;
        QObject::connect(&reset, &TestNodeReset::restarted, &firmware, &TestNodeFirmware::start);
        TestNode node(&stack, std::move(device), listening);
        TestLogSource log(&stack, TestLogSource::readOptions(parser));
        QObject::connect(&reset, &TestNodeReset::restarted, &log, &TestLogSource::reset);
        node.startTicking(parser.value(tick).toInt());
        std::unique_ptr<PeriodicCaller> caller;
        if (parser.isSet(call))
            caller.reset(new PeriodicCaller(&stack, uchar(parser.value(call).toUInt())));
        QTimer::singleShot(0, &node, [&node] { node.start(); });
        QTimer::singleShot(0, &firmware, &TestNodeFirmware::start);
        status = app.exec();
        stack.unregisterFunction(&service);
    }
    return status;
}
