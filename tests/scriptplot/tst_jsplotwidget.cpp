// The plot widget: graphs, data, ranges, selection and the signals scripts get;
// the JsPlot constants, and colours, pens, brushes and axes as script values.

#include "jsplotwidget_p.h"
#include "plotfixture.h"

#include <QtTest>

namespace {

// A graph "a" with the points (1, 10), (2, 20), (3, 30), (4, 40).
const char fourPoints[] = "ui.plot.addGraph('a'); ui.plot.setData('a', [1, 2, 3, 4], [10, 20, 30, 40]);";

QString tryCall(const QString& code)
{
    return "try { " + code + "; '' } catch (e) { e.message }";
}

} // namespace

class tst_JsPlotWidget : public QObject
{
    Q_OBJECT
private slots:
    void constants();
    void constantCounts();
    void pensAndBrushes();
    void addGraph_data();
    void addGraph();
    void unknownName_data();
    void unknownName();
    void data_data();
    void data();
    void removeGraph();
    void axisRange();
    void rescale();
    void selection();
    void clicks();
    void doubleClicksAndTitle();
    void scaleTypeChanged();
    void removeInOwnClickHandler();
    void changesInsideHandlers();
};

void tst_JsPlotWidget::addGraph_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("result");
    QTest::addColumn<QStringList>("graphs");
    QTest::newRow("name") << "ui.plot.addGraph('a')" << "a" << QStringList{"a"};
    QTest::newRow("number stays a number")
        << "typeof ui.plot.addGraph(7) + ' ' + ui.plot.addGraph(7.5)" << "number 7.5"
        << QStringList{"7", "7.5"};
    QTest::newRow("twice") << "ui.plot.addGraph('a'); " + tryCall("ui.plot.addGraph('a')")
                           << "Name: a is already defined!" << QStringList{"a"};
    QTest::newRow("key axis 4") << tryCall("ui.plot.addGraph('b', 4)")
                                << "Axis is not a valid value (JsPlot.Axis)" << QStringList();
    // The axes are checked before the name.
    QTest::newRow("known name, bad axis")
        << "ui.plot.addGraph('a'); " + tryCall("ui.plot.addGraph('a', 9)")
        << "Axis is not a valid value (JsPlot.Axis)" << QStringList{"a"};
}

void tst_JsPlotWidget::addGraph()
{
    QFETCH(QString, code);
    QFETCH(QStringList, graphs);
    PlotFixture f;
    QTEST(f.eval(code), "result");
    QCOMPARE(f.plot->graphCount(), graphs.size());
    for (const QString& name : graphs) {
        QVERIFY(f.plot->graph(name));
        QCOMPARE(f.plot->graph(name)->name(), name);
    }
}

void tst_JsPlotWidget::unknownName_data()
{
    QTest::addColumn<QString>("call");
    // Each form of lookup: by a data call, by a two-key removal, by a map read.
    for (const char* call : {"setData('zz', 1, 2)", "removeData('zz', 1)", "getGraphConfiguration('zz')"})
        QTest::newRow(call) << QString::fromLatin1(call);
}

void tst_JsPlotWidget::unknownName()
{
    QFETCH(QString, call);
    PlotFixture f;
    f.eval(fourPoints);
    QCOMPARE(f.eval(tryCall("ui.plot." + call)), QStringLiteral("Name: zz is not defined!"));
    QCOMPARE(f.points("a"), QStringLiteral("1:10,2:20,3:30,4:40"));
    QCOMPARE(f.eval("ui.plot.removeGraph('zz'); ui.plot.getGraphConfiguration('a') !== undefined"),
             QStringLiteral("true"));
}

