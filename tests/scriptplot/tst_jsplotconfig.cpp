// Configuration maps of the plot, its graphs, axes and legend, and the ticks
// the axis settings give.

#include "jsplotaxisticker_p.h"
#include "jsplotwidget_p.h"
#include "plotfixture.h"

#include <QtTest>

class tst_JsPlotConfig : public QObject
{
    Q_OBJECT
private slots:
    void roundTrip_data();
    void roundTrip();
    void badTargets();
    void keyLists_data();
    void keyLists();
    void fonts_data();
    void fonts();
    void sizesAndRanges();
    void graphKeys();
    void objectPointers();
    void plotKeys();
    void selectableAndSelected();
    void scriptTicks();
    void ticks_data();
    void ticks();
};

void tst_JsPlotConfig::roundTrip_data()
{
    QTest::addColumn<QString>("get");
    QTest::addColumn<QString>("set");
    QTest::newRow("plot") << "ui.plot.getConfiguration()" << "ui.plot.setConfiguration(m)";
    QTest::newRow("graph") << "ui.plot.getGraphConfiguration('a')" << "ui.plot.setGraphConfiguration('a', m)";
    QTest::newRow("legend") << "ui.plot.getLegendConfiguration()" << "ui.plot.setLegendConfiguration(m)";
    QTest::newRow("axis") << "ui.plot.getAxisConfiguration(3)" << "ui.plot.setAxisConfiguration(3, m)";
}

void tst_JsPlotConfig::roundTrip()
{
    QFETCH(QString, get);
    QFETCH(QString, set);
    PlotFixture f;
    // Values away from the defaults, written in the forms a map reads.
    f.eval("ui.plot.addGraph('a');"
           "ui.plot.setGraphConfiguration('a', {lineStyle: 3, errorType: 2, errorBarSize: 3.5,"
           " errorPen: {color: 'red', widthF: 1.5}, scatterStyle: {shape: 5, size: 9,"
           " pen: {color: 'green'}, brush: {color: 'blue', style: 1}}, adaptiveSampling: false,"
           " pen: {color: '#102030', width: 2, style: 2}, selectedPen: {color: 'orange'}});"
           "ui.plot.setLegendConfiguration({visible: true, iconSize: {width: 20, height: 9},"
           " font: {pixelSize: 13, italic: true}, selectableParts: 1, textColor: 'navy'});"
           "for (var i = 0; i < 4; ++i) ui.plot.setAxisConfiguration(i, {label: 'axis ' + i,"
           " range: {lower: -3, upper: 7}, autoTicks: false, tickVector: [1, 2.5],"
           " tickVectorLabels: ['one', 'two'], lowerEnding: {style: 2, width: 8, length: 12},"
           " grid: {subGridVisible: true, pen: {color: 'gray', style: 3}}, scaleLogBase: 2,"
           " labelFont: {pointSize: 14, bold: true}, tickLabelType: 1, dateTimeSpec: 1,"
           " selectableParts: 3, tickLabelRotation: 30, subTickCount: 2});"
           "ui.plot.setConfiguration({interactions: 5});");
    const QVariantMap before = f.value(get).toMap();
    f.eval("var m = " + get + "; " + set);
    QCOMPARE(f.value(get).toMap(), before);
    // And the script sees the same through its own eyes.
    QCOMPARE(f.eval("JSON.stringify(" + get + ") == JSON.stringify(m)"), QStringLiteral("true"));
}

void tst_JsPlotConfig::badTargets()
{
    PlotFixture f;
    QCOMPARE(f.eval("var r = 'none'; try { r = ui.plot.getAxisConfiguration(7) } catch (e) { e.message + ' ' + r }"),
             QStringLiteral("Axis is not a valid value (JsPlot.Axis) none"));
    QVERIFY(!f.plot->getGraphConfiguration(QScriptValue("a")).isValid());
    // Not an object: nothing changes.
    f.eval("ui.plot.setLegendConfiguration(5); ui.plot.setAxisConfiguration(0, 'label')");
    QVERIFY(!f.plot->legend->visible());
    QVERIFY(f.plot->xAxis->label().isEmpty());
}

