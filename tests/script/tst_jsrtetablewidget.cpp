// The table widget of script forms, driven by scripts through ui.

#include "jsrte.h"
#include "jsrtefixtures.h"
#include "jsrtetablewidget.h"
#include "jsrtetablewidgetfactory.h"

#include <QtTest>

namespace {

// A 3 x 2 table with two items from the form, and a table without columns.
const QByteArray form = R"(<ui version="4.0"><widget class="QWidget" name="Form">
 <layout class="QVBoxLayout" name="layout">
  <item><widget class="QTableWidget" name="table">
   <property name="rowCount"><number>3</number></property>
   <property name="columnCount"><number>2</number></property>
   <row/><row/><row/><column/><column/>
   <item row="0" column="1"><property name="text"><string>abc</string></property></item>
   <item row="1" column="0"><property name="text"><string>form</string></property></item>
  </widget></item>
  <item><widget class="QTableWidget" name="bare"/></item>
 </layout>
</widget></ui>)";

// Every cell's display text, "-" for a cell without item; rows joined by "|".
QString cells(QTableWidget* table)
{
    QStringList rows;
    for (int r = 0; r < table->rowCount(); ++r) {
        QStringList row;
        for (int c = 0; c < table->columnCount(); ++c) {
            const QTableWidgetItem* item = table->item(r, c);
            row << (item ? item->text() : QStringLiteral("-"));
        }
        rows << row.join(',');
    }
    return rows.join('|');
}

// A number (not a text) of that value.
bool isNumber(const QVariant& value, double expected)
{
    const int type = value.userType();
    return (type == QMetaType::Int || type == QMetaType::Double || type == QMetaType::LongLong)
        && value.toDouble() == expected;
}

} // namespace

class tst_JsRteTableWidget : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void displayValue();
    void roles_data();
    void roles();
    void rows_data();
    void rows();

private:
    void eval(const QString& code)
    {
        const QScriptValue result = m_run->engine->QScriptEngine::evaluate(code);
        QVERIFY2(!result.isError(), qPrintable(result.toString()));
    }
    JsRteTableWidget* table(const char* name) { return qobject_cast<JsRteTableWidget*>(m_run->ui(name)); }

    QScopedPointer<QWidget> m_host;
    QScopedPointer<ScriptDir> m_run;
};

void tst_JsRteTableWidget::init()
{
    m_host.reset(new QWidget);
    m_run.reset(new ScriptDir({{"main.ui", form},
                               {"main.js", "var information = {name: 'T', uifile: 'main.ui', entry: function() {}};"}},
                              m_host.data(), [](JsRte& engine, const QString&) {
                                  engine.registerWidgetFactory(new JsRteTableWidgetFactory, JsRte::DeleteOnDestroy);
                              }));
    QVERIFY(table("table"));
}

void tst_JsRteTableWidget::cleanup()
{
    m_run.reset();
    m_host.reset();
}

void tst_JsRteTableWidget::displayValue()
{
    // A cell from the form stays the same item, its text replaced.
    JsRteTableWidget* t = table("table");
    QTableWidgetItem* fromForm = t->item(1, 0);
    eval("ui.table.setItemData(1, 0, 'changed'); ui.table.setItemData(0, 1, 42)");
    QCOMPARE(t->item(1, 0), fromForm);
    QCOMPARE(cells(t), QStringLiteral("-,42|changed,-|-,-"));

    // A cell showing the text "7" takes the number 7 as a number.
    eval("ui.table.setItemData(2, 0, '7')");
    QTableWidgetItem* item = t->item(2, 0);
    QCOMPARE(item->data(Qt::DisplayRole).type(), QVariant::String);
    eval("ui.table.setItemData(2, 0, 7)");
    QVERIFY(isNumber(item->data(Qt::DisplayRole), 7));
}

void tst_JsRteTableWidget::roles_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("value");
    QTest::addColumn<int>("role");
    QTest::addColumn<QString>("text"); // the cell's text afterwards

    // An empty cell shows the value's text and holds it under the role; a
    // cell with an item keeps its text and gets only the role's value.
    QTest::newRow("tool tip, empty cell") << 2 << 1 << "'red'" << int(Qt::ToolTipRole) << "red";
    QTest::newRow("tool tip, cell with text") << 0 << 1 << "'red'" << int(Qt::ToolTipRole) << "abc";
    QTest::newRow("user role number, empty cell") << 2 << 0 << "12.5" << int(Qt::UserRole) << "12.5";
    QTest::newRow("user role, cell from the form") << 1 << 0 << "true" << int(Qt::UserRole) + 3 << "form";
    // The edit role is the display role's value.
    QTest::newRow("edit role") << 0 << 1 << "'new'" << int(Qt::EditRole) << "new";
}

void tst_JsRteTableWidget::roles()
{
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(QString, value);
    QFETCH(int, role);
    JsRteTableWidget* t = table("table");
    const QString before = cells(t);
    eval(QString("ui.table.setItemData(%1, %2, %3, %4)").arg(row).arg(column).arg(value).arg(role));
    QTableWidgetItem* item = t->item(row, column);
    QVERIFY(item);
    QTEST(item->text(), "text");
    QCOMPARE(item->data(role), m_run->engine->QScriptEngine::evaluate(value).toVariant());
    // No other cell changed.
    QStringList expected = before.split('|');
    QStringList cellsOfRow = expected[row].split(',');
    cellsOfRow[column] = item->text();
    expected[row] = cellsOfRow.join(',');
    QCOMPARE(cells(t), expected.join('|'));
    // Out of the table with a role: nothing anywhere.
    eval(QString("ui.table.setItemData(3, 0, 'x', %1); ui.table.setItemData(0, 2, 'x', %1)").arg(role));
    QCOMPARE(cells(t), expected.join('|'));
    QCOMPARE(t->rowCount(), 3);
}

void tst_JsRteTableWidget::rows_data()
{
    QTest::addColumn<QString>("tableName");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("rowCount");
    QTest::newRow("out of range") << "table" << "ui.table.setItemData(-1, 0, 1); ui.table.setRowData(3, [1, 2])"
                                  << "-,abc|form,-|-,-" << 3;
    QTest::newRow("longer list") << "table" << "ui.table.setRowData(1, [1, 'x', 3])" << "-,abc|1,x|-,-" << 3;
    QTest::newRow("insert") << "table" << "ui.table.insertRowData([4.5, true, 'drop'])"
                            << "-,abc|form,-|-,-|4.5,true" << 4;
    QTest::newRow("insert without columns") << "bare" << "ui.bare.insertRowData([1]); ui.bare.insertRowData([])"
                                            << "|" << 2;
}

void tst_JsRteTableWidget::rows()
{
    QFETCH(QString, tableName);
    QFETCH(QString, code);
    JsRteTableWidget* target = table(qPrintable(tableName));
    const int columns = target->columnCount();
    eval(code);
    QTEST(cells(target), "expected");
    QTEST(target->rowCount(), "rowCount");
    QCOMPARE(target->columnCount(), columns);
}

QTEST_MAIN(tst_JsRteTableWidget)
#include "tst_jsrtetablewidget.moc"
