#ifndef TESTNODEFIRMWARE_H
#define TESTNODEFIRMWARE_H

#include "qcargo.h"

#include <QObject>
#include <QString>

class QCommandLineParser;
class QErfcStack;
class TestNodeService;

// The node's firmware channel 126: while the node runs in maintenance it
// takes an image over a Cargo stream and writes it to a file
// (--firmware-out). A stream that the sender ends after at least one byte
// counts as a complete image: the flash state turns 1.
class TestNodeFirmware : public QObject
{
    Q_OBJECT
public:
    static constexpr quint8 Channel = 126;

    TestNodeFirmware(QErfcStack* stack, TestNodeService* service);

    static void addOptions(QCommandLineParser& parser);
    void readOptions(const QCommandLineParser& parser);

    // Listens when the node runs in maintenance; call after each (re)start.
    void start();

private:
    void onReadyRead();
    void onDisconnected();

    QErfcStack* m_stack;
    TestNodeService* m_service;
    QCargo m_cargo;
    QString m_outPath;
    qint64 m_received = 0;
};

#endif // TESTNODEFIRMWARE_H