void tst_JsPlotConfig::keyLists_data()
{
    QTest::addColumn<QString>("get");
    QTest::addColumn<QStringList>("keys");
    QTest::newRow("plot") << "ui.plot.getConfiguration()" << QStringList{"interactions", "visible"};
    QTest::newRow("graph") << "ui.plot.getGraphConfiguration('a')"
                           << QStringList{"adaptiveSampling", "errorBarSize", "errorBarSkipSymbol", "errorPen",
                                          "errorType", "lineStyle", "pen", "scatterStyle", "selectedPen",
                                          "visible"};
    QTest::newRow("axis") << "ui.plot.getAxisConfiguration(2)"
                          << QStringList{"autoSubTicks", "autoTickCount", "autoTickLabels", "autoTickStep",
                                         "autoTicks", "axisType", "basePen", "dateTimeFormat", "dateTimeSpec",
                                         "grid", "label", "labelColor", "labelFont", "labelPadding",
                                         "lowerEnding", "numberFormat", "numberPrecision", "offset", "padding",
                                         "range", "rangeReversed", "scaleLogBase", "scaleType",
                                         "selectableParts", "selectedBasePen", "selectedLabelColor",
                                         "selectedLabelFont", "selectedParts", "selectedSubTickPen",
                                         "selectedTickLabelColor", "selectedTickLabelFont", "selectedTickPen",
                                         "subTickCount", "subTickLengthIn", "subTickLengthOut", "subTickPen",
                                         "tickLabelColor", "tickLabelFont", "tickLabelPadding",
                                         "tickLabelRotation", "tickLabelSide", "tickLabelType", "tickLabels",
                                         "tickLengthIn", "tickLengthOut", "tickPen", "tickStep", "tickVector",
                                         "tickVectorLabels", "ticks", "upperEnding", "visible"};
    QTest::newRow("legend") << "ui.plot.getLegendConfiguration()"
                            << QStringList{"borderPen", "brush", "font", "iconBorderPen", "iconSize",
                                           "iconTextPadding", "selectableParts", "selectedBorderPen",
                                           "selectedBrush", "selectedFont", "selectedIconBorderPen",
                                           "selectedParts", "selectedTextColor", "textColor", "visible"};
}

void tst_JsPlotConfig::keyLists()
{
    QFETCH(QString, get);
    QFETCH(QStringList, keys);
    PlotFixture f;
    // Written keys that are never read back do not show up either.
    f.eval("ui.plot.addGraph('a');"
           "ui.plot.setGraphConfiguration('a', {name: 'Flow', brush: {color: 'red', style: 1}, selected: true});"
           "ui.plot.setAxisConfiguration(2, {antialiased: true, objectName: 'top'});"
           "ui.plot.setLegendConfiguration({columnSpacing: 4, objectName: 'legend'});"
           "ui.plot.setConfiguration({selectionTolerance: 5, toolTip: 'tip'});");
    QCOMPARE(QStringList(f.value(get).toMap().keys()), keys);
}

void tst_JsPlotConfig::fonts_data()
{
    QTest::addColumn<QString>("font");
    QTest::addColumn<int>("pixelSize");
    QTest::addColumn<double>("pointSizeF");
    QTest::addColumn<bool>("bold");
    QTest::addColumn<QString>("read"); // the sizes a read gives back
    const double defaultSize = QFont().pointSizeF();
    QTest::newRow("points after pixels") << "{pixelSize: 20, pointSize: 12}" << -1 << 12.0 << false
                                         << "pointSize 12 pointSizeF 12";
    QTest::newRow("pointSizeF last") << "{pointSize: 12, pointSizeF: 9.5, pixelSize: 20}" << -1 << 9.5 << false
                                     << "pointSize 10 pointSizeF 9.5";
    QTest::newRow("pixels alone") << "{pixelSize: 20}" << 20 << -1.0 << false << "pixelSize 20";
    // Built from the default font, not from the 20 pixels set before.
    QTest::newRow("bold alone") << "{bold: true}" << -1 << defaultSize << true
                                << QString("pointSize %1 pointSizeF %2").arg(QFont().pointSize()).arg(defaultSize);
}

