#include "qerfcdatagram.h"
#include "qerfcemitevent.h"
#include "qerfcevent.h"
#include "qerfcexception.h"
#include "qerfcfunction.h"
#include "qerfcrequest.h"
#include "qerfcstack.h"
#include "rawpeer.h"

#include <QtTest>

#include <atomic>
#include <functional>
#include <memory>

// The stack's configuration, registration, links and life cycle.
namespace {

constexpr uchar Own = 1;

// The exception code `call` throws; -1 when it throws none.
int codeOf(const std::function<void()>& call)
{
    try {
        call();
    } catch (const QErfcException& e) {
        return e.code();
    }
    return -1;
}

class FailingDevice : public QErfcDevice
{
public:
    QIODevice* open() override { return nullptr; }
    void close() override {}
};

// Hello of node 1 to 63: request, no-response, NETWORK, privilege 0.
const QByteArray HelloHeader = QByteArray::fromHex("fc180502");

} // namespace

class tst_QErfcStack : public QObject
{
    Q_OBJECT

private slots:
    void addressAndState();
    void identityTexts();
    void registration_data();
    void registration();
    void registeredIds();
    void sendChecks_data();
    void sendChecks();
    void bindAndReleaseErrors();
    void bindAndReleaseOnStackThreadThrow();
    void enableHelloOnEachLink();
    void disableSaysGoodbyeThenDropsNodes();
    void destroyingEnabledStack();
};

void tst_QErfcStack::addressAndState()
{
    QCOMPARE(codeOf([] { QErfcStack s(63); }), int(QErfcException::AddressError));
    QErfcStack plain;
    QCOMPARE(plain.address(), uchar(0));
    QCOMPARE(plain.mode(), QErfc::Application);
    QErfcStack stack(62, QErfc::Maintenance);
    QCOMPARE(stack.mode(), QErfc::Maintenance);
    QCOMPARE(codeOf([&] { stack.setAddress(63); }), int(QErfcException::AddressError));
    QCOMPARE(stack.address(), uchar(62));
    stack.setAddress(7);
    stack.enable();
    QVERIFY(stack.isEnabled());
    QCOMPARE(codeOf([&] { stack.setAddress(5); }), int(QErfcException::StackEnabled));
    QCOMPARE(stack.address(), uchar(7));
    stack.disable();
    stack.setAddress(5);
    QCOMPARE(stack.address(), uchar(5));

    stack.setPrivilege(QErfc::Privilege(3));
    QCOMPARE(int(stack.privilege()), 3);
    stack.resetStatistics();
    QCOMPARE(stack.statistics().toPayload(), QByteArray(32, '\0'));
}

void tst_QErfcStack::identityTexts()
{
    QErfcStack stack;
    using TextSet = void (QErfcStack::*)(const QString&);
    using TextGet = QString (QErfcStack::*)() const;
    const QList<QPair<TextSet, TextGet>> texts = {
        {&QErfcStack::setNodeDescription, &QErfcStack::nodeDescription},
        {&QErfcStack::setSoftwareVersion, &QErfcStack::softwareVersion},
        {&QErfcStack::setBootloaderVersion, &QErfcStack::bootloaderVersion},
        {&QErfcStack::setHardwareDescription, &QErfcStack::hardwareDescription},
        {&QErfcStack::setHardwareRevision, &QErfcStack::hardwareRevision},
        {&QErfcStack::setSerial, &QErfcStack::serial},
    };
    const QString fits(32, QChar(0xE9)); // 32 Latin-1 bytes
    for (const auto& t : texts) {
        (stack.*t.first)(fits);
        QCOMPARE((stack.*t.second)(), fits);
        QCOMPARE(codeOf([&] { (stack.*t.first)(QString(33, 'x')); }),
                 int(QErfcException::DescriptionError));
        QCOMPARE((stack.*t.second)(), fits);
    }

    using BytesSet = void (QErfcStack::*)(const QByteArray&);
    using BytesGet = QByteArray (QErfcStack::*)() const;
    const QList<QPair<BytesSet, BytesGet>> bytes = {
        {&QErfcStack::setSoftwareHash, &QErfcStack::softwareHash},
        {&QErfcStack::setBootloaderHash, &QErfcStack::bootloaderHash},
        {&QErfcStack::setUniqueId, &QErfcStack::uniqueId},
    };
    for (const auto& b : bytes) {
        (stack.*b.first)(QByteArray(32, '\xA5'));
        QCOMPARE(codeOf([&] { (stack.*b.first)(QByteArray(33, '\0')); }),
                 int(QErfcException::PayloadError));
        QCOMPARE((stack.*b.second)(), QByteArray(32, '\xA5'));
    }
}

