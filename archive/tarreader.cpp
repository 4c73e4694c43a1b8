#include "tarreader.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr int ChunkSize = 32768;
constexpr qint64 BlockSize = 512;
// gzip wrapper only, 15-bit window.
constexpr int GzipWindowBits = 31;
// The most bytes of one long-name or extended header record that are kept;
// a larger record is skipped unread, so hostile sizes cost no memory.
constexpr qint64 MetadataLimit = 1 << 20;
// The most deflate can pack: 1032 bytes into one.
constexpr qint64 MaxDeflateRatio = 1032;

// Bytes up to the first NUL, as UTF-8.
QString textUpToNul(const char* begin, const char* end)
{
    return QString::fromUtf8(begin, int(std::find(begin, end, '\0') - begin));
}

// A header's text field: its bytes up to the first NUL, as UTF-8. Bytes past
// the end of a short last header count as absent.
QString headerField(const QByteArray& header, int offset, int length)
{
    const qint64 available = std::min<qint64>(length, qint64(header.size()) - offset);
    if (available <= 0)
        return QString();
    const char* field = header.constData() + offset;
    return textUpToNul(field, field + available);
}

QString normalisedName(QString name)
{
    if (name.startsWith(QLatin1String("./")))
        name.remove(0, 2);
    if (!name.startsWith(QLatin1Char('/')))
        name.prepend(QLatin1Char('/'));
    return name;
}

// The value of the last "path" record of an extended header ("LEN path=VALUE\n"
// records, LEN counting the whole record); empty when there is none. A
// malformed record ends the reading: the records after it cannot be found.
QString paxPath(const QByteArray& records)
{
    QString path;
    const char* const begin = records.constData();
    const qint64 size = records.size();
    qint64 position = 0;
    while (position < size) {
        const char* record = begin + position;
        const qint64 available = size - position;
        qint64 length = 0;
        qint64 digits = 0;
        while (digits < available && record[digits] >= '0' && record[digits] <= '9' && length <= available) {
            length = length * 10 + (record[digits] - '0');
            ++digits;
        }
        if (digits == 0 || digits >= available || record[digits] != ' ' || length > available
            || length < digits + 2 || record[length - 1] != '\n')
            return path;
        const char* keyword = record + digits + 1;
        const char* recordEnd = record + length - 1;
        const char* equals = std::find(keyword, recordEnd, '=');
        if (equals == recordEnd)
            return path;
        if (equals - keyword == 4 && std::memcmp(keyword, "path", 4) == 0) {
            // An empty value names nothing: the header's own name stays.
            const QString value = textUpToNul(equals + 1, recordEnd);
            if (!value.isEmpty())
                path = value;
        }
        position += length;
    }
    return path;
}

// Splits a tar stream into members as its bytes arrive, so that a member's
// data are copied once, straight into the member, and the whole tar need not
// be held. Records that only describe the next member (a GNU long name 'L' or
// long link name 'K', a POSIX extended header 'x' or global header 'g') are
// read, applied to the name of what follows, and never become members.
class TarStreamParser
{
public:
    // `limit`: the most bytes the stream can hold, so that a member's buffer
    // is sized once without trusting a hostile size field beyond it.
    explicit TarStreamParser(qint64 limit)
        : m_limit(limit)
    {
    }

    void feed(const char* data, qint64 size)
    {
        const char* const end = data + size;
        while (data < end && !m_failed) {
            switch (m_state) {
            case State::Padding: {
                // NUL bytes after a record: padding and the end blocks.
                const char* first = std::find_if(data, end, [](char c) { return c != '\0'; });
                m_consumed += first - data;
                data = first;
                if (data < end)
                    m_state = State::Header;
                break;
            }
            case State::Header: {
                const qint64 piece = std::min<qint64>(BlockSize - m_header.size(), end - data);
                m_header.append(data, int(piece));
                data += piece;
                m_consumed += piece;
                if (m_header.size() == BlockSize)
                    readHeader();
                break;
            }
            case State::Data: {
                const qint64 piece = std::min<qint64>(m_remaining, end - data);
                if (m_isMember)
                    m_entry.data.append(data, int(piece));
                else if (m_keepMetadata)
                    m_metadata.append(data, int(piece));
                data += piece;
                m_consumed += piece;
                m_remaining -= piece;
                if (m_remaining == 0)
                    endRecord();
                break;
            }
            }
        }
    }