void tst_JsPlotConfig::fonts()
{
    QFETCH(QString, font);
    QFETCH(int, pixelSize);
    QFETCH(double, pointSizeF);
    QFETCH(bool, bold);
    PlotFixture f;
    f.eval("ui.plot.setLegendConfiguration({font: {pixelSize: 20, italic: true}});"
           "ui.plot.setLegendConfiguration({font: " + font + "})");
    const QFont legendFont = f.plot->legend->font();
    QCOMPARE(legendFont.pixelSize(), pixelSize);
    QCOMPARE(legendFont.pointSizeF(), pointSizeF);
    QCOMPARE(legendFont.bold(), bold);
    QVERIFY(!legendFont.italic());
    QTEST(f.eval("var m = ui.plot.getLegendConfiguration().font, sizes = [];"
                 "['pixelSize', 'pointSize', 'pointSizeF'].forEach(function (k) {"
                 "  if (k in m) sizes.push(k + ' ' + m[k]); });"
                 "sizes.join(' ')"),
          "read");
}

void tst_JsPlotConfig::sizesAndRanges()
{
    PlotFixture f;
    f.eval("ui.plot.setLegendConfiguration({iconSize: {width: 10}})");
    QCOMPARE(f.plot->legend->iconSize(), QSize(10, -1));
    f.eval("ui.plot.setAxisConfiguration(1, {range: {lower: -5}})");
    QCOMPARE(f.plot->yAxis->range(), QCPRange(-5, 0));
    // Written through a map, the range tells the script as any other change.
    QCOMPARE(f.eval("var seen; ui.plot.axisRangeChanged.connect(function (a, n) { seen = a + ':' + n.upper; });"
                    "ui.plot.setAxisConfiguration(3, {range: {lower: 1, upper: 4}}); seen"),
             QStringLiteral("3:4"));
}

void tst_JsPlotConfig::graphKeys()
{
    PlotFixture f;
    f.eval("ui.plot.addGraph('a');"
           "ui.plot.setGraphConfiguration('a', {lineStyle: 2.4, name: 'Flow', visible: false, objectName: 'flow'})");
    QCPGraph* graph = f.plot->graph("a");
    QCOMPARE(graph->lineStyle(), QCPGraph::lsStepLeft);
    QCOMPARE(graph->name(), QStringLiteral("Flow"));
    // Still addressed by the name it was added under.
    QCOMPARE(f.eval("ui.plot.addData('a', 1, 2); ui.plot.getGraphConfiguration('a').visible"),
             QStringLiteral("false"));
    f.eval("ui.plot.setGraphConfiguration('a', {lineStyle: 99, errorType: -1})");
    QCOMPARE(graph->lineStyle(), QCPGraph::lsStepLeft);
    QCOMPARE(f.eval("ui.plot.getGraphConfiguration('a').errorType"), QStringLiteral("0"));
}

void tst_JsPlotConfig::objectPointers()
{
    PlotFixture f;
    f.eval("ui.plot.addGraph('a'); ui.plot.addGraph('b'); ui.plot.setData('a', [1, 2], [3, 4]);");
    QCPGraph* graph = f.plot->graph("a");
    QCPLayer* layer = graph->layer();
    for (const char* value : {"null", "'b'", "ui.plot"}) {
        f.eval(QString("ui.plot.setGraphConfiguration('a', {keyAxis: %1, valueAxis: %1,"
                       " channelFillGraph: %1, layer: %1, parentPlot: %1, selectionDecorator: %1})")
                   .arg(value));
        QCOMPARE(graph->keyAxis(), f.plot->xAxis);
        QCOMPARE(graph->valueAxis(), f.plot->yAxis);
        QCOMPARE(graph->channelFillGraph(), nullptr);
        QCOMPARE(graph->layer(), layer);
        QVERIFY(graph->selectionDecorator());
        f.eval(QString("ui.plot.setAxisConfiguration(0, {layer: %1, axisRect: %1, parentPlot: %1})"
                       "; ui.plot.setLegendConfiguration({layer: %1, layout: %1})")
                   .arg(value));
        QCOMPARE(f.plot->xAxis->layer(), f.plot->layer("axes"));
        QCOMPARE(f.plot->legend->layer(), f.plot->layer("legend"));
    }
    f.settle();
}