void tst_QErfcStack::registration_data()
{
    QTest::addColumn<bool>("event");
    QTest::addColumn<int>("id");
    QTest::addColumn<int>("descriptionLength");
    QTest::addColumn<int>("code");

    const int ok = -1;
    for (bool event : {false, true}) {
        const char* kind = event ? "event" : "function";
        QTest::addRow("%s id 15", kind) << event << 15 << 4 << int(QErfcException::RegisterIdError);
        QTest::addRow("%s id 128", kind) << event << 128 << 4 << int(QErfcException::RegisterIdError);
        QTest::addRow("%s id 16", kind) << event << 16 << 4 << ok;
        QTest::addRow("%s id 127", kind) << event << 127 << 32 << ok;
        QTest::addRow("%s description 33", kind) << event << 40 << 33 << int(QErfcException::DescriptionError);
        QTest::addRow("%s id checked first", kind) << event << 0 << 33 << int(QErfcException::RegisterIdError);
    }
}

void tst_QErfcStack::registration()
{
    QFETCH(bool, event);
    QFETCH(int, id);
    QFETCH(int, descriptionLength);
    QFETCH(int, code);

    QErfcStack stack;
    const QString description(descriptionLength, 'd');
    QErfcFunction f(quint8(id), description, QErfc::User), again(quint8(id), "again", QErfc::User);
    QErfcEvent e(quint8(id), description, QErfc::User), twice(quint8(id), "twice", QErfc::User);
    auto ids = [&] { return event ? stack.eventIds() : stack.functionIds(); };
    const QList<uchar> before = ids();

    QCOMPARE(codeOf([&] { event ? stack.registerEvent(&e) : stack.registerFunction(&f); }), code);
    if (code >= 0) {
        QCOMPARE(ids(), before);
        return;
    }
    QCOMPARE(ids().count(uchar(id)), 1);
    QCOMPARE(codeOf([&] { event ? stack.registerEvent(&twice) : stack.registerFunction(&again); }),
             int(event ? QErfcException::EventRegisterError : QErfcException::FunctionRegisterError));
    QCOMPARE(ids().count(uchar(id)), 1);
    event ? stack.unregisterEvent(&e) : stack.unregisterFunction(&f);
    QCOMPARE(ids(), before);
}

void tst_QErfcStack::registeredIds()
{
    QErfcStack stack;
    const QList<uchar> internal{0, 1, 2, 3, 4, 5, 15};
    QCOMPARE(stack.functionIds(), internal);
    QVERIFY(stack.eventIds().isEmpty());

    // Unregistering what was never registered, or an internal id, changes nothing.
    QErfcFunction never(40, "never", QErfc::User), echo(0, "mine", QErfc::User);
    stack.unregisterFunction(&never);
    stack.unregisterFunction(&echo);
    QCOMPARE(stack.functionIds(), internal);

    // A registered object that is destroyed is gone from the table.
    auto* f = new QErfcFunction(50, "short-lived", QErfc::User);
    auto* e = new QErfcEvent(50, "short-lived", QErfc::User);
    stack.registerFunction(f);
    stack.registerEvent(e);
    delete f;
    delete e;
    QCOMPARE(stack.functionIds(), internal);
    QVERIFY(stack.eventIds().isEmpty());
}

