#ifndef CARGOBOUND_H
#define CARGOBOUND_H

#include "qcargoframe.h"
#include "qerfcdatagram.h"
#include "qerfcstreaminterface_p.h"
#include "qerfcmsg.h"
#include "qerfcrequest.h"

#include <QByteArray>

// Line bytes of one frame as the stack sends it: encoded, then stuffed.
inline int stuffedSize(const QErfcMsg& msg)
{
    return QErfcFrameStuffing::stuff(msg.encode()).size();
}

// What the line allows for this run: seconds from the first block to the
// receiver's last end of window. Each window's blocks and its end-of-window
// request cross A->B back to back; between windows the receiver's answer to
// the end of window and its next request cross B->A, and A's answer to the
// next crosses A->B ahead of the following window; every turn costs a round
// trip of the added latency. The data frames are built from the run's very
// bytes (their escapes included).
struct Bound
{
    double seconds = 0;
    qint64 forwardBytes = 0; // A->B line bytes of the stream
    int windows = 0;
    int turnaround = 0;      // line bytes per turn between windows
    int nextAnswer = 0;      // A->B line bytes of them
};

inline Bound lineBound(const QByteArray& data, int window, quint8 a, quint8 b, quint8 channel,
                       quint8 clientFunction, QErfc::Privilege privilege, int lineRate, int latencyMs)
{
    Bound bound;
    QErfcRequest endRequest(b, channel, QCargoFrame::endOfWindow(0));
    QErfcMsg endFrame(&endRequest, a);
    endFrame.setPrivilege(privilege);
    QErfcMsg endAnswer;
    endFrame.makeResponse(&endAnswer);
    QErfcRequest nextRequest(a, clientFunction, QCargoFrame::next(quint16(window)));
    QErfcMsg nextFrame(&nextRequest, b);
    nextFrame.setPrivilege(privilege);
    QErfcMsg nextAnswer;
    nextFrame.makeResponse(&nextAnswer);
    const int eow = stuffedSize(endFrame);
    bound.nextAnswer = stuffedSize(nextAnswer);
    bound.turnaround = stuffedSize(endAnswer) + stuffedSize(nextFrame) + bound.nextAnswer;

    for (int offset = 0; offset < data.size(); offset += window) {
        const int n = qMin(window, data.size() - offset);
        quint8 sequence = 0;
        for (int start = 0; start < n; start += QCargoFrame::MaxBlock) {
            const int length = qMin<int>(QCargoFrame::MaxBlock, n - start);
            QErfcDatagram datagram(b, channel, QCargoFrame::block(sequence, data.constData() + offset + start,
                                                                  length, false));
            QErfcMsg frame(&datagram, a);
            frame.setPrivilege(privilege);
            bound.forwardBytes += stuffedSize(frame);
            sequence = quint8((sequence + 1) % QCargoFrame::Sequences);
        }
        bound.forwardBytes += eow;
        ++bound.windows;
    }
    const qint64 lineBytes = bound.forwardBytes + qint64(bound.windows - 1) * bound.turnaround;
    bound.seconds = double(lineBytes) / lineRate + (2 * bound.windows - 1) * latencyMs / 1e3;
    return bound;
}

#endif // CARGOBOUND_H
