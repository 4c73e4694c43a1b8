#include "erfcdebuglogentry.h"

#include <QDateTime>
#include <QStringList>

namespace {

constexpr QChar FieldSeparator(0x03); // ETX
constexpr int RecordFields = 9;

} // namespace

ErfcDebugLogEntry::ErfcDebugLogEntry(quint8 flags, quint8 colour, quint64 timestamp,
                                     const QString& module, const QString& file,
                                     const QString& function, quint32 line,
                                     const QString& context, const QString& text)
    : flags(flags)
    , colour(colour)
    , systemTime(QDateTime::currentMSecsSinceEpoch())
    , timestamp(timestamp)
    , line(line)
    , file(file)
    , module(module)
    , context(context)
    , function(function)
    , text(text)
{
}

quint32 ErfcDebugLogEntry::readNumber(const QString& field)
{
    // toULongLong takes a sign and other bases too: only plain digits count.
    const QString digits = field.trimmed();
    if (digits.isEmpty())
        return 0;
    for (const QChar c : digits) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return 0;
    }
    bool ok = false;
    const qulonglong value = digits.toULongLong(&ok, 10);
    return ok && value <= 0xFFFFFFFFull ? quint32(value) : 0;
}

bool ErfcDebugLogEntry::fromRecord(const QString& record, ErfcDebugLogEntry* entry)
{
    const QStringList f = record.split(FieldSeparator);
    if (f.size() != RecordFields)
        return false;
    *entry = ErfcDebugLogEntry(quint8(readNumber(f.at(0))), quint8(readNumber(f.at(1))),
                               readNumber(f.at(2)), f.at(3), f.at(4), f.at(5),
                               readNumber(f.at(6)), f.at(7), f.at(8));
    return true;
}