    // The end of the stream: a short last header still yields its member, a
    // member cut short keeps the bytes that came.
    QList<TarEntry> finish(bool* ok)
    {
        if (!m_failed && m_state == State::Header && !m_header.isEmpty())
            readHeader();
        if (!m_failed && m_state == State::Data)
            endRecord();
        *ok = !m_failed;
        return std::move(m_entries);
    }

private:
    enum class State { Header, Data, Padding };

    static bool isMetadata(char type)
    {
        return type == 'L' || type == 'K' || type == 'x' || type == 'g';
    }

    void readHeader()
    {
        bool sizeOk = false;
        const qint64 size = headerField(m_header, 124, 12).trimmed().toUInt(&sizeOk, 8);
        if (!sizeOk) {
            m_failed = true;
            return;
        }
        const char type = m_header.size() > 156 ? m_header.at(156) : '\0';
        m_isMember = !isMetadata(type);
        if (m_isMember) {
            m_entry = TarEntry();
            m_entry.name = normalisedName(memberName());
            m_entry.mode = headerField(m_header, 100, 8);
            m_entry.uid = headerField(m_header, 108, 8);
            m_entry.gid = headerField(m_header, 116, 8);
            // The size field is trusted only as far as the stream can reach.
            const qint64 room = m_limit - m_consumed;
            if (m_header.size() == BlockSize && room > 0)
                m_entry.data.reserve(int(std::min(size, room)));
        } else {
            m_type = type;
            m_metadata.clear();
            m_keepMetadata = size <= MetadataLimit;
        }
        // A short header is the end of the stream: no data follow it.
        const bool complete = m_header.size() == BlockSize;
        m_header.clear();
        m_remaining = complete ? size : 0;
        if (m_remaining == 0)
            endRecord();
        else
            m_state = State::Data;
    }

    // The member's name: the newest of an extended header's path, a global
    // header's path and a GNU long name, else the header's own name, with the
    // ustar prefix in front when there is one.
    QString memberName()
    {
        QString name;
        if (!m_paxPath.isEmpty())
            name = m_paxPath;
        else if (!m_globalPath.isEmpty())
            name = m_globalPath;
        else if (!m_longName.isEmpty())
            name = m_longName;
        else
            name = headerName();
        // Those records describe only the member that follows them.
        m_paxPath.clear();
        m_longName.clear();
        return name;
    }

    QString headerName() const
    {
        const QString name = headerField(m_header, 0, 100);
        // Only the POSIX magic "ustar\0" has a name prefix; GNU's own
        // "ustar  \0" headers keep other fields in those bytes.
        if (m_header.size() < 263 || std::memcmp(m_header.constData() + 257, "ustar\0", 6) != 0)
            return name;
        const QString prefix = headerField(m_header, 345, 155);
        return prefix.isEmpty() ? name : prefix + QLatin1Char('/') + name;
    }

    void endRecord()
    {
        if (m_isMember) {
            if (m_entry.data.capacity() > m_entry.data.size())
                m_entry.data.squeeze();
            m_entries.append(std::move(m_entry));
            m_entry = TarEntry();
        } else if (m_keepMetadata) {
            const char* begin = m_metadata.constBegin();
            if (m_type == 'L')
                m_longName = textUpToNul(begin, m_metadata.constEnd());
            else if (m_type == 'x')
                m_paxPath = paxPath(m_metadata);
            else if (m_type == 'g')
                m_globalPath = paxPath(m_metadata); // a later global header replaces it
            m_metadata.clear();
        }
        m_state = State::Padding;
    }

    const qint64 m_limit;
    qint64 m_consumed = 0;
    State m_state = State::Header; // the first header is read even if it begins with NULs
    bool m_failed = false;
    QByteArray m_header;
    qint64 m_remaining = 0;
    bool m_isMember = true;
    TarEntry m_entry;
    char m_type = '\0';
    bool m_keepMetadata = false;
    QByteArray m_metadata;
    QString m_longName;
    QString m_paxPath;
    QString m_globalPath;
    QList<TarEntry> m_entries;
};

