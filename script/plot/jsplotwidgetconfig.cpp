// Configuration maps: the look and behaviour of the plot, its graphs, axes
// and legend read and written as plain maps keyed by property name.

#include "jsplotaxisconfig_p.h"
#include "jsplotgraphconfig_p.h"
#include "jsplotwidget.h"
#include "jsplotwidget_p.h"

#include <QMetaProperty>

namespace {

QFont fontFromMap(const QVariantMap& map)
{
    // From the default font, not the current one; a later size wins.
    QFont font;
    if (map.contains(QStringLiteral("pixelSize")))
        font.setPixelSize(map.value(QStringLiteral("pixelSize")).toInt());
    if (map.contains(QStringLiteral("pointSize")))
        font.setPointSize(map.value(QStringLiteral("pointSize")).toInt());
    if (map.contains(QStringLiteral("pointSizeF")))
        font.setPointSizeF(map.value(QStringLiteral("pointSizeF")).toReal());
    if (map.contains(QStringLiteral("bold")))
        font.setWeight(map.value(QStringLiteral("bold")).toBool() ? QFont::Bold : QFont::Normal);
    if (map.contains(QStringLiteral("italic")))
        font.setStyle(map.value(QStringLiteral("italic")).toBool() ? QFont::StyleItalic : QFont::StyleNormal);
    if (map.contains(QStringLiteral("overline")))
        font.setOverline(map.value(QStringLiteral("overline")).toBool());
    if (map.contains(QStringLiteral("underline")))
        font.setUnderline(map.value(QStringLiteral("underline")).toBool());
    if (map.contains(QStringLiteral("kerning")))
        font.setKerning(map.value(QStringLiteral("kerning")).toBool());
    if (map.contains(QStringLiteral("fixedPitch")))
        font.setFixedPitch(map.value(QStringLiteral("fixedPitch")).toBool());
    if (map.contains(QStringLiteral("family")))
        font.setFamily(map.value(QStringLiteral("family")).toString());
    return font;
}

QVariantMap fontToMap(const QFont& font)
{
    QVariantMap map;
    if (font.pixelSize() != -1)
        map.insert(QStringLiteral("pixelSize"), font.pixelSize());
    if (font.pointSize() != -1)
        map.insert(QStringLiteral("pointSize"), font.pointSize());
    if (font.pointSizeF() != -1)
        map.insert(QStringLiteral("pointSizeF"), font.pointSizeF());
    map.insert(QStringLiteral("bold"), font.weight() > QFont::Normal);
    map.insert(QStringLiteral("italic"), font.style() != QFont::StyleNormal);
    map.insert(QStringLiteral("overline"), font.overline());
    map.insert(QStringLiteral("underline"), font.underline());
    map.insert(QStringLiteral("kerning"), font.kerning());
    map.insert(QStringLiteral("fixedPitch"), font.fixedPitch());
    map.insert(QStringLiteral("family"), font.family());
    return map;
}

QSize sizeFromMap(const QVariantMap& map)
{
    return QSize(map.value(QStringLiteral("width"), -1).toInt(),
                 map.value(QStringLiteral("height"), -1).toInt());
}

QVariantMap sizeToMap(const QSize& size)
{
    QVariantMap map;
    map.insert(QStringLiteral("width"), size.width());
    map.insert(QStringLiteral("height"), size.height());
    return map;
}

QCPRange rangeFromMap(const QVariantMap& map)
{
    // Whole-number bounds; a missing one is 0.
    QCPRange range;
    range.lower = map.value(QStringLiteral("lower"), range.lower).toInt();
    range.upper = map.value(QStringLiteral("upper"), range.upper).toInt();
    return range;
}

QCPLineEnding lineEndingFromMap(const QVariantMap& map)
{
    // All four keys, a missing one as false or 0.
    QCPLineEnding ending;
    ending.setInverted(map.value(QStringLiteral("inverted")).toBool());
    ending.setLength(map.value(QStringLiteral("length")).toInt());
    ending.setWidth(map.value(QStringLiteral("width")).toInt());
    const int style = map.value(QStringLiteral("style")).toInt();
    ending.setStyle(style >= QCPLineEnding::esNone && style <= QCPLineEnding::esSkewedBar
                        ? QCPLineEnding::EndingStyle(style)
                        : QCPLineEnding::esNone);
    return ending;
}

QVariantMap lineEndingToMap(const QCPLineEnding& ending)
{
    QVariantMap map;
    map.insert(QStringLiteral("inverted"), ending.inverted());
    map.insert(QStringLiteral("length"), ending.length());
    map.insert(QStringLiteral("width"), ending.width());
    map.insert(QStringLiteral("style"), int(ending.style()));
    return map;
}

QCPScatterStyle scatterFromMap(const QVariantMap& map)
{
    // Keys left out keep the default style's values.
    QCPScatterStyle style;
    if (map.contains(QStringLiteral("size")))
        style.setSize(map.value(QStringLiteral("size")).toDouble());
    if (map.contains(QStringLiteral("shape"))) {
        const int shape = map.value(QStringLiteral("shape")).toInt();
        if (shape >= QCPScatterStyle::ssNone && shape <= QCPScatterStyle::ssPeace)
            style.setShape(QCPScatterStyle::ScatterShape(shape));
    }
    if (map.contains(QStringLiteral("pen")))
        style.setPen(JsPlotWidget::penFromMap(map.value(QStringLiteral("pen")).toMap()));
    if (map.contains(QStringLiteral("brush")))
        style.setBrush(JsPlotWidget::brushFromMap(map.value(QStringLiteral("brush")).toMap()));
    return style;
}

QVariantMap scatterToMap(const QCPScatterStyle& style)
{
    QVariantMap map;
    map.insert(QStringLiteral("size"), style.size());
    map.insert(QStringLiteral("shape"), int(style.shape()));
    map.insert(QStringLiteral("pen"), JsPlotWidget::penToMap(style.pen()));
    map.insert(QStringLiteral("brush"), JsPlotWidget::brushToMap(style.brush()));
    return map;
}

void applyGridMap(QCPGrid* grid, const QVariantMap& map)
{
    // Through the grid's setters; keys left out keep the grid's values.
    if (!grid)
        return;
    if (map.contains(QStringLiteral("subGridVisible")))
        grid->setSubGridVisible(map.value(QStringLiteral("subGridVisible")).toBool());
    if (map.contains(QStringLiteral("antialiasedSubGrid")))
        grid->setAntialiasedSubGrid(map.value(QStringLiteral("antialiasedSubGrid")).toBool());
    if (map.contains(QStringLiteral("antialiasedZeroLine")))
        grid->setAntialiasedZeroLine(map.value(QStringLiteral("antialiasedZeroLine")).toBool());
    if (map.contains(QStringLiteral("pen")))
        grid->setPen(JsPlotWidget::penFromMap(map.value(QStringLiteral("pen")).toMap()));
    if (map.contains(QStringLiteral("subGridPen")))
        grid->setSubGridPen(JsPlotWidget::penFromMap(map.value(QStringLiteral("subGridPen")).toMap()));
    if (map.contains(QStringLiteral("zeroLinePen")))
        grid->setZeroLinePen(JsPlotWidget::penFromMap(map.value(QStringLiteral("zeroLinePen")).toMap()));
}

QVariantMap gridToMap(const QCPGrid* grid)
{
    QVariantMap map;
    if (!grid)
        return map;
    map.insert(QStringLiteral("subGridVisible"), grid->subGridVisible());
    map.insert(QStringLiteral("antialiasedSubGrid"), grid->antialiasedSubGrid());
    map.insert(QStringLiteral("antialiasedZeroLine"), grid->antialiasedZeroLine());
    map.insert(QStringLiteral("pen"), JsPlotWidget::penToMap(grid->pen()));
    map.insert(QStringLiteral("subGridPen"), JsPlotWidget::penToMap(grid->subGridPen()));
    map.insert(QStringLiteral("zeroLinePen"), JsPlotWidget::penToMap(grid->zeroLinePen()));
    return map;
}

QVariant toVector(const QVariant& value, bool texts)
{
    const QVariantList list = value.toList();
    if (texts) {
        QVector<QString> vector;
        vector.reserve(list.size());
        for (const QVariant& element : list)
            vector.append(element.toString());
        return QVariant::fromValue(vector);
    }
    QVector<double> vector;
    vector.reserve(list.size());
    for (const QVariant& element : list)
        vector.append(element.toDouble());
    return QVariant::fromValue(vector);
}

template<typename T>
QVariantList toList(const QVector<T>& vector)
{
    QVariantList list;
    list.reserve(vector.size());
    for (const T& element : vector)
        list.append(element);
    return list;
}

bool isNumber(const QVariant& value)
{
    switch (value.userType()) {
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Bool:
        return true;
    default:
        return false;
    }
}

// An enumeration or flags value as an int, whether it came as an int or as
// the enumeration's own registered type.
int enumToInt(const QVariant& value)
{
    if (value.userType() == QMetaType::Int || !value.isValid()
        || QMetaType::sizeOf(value.userType()) != int(sizeof(int)))
        return value.toInt();
    return *static_cast<const int*>(value.constData());
}

// Keys that name a property but are no configuration: the axis keeps the
// ticker it was made with and shows sub-ticks by their count; the plot
// draws without OpenGL; interactions are written by their own setter.
bool ignoredKey(const QObject* target, const QString& key)
{
    if (qobject_cast<const QCPAxis*>(target))
        return key == QLatin1String("ticker") || key == QLatin1String("subTicks");
    if (qobject_cast<const QCustomPlot*>(target))
        return key == QLatin1String("openGl") || key == QLatin1String("interactions");
    return false;
}

} // namespace

