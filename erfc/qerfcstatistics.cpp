#include "qerfcstatistics.h"

namespace {

// Visits the counters in wire order.
template <typename S, typename F>
void forEachCounter(S& s, F&& f)
{
    f(s.frameTx);
    f(s.frameRx);
    f(s.crcError);
    f(s.routing);
    f(s.routingError);
    f(s.retries);
    f(s.maxRetries);
    f(s.retransmit);
    f(s.unknownNode);
    f(s.unknownFunction);
    f(s.unknownEvent);
    f(s.unexpResponse);
    f(s.rxqueueFull);
}

} // namespace

QErfcStatistics::QErfcStatistics(QObject* parent)
    : QObject(parent)
{
}

QErfcStatistics::QErfcStatistics(const QByteArray& payload, QObject* parent)
    : QObject(parent)
{
    int pos = 0;
    forEachCounter(*this, [&](auto& counter) {
        using T = std::remove_reference_t<decltype(counter)>;
        T value = 0;
        // A counter cut off by the end of the payload reads as 0.
        if (pos + int(sizeof(T)) <= payload.size()) {
            for (int i = 0; i < int(sizeof(T)); ++i)
                value |= T(T(uchar(payload.at(pos + i))) << (8 * i));
        }
        pos += int(sizeof(T));
        counter = value;
    });
}

QErfcStatistics::QErfcStatistics(const QErfcStatistics& other)
    : QObject(other.parent())
{
    *this = other;
}

QErfcStatistics& QErfcStatistics::operator=(const QErfcStatistics& other)
{
    frameTx = other.frameTx;
    frameRx = other.frameRx;
    crcError = other.crcError;
    routing = other.routing;
    routingError = other.routingError;
    retries = other.retries;
    maxRetries = other.maxRetries;
    retransmit = other.retransmit;
    unknownNode = other.unknownNode;
    unknownFunction = other.unknownFunction;
    unknownEvent = other.unknownEvent;
    unexpResponse = other.unexpResponse;
    rxqueueFull = other.rxqueueFull;
    return *this;
}

QErfcStatistics::~QErfcStatistics() = default;

void QErfcStatistics::reset()
{
    forEachCounter(*this, [](auto& counter) { counter = 0; });
}

QByteArray QErfcStatistics::toPayload() const
{
    QByteArray out;
    out.reserve(WireSize);
    forEachCounter(*this, [&](const auto& counter) {
        using T = std::remove_cv_t<std::remove_reference_t<decltype(counter)>>;
        for (int i = 0; i < int(sizeof(T)); ++i)
            out.append(char(uchar(counter >> (8 * i))));
    });
    return out;
}