void tst_QErfcStack::sendChecks_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("id");
    QTest::addColumn<int>("payloadSize");
    QTest::addColumn<int>("timeout");
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("result");

    using E = QErfcException;
    QTest::newRow("request disabled") << "request" << false << 2 << 20 << 0 << 250 << int(E::StackDisabled) << false;
    QTest::newRow("request payload 33") << "request" << true << 64 << 200 << 33 << 9 << int(E::PayloadError) << false;
    QTest::newRow("request address 64") << "request" << true << 64 << 200 << 32 << 9 << int(E::AddressError) << false;
    QTest::newRow("request function 128") << "request" << true << 63 << 128 << 0 << 9 << int(E::FunctionIdError) << false;
    QTest::newRow("request timeout 9") << "request" << true << 63 << 127 << 0 << 9 << int(E::TimeoutError) << false;
    QTest::newRow("request to 63") << "request" << true << 63 << 127 << 0 << 10 << int(E::BroadcastNotAllowed) << false;
    QTest::newRow("request unknown node") << "request" << true << 2 << 20 << 3 << 10 << -1 << false;
    QTest::newRow("request own address") << "request" << true << int(Own) << 20 << 3 << 250 << -1 << false;
    QTest::newRow("datagram disabled") << "datagram" << false << 63 << 20 << 0 << 0 << int(E::StackDisabled) << false;
    QTest::newRow("datagram payload 33") << "datagram" << true << 64 << 128 << 33 << 0 << int(E::PayloadError) << false;
    QTest::newRow("datagram address 64") << "datagram" << true << 64 << 128 << 0 << 0 << int(E::AddressError) << false;
    QTest::newRow("datagram function 128") << "datagram" << true << 63 << 128 << 0 << 0 << int(E::FunctionIdError) << false;
    QTest::newRow("datagram unknown node") << "datagram" << true << 2 << 20 << 0 << 0 << -1 << false;
    QTest::newRow("datagram to 63") << "datagram" << true << 63 << 20 << 32 << 0 << -1 << true;
    QTest::newRow("event disabled") << "event" << false << 0 << 30 << 0 << 0 << int(E::StackDisabled) << false;
    QTest::newRow("event payload 33") << "event" << true << 0 << 128 << 33 << 0 << int(E::PayloadError) << false;
    QTest::newRow("event id 128") << "event" << true << 0 << 128 << 0 << 0 << int(E::EventIdError) << false;
    QTest::newRow("event not registered") << "event" << true << 0 << 31 << 0 << 0 << int(E::EventNotRegistered) << false;
    QTest::newRow("event without subscribers") << "event" << true << 0 << 30 << 0 << 0 << -1 << true;
}

void tst_QErfcStack::sendChecks()
{
    QFETCH(QString, kind);
    QFETCH(bool, enabled);
    QFETCH(int, address);
    QFETCH(int, id);
    QFETCH(int, payloadSize);
    QFETCH(int, timeout);
    QFETCH(int, code);
    QFETCH(bool, result);

    QErfcStack stack(Own);
    QErfcEvent registered(30, "registered", QErfc::User);
    stack.registerEvent(&registered);
    if (enabled)
        stack.enable();
    const QByteArray payload(payloadSize, 'p');
    bool sent = !result;
    if (kind == "request") {
        QErfcRequest r(quint8(address), quint8(id), payload);
        r.setTimeout(quint8(timeout));
        QCOMPARE(codeOf([&] { sent = stack.send(&r); }), code);
        // A refused request is not completed; one that cannot go is, at once.
        QCOMPARE(r.waitForResponse(0), code < 0);
        if (code < 0) {
            QCOMPARE(r.response().responseCode(), QErfc::ConnectionError);
            QCOMPARE(r.response().address(), Own);
            QCOMPARE(r.response().payload(), payload);
        }
    } else if (kind == "datagram") {
        QErfcDatagram d(quint8(address), quint8(id), payload);
        QCOMPARE(codeOf([&] { sent = stack.send(&d); }), code);
    } else {
        QErfcEmitEvent e(quint8(id), payload);
        QCOMPARE(codeOf([&] { sent = stack.send(&e); }), code);
    }
    if (code < 0)
        QCOMPARE(sent, result);
}

