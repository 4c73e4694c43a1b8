// When an outstanding frame's time-out starts: at its queueing, not when its
// sender began to wait for the window; behind other frames on its link, no
// earlier than the answer to the frame ahead.
#include "qerfcinterface.h"
#include "qerfcnode_p.h"

#include <QDeadlineTimer>
#include <QTest>
#include <QThread>

#include <atomic>
#include <memory>

namespace {

class NullLink : public QErfcInterface
{
public:
    bool bind() override { return true; }
    void release() override {}
    bool transmit(const QByteArray&) override { return true; }
    QErfcDevice* device() override { return nullptr; }
};

qint64 clockMs()
{
    return QDeadlineTimer::current(Qt::PreciseTimer).deadline();
}

QErfcMsg requestTo(quint8 address, QErfcInterface* link)
{
    QErfcMsg frame;
    frame.setDestination(address);
    frame.setSource(1);
    frame.setFunctionId(20);
    frame.setTimeout(250);
    frame.setRetries(3);
    frame.setInterface(link);
    return frame;
}

QErfcMsg answerTo(const QErfcMsg& request)
{
    QErfcMsg answer;
    request.makeResponse(&answer);
    return answer;
}

} // namespace

class tst_QErfcNode : public QObject
{
    Q_OBJECT
private slots:
    void sendTimeAfterWindowWait();
    void timeoutBehindAnsweredFrame_data();
    void timeoutBehindAnsweredFrame();
};

void tst_QErfcNode::sendTimeAfterWindowWait()
{
    NullLink link;
    QErfcAddressMemory memory;
    QErfcNode node(&link, 2, 1, 2, &memory, QErfc::Mode(0));
    QErfcMsg first = requestTo(2, &link), second = requestTo(2, &link), third = requestTo(2, &link);
    QCOMPARE(node.reserve(first, false, 0), QErfcNode::Reserved);
    QCOMPARE(node.reserve(second, false, 0), QErfcNode::Reserved);
    // A third sender waits for the window to drain.
    std::atomic<qint64> calledAt{-1};
    QErfcNode::ReserveResult result = QErfcNode::NoSlot;
    std::unique_ptr<QThread> sender(QThread::create([&] {
        calledAt = clockMs();
        result = node.reserve(third, true, 30000);
    }));
    sender->start();
    QTRY_VERIFY(calledAt.load() >= 0 && clockMs() > calledAt.load());
    const qint64 drained = clockMs();
    QVERIFY(node.takePending(answerTo(first), nullptr));
    QVERIFY(node.takePending(answerTo(second), nullptr));
    QVERIFY(sender->wait(30000));
    QCOMPARE(result, QErfcNode::Reserved);
    QVERIFY2(third.sendTime() >= drained, "the wait for the window counted against the frame");
}

void tst_QErfcNode::timeoutBehindAnsweredFrame_data()
{
    // Queued in this order: a1, a2 (node 2), b1 (node 3), a3 (node 2) on one
    // link; c1 (node 4) on another. Times are ms after the last queueing.
    QTest::addColumn<QString>("answered");
    QTest::addColumn<int>("arrival");
    QTest::addColumn<QString>("forced"); // a frame its node asked to be sent again
    QTest::addColumn<int>("checkAt");
    QTest::addColumn<QString>("resent");
    QTest::newRow("no answer: all time out") << "" << 0 << "" << 250 << "a1 a2 a3 b1 c1";
    QTest::newRow("frames behind wait for the answer") << "a1" << 200 << "" << 300 << "c1";
    QTest::newRow("then time out from it") << "a1" << 200 << "" << 450 << "a2 a3 b1 c1";
    QTest::newRow("only the frame behind moves") << "b1" << 200 << "" << 449 << "a1 a2 c1";
    QTest::newRow("an earlier answer moves nothing") << "a1" << -10 << "" << 250 << "a2 a3 b1 c1";
    QTest::newRow("a forced resend stays") << "a1" << 200 << "a3" << 0 << "a3";
}

void tst_QErfcNode::timeoutBehindAnsweredFrame()
{
    QFETCH(QString, answered);
    QFETCH(int, arrival);
    QFETCH(QString, forced);
    QFETCH(int, checkAt);
    QFETCH(QString, resent);
    NullLink link, otherLink;
    QErfcAddressMemory memory[3];
    QErfcNode nodeA(&link, 2, 1, 16, &memory[0], QErfc::Mode(0));
    QErfcNode nodeB(&link, 3, 1, 16, &memory[1], QErfc::Mode(0));
    QErfcNode nodeC(&otherLink, 4, 1, 16, &memory[2], QErfc::Mode(0));
    const QStringList names = {"a1", "a2", "b1", "a3", "c1"};
    QErfcNode* const owners[] = {&nodeA, &nodeA, &nodeB, &nodeA, &nodeC};
    QMap<QString, QErfcMsg> frames;
    qint64 queued = 0;
    for (int i = 0; i < names.size(); ++i) {
        QErfcMsg frame = requestTo(owners[i]->address(), owners[i]->interface());
        QCOMPARE(owners[i]->reserve(frame, false, 0), QErfcNode::Reserved);
        queued = qMax(queued, frame.sendTime());
        frames.insert(names[i], frame);
    }
    if (!forced.isEmpty())
        owners[names.indexOf(forced)]->forceResend(answerTo(frames[forced]));
    if (!answered.isEmpty()) {
        const QErfcMsg& sent = frames[answered];
        QVERIFY(owners[names.indexOf(answered)]->takePending(answerTo(sent), nullptr));
        for (QErfcNode* node : {&nodeA, &nodeB, &nodeC})
            node->startTimeoutsBehind(sent.interface(), sent.linkOrder(), queued + arrival);
    }
    QStringList due;
    for (QErfcNode* node : {&nodeA, &nodeB, &nodeC}) {
        const QErfcNode::DueFrames taken = node->takeDueFrames(queued + checkAt);
        QVERIFY(taken.expired.isEmpty());
        for (const QErfcMsg& frame : taken.resend) {
            for (auto it = frames.cbegin(); it != frames.cend(); ++it) {
                if (it->destination() == frame.destination() && it->requestId() == frame.requestId())
                    due.append(it.key());
            }
        }
    }
    due.sort();
    QCOMPARE(due.join(' '), resent);
}

QTEST_GUILESS_MAIN(tst_QErfcNode)
#include "tst_qerfcnode.moc"
