#ifndef JSRTETABLEWIDGET_H
#define JSRTETABLEWIDGET_H

#include <QTableWidget>
#include <QVariant>
#include <QVariantList>

// The table of script forms: a QTableWidget whose cells and rows scripts
// fill from script values in one call. Calls outside the table change
// nothing; the table never grows except by insertRowData.
class JsRteTableWidget : public QTableWidget
{
    Q_OBJECT
public:
    explicit JsRteTableWidget(QWidget* parent = nullptr);
    ~JsRteTableWidget() override;

public slots:
    // Sets the cell's data for the role. An empty cell gets an item showing
    // data's text first, so with another role than the display role it shows
    // the text and holds data under that role.
    void setItemData(int row, int column, const QVariant& data, int userRole);
    // With the display role: the cell holds the value itself (a number sorts
    // as a number).
    void setItemData(int row, int column, const QVariant& data);
    // Element i goes to column i; elements beyond the last column are dropped,
    // columns without an element keep what they hold.
    void setRowData(int row, const QVariantList& list);
    // Appends one row and fills it like setRowData.
    void insertRowData(const QVariantList& list);

private:
    Q_DISABLE_COPY(JsRteTableWidget)
};

#endif // JSRTETABLEWIDGET_H
