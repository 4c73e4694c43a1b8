#include "qerfccrc16.h"

#include <array>

namespace {

struct CrcTable
{
    std::array<quint16, 256> t{};
    constexpr CrcTable()
    {
        for (int i = 0; i < 256; ++i) {
            quint16 c = quint16(i);
            for (int b = 0; b < 8; ++b)
                c = (c & 1) ? quint16((c >> 1) ^ 0xA001) : quint16(c >> 1);
            t[i] = c;
        }
    }
};

constexpr CrcTable table;

} // namespace

void QErfcCrc16::init(quint16* crc)
{
    *crc = 0xFFFF;
}

void QErfcCrc16::update(const uchar* data, uint length, quint16* crc)
{
    quint16 c = *crc;
    for (uint i = 0; i < length; ++i)
        c = quint16((c >> 8) ^ table.t[(c ^ data[i]) & 0xFF]);
    *crc = c;
}

quint16 QErfcCrc16::calculate(const QByteArray& data, qint64 length)
{
    if (length < 0 || length > data.size())
        length = data.size();
    quint16 crc;
    init(&crc);
    update(reinterpret_cast<const uchar*>(data.constData()), uint(length), &crc);
    return crc;
}
