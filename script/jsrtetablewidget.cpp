#include "jsrtetablewidget.h"

JsRteTableWidget::JsRteTableWidget(QWidget* parent)
    : QTableWidget(parent)
{
}

JsRteTableWidget::~JsRteTableWidget() = default;

void JsRteTableWidget::setItemData(int row, int column, const QVariant& data, int userRole)
{
    if (row < 0 || column < 0 || row >= rowCount() || column >= columnCount())
        return;
    const bool display = userRole == Qt::DisplayRole || userRole == Qt::EditRole;
    QTableWidgetItem* cell = item(row, column);
    if (!cell) {
        // The display value is set below; another role's value is shown as text.
        cell = new QTableWidgetItem(display ? QString() : data.toString());
        setItem(row, column, cell);
    }
    // The item ignores a value equal to the one it holds, even when the
    // types differ ("5" and 5): the cell must hold the script's value, so
    // that a number sorts as a number.
    const QVariant current = cell->data(userRole);
    if (current.userType() != data.userType() && current == data)
        cell->setData(userRole, QVariant());
    cell->setData(userRole, data);
}

void JsRteTableWidget::setItemData(int row, int column, const QVariant& data)
{
    setItemData(row, column, data, Qt::DisplayRole);
}

void JsRteTableWidget::setRowData(int row, const QVariantList& list)
{
    for (int column = 0; column < list.size(); ++column)
        setItemData(row, column, list.at(column), Qt::DisplayRole);
}

void JsRteTableWidget::insertRowData(const QVariantList& list)
{
    const int row = rowCount();
    setRowCount(row + 1);
    setRowData(row, list);
}
