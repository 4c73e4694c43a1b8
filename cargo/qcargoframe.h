#ifndef QCARGOFRAME_H
#define QCARGOFRAME_H

#include "qerfc.h"

#include <QByteArray>

// The Cargo frame: the whole payload of one Erfc call to the peer's Cargo
// function. Byte 0 is the header (bit 7 confirmed, bits 6..4 the type, bits
// 3..0 the sequence number); the body follows, its 16-bit fields
// little-endian.
class QCargoFrame
{
public:
    enum Type : quint8 {
        Nop = 0x00,
        Connect = 0x10,
        Disconnect = 0x20,
        Data = 0x30, // data block; without a body it ends the window
        Next = 0x40,
        Missing = 0x50
    };
    enum : quint8 {
        ConfirmedFlag = 0x80,
        TypeMask = 0x70,
        SequenceMask = 0x0F,
        ConnectSequence = 1
    };
    enum {
        MaxBlock = 31, // the Erfc payload limit less the header
        MinWindow = 1,
        MaxWindow = 4096,
        Sequences = 16
    };

    static bool isValidWindow(int window) { return window >= MinWindow && window <= MaxWindow; }

    static QByteArray connect(quint8 localFunctionId, quint16 window);
    static QByteArray connectAnswer(QErfc::Privilege privilege, quint16 window);
    static QByteArray disconnect();
    static QByteArray block(quint8 sequence, const char* data, int length, bool confirmed);
    static QByteArray endOfWindow(quint8 sequence);
    static QByteArray next(quint16 window);
    static QByteArray missing(quint16 offset);

    // The little-endian 16-bit field at `at`; 0 when the bytes are not there.
    static quint16 readU16(const QByteArray& bytes, int at);

private:
    static QByteArray withU16(quint8 header, quint16 value);
};

#endif // QCARGOFRAME_H
