#include "jsplot.h"

#include <QColor>
#include <QScriptEngine>

namespace {

struct Constant
{
    const char* name;
    int value;
};

// Family by family; the values are those of Qt and the plot library, except
// the axis selector, which is the plot widget's own.
const Constant constants[] = {
    {"PenStyleNoPen", 0},
    {"PenStyleSolidLine", 1},
    {"PenStyleDashLine", 2},
    {"PenStyleDotLine", 3},
    {"PenStyleDashDotLine", 4},
    {"PenStyleDashDotDotLine", 5},

    {"BrushStyleNone", 0},
    {"BrushStyleSolidPattern", 1},
    {"BrushStyleDense1Pattern", 2},
    {"BrushStyleDense2Pattern", 3},
    {"BrushStyleDense3Pattern", 4},
    {"BrushStyleDense4Pattern", 5},
    {"BrushStyleDense5Pattern", 6},
    {"BrushStyleDense6Pattern", 7},
    {"BrushStyleDense7Pattern", 8},
    {"BrushStyleHorizontalPattern", 9},
    {"BrushStyleVerticalPattern", 10},
    {"BrushStyleCrossPattern", 11},
    {"BrushStyleRightUpDiagonalPattern", 12},
    {"BrushStyleRightDwDiagonalPattern", 13},
    {"BrushStyleCrossDiagonalPattern", 14},
    {"BrushStyleLinearGradientPattern", 15},
    {"BrushStyleRadialGradientPattern", 16},
    {"BrushStyleConicalGradientPattern", 17},

    {"DateTimeSpecLocalTime", 0},
    {"DateTimeSpecUTC", 1},
    {"DateTimeSpecOffsetFromUTC", 2},
    {"DateTimeSpecTimeZone", 3},

    {"AxisX0", 0},
    {"AxisY0", 1},
    {"AxisX1", 2},
    {"AxisY1", 3},

    {"AxisTypeAtLeft", 0x01},
    {"AxisTypeAtRight", 0x02},
    {"AxisTypeAtTop", 0x04},
    {"AxisTypeAtBottom", 0x08},

    {"LineStyleNone", 0},
    {"LineStyleLine", 1},
    {"LineStyleStepLeft", 2},
    {"LineStyleStepRight", 3},
    {"LineStyleStepCenter", 4},
    {"LineStyleImpulse", 5},

    {"LineEndingStyleNone", 0},
    {"LineEndingStyleFlatArrow", 1},
    {"LineEndingStyleSpikeArrow", 2},
    {"LineEndingStyleLineArrow", 3},
    {"LineEndingStyleDisc", 4},
    {"LineEndingStyleSquare", 5},
    {"LineEndingStyleDiamond", 6},
    {"LineEndingStyleBar", 7},
    {"LineEndingStyleHalfBar", 8},
    {"LineEndingStyleSkewedBar", 9},

    {"InteractionNone", 0x00},
    {"InteractionRangeDrag", 0x01},
    {"InteractionRangeZoom", 0x02},
    {"InteractionMultiSelect", 0x04},
    {"InteractionSelectPlottables", 0x08},
    {"InteractionSelectAxes", 0x10},
    {"InteractionSelectLegend", 0x20},

    {"ScatterShapeNone", 0},
    {"ScatterShapeDot", 1},
    {"ScatterShapeCross", 2},
    {"ScatterShapePlus", 3},
    {"ScatterShapeCircle", 4},
    {"ScatterShapeDisc", 5},
    {"ScatterShapeSquare", 6},
    {"ScatterShapeDiamond", 7},
    {"ScatterShapeStar", 8},
    {"ScatterShapeTriangle", 9},
    {"ScatterShapeTriangleInverted", 10},
    {"ScatterShapeCrossSquare", 11},
    {"ScatterShapePlusSquare", 12},
    {"ScatterShapeCrossCircle", 13},
    {"ScatterShapePlusCircle", 14},
    {"ScatterShapePeace", 15},

    {"LabelTypeNumber", 0},
    {"LabelTypeDateTime", 1},

    {"LabelSideInside", 0},
    {"LabelSideOutside", 1},

    {"ScaleTypeLinear", 0},
    {"ScaleTypeLogarithmic", 1},
};

} // namespace

JsPlot::JsPlot(QObject* parent)
    : JsRteExtension(parent)
{
    setName(QStringLiteral("JsPlot"));
}

void JsPlot::install(QScriptEngine*, QScriptValue& object)
{
    for (const Constant& constant : constants)
        object.setProperty(QLatin1String(constant.name), constant.value, QScriptValue::ReadOnly);
    // Colour names are lower case, constants begin with a capital: no clash.
    const QStringList colorNames = QColor::colorNames();
    for (const QString& name : colorNames)
        object.setProperty(name, name, QScriptValue::ReadOnly);
}
