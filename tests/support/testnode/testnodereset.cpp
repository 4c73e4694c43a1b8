#include "testnodereset.h"

#include "afteranswer.h"
#include "qerfcincomingrequest.h"
#include "qerfcintfnct_p.h"
#include "qerfcstack.h"
#include "qerfcstack_p.h"
#include "testnodeoutput.h"

#include <QCommandLineParser>
#include <QRandomGenerator>
#include <QTimer>

#include <cstdio>


namespace {

constexpr quint8 ManagementFunction = 4;
constexpr char ResetCommand = 0;
// The node goes a moment after its answer (which leaves first, see
// AfterAnswer); it is back after a boot time.
constexpr int RestartDelayMs = 50;
constexpr int BootMs = 1000;
const QString ToApplicationOption = QStringLiteral("reset-to-application");

} // namespace

// Stands in for the stack's own MANAGEMENT function, which refuses resets.
class TestNodeResetFunction : public QErfcIntFnct
{
public:
    TestNodeResetFunction(QErfcStackPrivate* engine, TestNodeReset* owner)
        : QErfcIntFnct(ManagementFunction, QStringLiteral("MANAGEMENT"), engine)
        , m_owner(owner)
    {
    }
    ~TestNodeResetFunction() override { closeGuard(); }

    // On the stack thread.
    QErfc::ResponseCode process(QErfcIncomingRequest& request, QErfcResponse&, QErfcInterface*) override
    {
        const QByteArray& p = request.payload();
        if (m_owner->m_recorder)
            m_owner->m_recorder(p);
        if (p.isEmpty())
            return QErfc::PayloadError;
        if (p.at(0) != ResetCommand)
            return QErfc::ProtocolError;
        // "00 mm" restarts in mode mm; "00" alone keeps the mode.
        const int mode = p.size() >= 2 ? int(quint8(p.at(1))) : -1;
        if (mode > QErfc::Maintenance)
            return QErfc::ProtocolError;
        TestNodeReset* owner = m_owner;
        AfterAnswer::run(this, [owner, mode] {
            QTimer::singleShot(RestartDelayMs, owner, [owner, mode] { owner->restart(mode); });
        });
        return QErfc::OK;
    }

private:
    TestNodeReset* m_owner; // outlives this function
};

TestNodeReset::TestNodeReset(QErfcStack* stack)
    : m_stack(stack)
{
    auto* engine = stack->findChild<QErfcStackPrivate*>(QString(), Qt::FindDirectChildrenOnly);
    if (!engine)
        return;
    m_function = new TestNodeResetFunction(engine, this);
    QMutexLocker lock(&engine->m_functionsLock);
    engine->m_functions.insert(ManagementFunction, QErfcHandle<QErfcFunction>(m_function, m_function->guard()));
}

TestNodeReset::~TestNodeReset()
{
    // The table holds a guarded pointer: a request that comes later finds
    // no function. The node's stack is disabled and unbound by now.
    delete m_function;
}

void TestNodeReset::addOptions(QCommandLineParser& parser)
{
    parser.addOption({ToApplicationOption,
                      QStringLiteral("The first n resets into maintenance bring the node back in its "
                                     "application."),
                      QStringLiteral("n")});
}

bool TestNodeReset::readOptions(const QCommandLineParser& parser)
{
    if (!parser.isSet(ToApplicationOption))
        return true;
    bool ok = false;
    m_toApplication = parser.value(ToApplicationOption).toInt(&ok);
    if (!ok || m_toApplication < 1) {
        std::printf("error: --reset-to-application takes a count of resets\n");
        return false;
    }
    return true;
}

void TestNodeReset::restart(int mode)
{
    if (mode == QErfc::Maintenance && m_toApplication > 0) {
        --m_toApplication;
        mode = QErfc::Application;
    }
    TestNodeOutput::print(m_stack->address(), "restart");
    m_stack->disable();
    // A restart is a new run, possibly in the other mode.
    if (auto* engine = m_stack->findChild<QErfcStackPrivate*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (mode >= 0)
            engine->m_mode = mode;
        engine->m_runId = engine->m_runId + 1 + QRandomGenerator::global()->bounded(1000u);
    }
    QTimer::singleShot(BootMs, this, [this] {
        m_stack->enable();
        emit restarted();
    });
}
