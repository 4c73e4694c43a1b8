#include "erfcdebuglogcell_p.h"

#include <QApplication>
#include <QBrush>
#include <QColor>
#include <QDateTime>
#include <QVector>

namespace {

// Colours of columns 0 to 6 by an entry's colour index; a higher index
// gets none, like the Text column.
const QVector<QColor>& colourTable()
{
    static const QVector<QColor> table = {
        QColor(0, 0, 0, 0), // fully transparent: the cells' text is not seen
        QColor(255, 0, 255, 255),
        QColor(202, 0, 202, 255),
        QColor(185, 0, 0, 255),
        QColor(0, 128, 192, 255),
        QColor(110, 110, 110, 255),
        QColor(0, 0, 0, 255),
    };
    return table;
}

} // namespace

ErfcDebugLogCell::ErfcDebugLogCell(const RowPointer& row, int column)
    : QTableWidgetItem(UserType)
    , m_row(row)
    , m_column(column)
{
    setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
}

const QFont& ErfcDebugLogCell::contextFont(quint8 flags)
{
    static const QVector<QFont> fonts = [] {
        QVector<QFont> f;
        for (int style = 0; style < 4; ++style) {
            QFont font = QApplication::font();
            font.setItalic(style & ErfcDebugLogEntry::Italic);
            font.setBold(style & ErfcDebugLogEntry::Bold);
            f.append(font);
        }
        return f;
    }();
    return fonts.at(flags & (ErfcDebugLogEntry::Italic | ErfcDebugLogEntry::Bold));
}

QString ErfcDebugLogCell::text(const Row& row, int column)
{
    switch (column) {
    case SystemTimeColumn:
        return QDateTime::fromMSecsSinceEpoch(row.systemTime).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
    case TimestampColumn:
        return QString::number(row.timestamp).rightJustified(8, QLatin1Char('0'));
    case LineColumn:
        return QString::number(row.line);
    case FileColumn:
        return row.file;
    case ModuleColumn:
        return row.module;
    case ContextColumn:
        return row.context;
    case FunctionColumn:
        return row.function;
    case TextColumn:
        return row.text;
    default:
        return QString();
    }
}

QVariant ErfcDebugLogCell::data(int role) const
{
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return text(*m_row, m_column);
    case Qt::TextAlignmentRole:
        return int(Qt::AlignLeft | Qt::AlignVCenter);
    case Qt::ForegroundRole:
        if (m_row->first && m_column != TextColumn && m_row->colour < colourTable().size())
            return QBrush(colourTable().at(m_row->colour));
        return QVariant();
    case Qt::FontRole:
        if (m_row->first && m_column == ContextColumn)
            return contextFont(m_row->flags);
        return QVariant();
    default:
        return QTableWidgetItem::data(role);
    }
}

void ErfcDebugLogCell::setData(int role, const QVariant& value)
{
    // What the row shows is fixed; other roles are kept as usual.
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
    case Qt::TextAlignmentRole:
    case Qt::ForegroundRole:
    case Qt::FontRole:
        return;
    default:
        QTableWidgetItem::setData(role, value);
    }
}

QTableWidgetItem* ErfcDebugLogCell::clone() const
{
    return new ErfcDebugLogCell(m_row, m_column);
}