void tst_JsPlotWidget::data_data()
{
    QTest::addColumn<QString>("call");
    QTest::addColumn<QString>("points");
    QTest::addColumn<QString>("error");
    const QString unchanged = "1:10,2:20,3:30,4:40";
    const QString countError = "Key count not equal Value count!";
    QTest::newRow("setData unsorted") << "setData('a', [3, 1, 2, 1], [30, 5, 20, 10])"
                                      << "1:10,2:20,3:30" << "";
    QTest::newRow("setData 3 keys 2 values") << "setData('a', [1, 2, 3], [1, 2])" << unchanged
                                             << countError;
    QTest::newRow("setData no numbers") << "setData('a', ['x', '5', null], [true, 'y', {}])"
                                        << "0:0,5:0" << "";
    // A NaN key has no place among sorted keys; a NaN value is a gap.
    QTest::newRow("setData NaN") << "setData('a', [NaN, 1], [5, NaN])" << "1:nan" << "";
    QTest::newRow("addData repeats in one call")
        << "addData('a', [5, 5, 0], [1, 2, 3])" << "0:3,1:10,2:20,3:30,4:40,5:2" << "";
    QTest::newRow("setData 2 keys 3 values") << "setData('a', [1, 2], [1, 2, 3])" << unchanged
                                             << countError;
    QTest::newRow("addData 2 keys 3 values") << "addData('a', [5, 6], [1, 2, 3])" << unchanged
                                             << countError;
    QTest::newRow("addData 1 key 2 values") << "addData('a', 5, [1, 2])" << unchanged << countError;
    QTest::newRow("removeData 1.5, 3.5") << "removeData('a', 1.5, 3.5)" << "1:10,4:40" << "";
    // Bounds that are keys: the lower key stays, the upper goes.
    QTest::newRow("removeData 2, 3") << "removeData('a', 2, 3)" << "1:10,2:20,4:40" << "";
    QTest::newRow("removeData 1, 4") << "removeData('a', 1, 4)" << "1:10" << "";
    QTest::newRow("removeData key, null") << "removeData('a', 3, null)" << "1:10,2:20,4:40" << "";
    QTest::newRow("removeData key, undefined") << "removeData('a', 3, undefined)" << unchanged << "";
    QTest::newRow("removeData repeated key")
        << "addData('a', 3, 31); addData('a', 3, 32); removeData('a', 3)" << "1:10,2:20,4:40" << "";
    QTest::newRow("removeData NaN") << "removeData('a', NaN)" << unchanged << "";
    // Before and after a key: the key's own points stay, every one of them.
    QTest::newRow("removeDataAfter key") << "addData('a', 2, 21); removeDataAfter('a', 2)"
                                         << "1:10,2:21,2:20" << "";
    QTest::newRow("removeDataAfter between keys") << "removeDataAfter('a', 3.5)" << "1:10,2:20,3:30" << "";
    QTest::newRow("removeDataAfter below all") << "removeDataAfter('a', 0)" << "" << "";
    QTest::newRow("removeDataBefore key") << "addData('a', 3, 31); removeDataBefore('a', 3)"
                                          << "3:31,3:30,4:40" << "";
}

void tst_JsPlotWidget::data()
{
    QFETCH(QString, call);
    PlotFixture f;
    f.eval(fourPoints);
    QString code = call;
    code.replace(QRegularExpression("(^|; )(\\w+)\\("), "\\1ui.plot.\\2(");
    QTEST(f.eval(tryCall(code)), "error");
    QTEST(f.points("a"), "points");
}

void tst_JsPlotWidget::removeGraph()
{
    PlotFixture f;
    f.eval(fourPoints);
    QPointer<QCPGraph> old = f.plot->graph("a");
    f.eval("ui.plot.removeGraph('a')");
    QVERIFY(!old);
    QCOMPARE(f.plot->graphCount(), 0);
    QCOMPARE(f.eval("ui.plot.addGraph('a', 2, 3)"), QStringLiteral("a"));
    QCPGraph* graph = f.plot->graph("a");
    QCOMPARE(graph->keyAxis(), f.plot->xAxis2);
    QCOMPARE(graph->valueAxis(), f.plot->yAxis2);
    QCOMPARE(f.points("a"), QString());
    f.settle();
}

void tst_JsPlotWidget::axisRange()
{
    PlotFixture f;
    // The handler has run when the call returns.
    QCOMPARE(f.eval("var log = [];"
                    "ui.plot.axisRangeChanged.connect(function (axis, n, o) {"
                    "  log.push(axis + ':' + n.lower + '..' + n.upper + ' from ' + o.lower + '..' + o.upper);"
                    "});"
                    "ui.plot.setAxisRange(1, 0, 10); log.join()"),
             QStringLiteral("1:0..10 from 0..5"));
    // Axes and bounds given as text are read as numbers.
    QCOMPARE(f.eval("ui.plot.setAxisRangeLower(JsPlot.AxisX1, -2); ui.plot.setAxisRangeUpper('3', '7');"
                    "log.slice(1).join()"),
             QStringLiteral("2:-2..5 from 0..5,3:0..7 from 0..5"));
    QCOMPARE(f.eval(tryCall("ui.plot.setAxisRange(undefined, 0, 10)")),
             QStringLiteral("Axis is not a valid value (JsPlot.Axis)"));
}

