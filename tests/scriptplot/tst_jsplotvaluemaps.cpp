// Colours, pens, brushes, mouse events and axes as script values.

#include "plotfixture.h"

#include <QMouseEvent>
#include <QtTest>

class tst_JsPlotValueMaps : public QObject
{
    Q_OBJECT
private slots:
    void pens_data();
    void pens();
    void penToMap();
    void brushes_data();
    void brushes();
    void colors();
    void checkAxis_data();
    void checkAxis();
    void mouseEvent();
};

void tst_JsPlotValueMaps::pens_data()
{
    QTest::addColumn<QVariantMap>("map");
    QTest::addColumn<QString>("color");
    QTest::addColumn<double>("width");
    QTest::addColumn<int>("style");
    const QPen none;
    QTest::newRow("empty") << QVariantMap() << none.color().name() << none.widthF() << int(none.style());
    QTest::newRow("width then widthF")
        << QVariantMap{{"width", 3}, {"widthF", 1.5}} << "#000000" << 1.5 << int(Qt::SolidLine);
    QTest::newRow("no number") << QVariantMap{{"widthF", "thick"}, {"style", "dashed"}}
                               << "#000000" << 0.0 << int(Qt::NoPen);
    QTest::newRow("everything")
        << QVariantMap{{"color", "red"}, {"width", 2}, {"style", 2}, {"other", 5}} << "#ff0000" << 2.0
        << int(Qt::DashLine);
    // Styles outside Qt's values would reach the painter unchecked: ignored.
    QTest::newRow("style 99") << QVariantMap{{"style", 99}} << "#000000" << 1.0 << 1;
}

void tst_JsPlotValueMaps::pens()
{
    QFETCH(QVariantMap, map);
    const QPen pen = JsPlotWidget::penFromMap(map);
    QTEST(pen.color().name(), "color");
    QTEST(pen.widthF(), "width");
    QTEST(int(pen.style()), "style");
}

void tst_JsPlotValueMaps::penToMap()
{
    QPen pen(QColor(10, 20, 30, 40), 2.5, Qt::DotLine);
    const QVariantMap map = JsPlotWidget::penToMap(pen).toMap();
    QCOMPARE(map, (QVariantMap{{"color", "#0a141e"}, {"width", 3}, {"widthF", 2.5}, {"style", 3}}));
    // Back again: the same pen without its alpha.
    const QPen back = JsPlotWidget::penFromMap(map);
    pen.setColor(QColor(10, 20, 30));
    QCOMPARE(back, pen);
}

void tst_JsPlotValueMaps::brushes_data()
{
    QTest::addColumn<QVariantMap>("map");
    QTest::addColumn<QString>("color");
    QTest::addColumn<int>("style");
    QTest::newRow("empty") << QVariantMap() << "#000000" << int(Qt::NoBrush);
    // A colour alone fills nothing.
    QTest::newRow("colour only") << QVariantMap{{"color", "#00ff00"}} << "#00ff00" << int(Qt::NoBrush);
    QTest::newRow("style 14") << QVariantMap{{"style", 14.2}} << "#000000" << 14;
    QTest::newRow("style 24") << QVariantMap{{"style", 24}} << "#000000" << int(Qt::NoBrush);
}

void tst_JsPlotValueMaps::brushes()
{
    QFETCH(QVariantMap, map);
    const QBrush brush = JsPlotWidget::brushFromMap(map);
    QTEST(brush.color().name(), "color");
    QTEST(int(brush.style()), "style");
    const QVariantMap back = JsPlotWidget::brushToMap(brush).toMap();
    QTEST(back.value("color").toString(), "color");
    QTEST(back.value("style").toInt(), "style");
}

void tst_JsPlotValueMaps::colors()
{
    QCOMPARE(JsPlotWidget::colorFromVariant("#123456"), QColor(0x12, 0x34, 0x56));
    QCOMPARE(JsPlotWidget::colorFromVariant("darkorange"), QColor("darkorange"));
    QVERIFY(!JsPlotWidget::colorFromVariant("no such colour").isValid());
    QVERIFY(!JsPlotWidget::colorFromVariant(QVariant()).isValid());
    QCOMPARE(JsPlotWidget::colorToVariant(QColor(255, 0, 0, 10)), QVariant("#ff0000"));
}

void tst_JsPlotValueMaps::checkAxis_data()
{
    QTest::addColumn<QString>("argument");
    QTest::addColumn<int>("axis");
    QTest::newRow("0") << "0" << 0;
    QTest::newRow("text 2") << "'2'" << 2;
    QTest::newRow("JsPlot.AxisY1") << "JsPlot.AxisY1" << 3;
    QTest::newRow("4") << "4" << -1;
    QTest::newRow("undefined") << "undefined" << -1;
}

void tst_JsPlotValueMaps::checkAxis()
{
    QFETCH(QString, argument);
    QFETCH(int, axis);
    PlotFixture f;
    QCPAxis* const axes[] = {f.plot->xAxis, f.plot->yAxis, f.plot->xAxis2, f.plot->yAxis2};
    const QScriptValue value = f.engine->evaluate(argument);
    QCOMPARE(f.plot->checkAxis(value), axis < 0 ? nullptr : axes[axis]);
    if (axis >= 0)
        QCOMPARE(f.plot->axisToValue(axes[axis]), axis);
    // From a script the refusal is an error of the call.
    const QString error = f.eval("try { ui.plot.setAxisRange(" + argument + ", 0, 10); 'ok' }"
                                 " catch (e) { e.message }");
    QCOMPARE(error, axis < 0 ? QStringLiteral("Axis is not a valid value (JsPlot.Axis)")
                             : QStringLiteral("ok"));
}

void tst_JsPlotValueMaps::mouseEvent()
{
    const QMouseEvent event(QEvent::MouseButtonPress, QPointF(10.5, 3.2), QPointF(100.4, 200.6),
                            Qt::RightButton, Qt::RightButton | Qt::LeftButton, Qt::NoModifier);
    QCOMPARE(JsPlotWidget::mouseEventToMap(&event),
             (QVariantMap{{"x", 11}, {"y", 3}, {"globalX", 100}, {"globalY", 201},
                          {"button", int(Qt::RightButton)}, {"buttons", 3}}));
}

QTEST_MAIN(tst_JsPlotValueMaps)
#include "tst_jsplotvaluemaps.moc"