void tst_JsPlotConfig::plotKeys()
{
    PlotFixture f;
    // Enumerations take numbers, whole or not.
    f.eval("ui.plot.setConfiguration({interactions: 3, multiSelectModifier: 0x08000000 + 0.2});"
           "ui.plot.setLegendConfiguration({selectableParts: 2.0, selectedParts: true})");
    QCOMPARE(int(f.plot->interactions()), int(QCP::iRangeDrag | QCP::iRangeZoom));
    QCOMPARE(f.plot->multiSelectModifier(), Qt::AltModifier);
    QCOMPARE(int(f.plot->legend->selectableParts()), 2);
    QCOMPARE(int(f.plot->legend->selectedParts()), 1);
}

void tst_JsPlotConfig::selectableAndSelected()
{
    PlotFixture f;
    JsPlotWidgetPrivate* d = JsPlotWidgetPrivate::get(f.plot);
    f.eval("ui.plot.addGraph('a'); ui.plot.setData('a', [0, 5], [0, 50]);"
           "ui.plot.setAxisRange(0, 0, 5); ui.plot.setAxisRange(1, 0, 50);"
           "ui.plot.setConfiguration({interactions: JsPlot.InteractionSelectPlottables});"
           "ui.plot.setGraphConfiguration('a', {selectedPen: {color: 'black', width: 3}, selectable: false})");
    QCPGraph* graph = f.plot->graph("a");
    QCOMPARE(graph->selectionDecorator()->pen(), QPen(Qt::black, 3));
    f.settle();
    const QPoint onGraph = graph->coordsToPixels(2.5, 25).toPoint();
    QTest::mouseClick(f.plot, Qt::LeftButton, Qt::NoModifier, onGraph);
    QVERIFY(!d->isSelected(graph));
    f.eval("ui.plot.setGraphConfiguration('a', {selectable: true})");
    QTest::mouseClick(f.plot, Qt::LeftButton, Qt::NoModifier, onGraph);
    QVERIFY(d->isSelected(graph));
    f.eval("ui.plot.setGraphConfiguration('a', {selected: false})");
    QVERIFY(!graph->selected());
    f.eval("ui.plot.setGraphConfiguration('a', {selected: true})");
    QCOMPARE(graph->selection(), QCPDataSelection(QCPDataRange(0, 2)));
}

void tst_JsPlotConfig::scriptTicks()
{
    PlotFixture f;
    // Asked during the replot; what the handler sets decides that replot's ticks.
    f.eval("var asked = [];"
           "ui.plot.setAxisConfiguration(0, {autoTicks: false, autoTickLabels: false});"
           "ui.plot.axisTicksRequest.connect(function (axis) {"
           "  asked.push(axis);"
           "  var n = asked.length;"
           "  ui.plot.setAxisConfiguration(axis, {tickVector: [1, 2 + n, 9], tickVectorLabels: ['low', 'mid ' + n]});"
           "});");
    QCOMPARE(f.eval("asked.length"), QStringLiteral("0"));
    f.settle();
    QCOMPARE(f.eval("asked.join()"), QStringLiteral("0"));
    QCOMPARE(f.plot->xAxis->tickVector(), (QVector<double>{1, 3}));
    QCOMPARE(f.plot->xAxis->tickVectorLabels(), (QVector<QString>{"low", "mid 1"}));
    f.settle();
    QCOMPARE(f.plot->xAxis->tickVector(), (QVector<double>{1, 4}));
    QCOMPARE(f.plot->xAxis->tickVectorLabels(), (QVector<QString>{"low", "mid 2"}));
    // Read back: what the script gave, not only the ticks in the range.
    QCOMPARE(f.eval("ui.plot.getAxisConfiguration(0).tickVector.join()"), QStringLiteral("1,4,9"));

}

