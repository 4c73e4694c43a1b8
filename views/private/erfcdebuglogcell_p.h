#ifndef ERFCDEBUGLOGCELL_P_H
#define ERFCDEBUGLOGCELL_P_H

#include "erfcdebuglogentry.h"

#include <QExplicitlySharedDataPointer>
#include <QFont>
#include <QSharedData>
#include <QString>
#include <QTableWidgetItem>

// One cell of the debug log's table. The cells of a row share what the row
// shows, and each cell makes its text, colour, font and alignment from it
// when the table asks: a row costs one small record and its eight cells
// rather than a stored value per cell and role, so a full table of 50000
// rows is quicker to fill, smaller and quicker to clear. Read-only.
class ErfcDebugLogCell : public QTableWidgetItem
{
public:
    enum Column {
        SystemTimeColumn,
        TimestampColumn,
        LineColumn,
        FileColumn,
        ModuleColumn,
        ContextColumn,
        FunctionColumn,
        TextColumn,
        ColumnCount
    };

    // What one row shows: an entry's first row (its fields and the first
    // line of its text), or a continuation row (one further line).
    struct Row : QSharedData
    {
        bool first = true;
        quint8 flags = 0;
        quint8 colour = 0;
        qint64 systemTime = 0;
        quint64 timestamp = 0;
        quint32 line = 0;
        QString file;
        QString module;
        QString context;
        QString function;
        QString text; // the line of the Text column
    };
    using RowPointer = QExplicitlySharedDataPointer<Row>;

    ErfcDebugLogCell(const RowPointer& row, int column);

    QVariant data(int role) const override;
    void setData(int role, const QVariant& value) override;
    QTableWidgetItem* clone() const override;

    // The Context cell's font for an entry's flags: the application's
    // default font, italic with bit 0, bold with bit 1.
    static const QFont& contextFont(quint8 flags);
    // The text shown in a column of the row.
    static QString text(const Row& row, int column);

private:
    RowPointer m_row;
    int m_column;
};

#endif // ERFCDEBUGLOGCELL_P_H