void tst_JsPlotWidget::rescale()
{
    PlotFixture f;
    f.eval(fourPoints);
    f.eval("ui.plot.rescaleAxisForGraph('a')");
    QCOMPARE(f.plot->xAxis->range(), QCPRange(1, 4));
    QCOMPARE(f.plot->yAxis->range(), QCPRange(10, 40));
    f.eval("ui.plot.setData('a', [2, 3], [20, 30]); ui.plot.rescaleAxisForGraph('a', true)");
    QCOMPARE(f.plot->xAxis->range(), QCPRange(1, 4));
    f.eval("ui.plot.rescaleAxisForGraph('a', false)");
    QCOMPARE(f.plot->xAxis->range(), QCPRange(2, 3));
}

void tst_JsPlotWidget::selection()
{
    PlotFixture f;
    JsPlotWidgetPrivate* d = JsPlotWidgetPrivate::get(f.plot);
    f.eval(fourPoints);
    f.eval("ui.plot.addGraph('empty'); ui.plot.addGraph('b'); ui.plot.setData('b', [1, 4], [25, 25]);"
           "ui.plot.setAxisRange(0, 0, 5); ui.plot.setAxisRange(1, 0, 50);"
           "var changes = [];"
           "ui.plot.graphSelectionChanged.connect(function (g) { changes.push(g.sort().join('+')); });");
    QCPGraph* a = f.plot->graph("a");
    QCPGraph* empty = f.plot->graph("empty");

    // Selected as a whole, and it stays so while its points change.
    f.eval("ui.plot.selectGraph('a'); ui.plot.selectGraph('empty');"
           "ui.plot.addData('a', [5, 6], [1, 2]); ui.plot.removeData('a', 1)");
    QCOMPARE(a->selection(), QCPDataSelection(QCPDataRange(0, 5)));
    f.eval("ui.plot.clearData('a'); ui.plot.addData('a', 1, 1); ui.plot.setData('empty', [1, 2], [1, 2])");
    QCOMPARE(a->selection(), QCPDataSelection(QCPDataRange(0, 1)));
    QCOMPARE(empty->selection(), QCPDataSelection(QCPDataRange(0, 2)));
    f.eval("ui.plot.deselectGraph('empty'); ui.plot.setData('a', [1, 2, 3, 4], [10, 20, 30, 40])");
    QVERIFY(!d->isSelected(empty));
    QCOMPARE(f.eval("changes.length"), QStringLiteral("0"));

    // The user adds b to the selection: the signal lists both.
    f.eval("ui.plot.setConfiguration({interactions: JsPlot.InteractionSelectPlottables"
           " | JsPlot.InteractionMultiSelect})");
    f.settle();
    QTest::mouseClick(f.plot, Qt::LeftButton, Qt::ControlModifier, f.plot->graph("b")->coordsToPixels(2.5, 25).toPoint());
    QCOMPARE(f.eval("changes.join(' ')"), QStringLiteral("a+b"));
    // A click elsewhere without the modifier leaves nothing selected.
    QTest::mouseClick(f.plot, Qt::LeftButton, Qt::NoModifier, a->coordsToPixels(4, 10).toPoint());
    QCOMPARE(f.eval("changes.join(' ')"), QStringLiteral("a+b "));
    QVERIFY(!d->isSelected(a));
}

// Script code that logs each signal it is connected to, with its arguments,
// as "name type value ..." (a mouse event as "x=..,y=..,button=..").
const char* const signalRecorder =
    "var log = [];"
    "function record(name) { return function () {"
    "  var parts = [name];"
    "  for (var i = 0; i < arguments.length; ++i) {"
    "    var a = arguments[i];"
    "    parts.push(typeof a == 'object' ? 'x=' + a.x + ',y=' + a.y + ',button=' + a.button : typeof a + ' ' + a);"
    "  }"
    "  log.push(parts.join(' '));"
    "}; }";

