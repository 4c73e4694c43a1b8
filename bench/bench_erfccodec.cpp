// Frames per second through the send path (encode + stuff) and the receive
// path (unstuff + decode) of the stream link, for full 32-byte payloads.

#include "qerfcmsg.h"
#include "qerfcstreaminterface_p.h"

#include <benchmark/benchmark.h>

namespace {

enum class Payload { Plain, Reserved };

QByteArray payload(Payload kind)
{
    QByteArray bytes(QErfcMsg::MaxPayload, Qt::Uninitialized);
    static const char reserved[] = { char(0xA0), char(0xA5), char(0xAA) };
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = kind == Payload::Plain ? char(0x10 + i) : reserved[i % 3];
    return bytes;
}

// A request as the stack sends it: 7 <- 1, function 20, request id 3.
void fillMessage(QErfcMsg* msg, Payload kind)
{
    msg->setDestination(7);
    msg->setSource(1);
    msg->setFunctionId(20);
    msg->setRequestId(3);
    msg->setPrivilege(QErfc::Operator);
    msg->setPayload(payload(kind));
}

void BM_EncodeStuff(benchmark::State& state, Payload kind)
{
    QErfcMsg msg;
    fillMessage(&msg, kind);
    qint64 bytes = 0;
    for (auto _ : state) {
        const QByteArray stuffed = QErfcFrameStuffing::stuff(msg.encode());
        benchmark::DoNotOptimize(stuffed.constData());
        bytes += stuffed.size();
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(bytes);
}

void BM_FeedDecode(benchmark::State& state, Payload kind)
{
    QErfcMsg source;
    fillMessage(&source, kind);
    const QByteArray stuffed = QErfcFrameStuffing::stuff(source.encode());

    QErfcFrameStuffing receiver;
    QErfcMsg msg;
    qint64 decoded = 0;
    for (auto _ : state) {
        receiver.feed(stuffed.constData(), stuffed.size(), [&](const QByteArray& frame) {
            if (msg.decode(frame) && !msg.crcError())
                ++decoded;
        });
        benchmark::DoNotOptimize(msg.payload().constData());
    }
    if (decoded != qint64(state.iterations()))
        state.SkipWithError("a frame did not come through intact");
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(qint64(state.iterations()) * stuffed.size());
}

} // namespace

BENCHMARK_CAPTURE(BM_EncodeStuff, payload32, Payload::Plain);
BENCHMARK_CAPTURE(BM_EncodeStuff, payload32_reserved, Payload::Reserved);
BENCHMARK_CAPTURE(BM_FeedDecode, payload32, Payload::Plain);
BENCHMARK_CAPTURE(BM_FeedDecode, payload32_reserved, Payload::Reserved);

BENCHMARK_MAIN();
