// The JsPlot object: constants scripts combine, colour names, read-only members.

#include "plotfixture.h"

#include <QColor>
#include <QtTest>

class tst_JsPlot : public QObject
{
    Q_OBJECT
private slots:
    void constantsAndColours();
};

void tst_JsPlot::constantsAndColours()
{
    PlotFixture f;
    QVERIFY(f.plot);
    QCOMPARE(f.eval("[JsPlot.InteractionRangeDrag | JsPlot.InteractionRangeZoom, JsPlot.AxisY1,"
                    " JsPlot.AxisTypeAtBottom, JsPlot.ScatterShapePeace, JsPlot.ScaleTypeLogarithmic].join()"),
             QStringLiteral("3,3,8,15,1"));
    for (const QString& name : QColor::colorNames())
        QCOMPARE(f.eval("JsPlot['" + name + "']"), name);

    // Read-only, without an error even in strict code.
    QCOMPARE(f.eval("JsPlot.AxisX0 = 5; JsPlot.red = 'blue'; JsPlot.AxisX0 + ' ' + JsPlot.red"),
             QStringLiteral("0 red"));
    QCOMPARE(f.eval("'use strict'; try { JsPlot.AxisY1 = 7; 'no error ' + JsPlot.AxisY1 }"
                    " catch (e) { 'error' }"),
             QStringLiteral("no error 3"));
}

QTEST_MAIN(tst_JsPlot)
#include "tst_jsplot.moc"
