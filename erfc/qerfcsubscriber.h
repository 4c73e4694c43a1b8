#ifndef QERFCSUBSCRIBER_H
#define QERFCSUBSCRIBER_H

#include <QtGlobal>

// A remote node's subscription to one of the PC's events.
struct QErfcSubscriber
{
    enum DeliveryType : quint32 {
        Normal = 0,    // acknowledged, kept pending and retransmitted
        Datagram = 1,  // sent once with the no-response bit
        Broadcast = 2  // one frame to address 63 per emission
    };

    quint8 address = 0;
    quint8 eventId = 0;
    quint32 deliveryType = Normal;
    quint8 retries = 3;
    quint8 timeout = 250;
};

#endif // QERFCSUBSCRIBER_H
