#ifndef ERFCSERVICEREQUEST_P_H
#define ERFCSERVICEREQUEST_P_H

#include "qerfcincomingresponse.h"

#include <QByteArray>

class QErfcStack;

// One request to a node's service function 127, waited for on the GUI
// thread with a bound. The request lives on the heap and frees itself once
// the stack has completed it, so a wait that runs out leaves nothing behind
// that the stack still uses. The wait is marked as a GUI-thread wait: a
// node's call of a script function meanwhile is given up instead of
// waiting for this thread.
class ErfcServiceRequest
{
public:
    static constexpr quint8 FunctionId = 127;

    // The node's answer, or ConnectionError when the stack gave up or the
    // bound ((retries + 1) x time-out + 1 s) ran out first. Throws the
    // stack's QErfcException when it refuses to send. With `sent`, tells
    // whether the stack took the request (false: node unknown or unusable,
    // answered ConnectionError at once).
    static QErfcIncomingResponse call(QErfcStack* stack, quint8 address, const QByteArray& payload,
                                      bool* sent = nullptr);

private:
    ErfcServiceRequest() = delete;
};

#endif // ERFCSERVICEREQUEST_P_H
