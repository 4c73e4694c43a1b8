#include "testnodefirmware.h"

#include "qcargo_p.h"
#include "qcargoframe.h"
#include "qerfcfunction.h"
#include "qerfcincomingrequest.h"
#include "qerfcstack.h"
#include "testnodeoutput.h"
#include "testnodeservice.h"

#include <QCommandLineParser>
#include <QFile>

#include <cstdio>

namespace {
const QString FirmwareOutOption = QStringLiteral("firmware-out");
const QString WindowOption = QStringLiteral("firmware-window");
const QString DropAfterOption = QStringLiteral("firmware-drop-after");
const QString RefuseOption = QStringLiteral("firmware-refuse");
} // namespace

TestNodeFirmware::TestNodeFirmware(QErfcStack* stack, TestNodeService* service)
    : m_stack(stack)
    , m_service(service)
    , m_cargo(stack)
{
    m_cargo.setName(QStringLiteral("FIRMWARE"));
    connect(&m_cargo, &QCargo::readyRead, this, &TestNodeFirmware::onReadyRead, Qt::QueuedConnection);
    connect(&m_cargo, &QCargo::disconnected, this, &TestNodeFirmware::onDisconnected, Qt::QueuedConnection);
}

TestNodeFirmware::~TestNodeFirmware()
{
    // The stream's function goes on the stack thread once the stream is
    // destroyed (before this object's own end): leave it while it lives.
    if (m_tapped)
        disconnect(m_tapped, nullptr, this, nullptr);
    if (m_refusing) {
        m_stack->unregisterFunction(m_refusing);
        delete m_refusing;
    }
}

void TestNodeFirmware::addOptions(QCommandLineParser& parser)
{
    parser.addOptions({
        {FirmwareOutOption, QStringLiteral("Write a firmware image received in maintenance here."),
         QStringLiteral("file")},
        {WindowOption, QStringLiteral("Receive the image in windows of this many bytes (1..4096)."),
         QStringLiteral("n")},
        {DropAfterOption, QStringLiteral("Drop the image stream once this many bytes have come."),
         QStringLiteral("n")},
        {RefuseOption, QStringLiteral("Refuse every connect to the firmware channel.")},
    });
}

bool TestNodeFirmware::readOptions(const QCommandLineParser& parser)
{
    m_outPath = parser.value(FirmwareOutOption);
    bool ok = true;
    if (parser.isSet(WindowOption)) {
        const uint window = parser.value(WindowOption).toUInt(&ok);
        if (!ok || window < 1 || window > 4096) {
            std::printf("error: --firmware-window takes 1..4096\n");
            return false;
        }
        m_cargo.setOwnWindow(quint16(window));
    }
    if (parser.isSet(DropAfterOption)) {
        m_dropAfter = parser.value(DropAfterOption).toLongLong(&ok);
        if (!ok || m_dropAfter < 1) {
            std::printf("error: --firmware-drop-after takes a byte count\n");
            return false;
        }
    }
    if (parser.isSet(RefuseOption)) {
        // Stands where the stream would listen and turns every frame away.
        m_refusing = new QErfcFunction(Channel, QStringLiteral("FIRMWARE"), QErfc::User);
        connect(m_refusing, &QErfcFunction::callSignal, m_refusing,
                [](QErfcIncomingRequest&, QErfcResponse&, QErfc::ResponseCode& code) {
                    code = QErfc::FunctionError;
                },
                Qt::DirectConnection);
    }
    return true;
}

void TestNodeFirmware::start()
{
    if (m_stack->mode() != QErfc::Maintenance)
        return;
    if (m_refusing) {
        if (!m_stack->functionIds().contains(Channel))
            m_stack->registerFunction(m_refusing);
        return;
    }
    if (m_cargo.state() != QCargo::StateDisconnected)
        return;
    tapStream();
    m_cargo.listen(QErfc::User, Channel);
}

void TestNodeFirmware::tapStream()
{
    // The stream keeps one function for its life and registers it when it
    // listens: tapped before that, no frame it handles passes unwatched,
    // however late this thread runs after the registration.
    auto* stream = m_cargo.findChild<QCargoPrivate*>(QString(), Qt::FindDirectChildrenOnly);
    if (!stream || m_tapped)
        return;
    m_tapped = stream->function;
    connect(m_tapped, &QErfcFunction::callSignal, this, &TestNodeFirmware::onFrame, Qt::DirectConnection);
}

void TestNodeFirmware::onFrame(QErfcIncomingRequest& request, QErfcResponse&, QErfc::ResponseCode& code)
{
    const QByteArray& p = request.payload();
    if (p.isEmpty() || code != QErfc::OK)
        return;
    switch (quint8(p.at(0)) & QCargoFrame::TypeMask) {
    case QCargoFrame::Connect:
        // A new image: nothing flashable until it is complete.
        m_frameBytes = 0;
        m_dropped = false;
        m_service->setFlashStatus(0);
        break;
    case QCargoFrame::Data:
        if (m_dropped || p.size() <= 1)
            break;
        if (m_dropAfter > 0 && m_frameBytes >= m_dropAfter) {
            // At the first block past the limit: the sender has taken the
            // next for the windows up to here and reported their bytes
            // before it sent this block, so it sees exactly those windows
            // written, however its threads are scheduled.
            m_dropped = true;
            m_cargo.disconnectFromNode();
            break;
        }
        m_frameBytes += p.size() - 1;
        break;
    case QCargoFrame::Disconnect:
        // The sender ended the stream itself: the image is complete.
        if (!m_dropped && m_frameBytes > 0)
            m_service->setFlashStatus(m_service->completeFlashStatus());
        break;
    default:
        break;
    }
}

void TestNodeFirmware::onReadyRead()
{
    const QByteArray bytes = m_cargo.readAll();
    if (bytes.isEmpty())
        return;
    // A new stream's first bytes replace the last image.
    const QIODevice::OpenMode mode = m_received == 0 ? QIODevice::Truncate : QIODevice::Append;
    m_received += bytes.size();
    if (m_outPath.isEmpty())
        return;
    QFile out(m_outPath);
    if (out.open(QIODevice::WriteOnly | mode))
        out.write(bytes);
}

void TestNodeFirmware::onDisconnected()
{
    if (m_cargo.isOpen())
        onReadyRead(); // bytes that came with the end
    TestNodeOutput::print(m_stack->address(), "firmware", QStringLiteral("%1 bytes").arg(m_received));
    m_received = 0;
    // Ready for another image while still in maintenance.
    QMetaObject::invokeMethod(this, [this] { start(); }, Qt::QueuedConnection);
}