void JsPlotWidgetPrivate::writeMap(QObject* target, const QVariantMap& map, QObject* standIn)
{
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        const QString& key = it.key();
        if (ignoredKey(target, key))
            continue;
        const QByteArray name = key.toLatin1();
        QObject* object = target;
        int index = -1;
        // The stand-in's own keys, not those it has as a QObject.
        if (standIn)
            index = standIn->metaObject()->indexOfProperty(name.constData());
        if (index >= QObject::staticMetaObject.propertyCount())
            object = standIn;
        else
            index = target->metaObject()->indexOfProperty(name.constData());

        const QVariant& value = it.value();
        if (index < 0) {
            // No such property: Qt keeps it as a dynamic one, which nothing reads.
            target->setProperty(name.constData(), value);
            continue;
        }
        const QMetaProperty property = object->metaObject()->property(index);
        const QByteArray type = property.typeName();
        if (type.endsWith('*')) {
            // Object pointers are never written from a map: a number, a text
            // or null would detach a graph from its axes or its layer. The
            // grid is configured through its own setters.
            if (type == "QCPGrid*")
                applyGridMap(qobject_cast<QCPGrid*>(property.read(object).value<QObject*>()),
                              value.toMap());
            continue;
        }
        QVariant converted;
        if (type == "QFont")
            converted = fontFromMap(value.toMap());
        else if (type == "QSize")
            converted = sizeFromMap(value.toMap());
        else if (type == "QColor")
            converted = JsPlotWidget::colorFromVariant(value);
        else if (type == "QPen")
            converted = JsPlotWidget::penFromMap(value.toMap());
        else if (type == "QBrush")
            converted = JsPlotWidget::brushFromMap(value.toMap());
        else if (type == "QVector<double>")
            converted = toVector(value, false);
        else if (type == "QVector<QString>")
            converted = toVector(value, true);
        else if (type == "QCPRange")
            converted = QVariant::fromValue(rangeFromMap(value.toMap()));
        else if (type == "QCPLineEnding")
            converted = QVariant::fromValue(lineEndingFromMap(value.toMap()));
        else if (type == "QCPScatterStyle")
            converted = QVariant::fromValue(scatterFromMap(value.toMap()));
        else if (property.isEnumType() && isNumber(value))
            // Enumerations and flags take an int, not a double or a bool.
            converted = value.toInt();
        else
            converted = value;
        property.write(object, converted);
    }
}

