// Draws a gallery of script plots into PNG files, for a person to look at:
//   plotgallery <directory>

#include "jsplot.h"
#include "jsplotwidget.h"
#include "jsrte.h"

#include <QApplication>
#include <QDir>
#include <QScriptEngine>

namespace {

struct Picture
{
    const char* name;
    const char* script;
};

const Picture pictures[] = {
    {"graphs-legend-pens", R"(
plot.addGraph('sine'); plot.addGraph('cosine');
var k = [], s = [], c = [];
for (var i = 0; i <= 100; ++i) { k.push(i / 10); s.push(Math.sin(i / 10)); c.push(Math.cos(i / 10)); }
plot.setData('sine', k, s); plot.setData('cosine', k, c);
plot.setGraphConfiguration('sine', {pen: {color: JsPlot.darkorange, widthF: 2}});
plot.setGraphConfiguration('cosine', {pen: {color: JsPlot.steelblue, width: 2, style: JsPlot.PenStyleDashLine},
  brush: {color: '#204682b4', style: JsPlot.BrushStyleSolidPattern}});
plot.setLegendConfiguration({visible: true, font: {pointSize: 9}});
plot.setAxisConfiguration(JsPlot.AxisX0, {label: 'time [s]'});
plot.setAxisConfiguration(JsPlot.AxisY0, {label: 'amplitude', range: {lower: -1, upper: 1}});
plot.setAxisRange(JsPlot.AxisY0, -1.2, 1.2);
plot.rescaleAxisForGraph('sine', true);
)"},
    {"scatter-shapes", R"(
for (var s = 0; s <= 15; ++s) {
  plot.addGraph('s' + s);
  plot.setData('s' + s, [s % 4, s % 4 + 0.5], [Math.floor(s / 4), Math.floor(s / 4) + 0.3]);
  plot.setGraphConfiguration('s' + s, {lineStyle: JsPlot.LineStyleLine,
    pen: {color: JsPlot.gray}, scatterStyle: {shape: s, size: 12,
    pen: {color: JsPlot.darkblue, widthF: 1.5}, brush: {color: JsPlot.lightskyblue, style: 1}}});
}
plot.setAxisRange(0, -0.5, 4); plot.setAxisRange(1, -0.5, 4);
plot.setAxisConfiguration(0, {label: 'shapes 0..3 per row, 4 rows'});
)"},
    {"logarithmic-axis", R"(
plot.addGraph('growth');
var k = [], v = [];
for (var i = 0; i <= 40; ++i) { k.push(i); v.push(Math.pow(2, i / 3)); }
plot.setData('growth', k, v);
plot.setAxisConfiguration(JsPlot.AxisY0, {scaleType: JsPlot.ScaleTypeLogarithmic, scaleLogBase: 2,
  subTickCount: 0, label: 'value (log 2)', grid: {subGridVisible: false}});
plot.setAxisRange(0, 0, 40); plot.setAxisRange(1, 1, 10000);
)"},
    {"date-time-labels", R"(
plot.addGraph('temperature');
var k = [], v = [];
for (var i = 0; i <= 120; ++i) { k.push(1700000000 + i * 30); v.push(20 + 3 * Math.sin(i / 12)); }
plot.setData('temperature', k, v);
plot.setAxisConfiguration(JsPlot.AxisX0, {tickLabelType: JsPlot.LabelTypeDateTime,
  dateTimeSpec: JsPlot.DateTimeSpecUTC, dateTimeFormat: 'hh:mm\ndd.MM.yy', autoTickStep: false,
  tickStep: 600, autoSubTicks: false, subTickCount: 1, label: 'UTC'});
plot.rescaleAxisForGraph('temperature');
plot.setAxisRange(1, 15, 25);
)"},
    {"script-ticks", R"(
plot.addGraph('level');
plot.setData('level', [0, 1, 2, 3, 4], [1, 3, 2, 4, 3]);
plot.setAxisConfiguration(JsPlot.AxisX0, {autoTicks: false, autoTickLabels: false, subTickCount: 0});
plot.axisTicksRequest.connect(function (axis) {
  if (axis == JsPlot.AxisX0)
    plot.setAxisConfiguration(axis, {tickVector: [0, 1, 2, 3, 4],
      tickVectorLabels: ['Mon', 'Tue', 'Wed', 'Thu', 'Fri']});
});
plot.setAxisRange(0, -0.5, 4.5); plot.setAxisRange(1, 0, 5);
plot.setGraphConfiguration('level', {lineStyle: JsPlot.LineStyleStepCenter,
  pen: {color: JsPlot.seagreen, width: 2}});
)"},
    {"selected-graph", R"(
plot.addGraph('plain'); plot.addGraph('chosen');
plot.setData('plain', [0, 1, 2, 3], [1, 2, 1.5, 2.5]);
plot.setData('chosen', [0, 1, 2, 3], [0.5, 1, 2, 1]);
plot.setGraphConfiguration('plain', {pen: {color: JsPlot.gray, widthF: 1.5}});
plot.selectGraph('chosen');
plot.addData('chosen', 4, 2.2);
plot.addData('plain', 4, 2);
plot.setLegendConfiguration({visible: true});
plot.setAxisRange(0, 0, 4); plot.setAxisRange(1, 0, 3);
)"},
    {"axis-line-endings", R"(
plot.setAxisConfiguration(JsPlot.AxisX0, {upperEnding: {style: JsPlot.LineEndingStyleSpikeArrow, width: 10, length: 14},
  lowerEnding: {style: JsPlot.LineEndingStyleDisc, width: 6}, label: 'spike arrow and disc'});
plot.setAxisConfiguration(JsPlot.AxisY0, {upperEnding: {style: JsPlot.LineEndingStyleFlatArrow, width: 10, length: 12},
  lowerEnding: {style: JsPlot.LineEndingStyleBar, width: 8}, label: 'flat arrow and bar'});
plot.setAxisConfiguration(JsPlot.AxisX1, {visible: true, upperEnding: {style: JsPlot.LineEndingStyleLineArrow, width: 10, length: 12},
  label: 'line arrow'});
plot.setAxisConfiguration(JsPlot.AxisY1, {visible: true, upperEnding: {style: JsPlot.LineEndingStyleDiamond, width: 10},
  lowerEnding: {style: JsPlot.LineEndingStyleSkewedBar, width: 8, length: 6}, label: 'diamond and skewed bar'});
// Axes set apart, so that the endings at the corners do not cover each other.
for (var a = 0; a < 4; ++a)
  plot.setAxisConfiguration(a, {offset: 14});
)"},
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QString directory = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(directory);
    int failures = 0;
    for (const Picture& picture : pictures) {
        JsRte engine;
        engine.registerExtension(new JsPlot, JsRte::DeleteOnDestroy);
        engine.init();
        JsPlotWidget plot;
        plot.resize(640, 400);
        engine.globalObject().setProperty("plot", engine.newQObject(&plot));
        engine.QScriptEngine::evaluate(QString::fromUtf8(picture.script));
        if (engine.hasUncaughtException()) {
            qWarning("%s: %s", picture.name, qPrintable(engine.uncaughtException().toString()));
            ++failures;
        }
        plot.show();
        plot.replot(QCustomPlot::rpImmediateRefresh);
        const QString path = directory + '/' + QLatin1String(picture.name) + ".png";
        if (!plot.grab().save(path)) {
            qWarning("cannot write %s", qPrintable(path));
            ++failures;
        }
    }
    return failures;
}
