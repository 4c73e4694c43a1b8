#ifndef COMMANDLINE_H
#define COMMANDLINE_H

#include <QString>
#include <QtGlobal>

class QCommandLineParser;

// What the program's command line asks for at start-up.
struct StartupOptions
{
    // How the first connection is made: serial wins over TCP; without
    // either the connection dialog opens.
    enum Connection { Dialog, Serial, Tcp };

    quint8 ownAddress = 0;
    bool dumpLog = false;
    bool allowExternalScripts = false;
    bool showServiceFunctions = false;
    bool viewAllSerialInterfaces = false;
    Connection connection = Dialog;
    QString serialPort;
    quint32 baudRate = 0;
    QString tcpIp;
    quint16 tcpPort = 0;
};

// Sets the description and adds the help and version options and the
// program's nine options, in the order the help text lists them.
void addStartupOptions(QCommandLineParser& parser);

// Reads a parsed command line. Numbers are read as unsigned decimals (not a
// number gives 0) and narrowed to their field's width.
StartupOptions readStartupOptions(const QCommandLineParser& parser);

#endif // COMMANDLINE_H
