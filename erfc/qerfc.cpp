#include "qerfc.h"
#include "qerfcexception.h"
#include "qerfcfunction.h"
#include "qerfcincomingevent.h"
#include "qerfcincomingrequest.h"
#include "qerfcincomingresponse.h"
#include "qerfcinterface.h"
#include "qerfcrequest.h"
#include "qerfcresponse.h"

#include <QMetaType>

namespace QErfc {

QString responseCodeString(int code)
{
    static const char* const names[] = {
        "OK", "Specific1", "Specific2", "Specific3", "Specific4", "Specific5", "Specific6",
        "Busy", "UnknownFid", "UnknonwAddr", "FunctionError", "", "PayloadError",
        "ProtocolError", "RoutingError", "CrcError", "ConnectionError",
    };
    if (code < 0 || code >= int(sizeof(names) / sizeof(names[0])))
        return QString();
    return QString::fromLatin1(names[code]);
}

void registerMetaTypes()
{
    qRegisterMetaType<QErfcIncomingRequest>("QErfcIncomingRequest");
    qRegisterMetaType<QErfcResponse>("QErfcResponse");
    qRegisterMetaType<QErfcIncomingResponse>("QErfcIncomingResponse");
    qRegisterMetaType<QErfcIncomingEvent>("QErfcIncomingEvent");
    qRegisterMetaType<QErfcException>("QErfcException");
    qRegisterMetaType<QErfc::ResponseCode>("QErfc::ResponseCode");
    qRegisterMetaType<QErfc::Privilege>("QErfc::Privilege");
    qRegisterMetaType<QErfc::DrcUpdate>("QErfc::DrcUpdate");
    qRegisterMetaType<QErfc::Mode>("QErfc::Mode");
    qRegisterMetaType<QErfc::EventState>("QErfc::EventState");
    qRegisterMetaType<QErfc::Error>("QErfc::Error");
    qRegisterMetaType<QErfcRequest*>("QErfcRequest*");
    qRegisterMetaType<QErfcFunction*>("QErfcFunction*");
    qRegisterMetaType<QErfcInterface*>("QErfcInterface*");
}

} // namespace QErfc
