#ifndef QCFTPHEADERREADER_P_H
#define QCFTPHEADERREADER_P_H

#include <QByteArray>
#include <QStringList>

// Reads the header of a CFTP request or response from the front of a byte
// buffer: complete lines only, each decoded as UTF-8 up to its first NUL and
// trimmed; non-empty lines are collected, a blank one ends the header. What
// follows the header stays in the buffer. A header longer than the cap (its
// lines so far plus an unfinished line) is refused.
class QCftpHeaderReader
{
public:
    enum Result {
        NeedMore, // no blank line yet: wait for more bytes
        Complete, // lines() holds the header (possibly nothing: a lone blank line)
        TooLong
    };

    explicit QCftpHeaderReader(qint64 cap);

    Result read(QByteArray& buffer);
    QStringList takeLines(); // the header read; the reader starts afresh
    void reset();

    static QString decodeLine(const char* data, int length);
    // The lines as Latin-1 (other characters become "?"), each ended by a
    // line feed, then the blank line.
    static QByteArray encode(const QStringList& lines);
    // True when the line, written by encode() and read back by read(), is
    // the same line again: the other side gets it exactly as given.
    static bool readsBackUnchanged(const QString& line);

private:
    QStringList m_lines;
    qint64 m_size = 0; // bytes of the header's lines taken so far
    qint64 m_cap;
};

#endif // QCFTPHEADERREADER_P_H
