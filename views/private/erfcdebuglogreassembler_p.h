#ifndef ERFCDEBUGLOGREASSEMBLER_P_H
#define ERFCDEBUGLOGREASSEMBLER_P_H

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

class QTextDecoder;

// Puts a node's debug-log records together from the payloads of its event
// 127. A record is the text from an STX (0x02) up to the first GS (0x1D)
// behind it; its fields are separated by ETX (0x03). Text in front of a
// record's STX is noise and goes.
//
// One UTF-8 decoder runs across all payloads, so a character cut by an
// event boundary arrives whole; invalid bytes become U+FFFD. A payload
// counts up to its first NUL. Text held without a GS is capped: past the cap
// the partial record is dropped and the next STX looked for.
class ErfcDebugLogReassembler
{
public:
    static constexpr QChar RecordStart = QChar(0x02);    // STX
    static constexpr QChar FieldSeparator = QChar(0x03); // ETX
    static constexpr QChar RecordEnd = QChar(0x1D);      // GS
    static constexpr int DefaultCap = 64 * 1024;          // characters

    explicit ErfcDebugLogReassembler(int cap = DefaultCap);
    ~ErfcDebugLogReassembler();

    // Appends one payload and returns every record it completed, in order
    // (each without its STX and GS).
    QStringList feed(const QByteArray& payload);
    // Text is missing before the next payload: the partial record and any
    // partial character go, and the next STX starts over.
    void restart();

    // The text received but not yet taken as a record.
    const QString& buffer() const { return m_buffer; }

private:
    Q_DISABLE_COPY(ErfcDebugLogReassembler)
    std::unique_ptr<QTextDecoder> m_decoder;
    QString m_buffer;
    int m_cap;
};

#endif // ERFCDEBUGLOGREASSEMBLER_P_H
