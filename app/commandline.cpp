#include "commandline.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

namespace {

// An unsigned decimal; 0 for anything else, values past 32 bits included.
uint decimal(const QString& text)
{
    return text.toUInt(nullptr, 10);
}

} // namespace

void addStartupOptions(QCommandLineParser& parser)
{
    parser.setApplicationDescription(QStringLiteral("Erfc Explorer"));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
        {QStringLiteral("address"), QStringLiteral("Specify own address."), QStringLiteral("address")},
        {QStringLiteral("dumplog"), QStringLiteral("Dump quorvel Logs to file")},
        {QStringLiteral("extscripts"), QStringLiteral("Allow loading of external scripts.")},
        {QStringLiteral("service"), QStringLiteral("Show service functions")},
        {QStringLiteral("serial"), QStringLiteral("Open with serial connection."), QStringLiteral("portname")},
        {QStringLiteral("view-all-tty"),
         QStringLiteral("Allow selection of all(not only Orvik) serial interfaces.")},
        {QStringLiteral("baudrate"), QStringLiteral("Specify baudrate of serial connection."),
         QStringLiteral("baudrate"), QStringLiteral("115200")},
        {QStringLiteral("tcp-ip"), QStringLiteral("Open with tcp-ip connection."), QStringLiteral("ip")},
        {QStringLiteral("port"), QStringLiteral("Specify port of tcp-ip connection."),
         QStringLiteral("port"), QStringLiteral("1328")},
    });
}

StartupOptions readStartupOptions(const QCommandLineParser& parser)
{
    StartupOptions options;
    if (parser.isSet(QStringLiteral("address")))
        options.ownAddress = quint8(decimal(parser.value(QStringLiteral("address"))));
    options.dumpLog = parser.isSet(QStringLiteral("dumplog"));
    options.allowExternalScripts = parser.isSet(QStringLiteral("extscripts"));
    options.showServiceFunctions = parser.isSet(QStringLiteral("service"));
    options.viewAllSerialInterfaces = parser.isSet(QStringLiteral("view-all-tty"));
    if (parser.isSet(QStringLiteral("serial"))) {
        options.connection = StartupOptions::Serial;
        options.serialPort = parser.value(QStringLiteral("serial"));
        options.baudRate = decimal(parser.value(QStringLiteral("baudrate")));
    } else if (parser.isSet(QStringLiteral("tcp-ip"))) {
        options.connection = StartupOptions::Tcp;
        options.tcpIp = parser.value(QStringLiteral("tcp-ip"));
        options.tcpPort = quint16(decimal(parser.value(QStringLiteral("port"))));
    }
    return options;
}
