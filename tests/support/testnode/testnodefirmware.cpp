#include "testnodefirmware.h"

#include "qerfcstack.h"
#include "testnodeservice.h"

#include <QCommandLineParser>
#include <QFile>

#include <cstdio>

namespace {
const QString FirmwareOutOption = QStringLiteral("firmware-out");
}

TestNodeFirmware::TestNodeFirmware(QErfcStack* stack, TestNodeService* service)
    : m_stack(stack)
    , m_service(service)
    , m_cargo(stack)
{
    connect(&m_cargo, &QCargo::readyRead, this, &TestNodeFirmware::onReadyRead, Qt::QueuedConnection);
    connect(&m_cargo, &QCargo::disconnected, this, &TestNodeFirmware::onDisconnected, Qt::QueuedConnection);
}

void TestNodeFirmware::addOptions(QCommandLineParser& parser)
{
    parser.addOption({FirmwareOutOption, QStringLiteral("Write a firmware image received in maintenance here."),
                      QStringLiteral("file")});
}

void TestNodeFirmware::readOptions(const QCommandLineParser& parser)
{
    m_outPath = parser.value(FirmwareOutOption);
}

void TestNodeFirmware::start()
{
    if (m_stack->mode() != QErfc::Maintenance || m_cargo.state() != QCargo::StateDisconnected)
        return;
    m_cargo.listen(QErfc::User, Channel);
}

void TestNodeFirmware::onReadyRead()
{
    const QByteArray bytes = m_cargo.readAll();
    if (bytes.isEmpty())
        return;
    // A new stream's first bytes replace the last image.
    const QIODevice::OpenMode mode = m_received == 0 ? QIODevice::Truncate : QIODevice::Append;
    m_received += bytes.size();
    // Flashable from the first bytes on: the program asks right after its
    // stream ended, possibly before this node has handled that end.
    m_service->setFlashStatus(1);
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
    std::printf("firmware %lld bytes\n", m_received);
    std::fflush(stdout);
    if (m_received > 0)
        m_service->setFlashStatus(1);
    m_received = 0;
    // Ready for another image while still in maintenance.
    QMetaObject::invokeMethod(this, [this] { start(); }, Qt::QueuedConnection);
}
