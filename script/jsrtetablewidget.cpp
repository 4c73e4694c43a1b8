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
    QTableWidgetItem* cell = item(row, column);
    if (!cell) {
        cell = new QTableWidgetItem(data.toString());
        setItem(row, column, cell);
    }
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