void tst_JsPlotWidget::clicks()
{
    PlotFixture f;
    f.eval(fourPoints);
    f.eval(QLatin1String(signalRecorder) +
           "ui.plot.graphClicked.connect(record('graph'));"
           "ui.plot.graphDoubleClicked.connect(record('graphDouble'));"
           "ui.plot.axisClicked.connect(record('axis'));"
           "ui.plot.legendClicked.connect(record('legend'));"
           "ui.plot.setAxisConfiguration(JsPlot.AxisX1, {visible: true});"
           "ui.plot.setLegendConfiguration({visible: true});"
           "ui.plot.setAxisRange(0, 0, 5); ui.plot.setAxisRange(1, 0, 50);");
    f.settle();
    const auto at = [](const QPoint& p) { return QString(" x=%1,y=%2,button=1").arg(p.x()).arg(p.y()); };

    const QPoint onGraph = f.plot->graph("a")->coordsToPixels(2, 20).toPoint();
    QTest::mouseClick(f.plot, Qt::LeftButton, Qt::NoModifier, onGraph);
    QCOMPARE(f.eval("log.pop()"), "graph string a" + at(onGraph));
    const QRect rect = f.plot->axisRect()->rect();
    const QPoint onTopAxis(rect.center().x() + 7, rect.top());
    QTest::mouseClick(f.plot, Qt::LeftButton, Qt::NoModifier, onTopAxis);
    QCOMPARE(f.eval("log.pop()"), "axis number 2 number 1" + at(onTopAxis));
    const QPoint onLegend = f.plot->legend->outerRect().center();
    QTest::mouseClick(f.plot, Qt::LeftButton, Qt::NoModifier, onLegend);
    QCOMPARE(f.eval("log.pop()"), "legend" + at(onLegend));
    QTest::mouseDClick(f.plot, Qt::LeftButton, Qt::NoModifier, onGraph);
    QCOMPARE(f.eval("log.filter(function (l) { return l.indexOf('graphDouble') == 0; }).join()"),
             "graphDouble string a" + at(onGraph));
}

void tst_JsPlotWidget::doubleClicksAndTitle()
{
    PlotFixture f;
    f.eval(fourPoints);
    f.eval(QLatin1String(signalRecorder) +
           "ui.plot.titleClicked.connect(record('title'));"
           "ui.plot.titleDoubleClicked.connect(record('titleDouble'));"
           "ui.plot.axisDoubleClicked.connect(record('axisDouble'));"
           "ui.plot.legendDoubleClicked.connect(record('legendDouble'));"
           "ui.plot.setAxisConfiguration(JsPlot.AxisY1, {visible: true});"
           "ui.plot.setLegendConfiguration({visible: true});"
           "ui.plot.setAxisRange(0, 0, 5); ui.plot.setAxisRange(1, 0, 50);");
    // A title added to the layout after the plot was built.
    f.plot->plotLayout()->insertRow(0);
    auto* title = new QCPTextElement(f.plot, QStringLiteral("Flow rate"));
    f.plot->plotLayout()->addElement(0, 0, title);
    f.settle();
    f.settle();
    const auto at = [](const QPoint& p) { return QString(" x=%1,y=%2,button=1").arg(p.x()).arg(p.y()); };
    // Double clicks, each reported once besides the clicks it begins with.
    const auto doubles = [&f] {
        return f.eval("log.filter(function (l) { return l.indexOf('Double') > 0; }).join('|')");
    };

    const QPoint onTitle = title->rect().center();
    QTest::mouseClick(f.plot, Qt::LeftButton, Qt::NoModifier, onTitle);
    QCOMPARE(f.eval("log.join('|')"), "title string Flow rate" + at(onTitle));
    QTest::mouseDClick(f.plot, Qt::LeftButton, Qt::NoModifier, onTitle);
    QCOMPARE(doubles(), "titleDouble string Flow rate" + at(onTitle));

    f.eval("log = []");
    const QRect rect = f.plot->axisRect()->rect();
    const QPoint onRightAxis(rect.right(), rect.center().y() + 5);
    QTest::mouseDClick(f.plot, Qt::LeftButton, Qt::NoModifier, onRightAxis);
    QCOMPARE(doubles(), "axisDouble number 3 number 1" + at(onRightAxis));

    f.eval("log = []");
    const QPoint onLegend = f.plot->legend->outerRect().center();
    QTest::mouseDClick(f.plot, Qt::LeftButton, Qt::NoModifier, onLegend);
    QCOMPARE(doubles(), "legendDouble" + at(onLegend));
}

