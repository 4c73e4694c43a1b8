// The JsPlot constants.

#include "plotfixture.h"

#include <QColor>
#include <QtTest>

class tst_JsPlot : public QObject
{
    Q_OBJECT
private slots:
    void constants_data();
    void constants();
    void memberCountAndOrder();
    void colorNames();
    void readOnly();
    void factory();
};

void tst_JsPlot::constants_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("value");
    // The first and last of each family, and the values scripts combine.
    const QList<QPair<const char*, int>> rows{
        {"PenStyleNoPen", 0}, {"PenStyleDashDotDotLine", 5},
        {"BrushStyleNone", 0}, {"BrushStyleSolidPattern", 1}, {"BrushStyleRightDwDiagonalPattern", 13},
        {"BrushStyleConicalGradientPattern", 17},
        {"DateTimeSpecLocalTime", 0}, {"DateTimeSpecTimeZone", 3},
        {"AxisX0", 0}, {"AxisY0", 1}, {"AxisX1", 2}, {"AxisY1", 3},
        {"AxisTypeAtLeft", 1}, {"AxisTypeAtRight", 2}, {"AxisTypeAtTop", 4}, {"AxisTypeAtBottom", 8},
        {"LineStyleNone", 0}, {"LineStyleImpulse", 5},
        {"LineEndingStyleNone", 0}, {"LineEndingStyleSkewedBar", 9},
        {"InteractionNone", 0}, {"InteractionRangeDrag", 1}, {"InteractionRangeZoom", 2},
        {"InteractionMultiSelect", 4}, {"InteractionSelectPlottables", 8},
        {"InteractionSelectAxes", 16}, {"InteractionSelectLegend", 32},
        {"ScatterShapeNone", 0}, {"ScatterShapeTriangleInverted", 10}, {"ScatterShapePeace", 15},
        {"LabelTypeNumber", 0}, {"LabelTypeDateTime", 1},
        {"LabelSideInside", 0}, {"LabelSideOutside", 1},
        {"ScaleTypeLinear", 0}, {"ScaleTypeLogarithmic", 1}};
    for (const auto& row : rows)
        QTest::newRow(row.first) << QString::fromLatin1(row.first) << row.second;
}

void tst_JsPlot::constants()
{
    QFETCH(QString, name);
    QFETCH(int, value);
    PlotFixture f;
    QCOMPARE(f.eval("typeof JsPlot." + name), QStringLiteral("number"));
    QCOMPARE(f.value("JsPlot." + name).toInt(), value);
}

void tst_JsPlot::memberCountAndOrder()
{
    PlotFixture f;
    QCOMPARE(f.eval("JsPlot.InteractionRangeDrag | JsPlot.InteractionRangeZoom"), QStringLiteral("3"));
    // The members the extension put there: constants first, then colour names.
    QStringList constants;
    QStringList colours;
    QScriptValueIterator it(f.engine->globalObject().property("JsPlot"));
    while (it.hasNext()) {
        it.next();
        if (it.flags() != QScriptValue::ReadOnly)
            continue;
        (it.name().at(0).isUpper() ? constants : colours).append(it.name());
    }
    QCOMPARE(constants.size(), 81);
    QCOMPARE(constants.first(), QStringLiteral("PenStyleNoPen"));
    QCOMPARE(constants.last(), QStringLiteral("ScaleTypeLogarithmic"));
    QCOMPARE(colours, QColor::colorNames());
}

void tst_JsPlot::colorNames()
{
    PlotFixture f;
    const QStringList names = QColor::colorNames();
    QVERIFY(names.size() > 100);
    for (const QString& name : names)
        QCOMPARE(f.eval("JsPlot['" + name + "']"), name);
}

void tst_JsPlot::readOnly()
{
    PlotFixture f;
    QCOMPARE(f.eval("JsPlot.AxisX0 = 5; JsPlot.AxisX0"), QStringLiteral("0"));
    QCOMPARE(f.eval("JsPlot.red = 'blue'; JsPlot.red"), QStringLiteral("red"));
    QCOMPARE(f.eval("'use strict'; try { JsPlot.AxisY1 = 7; 'no error ' + JsPlot.AxisY1 }"
                    " catch (e) { 'error' }"),
             QStringLiteral("no error 3"));
}

void tst_JsPlot::factory()
{
    PlotFixture f;
    QVERIFY(f.plot);
    QCOMPARE(f.plot->objectName(), QStringLiteral("plot"));
    QCOMPARE(JsPlotWidgetFactory().className(), QStringLiteral("JsPlot"));
}

QTEST_MAIN(tst_JsPlot)
#include "tst_jsplot.moc"