// Hands zlib the next chunk of the input.
void feedChunk(z_stream& stream, const char*& next, qint64& remaining)
{
    const int piece = int(std::min<qint64>(remaining, ChunkSize));
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(next));
    stream.avail_in = uInt(piece);
    next += piece;
    remaining -= piece;
}

// Gunzips input, handing each produced piece to sink(data, size). False for
// corrupt or truncated data and for output beyond limit; the piece that would
// pass the limit is not handed on.
template<typename Sink>
bool inflateGzip(const QByteArray& input, qint64 limit, Sink sink)
{
    if (input.isEmpty())
        return true;

    z_stream stream{};
    if (inflateInit2(&stream, GzipWindowBits) != Z_OK)
        return false;

    char buffer[ChunkSize];
    const char* next = input.constData();
    qint64 remaining = input.size();
    qint64 total = 0;
    while (remaining > 0) {
        feedChunk(stream, next, remaining);
        do {
            stream.next_out = reinterpret_cast<Bytef*>(buffer);
            stream.avail_out = ChunkSize;
            const int result = inflate(&stream, Z_NO_FLUSH);
            if (result == Z_NEED_DICT || result == Z_DATA_ERROR || result == Z_STREAM_ERROR
                || result == Z_MEM_ERROR) {
                inflateEnd(&stream);
                return false;
            }
            const int produced = ChunkSize - int(stream.avail_out);
            if (total + produced > limit) {
                inflateEnd(&stream);
                return false;
            }
            total += produced;
            sink(buffer, produced);
            if (result == Z_STREAM_END) {
                inflateEnd(&stream);
                return true;
            }
        } while (stream.avail_out == 0);
    }
    // The input ran out before the end of the stream: truncated.
    inflateEnd(&stream);
    return false;
}

} // namespace

bool gzipUncompress(const QByteArray& input, QByteArray& output, qint64 limit)
{
    output.clear();
    return inflateGzip(input, limit, [&output](const char* data, int size) { output.append(data, size); });
}

bool gzipCompress(const QByteArray& input, QByteArray& output, int level)
{
    output.clear();
    if (input.isEmpty())
        return true;
    if (level > 9)
        level = 9;
    else if (level < 0)
        level = Z_DEFAULT_COMPRESSION;

    z_stream stream{};
    if (deflateInit2(&stream, level, Z_DEFLATED, GzipWindowBits, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return false;

    char buffer[ChunkSize];
    const char* next = input.constData();
    qint64 remaining = input.size();
    int result = Z_OK;
    while (remaining > 0) {
        feedChunk(stream, next, remaining);
        const int flush = remaining == 0 ? Z_FINISH : Z_NO_FLUSH;
        do {
            stream.next_out = reinterpret_cast<Bytef*>(buffer);
            stream.avail_out = ChunkSize;
            result = deflate(&stream, flush);
            if (result == Z_STREAM_ERROR) {
                deflateEnd(&stream);
                return false;
            }
            output.append(buffer, ChunkSize - int(stream.avail_out));
        } while (stream.avail_out == 0);
    }
    deflateEnd(&stream);
    return result == Z_STREAM_END;
}

QList<TarEntry> parseTar(const QByteArray& tar, bool* ok)
{
    TarStreamParser parser(tar.size());
    parser.feed(tar.constData(), tar.size());
    return parser.finish(ok);
}

QList<TarEntry> readTarGz(const QByteArray& archive, bool* ok)
{
    // The tar is split as it inflates: only the members' data are kept, never
    // the whole tar beside them.
    // Deflate packs at most 1032:1, so the archive's size also bounds what
    // the tar can hold: a small hostile archive sizes no large buffer.
    TarStreamParser parser(std::min(GzipOutputLimit, qint64(archive.size()) * MaxDeflateRatio));
    if (!inflateGzip(archive, GzipOutputLimit,
                     [&parser](const char* data, int size) { parser.feed(data, size); })) {
        *ok = false;
        return QList<TarEntry>();
    }
    return parser.finish(ok);
}

QHash<QString, TarEntry> tarEntriesByName(const QList<TarEntry>& entries)
{
    QHash<QString, TarEntry> table;
    for (const TarEntry& entry : entries)
        table.insert(entry.name, entry);
    return table;
}
