#include "scriptedcftpserver.h"

#include "qcftpclient.h"

#include <QTest>

ScriptedCftpServer::ScriptedCftpServer(QErfcStack* stack, quint8 channel, QObject* parent)
    : QObject(parent)
    , cargo(stack)
    , m_channel(channel)
{
    connect(&cargo, &QCargo::readyRead, this, &ScriptedCftpServer::onReadyRead, Qt::QueuedConnection);
    connect(&cargo, &QCargo::stateChanged, this, [this](QCargo::CargoState state) {
        if (state == QCargo::StateConnected) {
            ++connections;
            m_buffer.clear();
            m_reader.reset();
            m_content = -1;
        } else if (state == QCargo::StateDisconnected) {
            listen();
        }
    }, Qt::QueuedConnection);
}

bool ScriptedCftpServer::listen()
{
    return cargo.listen(QErfc::User, m_channel);
}

QByteArray ScriptedCftpServer::challenge()
{
    return QByteArray::fromHex("000102030405060708090a0b0c0d0e0f");
}

QByteArray ScriptedCftpServer::defaultAnswer(const Request& request)
{
    if (request.command == QLatin1String("HND"))
        return "0\n12\n" + challenge().toHex() + "\n\n";
    if (request.command == QLatin1String("LOG"))
        return "0\n1\n\n";
    if (request.command == QLatin1String("GET"))
        return "0\n0\n0\n\n";
    return "0\n\n";
}

void ScriptedCftpServer::onReadyRead()
{
    if (!cargo.isReadable())
        return;
    const QByteArray bytes = cargo.readAll();
    received += bytes;
    m_buffer += bytes;
    for (;;) {
        if (m_content >= 0) {
            if (m_buffer.size() < m_content)
                return;
            m_pending.content = m_buffer.left(int(m_content));
            m_buffer.remove(0, int(m_content));
            m_content = -1;
        } else {
            if (m_reader.read(m_buffer) != QCftpHeaderReader::Complete)
                return;
            QStringList lines = m_reader.takeLines();
            if (lines.isEmpty())
                continue;
            m_pending = Request();
            m_pending.command = lines.takeFirst();
            m_pending.parameters = lines;
            if (m_pending.command == QLatin1String("STR") && lines.size() == 3) {
                m_content = lines.at(2).toLongLong();
                continue;
            }
        }
        requests.append(m_pending);
        const QByteArray reply = answer ? answer(m_pending) : QByteArray();
        if (!reply.isEmpty())
            cargo.write(reply);
    }
}

int cftpFinishes(QCFTPClient* client, const std::function<bool()>& start, int timeoutMs)
{
    QList<int> codes;
    QObject context;
    QObject::connect(client, &QCFTPClient::finished, &context, [&codes](int c) { codes << c; },
                     Qt::QueuedConnection);
    if (!start())
        return -2;
    return QTest::qWaitFor([&] { return !codes.isEmpty(); }, timeoutMs) ? codes.first() : -1;
}
