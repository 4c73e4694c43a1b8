#ifndef JSQERFCBRIDGE_P_H
#define JSQERFCBRIDGE_P_H

#include "qerfc.h"

#include <QPointer>

#include <memory>

class JsQErfcPrivate;
class QErfcFunction;
class QErfcIncomingRequest;
class QErfcResponse;

// How a node's call of a script function reaches the GUI thread. The stack
// thread posts a copy of the request to the GUI thread and waits at most
// WaitMs from posting, whether the script's handler has started or not; then
// it gives the call up and the node gets FunctionError with an empty payload.
// A node calling with the default 3 retries of 250 ms still gets that answer.
// While the GUI thread itself waits for the stack thread (QErfcGuiWait), a
// call is given up at once, also one whose handler is running further up the
// GUI thread's stack. The GUI thread skips a call given up before it started
// and drops the result of one that finished late.
class JsQErfcFunctionBridge : public std::enable_shared_from_this<JsQErfcFunctionBridge>
{
public:
    enum { WaitMs = 900 };

    // On the GUI thread, for the binding whose handlers the calls run.
    explicit JsQErfcFunctionBridge(JsQErfcPrivate* binding);

    // Delivers every call of the function through this bridge.
    void attach(QErfcFunction* function);

    // The function's call on the stack thread: fills in the response and the
    // code that the node gets.
    void deliver(const QErfcIncomingRequest& request, QErfcResponse& response,
                 QErfc::ResponseCode& code);

    // Since the process started: calls handed to the GUI thread, and calls
    // given up (at once or after the wait).
    static int postedCalls();
    static int abandonedCalls();

private:
    Q_DISABLE_COPY(JsQErfcFunctionBridge)
    QPointer<JsQErfcPrivate> m_binding; // read on the GUI thread only
};

#endif // JSQERFCBRIDGE_P_H
