// quorvel Explorer: start-up. Identity, diagnostics, command line, the main
// window and the first connection; then the event loop until the main
// window closes.

#include "appresources.h"
#include "commandline.h"
#include "erfcnodemanager.h"
#include "mainwindow.h"
#include "messagehandler.h"
#include "qerfcstack.h"
#include "startupflags.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("quorvel Explorer"));
    QApplication::setApplicationVersion(QStringLiteral("1.6.2.0"));
    QApplication::setOrganizationName(QStringLiteral("Orvik"));
    QApplication::setOrganizationDomain(QStringLiteral("orvik.example"));
    initAppResources();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/img/resource/orvik.png")));

    qInstallMessageHandler(messageHandler);

    QCommandLineParser parser;
    addStartupOptions(parser);
    // Help, version and errors end the process here, before any window.
    parser.process(app);

    // Created before the main window and destroyed after it: the stack
    // outlives every window and view that holds it.
    QErfcStack stack;
    MainWindow window(&stack);
    window.show();

    const StartupOptions options = readStartupOptions(parser);
    allowExternalScripts = options.allowExternalScripts;
    showServiceFunctions = options.showServiceFunctions;
    if (options.dumpLog)
        ErfcNodeManager::instance()->setDumpLog(true);
    viewAllSerialInterfaces = options.viewAllSerialInterfaces;

    // Each returns once the device is open or has failed (a TCP address that
    // does not answer holds start-up for up to 30 s).
    switch (options.connection) {
    case StartupOptions::Serial:
        window.openSerialConnection(options.serialPort, options.baudRate, options.ownAddress);
        break;
    case StartupOptions::Tcp:
        window.openTcpConnection(options.tcpIp, options.tcpPort, options.ownAddress);
        break;
    case StartupOptions::Dialog:
        window.selectConnection(options.ownAddress);
        break;
    }

    return app.exec();
}
