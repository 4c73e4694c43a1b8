#include "tarreader.h"

#include <zlib.h>

#include <algorithm>

namespace {

constexpr int ChunkSize = 32768;
constexpr qint64 BlockSize = 512;
// gzip wrapper only, 15-bit window.
constexpr int GzipWindowBits = 31;

// A header's text field: its bytes up to the first NUL, as UTF-8. Bytes past
// the end of a short last header count as absent.
QString headerField(const QByteArray& tar, qint64 headerStart, int offset, int length)
{
    const qint64 begin = headerStart + offset;
    const qint64 available = std::min<qint64>(length, qint64(tar.size()) - begin);
    if (available <= 0)
        return QString();
    const char* field = tar.constData() + begin;
    const int used = int(std::find(field, field + available, '\0') - field);
    return QString::fromUtf8(field, used);
}

QString normalisedName(QString name)
{
    if (name.startsWith(QLatin1String("./")))
        name.remove(0, 2);
    if (!name.startsWith(QLatin1Char('/')))
        name.prepend(QLatin1Char('/'));
    return name;
}

// Hands zlib the next chunk of the input.
void feedChunk(z_stream& stream, const char*& next, qint64& remaining)
{
    const int piece = int(std::min<qint64>(remaining, ChunkSize));
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(next));
    stream.avail_in = uInt(piece);
    next += piece;
    remaining -= piece;
}

} // namespace

bool gzipUncompress(const QByteArray& input, QByteArray& output, qint64 limit)
{
    output.clear();
    if (input.isEmpty())
        return true;

    z_stream stream{};
    if (inflateInit2(&stream, GzipWindowBits) != Z_OK)
        return false;

    char buffer[ChunkSize];
    const char* next = input.constData();
    qint64 remaining = input.size();
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
            if (qint64(output.size()) + produced > limit) {
                inflateEnd(&stream);
                return false;
            }
            output.append(buffer, produced);
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
    *ok = true;
    QList<TarEntry> entries;
    // 64-bit positions: a size field of up to 2^32 - 1 cannot wrap them.
    const qint64 end = tar.size();
    qint64 position = 0;
    while (position < end) {
        TarEntry entry;
        entry.name = headerField(tar, position, 0, 100);
        entry.mode = headerField(tar, position, 100, 8);
        entry.uid = headerField(tar, position, 108, 8);
        entry.gid = headerField(tar, position, 116, 8);
        bool sizeOk = false;
        const qint64 size = headerField(tar, position, 124, 12).trimmed().toUInt(&sizeOk, 8);
        if (!sizeOk) {
            *ok = false;
            return entries;
        }
        entry.name = normalisedName(entry.name);

        // The data are clamped to what remains; none when the data end inside
        // the header.
        const qint64 dataStart = position + BlockSize;
        if (dataStart < end)
            entry.data = tar.mid(int(dataStart), int(std::min(size, end - dataStart)));
        entries.append(entry);

        // Every step moves on by at least one header; NUL bytes after the
        // data (padding, end blocks) are skipped.
        position = dataStart + size;
        while (position < end && tar.at(int(position)) == '\0')
            ++position;
    }
    return entries;
}

QList<TarEntry> readTarGz(const QByteArray& archive, bool* ok)
{
    QByteArray tar;
    if (!gzipUncompress(archive, tar)) {
        *ok = false;
        return QList<TarEntry>();
    }
    return parseTar(tar, ok);
}

QHash<QString, TarEntry> tarEntriesByName(const QList<TarEntry>& entries)
{
    QHash<QString, TarEntry> table;
    for (const TarEntry& entry : entries)
        table.insert(entry.name, entry);
    return table;
}