QVariantMap JsPlotWidgetPrivate::readMap(QObject* source) const
{
    QVariantMap map;
    const QMetaObject* meta = source->metaObject();
    for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i) {
        const QMetaProperty property = meta->property(i);
        const QByteArray type = property.typeName();
        if (type == "QCPGraph*" || type == "QCPAxisRect*")
            continue;
        const QVariant value = property.read(source);
        QVariant converted;
        if (type == "QFont")
            converted = fontToMap(value.value<QFont>());
        else if (type == "QSize")
            converted = sizeToMap(value.toSize());
        else if (type == "QColor")
            converted = JsPlotWidget::colorToVariant(value.value<QColor>());
        else if (type == "QPen")
            converted = JsPlotWidget::penToMap(value.value<QPen>());
        else if (type == "QBrush")
            converted = JsPlotWidget::brushToMap(value.value<QBrush>());
        else if (type == "QVector<double>")
            converted = toList(value.value<QVector<double>>());
        else if (type == "QVector<QString>")
            converted = toList(value.value<QVector<QString>>());
        else if (type == "QCPRange")
            converted = JsPlotWidget::rangeToMap(value.value<QCPRange>());
        else if (type == "QCPLineEnding")
            converted = lineEndingToMap(value.value<QCPLineEnding>());
        else if (type == "QCPScatterStyle")
            converted = scatterToMap(value.value<QCPScatterStyle>());
        else if (type == "QCPGrid*")
            converted = gridToMap(qobject_cast<QCPGrid*>(value.value<QObject*>()));
        else if (property.isEnumType())
            // Enumerations and flags go to scripts as numbers.
            converted = enumToInt(value);
        else
            converted = value;
        map.insert(QLatin1String(property.name()), converted);
    }
    return map;
}