void tst_JsPlotWidget::scaleTypeChanged()
{
    PlotFixture f;
    f.eval("var log = [];"
           "ui.plot.axisScaleTypeChanged.connect(function (axis, type) { log.push(axis + ':' + type); });");
    // Every axis tells its own value; setting the type it has tells nothing.
    QCOMPARE(f.eval("for (var i = 0; i < 4; ++i)"
                    "  ui.plot.setAxisConfiguration(i, {scaleType: JsPlot.ScaleTypeLogarithmic});"
                    "ui.plot.setAxisConfiguration(2, {scaleType: JsPlot.ScaleTypeLogarithmic});"
                    "ui.plot.setAxisConfiguration(1, {scaleType: JsPlot.ScaleTypeLinear});"
                    "log.join()"),
             QStringLiteral("0:1,1:1,2:1,3:1,1:0"));
    QCOMPARE(f.plot->yAxis2->scaleType(), QCPAxis::stLogarithmic);
}

void tst_JsPlotWidget::removeInOwnClickHandler()
{
    PlotFixture f;
    f.eval(fourPoints);
    f.eval("ui.plot.addGraph('b'); ui.plot.setData('b', [1, 4], [40, 10]);"
           "ui.plot.setConfiguration({interactions: JsPlot.InteractionSelectPlottables});"
           "ui.plot.setAxisRange(0, 0, 5); ui.plot.setAxisRange(1, 0, 50);"
           "ui.plot.graphClicked.connect(function (g) { ui.plot.removeGraph(g); });"
           "ui.plot.graphSelectionChanged.connect(function (g) { ui.plot.addData(g[0], 9, 9); });"
           "ui.plot.graphDoubleClicked.connect(function (g) { ui.plot.removeGraph(g); });");
    f.settle();
    QTest::mouseClick(f.plot, Qt::LeftButton, Qt::NoModifier,
                      f.plot->graph("a")->coordsToPixels(2, 20).toPoint());
    f.settle();
    QVERIFY(!f.plot->graph("a"));
    QTest::mouseDClick(f.plot, Qt::LeftButton, Qt::NoModifier,
                       f.plot->graph("b")->coordsToPixels(2.5, 25).toPoint());
    f.settle();
    QVERIFY(!f.plot->graph("b"));
    QCOMPARE(f.plot->graphCount(), 0);
}

