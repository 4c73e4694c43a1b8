// Colours, brushes, pens, ranges and mouse events as plain script values.

#include "jsplotwidget.h"

namespace {

// Styles outside Qt's own values are ignored: the default stays.
bool validPenStyle(int style)
{
    return style >= Qt::NoPen && style <= Qt::DashDotDotLine;
}

bool validBrushStyle(int style)
{
    return style >= Qt::NoBrush && style <= Qt::ConicalGradientPattern;
}

} // namespace

QColor JsPlotWidget::colorFromVariant(const QVariant& value)
{
    QColor color;
    color.setNamedColor(value.toString());
    return color;
}

QVariant JsPlotWidget::colorToVariant(const QColor& color)
{
    return color.name();
}

QBrush JsPlotWidget::brushFromMap(const QVariantMap& map)
{
    QBrush brush;
    if (map.contains(QStringLiteral("color")))
        brush.setColor(colorFromVariant(map.value(QStringLiteral("color"))));
    if (map.contains(QStringLiteral("style"))) {
        const int style = map.value(QStringLiteral("style")).toInt();
        if (validBrushStyle(style))
            brush.setStyle(Qt::BrushStyle(style));
    }
    return brush;
}

QVariant JsPlotWidget::brushToMap(const QBrush& brush)
{
    QVariantMap map;
    map.insert(QStringLiteral("color"), colorToVariant(brush.color()));
    map.insert(QStringLiteral("style"), int(brush.style()));
    return map;
}

QPen JsPlotWidget::penFromMap(const QVariantMap& map)
{
    // In this order: a "widthF" given with "width" wins.
    QPen pen;
    if (map.contains(QStringLiteral("color")))
        pen.setColor(colorFromVariant(map.value(QStringLiteral("color"))));
    if (map.contains(QStringLiteral("width")))
        pen.setWidth(map.value(QStringLiteral("width")).toInt());
    if (map.contains(QStringLiteral("widthF")))
        pen.setWidthF(map.value(QStringLiteral("widthF")).toReal());
    if (map.contains(QStringLiteral("style"))) {
        const int style = map.value(QStringLiteral("style")).toInt();
        if (validPenStyle(style))
            pen.setStyle(Qt::PenStyle(style));
    }
    return pen;
}

QVariant JsPlotWidget::penToMap(const QPen& pen)
{
    QVariantMap map;
    map.insert(QStringLiteral("color"), colorToVariant(pen.color()));
    map.insert(QStringLiteral("width"), pen.width());
    map.insert(QStringLiteral("widthF"), pen.widthF());
    map.insert(QStringLiteral("style"), int(pen.style()));
    return map;
}

QVariant JsPlotWidget::rangeToMap(const QCPRange& range)
{
    QVariantMap map;
    map.insert(QStringLiteral("lower"), range.lower);
    map.insert(QStringLiteral("upper"), range.upper);
    return map;
}

QVariantMap JsPlotWidget::mouseEventToMap(const QMouseEvent* event)
{
    QVariantMap map;
    map.insert(QStringLiteral("x"), event->x());
    map.insert(QStringLiteral("y"), event->y());
    map.insert(QStringLiteral("globalX"), event->globalX());
    map.insert(QStringLiteral("globalY"), event->globalY());
    map.insert(QStringLiteral("button"), int(event->button()));
    map.insert(QStringLiteral("buttons"), int(event->buttons()));
    return map;
}
