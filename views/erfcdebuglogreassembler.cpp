#include "erfcdebuglogreassembler_p.h"

#include <QTextCodec>
#include <QTextDecoder>

constexpr QChar ErfcDebugLogReassembler::RecordStart;
constexpr QChar ErfcDebugLogReassembler::FieldSeparator;
constexpr QChar ErfcDebugLogReassembler::RecordEnd;

namespace {

QTextDecoder* newDecoder()
{
    // A byte-order mark is text like any other character here.
    return QTextCodec::codecForMib(106)->makeDecoder(QTextCodec::IgnoreHeader);
}

} // namespace

ErfcDebugLogReassembler::ErfcDebugLogReassembler(int cap)
    : m_decoder(newDecoder())
    , m_cap(cap)
{
}

void ErfcDebugLogReassembler::restart()
{
    m_decoder.reset(newDecoder());
    m_buffer.clear();
}

ErfcDebugLogReassembler::~ErfcDebugLogReassembler() = default;

QStringList ErfcDebugLogReassembler::feed(const QByteArray& payload)
{
    const int nul = payload.indexOf('\0');
    m_buffer.append(m_decoder->toUnicode(payload.constData(), nul < 0 ? payload.size() : nul));

    QStringList records;
    for (;;) {
        const int start = m_buffer.indexOf(RecordStart);
        if (start < 0) {
            m_buffer.clear();
            break;
        }
        const int end = m_buffer.indexOf(RecordEnd, start + 1);
        if (end < 0) {
            m_buffer.remove(0, start);
            break;
        }
        // An STX between start and end is part of the record's text.
        records.append(m_buffer.mid(start + 1, end - start - 1));
        m_buffer.remove(0, end + 1);
    }

    // No GS is left in the buffer: all of it is one partial record. When it
    // grows past the cap, it goes up to the first STX that leaves no more
    // than the cap behind (nothing is left when there is none).
    if (m_buffer.size() > m_cap) {
        const int next = m_buffer.indexOf(RecordStart, qMax(1, m_buffer.size() - m_cap));
        if (next < 0)
            m_buffer.clear();
        else
            m_buffer.remove(0, next);
    }
    return records;
}
