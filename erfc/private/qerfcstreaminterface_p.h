#ifndef QERFCSTREAMINTERFACE_P_H
#define QERFCSTREAMINTERFACE_P_H

#include "qerfcstreaminterface.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <atomic>

class QIODevice;

// The receive state machine and the stuffing rule of the stream link.
class QErfcFrameStuffing
{
public:
    enum : char {
        Start = char(0xA0),
        End = char(0xA5),
        Escape = char(0xAA)
    };
    enum State { Hunting = 0, InFrame = 1, Escaped = 2 };
    // Above the largest stuffed frame (2 + 2 * 42 bytes): a longer run without
    // an end byte is handed up (the decoder refuses it) and hunting starts over.
    enum { MaxBuffer = 86 };

    // A0, the frame with its reserved bytes escaped, A5.
    static QByteArray stuff(const QByteArray& frame);

    // Feeds received bytes; calls emitFrame(const QByteArray&) per frame.
    template <typename EmitFrame>
    void feed(const char* data, qint64 length, EmitFrame&& emitFrame);
    void reset();

    State state() const { return m_state; }
    const QByteArray& buffer() const { return m_buffer; }

private:
    State m_state = Hunting;
    QByteArray m_buffer;
};

template <typename EmitFrame>
void QErfcFrameStuffing::feed(const char* data, qint64 length, EmitFrame&& emitFrame)
{
    for (qint64 i = 0; i < length; ++i) {
        const char byte = data[i];
        switch (m_state) {
        case Hunting:
            if (byte == Start) {
                m_buffer.clear();
                m_state = InFrame;
            }
            break;
        case InFrame:
            if (byte == Escape) {
                m_state = Escaped;
            } else if (byte == End) {
                m_state = Hunting;
                emitFrame(m_buffer);
            } else if (byte == Start) {
                emitFrame(m_buffer);
                m_buffer.clear();
            } else if (m_buffer.size() >= MaxBuffer) {
                m_state = Hunting;
                emitFrame(m_buffer);
                m_buffer.clear();
            } else {
                m_buffer.append(byte);
            }
            break;
        case Escaped:
            if (byte == Start) {
                // A start byte always begins a new frame, even after an escape.
                emitFrame(m_buffer);
                m_buffer.clear();
                m_state = InFrame;
            } else if (byte == char(0xB0) || byte == char(0xB5) || byte == char(0xBA)) {
                if (m_buffer.size() >= MaxBuffer) {
                    m_state = Hunting;
                    emitFrame(m_buffer);
                    m_buffer.clear();
                } else {
                    m_buffer.append(char(byte & ~0x10));
                    m_state = InFrame;
                }
            } else {
                m_state = Hunting;
                emitFrame(m_buffer);
            }
            break;
        }
    }
}

class QErfcStreamInterfacePrivate : public QObject
{
    Q_OBJECT
public:
    QErfcStreamInterfacePrivate(QErfcDevice* device, QErfcStreamInterface* q);

    QPointer<QErfcDevice> m_device;
    QPointer<QIODevice> m_stream;
    QErfcFrameStuffing m_receiver;
    QErfcStreamInterface* m_interface;
    std::atomic<qint32> m_byteRate{0}; // read from other threads
    // The stream took nothing within the write bound; cleared once it has
    // passed on all it held. Stack thread only.
    bool m_stalled = false;

    // Waits a short step for the stream to pass on what it holds.
    void waitForBytesWritten(QIODevice* stream);
    // Enters the stalled state, reporting it once.
    void markStalled();

public slots:
    void onReadyRead();
    void onDeviceClosed();
};

#endif // QERFCSTREAMINTERFACE_P_H