void JsPlotWidget::setGraphConfiguration(const QScriptValue& name, const QScriptValue& configuration)
{
    QCPGraph* graph = d->lookup(name);
    if (!graph)
        return;
    const QVariantMap map = configuration.toVariant().toMap();
    JsPlotGraphConfig standIn(d.get(), graph, d->record(graph));
    d->writeMap(graph, map, &standIn);
    if (map.contains(QStringLiteral("pen")))
        graph->setPen(penFromMap(map.value(QStringLiteral("pen")).toMap()));
    if (map.contains(QStringLiteral("selectedPen")))
        standIn.setSelectedPen(penFromMap(map.value(QStringLiteral("selectedPen")).toMap()));
}

QVariant JsPlotWidget::getGraphConfiguration(const QScriptValue& name)
{
    QCPGraph* graph = d->lookup(name);
    if (!graph)
        return QVariant();
    JsPlotGraphConfig standIn(d.get(), graph, d->record(graph));
    QVariantMap map = d->readMap(&standIn);
    map.insert(QStringLiteral("visible"), graph->visible());
    map.insert(QStringLiteral("pen"), penToMap(graph->pen()));
    map.insert(QStringLiteral("selectedPen"), penToMap(standIn.selectedPen()));
    return map;
}

void JsPlotWidget::setAxisConfiguration(const QScriptValue& axis, const QScriptValue& configuration)
{
    QCPAxis* target = checkAxis(axis);
    if (!target)
        return;
    JsPlotAxisConfig standIn(target, d->ticker(target));
    d->writeMap(target, configuration.toVariant().toMap(), &standIn);
}

QVariant JsPlotWidget::getAxisConfiguration(const QScriptValue& axis)
{
    QCPAxis* source = checkAxis(axis);
    if (!source)
        return QVariant();
    JsPlotAxisConfig standIn(source, d->ticker(source));
    QVariantMap map = d->readMap(&standIn);
    map.insert(QStringLiteral("visible"), source->visible());
    return map;
}

void JsPlotWidget::setLegendConfiguration(const QScriptValue& configuration)
{
    d->writeMap(legend, configuration.toVariant().toMap());
}

QVariant JsPlotWidget::getLegendConfiguration()
{
    QVariantMap map = d->readMap(legend);
    map.insert(QStringLiteral("visible"), legend->visible());
    return map;
}

void JsPlotWidget::setConfiguration(const QScriptValue& configuration)
{
    const QVariantMap map = configuration.toVariant().toMap();
    d->writeMap(this, map);
    if (map.contains(QStringLiteral("interactions")))
        setInteractions(QCP::Interactions(map.value(QStringLiteral("interactions")).toInt()));
}

QVariant JsPlotWidget::getConfiguration()
{
    QVariantMap map;
    map.insert(QStringLiteral("visible"), isVisible());
    map.insert(QStringLiteral("interactions"), int(interactions()));
    return map;
}
