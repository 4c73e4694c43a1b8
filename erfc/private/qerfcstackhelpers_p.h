#ifndef QERFCSTACKHELPERS_P_H
#define QERFCSTACKHELPERS_P_H

#include "qerfcexception.h"
#include "qerfcmsg.h"
#include "qerfcrequest_p.h"

#include <QByteArray>
#include <initializer_list>

// Small helpers shared by the stack engine's source files.
namespace QErfcStackHelpers {

inline QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    out.reserve(int(values.size()));
    for (int v : values)
        out.append(char(v));
    return out;
}

enum : uchar { Broadcast = QErfcMsg::BroadcastAddress };

[[noreturn]] inline void fail(int code)
{
    throw QErfcException(code);
}

// Completes a request that could not be sent, before the send call returns.
inline void completeWithConnectionError(QErfcRequest* request, uchar ownAddress)
{
    QErfcRequestPrivate::get(request)->m_handle->complete(
        ownAddress, request->functionId(), QErfc::ConnectionError, request->payload());
}

} // namespace QErfcStackHelpers

#endif // QERFCSTACKHELPERS_P_H
