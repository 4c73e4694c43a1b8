#ifndef ERFCDEBUGLOGENTRY_H
#define ERFCDEBUGLOGENTRY_H

#include <QString>
#include <QtGlobal>

// One entry of a node's debug log: the nine fields of one record the node
// emitted, plus the moment it arrived on the PC. A plain copyable value.
class ErfcDebugLogEntry
{
public:
    // Takes the record's values in record order; stamps systemTime with now.
    ErfcDebugLogEntry(quint8 flags, quint8 colour, quint64 timestamp, const QString& module,
                      const QString& file, const QString& function, quint32 line,
                      const QString& context, const QString& text);

    // The entry of one record's text (what stands between STX and GS), or
    // false when it does not have exactly nine fields.
    static bool fromRecord(const QString& record, ErfcDebugLogEntry* entry);
    // A numeric field: base-10 unsigned 32 bits, white space around the
    // digits ignored; anything else, or a value above 4294967295, reads 0.
    static quint32 readNumber(const QString& field);

    enum Flag : quint8 {
        Italic = 0x01,
        Bold = 0x02
    };

    quint8 flags;
    quint8 colour;
    qint64 systemTime; // ms since 1970-01-01 00:00 UTC, taken on arrival
    quint64 timestamp; // the node's own time stamp
    quint32 line;
    QString file;
    QString module;
    QString context;
    QString function;
    QString text;
};

Q_DECLARE_TYPEINFO(ErfcDebugLogEntry, Q_MOVABLE_TYPE);

#endif // ERFCDEBUGLOGENTRY_H