void tst_JsPlotConfig::ticks_data()
{
    QTest::addColumn<QString>("config");
    QTest::addColumn<QVector<double>>("ticks");
    QTest::addColumn<QStringList>("labels");
    QTest::addColumn<int>("subTicks");
    // About six steps, the mantissa rounded down to a half below 5 and to an
    // even number from 5 on: 5 / 6 gives 0.8.
    QTest::newRow("automatic 0..5")
        << "{range: {lower: 0, upper: 5}}" << QVector<double>{0, 0.8, 1.6, 2.4, 3.2, 4, 4.8}
        << QStringList{"0", "0.8", "1.6", "2.4", "3.2", "4", "4.8"} << 19;
    QTest::newRow("fixed step 7") << "{range: {lower: 3, upper: 30}, autoTickStep: false, tickStep: 7,"
                                     " autoSubTicks: false, subTickCount: 1}"
                                  << QVector<double>{7, 14, 21, 28} << QStringList{"7", "14", "21", "28"} << 4;
    // Not multiples of a step too fine to read, but multiples of a multiple of it.
    QTest::newRow("step far too fine") << "{range: {lower: 0, upper: 1000000}, autoTickStep: false,"
                                          " tickStep: 1, subTickCount: 0, autoSubTicks: false}"
                                       << QVector<double>() << QStringList() << 0;
    // Sub-ticks split a logarithmic step evenly, by the count last set.
    QTest::newRow("log base 10") << "{scaleType: 1, range: {lower: 1, upper: 1000}, subTickCount: 8}"
                                 << QVector<double>{1, 10, 100, 1000} << QStringList{"1", "10", "100", "1000"}
                                 << 24;
    QTest::newRow("log base 1 falls back to 10") << "{scaleType: 1, scaleLogBase: 1, range: {lower: 1, upper: 100}}"
                                                 << QVector<double>{1, 10, 100} << QStringList{"1", "10", "100"}
                                                 << 6;
    // 1 700 000 000 s after the epoch is 2023-11-14 22:13:20 UTC.
    QTest::newRow("date-time UTC")
        << "{tickLabelType: 1, dateTimeSpec: 1, dateTimeFormat: 'yyyy-MM-dd hh:mm:ss',"
           " range: {lower: 1699999990, upper: 1700000030}, autoTickStep: false, tickStep: 20}"
        << QVector<double>{1700000000, 1700000020}
        << QStringList{"2023-11-14 22:13:20", "2023-11-14 22:13:40"} << 7;
}

void tst_JsPlotConfig::ticks()
{
    QFETCH(QString, config);
    QFETCH(QVector<double>, ticks);
    QFETCH(QStringList, labels);
    QFETCH(int, subTicks);
    PlotFixture f;
    f.eval("ui.plot.setAxisConfiguration(0, " + config + ")");
    f.settle();
    QCPAxis* axis = f.plot->xAxis;
    if (QTest::currentDataTag() == QLatin1String("step far too fine")) {
        // Steps of 1 would be a million ticks.
        QVERIFY(axis->tickVector().size() <= JsPlotAxisTicker::maxTicks + 1);
        QVERIFY(axis->tickVector().size() > 100);
        for (double tick : axis->tickVector())
            QCOMPARE(std::fmod(tick, 1.0), 0.0);
        return;
    }
    QCOMPARE(axis->tickVector().size(), ticks.size());
    for (int i = 0; i < ticks.size(); ++i)
        QVERIFY(qAbs(axis->tickVector().at(i) - ticks.at(i)) < 1e-9);
    QCOMPARE(axis->tickVectorLabels().toList(), labels);
    // The sub-ticks between them, inside the range.
    QVector<double> generated;
    QVector<double> subs;
    QVector<QString> texts;
    JsPlotWidgetPrivate::get(f.plot)->ticker(axis)->generate(axis->range(), QLocale::c(), 'g', 6,
                                                             generated, &subs, &texts);
    QCOMPARE(generated, axis->tickVector());
    QCOMPARE(subs.size(), subTicks);
    for (double sub : qAsConst(subs))
        QVERIFY(sub >= axis->range().lower - 1e-9 && sub <= axis->range().upper + 1e-9 && !generated.contains(sub));
}

QTEST_MAIN(tst_JsPlotConfig)
#include "tst_jsplotconfig.moc"
