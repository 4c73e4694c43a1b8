#include "jsqerfcbridge_p.h"
#include "jsqerfc_p.h"
#include "qerfcfunction.h"
#include "qerfcguiwait.h"
#include "qerfcincomingrequest.h"
#include "qerfcresponse.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <atomic>

namespace {

std::atomic<int> posted{0};
std::atomic<int> abandoned{0};

// One node's call on its way to the GUI thread and back. The request goes
// over as plain values; the GUI thread writes the result before it marks the
// call finished, and the stack thread reads it only after seeing that mark.
struct PendingCall
{
    enum State { Posted, Running, Finished, Abandoned };

    bool move(State from, State to)
    {
        int expected = from;
        return state.compare_exchange_strong(expected, to);
    }

    std::atomic<int> state{Posted};
    quint8 address = 0;
    quint8 functionId = 0;
    QErfc::Privilege privilege = QErfc::User;
    QByteArray payload;
    QByteArray answer;
    QErfc::ResponseCode code = QErfc::FunctionError;
};

} // namespace

JsQErfcFunctionBridge::JsQErfcFunctionBridge(JsQErfcPrivate* binding)
    : m_binding(binding)
{
}

void JsQErfcFunctionBridge::attach(QErfcFunction* function)
{
    // Direct: runs on the stack thread inside the function's call, which
    // waits for the GUI thread here and nowhere else.
    const std::shared_ptr<JsQErfcFunctionBridge> self = shared_from_this();
    QObject::connect(function, &QErfcFunction::callSignal, function,
                     [self](QErfcIncomingRequest& request, QErfcResponse& response,
                            QErfc::ResponseCode& code) { self->deliver(request, response, code); },
                     Qt::DirectConnection);
}

void JsQErfcFunctionBridge::deliver(const QErfcIncomingRequest& request, QErfcResponse& response,
                                    QErfc::ResponseCode& code)
{
    code = QErfc::FunctionError;
    response.payload().clear();
    // Called on the GUI thread itself: nobody waits, run it in place.
    if (QErfcGuiWait::isGuiThread()) {
        if (JsQErfcPrivate* binding = m_binding.data()) {
            QErfcIncomingRequest copy(request);
            binding->onFunctionCallSignal(copy, response, code);
        }
        return;
    }
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QErfcGuiWait::isGuiThreadWaiting()) {
        ++abandoned;
        return;
    }

    auto call = std::make_shared<PendingCall>();
    call->address = request.address();
    call->functionId = request.functionId();
    call->privilege = request.privilege();
    call->payload = request.payload();
    const QDeadlineTimer deadline(WaitMs, Qt::PreciseTimer);
    const std::shared_ptr<JsQErfcFunctionBridge> self = shared_from_this();
    QMetaObject::invokeMethod(app, [self, call] {
        if (!call->move(PendingCall::Posted, PendingCall::Running))
            return; // given up before it started: the script never sees it
        QErfcIncomingRequest copy(call->address, call->functionId, call->privilege, call->payload);
        QErfcResponse result;
        QErfc::ResponseCode resultCode = QErfc::FunctionError;
        if (JsQErfcPrivate* binding = self->m_binding.data())
            binding->onFunctionCallSignal(copy, result, resultCode, true);
        call->answer = result.payload();
        call->code = resultCode;
        if (call->move(PendingCall::Running, PendingCall::Finished)) {
            QErfcGuiWait::wakeWaiters();
            return;
        }
        qWarning("Function %d: the script answered after the call of node %d was given up; "
                 "the answer is dropped",
                 int(call->functionId), int(call->address));
    }, Qt::QueuedConnection);
    ++posted;

    const bool finished = QErfcGuiWait::waitForGuiThread(
        deadline, [&call] { return call->state.load() == PendingCall::Finished; });
    if (!finished
        && (call->move(PendingCall::Posted, PendingCall::Abandoned)
            || call->move(PendingCall::Running, PendingCall::Abandoned))) {
        ++abandoned;
        return;
    }
    // Finished, maybe just as the wait ran out.
    response.payload() = call->answer;
    code = call->code;
}

int JsQErfcFunctionBridge::postedCalls()
{
    return posted.load();
}

int JsQErfcFunctionBridge::abandonedCalls()
{
    return abandoned.load();
}