void tst_QErfcStack::bindAndReleaseErrors()
{
    QErfcStack stack(Own);
    FailingDevice failing;
    QErfcStreamInterface broken(&failing);
    QCOMPARE(codeOf([&] { stack.bindInterface(&broken); }), int(QErfcException::InterfaceBindError));
    // The failed link stays listed until released.
    QCOMPARE(codeOf([&] { stack.releaseInterface(&broken); }), -1);
    QCOMPARE(codeOf([&] { stack.releaseInterface(&broken); }),
             int(QErfcException::InterfaceReleaseError));

    RawPeer peer;
    QVERIFY(peer.attach(&stack));
    QCOMPARE(codeOf([&] { stack.bindInterface(peer.link()); }), int(QErfcException::InterfaceBindError));
    peer.detach();
    QCOMPARE(codeOf([&] { stack.releaseInterface(peer.link()); }),
             int(QErfcException::InterfaceReleaseError));
}

void tst_QErfcStack::bindAndReleaseOnStackThreadThrow()
{
    QErfcStack stack(Own);
    RawPeer peer;
    QVERIFY(peer.attach(&stack));
    stack.enable();
    QVERIFY(peer.join());

    FailingDevice unused;
    QErfcStreamInterface other(&unused);
    std::atomic<int> bindCode{-2}, releaseCode{-2};
    QErfcFunction f(20, "links", QErfc::User);
    connect(&f, &QErfcFunction::callSignal, &f,
            [&](QErfcIncomingRequest&, QErfcResponse&, QErfc::ResponseCode& code) {
                bindCode = codeOf([&] { stack.bindInterface(&other); });
                releaseCode = codeOf([&] { stack.releaseInterface(peer.link()); });
                code = QErfc::OK;
            },
            Qt::DirectConnection);
    stack.registerFunction(&f);
    QErfcMsg answer;
    QVERIFY(peer.call(20, QByteArray(), &answer));
    QCOMPARE(int(answer.responseCode()), 0);
    QCOMPARE(bindCode.load(), int(QErfcException::InterfaceBindError));
    QCOMPARE(releaseCode.load(), int(QErfcException::InterfaceReleaseError));
    QVERIFY(peer.sync()); // the link still works
}

void tst_QErfcStack::enableHelloOnEachLink()
{
    QErfcStack stack(Own, QErfc::Maintenance);
    RawPeer one(4), two(5);
    QVERIFY(one.attach(&stack));
    QVERIFY(two.attach(&stack));
    QCOMPARE(stack.statistics().frameTx, 0u); // disabled: no hello on bind

    stack.enable();
    QCOMPARE(stack.statistics().frameTx, 2u);
    QVERIFY(one.sync());
    QVERIFY(two.sync());
    QCOMPARE(one.count(RawPeer::isHello), 1);
    QCOMPARE(two.count(RawPeer::isHello), 1);
    const QByteArray hello = one.rawFrames().at(one.waitFor(RawPeer::isHello));
    QCOMPARE(two.rawFrames().at(two.waitFor(RawPeer::isHello)), hello);
    QCOMPARE(hello.size(), 4 + 7 + 2);
    QCOMPARE(hello.left(5), HelloHeader + '\0');
    QCOMPARE(hello.mid(9, 2).toHex(), QByteArray("1001")); // window 16, maintenance

    // A broadcast datagram leaves once on each link.
    const quint32 tx = stack.statistics().frameTx;
    QErfcDatagram all(63, 40, "hi");
    QVERIFY(stack.send(&all));
    QCOMPARE(stack.statistics().frameTx - tx, 2u);
    for (RawPeer* p : {&one, &two}) {
        const int i = p->waitFor([](const QErfcMsg& m) { return m.payload() == "hi"; });
        QVERIFY(i >= 0);
        QCOMPARE(p->rawFrames().at(i).left(6).toHex(), QByteArray("fc1828026869"));
    }

    // Binding while enabled announces the PC on the new link.
    RawPeer three(6);
    QVERIFY(three.attach(&stack));
    QVERIFY(three.waitFor(RawPeer::isHello) >= 0);
    QCOMPARE(three.rawFrames().at(three.waitFor(RawPeer::isHello)), hello);
}