void tst_JsPlotWidget::changesInsideHandlers()
{
    PlotFixture f;
    f.eval(fourPoints);
    f.eval("ui.plot.addGraph('b'); ui.plot.addGraph('c');"
           "ui.plot.setConfiguration({interactions: JsPlot.InteractionRangeDrag | JsPlot.InteractionRangeZoom});"
           "var ranges = 0, requests = 0;"
           "ui.plot.axisRangeChanged.connect(function (axis, n) {"
           "  ++ranges;"
           "  ui.plot.addData('a', n.upper, ranges); ui.plot.removeDataBefore('a', n.lower);"
           "  ui.plot.removeGraph('b'); ui.plot.addGraph('b');"
           "  if (axis == 0) ui.plot.setAxisRange(2, n.lower, n.upper);"
           "  ui.plot.replot();"
           "});"
           "ui.plot.setAxisConfiguration(0, {autoTicks: false, autoTickLabels: false});"
           "ui.plot.axisTicksRequest.connect(function (axis) {"
           "  ++requests;"
           "  ui.plot.setAxisRange(1, -requests, 100);"
           "  ui.plot.setData('a', [1, 2, 3], [requests, 2, 3]);"
           "  ui.plot.removeGraph('c'); ui.plot.addGraph('c'); ui.plot.addData('c', 1, 1);"
           "  ui.plot.setAxisConfiguration(axis, {tickVector: [0, 1, 2, 3], tickVectorLabels: ['a']});"
           "  ui.plot.replot();"
           "});"
           "ui.plot.setAxisRange(0, 0, 10);");
    f.settle();
    f.settle();
    const QPoint centre = f.plot->axisRect()->rect().center();
    QTest::mousePress(f.plot, Qt::LeftButton, Qt::NoModifier, centre);
    QTest::mouseMove(f.plot, centre + QPoint(40, 20));
    QTest::mouseRelease(f.plot, Qt::LeftButton, Qt::NoModifier, centre + QPoint(40, 20));
    QWheelEvent wheel(centre, f.plot->mapToGlobal(centre), QPoint(), QPoint(0, 120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(f.plot, &wheel);
    f.settle();
    QVERIFY(f.eval("ranges").toInt() > 3);
    QVERIFY(f.eval("requests").toInt() >= 3);
    QCOMPARE(f.plot->graphCount(), 3);
}

void tst_JsPlotWidget::constants()
{
    PlotFixture f;
    QCOMPARE(f.eval("[JsPlot.InteractionRangeDrag | JsPlot.InteractionRangeZoom, JsPlot.darkorange].join()"),
             QStringLiteral("3,darkorange"));
    // Read-only, without an error even in strict code.
    QCOMPARE(f.eval("'use strict'; try { JsPlot.AxisY1 = 7; JsPlot.red = 'blue'; JsPlot.AxisY1 + ' ' + JsPlot.red }"
                    " catch (e) { 'error' }"),
             QStringLiteral("3 red"));
}

void tst_JsPlotWidget::constantCounts()
{
    PlotFixture f;
    // What install put there is read-only: the named numbers begin with a
    // capital, the colour names do not and hold their own text.
    QStringList constants;
    QStringList colours;
    QScriptValueIterator it(f.engine->globalObject().property("JsPlot"));
    while (it.hasNext()) {
        it.next();
        if (!(it.flags() & QScriptValue::ReadOnly))
            continue;
        const QString name = it.name();
        if (name.at(0).isUpper()) {
            QVERIFY2(it.value().isNumber(), qPrintable(name));
            constants << name;
        } else {
            QCOMPARE(it.value().toString(), name);
            colours << name;
        }
    }
    QCOMPARE(constants.size(), 81);
    QCOMPARE(QSet<QString>(constants.cbegin(), constants.cend()).size(), 81);
    QStringList known = QColor::colorNames();
    known.sort();
    colours.sort();
    QCOMPARE(colours, known);
    QCOMPARE(f.eval("[JsPlot.ScatterShapePeace, JsPlot.InteractionSelectLegend, JsPlot.AxisTypeAtBottom,"
                    " JsPlot.BrushStyleConicalGradientPattern, JsPlot.DateTimeSpecTimeZone,"
                    " JsPlot.LineEndingStyleSkewedBar, JsPlot.ScaleTypeLogarithmic].join()"),
             QStringLiteral("15,32,8,17,3,9,1"));
}

void tst_JsPlotWidget::pensAndBrushes()
{
    // widthF after width wins; a key without a number is ignored; a style
    // outside Qt's values would reach the painter unchecked, so it is ignored.
    QCOMPARE(JsPlotWidget::penFromMap({{"width", 3}, {"widthF", 1.5}}).widthF(), 1.5);
    QCOMPARE(JsPlotWidget::penFromMap({{"widthF", "thick"}, {"style", "dashed"}}), QPen(Qt::black, 0, Qt::NoPen));
    QCOMPARE(JsPlotWidget::penFromMap({{"style", 99}}).style(), Qt::SolidLine);
    // To a map and back: the same pen without its alpha.
    QPen pen(QColor(10, 20, 30, 40), 2.5, Qt::DotLine);
    const QVariantMap map = JsPlotWidget::penToMap(pen).toMap();
    QCOMPARE(map, (QVariantMap{{"color", "#0a141e"}, {"width", 3}, {"widthF", 2.5}, {"style", 3}}));
    pen.setColor(QColor(10, 20, 30));
    QCOMPARE(JsPlotWidget::penFromMap(map), pen);
    QVERIFY(!JsPlotWidget::colorFromVariant("no such colour").isValid());
    // A colour alone fills nothing; styles past Qt's last are ignored.
    QCOMPARE(JsPlotWidget::brushFromMap({{"color", "#00ff00"}}), QBrush(Qt::green, Qt::NoBrush));
    QCOMPARE(JsPlotWidget::brushFromMap({{"style", 24}}).style(), Qt::NoBrush);
    const QVariantMap brush = JsPlotWidget::brushToMap(JsPlotWidget::brushFromMap({{"style", 14.2}})).toMap();
    QCOMPARE(brush.value("style").toInt(), 14);
}

QTEST_MAIN(tst_JsPlotWidget)
#include "tst_jsplotwidget.moc"
