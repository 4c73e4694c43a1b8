#ifndef QERFCSTATISTICS_H
#define QERFCSTATISTICS_H

#include <QByteArray>
#include <QMetaType>
#include <QObject>

// Link counters of a node, in the order the STATISTICS function reports them.
// Each counter stops at the largest value of its width instead of wrapping.
class QErfcStatistics : public QObject
{
    Q_OBJECT
public:
    enum { WireSize = 32 };

    explicit QErfcStatistics(QObject* parent = nullptr);
    // Reads the counters from a STATISTICS answer; a short payload leaves the
    // counters beyond its end at 0.
    explicit QErfcStatistics(const QByteArray& payload, QObject* parent = nullptr);
    QErfcStatistics(const QErfcStatistics& other);
    QErfcStatistics& operator=(const QErfcStatistics& other);
    ~QErfcStatistics() override;

    void reset();
    // The 32-byte little-endian wire form.
    QByteArray toPayload() const;

    template <typename T>
    static void increment(T& counter)
    {
        if (counter != T(~T(0)))
            ++counter;
    }

    quint32 frameTx = 0;
    quint32 frameRx = 0;
    quint16 crcError = 0;
    quint32 routing = 0;
    quint16 routingError = 0;
    quint16 retries = 0;
    quint16 maxRetries = 0;
    quint16 retransmit = 0;
    quint16 unknownNode = 0;
    quint16 unknownFunction = 0;
    quint16 unknownEvent = 0;
    quint16 unexpResponse = 0;
    quint16 rxqueueFull = 0;
};

Q_DECLARE_METATYPE(QErfcStatistics)

#endif // QERFCSTATISTICS_H
