// Feeds arbitrary bytes through the stream receiver and the frame codec and
// checks what must hold for every input:
//  - the receiver hands up the same frames however the bytes are split into
//    reads, and never holds more than its cap;
//  - decode accepts exactly the frames of a valid size and route layout,
//    leaves the message untouched when it refuses one, and flags a CRC error
//    exactly when the stored CRC is wrong;
//  - a decoded frame re-encodes to its own bytes with a correct CRC: every
//    header bit, the route bytes and the payload survive;
//  - any frame the receiver can hold comes back identical after stuffing and
//    unstuffing, and the stuffed bytes carry no bare reserved byte.

#include "fuzzcheck.h"
#include "qerfccrc16.h"
#include "qerfcmsg.h"
#include "qerfcstreaminterface_p.h"

#include <vector>

namespace {

constexpr uchar StartByte = 0xA0;
constexpr uchar EndByte = 0xA5;
constexpr uchar EscapeByte = 0xAA;

// Bit-by-bit CRC-16 (reflected polynomial 0xA001, initial 0xFFFF), kept apart
// from the table-driven one in the library so both are checked against each other.
quint16 referenceCrc(const uchar* data, int length)
{
    quint16 crc = 0xFFFF;
    for (int i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
    }
    return crc;
}

const uchar* bytes(const QByteArray& a)
{
    return reinterpret_cast<const uchar*>(a.constData());
}

std::vector<QByteArray> unstuff(QErfcFrameStuffing& receiver, const char* data, int length)
{
    std::vector<QByteArray> frames;
    receiver.feed(data, length, [&frames](const QByteArray& frame) {
        FUZZ_CHECK(frame.size() <= QErfcFrameStuffing::MaxBuffer);
        frames.push_back(frame);
    });
    FUZZ_CHECK(receiver.buffer().size() <= QErfcFrameStuffing::MaxBuffer);
    return frames;
}

bool isReserved(uchar b)
{
    return b == StartByte || b == EndByte || b == EscapeByte;
}

// Stuffing and unstuffing give the frame back unchanged.
void checkStuffing(const QByteArray& frame)
{
    const QByteArray stuffed = QErfcFrameStuffing::stuff(frame);
    const uchar* s = bytes(stuffed);
    const int n = stuffed.size();
    FUZZ_CHECK(n >= 2 && n <= 2 + 2 * frame.size());
    FUZZ_CHECK(s[0] == StartByte && s[n - 1] == EndByte);
    for (int i = 1; i < n - 1; ++i) {
        if (s[i] == EscapeByte) {
            FUZZ_CHECK(i + 1 < n - 1 && isReserved(uchar(s[i + 1] & ~0x10)) && (s[i + 1] & 0x10));
            ++i;
        } else {
            FUZZ_CHECK(!isReserved(s[i]));
        }
    }

    if (frame.size() > QErfcFrameStuffing::MaxBuffer)
        return;
    QErfcFrameStuffing receiver;
    const std::vector<QByteArray> frames = unstuff(receiver, stuffed.constData(), n);
    FUZZ_CHECK(frames.size() == 1);
    FUZZ_CHECK(frames.front() == frame);
    FUZZ_CHECK(receiver.state() == QErfcFrameStuffing::Hunting);
}

// What encode must give back for a frame that decoded: the same bytes with
// the CRC recomputed.
QByteArray expectedReencoding(const QByteArray& frame)
{
    QByteArray out = frame.left(frame.size() - QErfcMsg::CrcSize);
    const quint16 crc = referenceCrc(bytes(out), out.size());
    out.append(char(crc >> 8));
    out.append(char(crc & 0xFF));
    return out;
}

// The state a message is in before each decode; a refused frame must leave it so.
const QErfcMsg& sentinel()
{
    static const QErfcMsg msg = [] {
        QErfcMsg m;
        m.setDestination(9);
        m.setRouted(true);
        m.setRouteBytes(QByteArray("\x01\x02", 2));
        m.setPayload(QByteArray("\xA5\x00\x7F", 3));
        return m;
    }();
    return msg;
}

void checkDecode(const QByteArray& frame)
{
    // Messages are kept across inputs: a QObject per frame makes the run slow.
    static QErfcMsg msg;
    static QErfcMsg again;
    static const QByteArray sentinelFrame = sentinel().encode();

    const int size = frame.size();
    const uchar* p = bytes(frame);
    const bool routed = size >= QErfcMsg::MinFrameSize && (p[1] & 0x04);
    const int routeCount = routed ? p[4] >> 6 : 0;
    const int overhead = QErfcMsg::HeaderSize + QErfcMsg::CrcSize + (routed ? 1 + routeCount : 0);
    const bool acceptable = size >= QErfcMsg::MinFrameSize && size <= QErfcMsg::MaxFrameSize
                            && overhead <= size;

    msg = sentinel();
    const bool decoded = msg.decode(frame);
    FUZZ_CHECK(decoded == acceptable);
    if (!decoded) {
        FUZZ_CHECK(msg.encode() == sentinelFrame);
        FUZZ_CHECK(!msg.crcError());
        return;
    }

    const quint16 stored = quint16((p[size - 2] << 8) | p[size - 1]);
    FUZZ_CHECK(msg.crcError() == (referenceCrc(p, size - QErfcMsg::CrcSize) != stored));
    FUZZ_CHECK(msg.isRouted() == routed);
    FUZZ_CHECK(msg.routeBytes().size() == routeCount);
    FUZZ_CHECK(msg.payload().size() == size - overhead);
    FUZZ_CHECK(msg.destination() < 64 && msg.source() < 64);
    FUZZ_CHECK(msg.functionId() < 128 && msg.requestId() < 16);

    const QByteArray reencoded = msg.encode();
    FUZZ_CHECK(reencoded == expectedReencoding(frame));
    if (!msg.crcError())
        FUZZ_CHECK(reencoded == frame);

    // The re-encoded frame is a fixed point.
    FUZZ_CHECK(again.decode(reencoded));
    FUZZ_CHECK(!again.crcError());
    FUZZ_CHECK(again.encode() == reencoded);

    checkStuffing(reencoded);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 4096)
        return 0;
    const char* input = reinterpret_cast<const char*>(data);
    const int length = int(size);
    const QByteArray raw(input, length);

    // The table-driven CRC agrees with the bitwise definition at every length.
    FUZZ_CHECK(QErfcCrc16::calculate(raw) == referenceCrc(data, length));

    // One read, and two reads split at a place the first byte picks.
    QErfcFrameStuffing whole;
    const std::vector<QByteArray> frames = unstuff(whole, input, length);

    const int split = length > 0 ? data[0] % (length + 1) : 0;
    QErfcFrameStuffing parts;
    std::vector<QByteArray> splitFrames = unstuff(parts, input, split);
    const std::vector<QByteArray> rest = unstuff(parts, input + split, length - split);
    splitFrames.insert(splitFrames.end(), rest.begin(), rest.end());
    FUZZ_CHECK(splitFrames == frames);
    FUZZ_CHECK(parts.state() == whole.state() && parts.buffer() == whole.buffer());

    for (const QByteArray& frame : frames) {
        checkDecode(frame);
        checkStuffing(frame);
    }

    // The raw bytes as one frame, without the stream layer.
    checkDecode(raw);
    checkStuffing(raw);
    return 0;
}
