#include "testuiservice.h"

#include "qerfcstack.h"
#include "tarwriter.h"

#include <QCryptographicHash>

TestUiService::TestUiService(QErfcStack* stack, const QString& password)
    : m_stack(stack)
    , m_control(Function, QStringLiteral("UI DOWNLOAD"), QErfc::User)
    , m_cargo(stack)
    , m_digest(QCryptographicHash::hash(password.toLatin1(), QCryptographicHash::Md5))
{
    m_cargo.setName(QStringLiteral("UI CHANNEL"));
    connect(&m_control, &QErfcFunction::callSignal, this, &TestUiService::answer, Qt::DirectConnection);
    // Queued: the stream reports from its own threads; a stream ends by
    // disconnecting once the package is acknowledged, and the channel then
    // listens again.
    connect(&m_cargo, &QCargo::finished, this, [this] {
        if (m_sending) {
            m_sending = false;
            m_cargo.disconnectFromNode();
        }
    }, Qt::QueuedConnection);
    connect(&m_cargo, &QCargo::stateChanged, this, [this](QCargo::CargoState state) {
        if (state != QCargo::StateDisconnected)
            return;
        m_sending = false;
        if (m_cargo.isReadable())
            m_cargo.readAll(); // the program sends nothing worth keeping
        m_cargo.listen(QErfc::User, Channel);
    }, Qt::QueuedConnection);
}

TestUiService::~TestUiService()
{
    if (m_started)
        m_stack->unregisterFunction(&m_control);
}

void TestUiService::addInterface(const QString& name, const QByteArray& package)
{
    if (!m_started)
        m_interfaces.append({name, package});
}

void TestUiService::start()
{
    m_stack->registerFunction(&m_control);
    m_started = true;
    m_cargo.listen(QErfc::User, Channel);
}

QByteArray TestUiService::demoPackage()
{
    return packFolder(QStringLiteral(":/testnode/demo"));
}

void TestUiService::answer(QErfcIncomingRequest& request, QErfcResponse& response, QErfc::ResponseCode& code)
{
    const QByteArray payload = request.payload();
    if (payload.isEmpty()) {
        code = QErfc::PayloadError;
        return;
    }
    const quint8 command = quint8(payload.at(0));
    if (command == 0x00) {
        if (payload.mid(1) != m_digest) {
            code = QErfc::Specific1;
            return;
        }
        response.setPayload(QByteArray(1, char(qMin(m_interfaces.size(), 255))));
        code = QErfc::OK;
        return;
    }
    const int index = payload.size() > 1 ? quint8(payload.at(1)) : -1;
    if ((command != 0x10 && command != 0x20) || index < 0 || index >= m_interfaces.size()) {
        code = QErfc::PayloadError;
        return;
    }
    if (command == 0x10) {
        response.setPayload(m_interfaces.at(index).first.toLatin1());
    } else {
        m_selected.store(index);
        QMetaObject::invokeMethod(this, &TestUiService::sendSelected, Qt::QueuedConnection);
    }
    code = QErfc::OK;
}

void TestUiService::sendSelected()
{
    const int index = m_selected.exchange(-1);
    if (index < 0 || m_sending || m_cargo.state() != QCargo::StateConnected)
        return;
    m_sending = true;
    m_cargo.write(m_interfaces.at(index).second);
}
