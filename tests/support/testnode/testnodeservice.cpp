#include "testnodeservice.h"

#include "afteranswer.h"
#include "qerfcexception.h"
#include "qerfcincomingrequest.h"
#include "qerfcrequest.h"
#include "qerfcresponse.h"
#include "qerfcstack.h"
#include "testnodeoutput.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QTimer>

#include <cstdio>

namespace {
const QString RecordOption = QStringLiteral("record");
const QString PasswordOption = QStringLiteral("fs-password");
const QString AnswerOption = QStringLiteral("answer");
const QString FlashStatusOption = QStringLiteral("flash-status");
const QString PokeOption = QStringLiteral("poke");
// The node goes a moment after its answer (which leaves first, see
// AfterAnswer); it is back after a boot time.
constexpr int LeaveDelayMs = 50;
constexpr int BootMs = 500;
} // namespace

TestNodeService::TestNodeService(QErfcStack* stack)
    : QErfcFunction(FunctionId, QStringLiteral("SERVICE"), QErfc::User)
    , m_stack(stack)
    , m_passwordDigest(QCryptographicHash::hash(QByteArray(), QCryptographicHash::Md5))
{
}

void TestNodeService::addOptions(QCommandLineParser& parser)
{
    parser.addOptions({
        {RecordOption, QStringLiteral("Append a hex line per service or MANAGEMENT payload received."),
         QStringLiteral("file")},
        {PasswordOption, QStringLiteral("File-system password (Latin-1)."), QStringLiteral("text"),
         QString()},
        {AnswerOption, QStringLiteral("Answer service command CMD (hex) with CODE."),
         QStringLiteral("CMD=CODE")},
        {FlashStatusOption, QStringLiteral("Flash state after a complete image (hex)."),
         QStringLiteral("hex"), QStringLiteral("1")},
        {PokeOption, QStringLiteral("Call this function of every known node before each answer."),
         QStringLiteral("fid")},
    });
}

bool TestNodeService::readOptions(const QCommandLineParser& parser)
{
    m_recordPath = parser.value(RecordOption);
    m_passwordDigest = QCryptographicHash::hash(parser.value(PasswordOption).toLatin1(),
                                                QCryptographicHash::Md5);
    bool ok = false;
    const uint status = parser.value(FlashStatusOption).toUInt(&ok, 16);
    if (!ok || status > 0xff) {
        std::printf("error: --flash-status takes a hex byte\n");
        return false;
    }
    m_completeStatus = quint8(status);
    if (parser.isSet(PokeOption)) {
        const uint fid = parser.value(PokeOption).toUInt(&ok);
        if (!ok || fid > 127) {
            std::printf("error: --poke takes a function id\n");
            return false;
        }
        m_poke = int(fid);
    }
    for (const QString& entry : parser.values(AnswerOption)) {
        const QStringList parts = entry.split('=');
        bool cmdOk = false;
        bool codeOk = false;
        const uint cmd = parts.value(0).toUInt(&cmdOk, 16);
        const int code = parts.value(1).toInt(&codeOk);
        if (parts.size() != 2 || !cmdOk || !codeOk || cmd > 0xff) {
            std::printf("error: --answer CMD=CODE, CMD in hex\n");
            return false;
        }
        m_forced.insert(quint8(cmd), code);
    }
    return true;
}

void TestNodeService::setFlashStatus(quint8 status)
{
    QMutexLocker lock(&m_lock);
    m_flashStatus = status;
}

QErfc::ResponseCode TestNodeService::call(QErfcIncomingRequest& request, QErfcResponse& response)
{
    const QByteArray p = request.payload();
    record(p);
    // The catch comes as a datagram: there is no answer to poke ahead of.
    if (p != QByteArray(1, '\0'))
        poke();
    QMutexLocker lock(&m_lock);
    if (!p.isEmpty() && m_forced.contains(quint8(p.at(0))))
        return QErfc::ResponseCode(m_forced.value(quint8(p.at(0))));
    return serve(p, response);
}

QErfc::ResponseCode TestNodeService::serve(const QByteArray& p, QErfcResponse& response)
{
    if (p.isEmpty())
        return QErfc::PayloadError;
    switch (quint8(p.at(0))) {
    case 0x00:
        return p.size() == 1 ? QErfc::OK : QErfc::PayloadError;
    case 0x14:
        if (p.size() != 1)
            return QErfc::PayloadError;
        response.payload() = QByteArray(1, char(m_flashStatus));
        return QErfc::OK;
    case 0x80: {
        if (p.size() != 2)
            return QErfc::PayloadError;
        const quint8 address = quint8(p.at(1));
        if (address > 62)
            return QErfc::ProtocolError;
        AfterAnswer::run(this, [this, address] { changeAddress(address); });
        return QErfc::OK;
    }
    case 0x81:
        if (p.size() != 18)
            return QErfc::PayloadError;
        if (p.at(1) == 0x00) {
            m_unlocked = p.mid(2) == m_passwordDigest;
            return m_unlocked ? QErfc::OK : QErfc::Specific1;
        }
        if (p.at(1) == 0x01) {
            if (!m_unlocked)
                return QErfc::Specific2;
            m_passwordDigest = p.mid(2);
            m_unlocked = false;
            return QErfc::OK;
        }
        return QErfc::ProtocolError;
    case 0x82:
        if (p.size() != 5)
            return QErfc::PayloadError;
        m_clock = qint32(quint32(quint8(p.at(1))) | quint32(quint8(p.at(2))) << 8
                         | quint32(quint8(p.at(3))) << 16 | quint32(quint8(p.at(4))) << 24);
        TestNodeOutput::print(m_stack->address(), "clock", QString::number(m_clock));
        return QErfc::OK;
    default:
        return QErfc::ProtocolError;
    }
}

void TestNodeService::record(const QByteArray& payload)
{
    if (m_recordPath.isEmpty())
        return;
    QMutexLocker lock(&m_lock);
    QFile file(m_recordPath);
    if (file.open(QIODevice::Append | QIODevice::Text))
        file.write(payload.toHex(' ') + '\n');
}

void TestNodeService::poke()
{
    if (m_poke < 0)
        return;
    for (uchar address : m_stack->knownNodes()) {
        auto* request = new QErfcRequest(address, uchar(m_poke));
        // Completed and deleted on the main thread, not on this stack thread.
        request->moveToThread(QCoreApplication::instance()->thread());
        QObject::connect(request, &QErfcRequest::callSignal, request, [address](QErfcIncomingResponse response) {
            std::printf("call address=%u code=%d\n", unsigned(address), int(response.responseCode()));
            std::fflush(stdout);
        }, Qt::QueuedConnection);
        QObject::connect(request, &QErfcRequest::finished, request, &QObject::deleteLater, Qt::QueuedConnection);
        try {
            m_stack->send(request);
        } catch (const QErfcException&) {
            delete request;
        }
    }
}

void TestNodeService::changeAddress(quint8 address)
{
    QTimer::singleShot(LeaveDelayMs, this, [this, address] {
        const quint8 old = m_stack->address();
        m_stack->disable();
        m_stack->setAddress(address);
        TestNodeOutput::print(old, "address", QString::number(address));
        QTimer::singleShot(BootMs, this, [this] { m_stack->enable(); });
    });
}
