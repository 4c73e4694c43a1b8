#include "qcftpheaderreader_p.h"

#include <cstring>

QCftpHeaderReader::QCftpHeaderReader(qint64 cap)
    : m_cap(cap)
{
}

QCftpHeaderReader::Result QCftpHeaderReader::read(QByteArray& buffer)
{
    const char* data = buffer.constData();
    const int size = buffer.size();
    int at = 0;
    Result result = NeedMore;
    while (at < size) {
        const void* found = std::memchr(data + at, '\n', size_t(size - at));
        if (!found)
            break;
        const int end = int(static_cast<const char*>(found) - data);
        m_size += end + 1 - at;
        const QString line = decodeLine(data + at, end - at);
        at = end + 1;
        if (m_size > m_cap) {
            result = TooLong;
            break;
        }
        if (line.isEmpty()) {
            result = Complete;
            break;
        }
        m_lines.append(line);
    }
    if (result == NeedMore && m_size + (size - at) > m_cap)
        result = TooLong;
    buffer.remove(0, at);
    return result;
}

QStringList QCftpHeaderReader::takeLines()
{
    QStringList out;
    out.swap(m_lines);
    m_size = 0;
    return out;
}

void QCftpHeaderReader::reset()
{
    m_lines.clear();
    m_size = 0;
}

QString QCftpHeaderReader::decodeLine(const char* data, int length)
{
    const void* nul = std::memchr(data, '\0', size_t(length));
    if (nul)
        length = int(static_cast<const char*>(nul) - data);
    return QString::fromUtf8(data, length).trimmed();
}

QByteArray QCftpHeaderReader::encode(const QStringList& lines)
{
    QByteArray out;
    for (const QString& line : lines) {
        out += line.toLatin1();
        out += '\n';
    }
    out += '\n';
    return out;
}

bool QCftpHeaderReader::readsBackUnchanged(const QString& line)
{
    QByteArray bytes = encode({line});
    QCftpHeaderReader reader(bytes.size());
    return reader.read(bytes) == Complete && bytes.isEmpty() && reader.takeLines() == QStringList{line};
}
