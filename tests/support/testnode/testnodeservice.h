#ifndef TESTNODESERVICE_H
#define TESTNODESERVICE_H

#include "qerfcfunction.h"

#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <QString>

class QCommandLineParser;
class QErfcStack;

// The node's service function 127: the catch datagram (00), the flash
// state (14), a new address (80 aa: answered OK, then the node says goodbye
// and hello again at the new address), the file-system password (81 00 +
// MD5 unlocks, 81 01 + 16 bytes sets it once unlocked) and the clock
// (82 + signed 32-bit seconds). Each payload received can be written to a
// record file as a hex line; an answer code can be forced per command.
// With --poke FID, each request is answered only after the node has called
// function FID of every node it knows (once, without waiting for those
// answers, which are printed as "call address=A code=C").
class TestNodeService : public QErfcFunction
{
    Q_OBJECT
public:
    static constexpr quint8 FunctionId = 127;

    explicit TestNodeService(QErfcStack* stack);

    static void addOptions(QCommandLineParser& parser);
    // False, with a message printed, for an option it cannot read.
    bool readOptions(const QCommandLineParser& parser);

    // On the stack thread.
    QErfc::ResponseCode call(QErfcIncomingRequest& request, QErfcResponse& response) override;

    // The flash state a 14 reports from now on; any thread.
    void setFlashStatus(quint8 status);
    // What a complete image sets the flash state to (--flash-status, 1).
    quint8 completeFlashStatus() const { return m_completeStatus; }
    // Appends a hex line to the record file, if any; any thread.
    void record(const QByteArray& payload);

private:
    QErfc::ResponseCode serve(const QByteArray& p, QErfcResponse& response);
    void changeAddress(quint8 address);
    void poke();

    QErfcStack* m_stack;
    QMutex m_lock;
    QString m_recordPath;
    QByteArray m_passwordDigest;
    bool m_unlocked = false;
    qint32 m_clock = 0;
    quint8 m_flashStatus = 0;
    quint8 m_completeStatus = 1;
    int m_poke = -1; // function id called before each answer
    QHash<quint8, int> m_forced; // command -> answer code
};

#endif // TESTNODESERVICE_H
