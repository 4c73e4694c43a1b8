#ifndef TESTLOGSOURCE_H
#define TESTLOGSOURCE_H

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

class QCommandLineParser;
class QErfcEvent;
class QErfcStack;
class QErfcStackPrivate;

// The test node's debug log. While some node is subscribed to its event 127
// it emits debug-log records as that event: the byte stream of the records
// cut into payloads of a fixed size (at most 32 bytes) wherever the cut
// falls, inside a UTF-8 sequence too. Each burst ends with a shorter payload
// if need be, so no record waits for the next one.
//
// The records are either generated (record() gives number n; a sequence
// number in the text, colours 0-6 and flags 0-3 in turn, now and then a
// multi-line text with tabs and CR LF, or non-ASCII text), at a given rate
// or as fast as the link takes them, or the raw bytes of a file, once.
// Records come only while subscribed and stop at the given count; the
// number sent is printed at exit ("log sent=<records>", or "log sent=<n>
// bytes").
//
// As fast as the link takes them: each batch is followed by an ECHO request
// to the subscriber, and at most two batches are out unanswered. The node
// thus never queues more than its peer reads, and its own hellos are not
// held up behind a backlog of its events.
class TestLogSource : public QObject
{
public:
    struct Options
    {
        bool enabled = false;
        quint64 count = 0;  // records to send; 0: no end
        double rate = 0;    // records (or payloads of a file) per second; 0: as fast as it can
        QString bytesFile;  // send this file's bytes instead of generated records
        int slice = 32;     // payload size, 1..32
    };

    // --log-count N, --log-rate R, --log-bytes FILE, --log-slice N.
    static void addOptions(QCommandLineParser& parser);
    // The options given; not enabled unless --log-count or --log-bytes was.
    static Options readOptions(const QCommandLineParser& parser);

    TestLogSource(QErfcStack* stack, const Options& options);
    ~TestLogSource() override;

    // Generated record number `seq`, from its STX to its GS, UTF-8.
    static QByteArray record(quint64 seq);

    // Drops whatever was not emitted yet, as a restarting node does.
    void reset();

private:
    // The subscriber's address, or -1 when nobody is subscribed.
    int subscriber() const;
    void sendEcho(int address);
    void tick();
    // Emits `bytes` cut into payloads; false when the stack refused.
    bool emitBytes(const QByteArray& bytes);

    QErfcStack* m_stack;
    QErfcStackPrivate* m_engine;
    Options m_options;
    QErfcEvent* m_event = nullptr;
    QByteArray m_file;
    qint64 m_fileOffset = 0;
    quint64 m_sent = 0;
    // Pacing: the records (or payloads) due since the subscription began.
    bool m_wasSubscribed = false;
    QElapsedTimer m_pace;
    quint64 m_pacedFrom = 0;
    QTimer m_timer;
    int m_echoesOut = 0;
};

#endif // TESTLOGSOURCE_H
