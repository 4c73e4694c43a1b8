#include "qcargoframe.h"

QByteArray QCargoFrame::withU16(quint8 header, quint16 value)
{
    const char bytes[] = {char(header), char(value & 0xFF), char(value >> 8)};
    return QByteArray(bytes, sizeof(bytes));
}

QByteArray QCargoFrame::connect(quint8 localFunctionId, quint16 window)
{
    QByteArray frame = withU16(Connect | ConnectSequence, window);
    frame.insert(1, char(localFunctionId));
    return frame;
}

QByteArray QCargoFrame::connectAnswer(QErfc::Privilege privilege, quint16 window)
{
    return withU16(quint8(privilege), window);
}

QByteArray QCargoFrame::disconnect()
{
    return QByteArray(1, char(Disconnect));
}

QByteArray QCargoFrame::block(quint8 sequence, const char* data, int length, bool confirmed)
{
    QByteArray frame;
    frame.reserve(1 + length);
    frame.append(char((confirmed ? ConfirmedFlag : 0) | Data | (sequence & SequenceMask)));
    frame.append(data, length);
    return frame;
}

QByteArray QCargoFrame::endOfWindow(quint8 sequence)
{
    return QByteArray(1, char(Data | (sequence & SequenceMask)));
}

QByteArray QCargoFrame::next(quint16 window)
{
    return withU16(Next, window);
}

QByteArray QCargoFrame::missing(quint16 offset)
{
    return withU16(Missing, offset);
}

quint16 QCargoFrame::readU16(const QByteArray& bytes, int at)
{
    if (at < 0 || bytes.size() < at + 2)
        return 0;
    return quint16(quint8(bytes.at(at)) | (quint8(bytes.at(at + 1)) << 8));
}
