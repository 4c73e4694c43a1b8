#ifndef TESTNODEFIRMWARE_H
#define TESTNODEFIRMWARE_H

#include "qcargo.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <atomic>

class QCommandLineParser;
class QErfcFunction;
class QErfcIncomingRequest;
class QErfcResponse;
class QErfcStack;
class TestNodeService;

// The node's firmware channel 126: while the node runs in maintenance it
// takes an image over a Cargo stream and writes it to a file
// (--firmware-out). Only a stream that the sender ended itself after at
// least one byte counts as a complete image: the flash state then turns 1
// (or the --flash-status value); a new stream, or one this node drops,
// leaves it 0. The flash state is settled on the stack thread when the
// stream's end arrives, so the sender's flash-state request right after it
// always sees the outcome.
//
// Faults: --firmware-window N receives in windows of N bytes,
// --firmware-drop-after N drops the stream at the first block that arrives
// once the windows received hold at least N bytes, --firmware-refuse refuses every connect.
class TestNodeFirmware : public QObject
{
    Q_OBJECT
public:
    static constexpr quint8 Channel = 126;

    TestNodeFirmware(QErfcStack* stack, TestNodeService* service);
    ~TestNodeFirmware() override;

    static void addOptions(QCommandLineParser& parser);
    // False, with a message printed, for an option it cannot read.
    bool readOptions(const QCommandLineParser& parser);

    // Where a complete image is written; empty: nowhere.
    QString outputPath() const { return m_outPath; }
    void setOutputPath(const QString& path) { m_outPath = path; }

    // Listens when the node runs in maintenance; call after each (re)start.
    void start();

private:
    void onReadyRead();
    void onDisconnected();
    // Every frame of the channel, on the stack thread, after the stream
    // has handled it.
    void onFrame(QErfcIncomingRequest& request, QErfcResponse& response, QErfc::ResponseCode& code);
    void tapStream();

    QErfcStack* m_stack;
    TestNodeService* m_service;
    QCargo m_cargo;
    QErfcFunction* m_refusing = nullptr;
    QErfcFunction* m_tapped = nullptr; // the stream's function, once tapped
    QString m_outPath;
    qint64 m_received = 0;
    qint64 m_dropAfter = 0;
    // Stack thread only.
    qint64 m_frameBytes = 0;
    bool m_dropped = false;
};

#endif // TESTNODEFIRMWARE_H