void tst_QErfcStack::disableSaysGoodbyeThenDropsNodes()
{
    QErfcStack stack(Own);
    RawPeer peer(4);
    QVERIFY(peer.attach(&stack));
    stack.enable();
    QVERIFY(peer.join());
    peer.hello(0x99, 16, QErfc::Maintenance, 5);
    QTRY_COMPARE_WITH_TIMEOUT(stack.knownNodes(), (QList<uchar>{4, 5}), 10000);
    QErfcRequest r(4, 20);
    r.setRetries(255);
    QVERIFY(stack.send(&r));

    // What disable does in the caller's thread, in order.
    QStringList order;
    auto note = [&](const QString& s) {
        if (QThread::currentThread() == thread())
            order << s;
    };
    connect(&stack, &QErfcStack::trafficTx, this, [&](int n) { note(QStringLiteral("tx %1").arg(n)); },
            Qt::DirectConnection);
    connect(&stack, &QErfcStack::drcUpdate, this,
            [&](uchar a, QErfc::DrcUpdate s, QErfc::Mode m) {
                note(QStringLiteral("drc %1 %2 %3").arg(a).arg(int(s)).arg(int(m)));
            },
            Qt::DirectConnection);
    connect(&r, &QErfcRequest::finished, this, [&] { note("done"); }, Qt::DirectConnection);
    const int from = peer.frames().size();
    stack.disable();
    QCOMPARE(order, (QStringList{"tx 7", "done", "drc 4 1 0", "drc 5 1 1"}));
    QVERIFY(!stack.isEnabled());
    QVERIFY(stack.knownNodes().isEmpty());
    QCOMPARE(r.response().responseCode(), QErfc::ConnectionError);

    // Released at once: the goodbye still leaves before the link closes.
    peer.detach();
    const int i = peer.waitFor(RawPeer::isGoodbye, from);
    QVERIFY(i >= 0);
    QCOMPARE(peer.rawFrames().at(i).left(5), HelloHeader + '\1');
    disconnect(&stack, nullptr, this, nullptr);
}

void tst_QErfcStack::destroyingEnabledStack()
{
    RawPeer peer(4); // outlives the stack, which closes the peer's link itself
    auto* stack = new QErfcStack(Own);
    QVERIFY(peer.attach(stack));
    stack->enable();
    QVERIFY(peer.join());

    std::atomic<QThread*> stackThread{nullptr};
    QErfcFunction where(20, "where", QErfc::User);
    connect(&where, &QErfcFunction::callSignal, &where,
            [&](QErfcIncomingRequest&, QErfcResponse&, QErfc::ResponseCode& code) {
                stackThread = QThread::currentThread();
                code = QErfc::OK;
            },
            Qt::DirectConnection);
    stack->registerFunction(&where);
    QVERIFY(peer.call(20, QByteArray()));
    QPointer<QThread> thread(stackThread.load());
    QVERIFY(thread && thread != QThread::currentThread());

    QErfcRequest r(4, 21);
    r.setRetries(255);
    QVERIFY(stack->send(&r));
    const int from = peer.frames().size();
    delete stack;
    QVERIFY(thread.isNull());
    QVERIFY(r.waitForResponse(0));
    QCOMPARE(r.response().responseCode(), QErfc::ConnectionError);
    QVERIFY(peer.waitFor(RawPeer::isGoodbye, from) >= 0);
}

QTEST_GUILESS_MAIN(tst_QErfcStack)
#include "tst_qerfcstack.moc"
