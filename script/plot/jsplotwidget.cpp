#include "jsplotwidget.h"
#include "jsplotwidget_p.h"

#include <QScriptContext>
#include <QScriptEngine>

#include <algorithm>
#include <cmath>

namespace {

const char axisError[] = "Axis is not a valid value (JsPlot.Axis)";

// A number argument: numbers as they are, anything else by QVariant's rules
// (what is no number gives 0).
double toNumber(const QScriptValue& value)
{
    if (value.isNumber())
        return value.toNumber();
    return value.toVariant().toDouble();
}

// A key or value argument: an array's elements, or the one value.
QVector<double> toNumbers(const QScriptValue& value)
{
    QVector<double> numbers;
    if (!value.isArray()) {
        numbers.append(toNumber(value));
        return numbers;
    }
    const quint32 length = value.property(QStringLiteral("length")).toUInt32();
    numbers.reserve(int(length));
    for (quint32 i = 0; i < length; ++i)
        numbers.append(toNumber(value.property(i)));
    return numbers;
}

bool keyLess(const QCPGraphData& a, const QCPGraphData& b)
{
    return a.key < b.key;
}

// The points of one call, sorted by key; of a key given more than once the
// last value stays. A point without a key (NaN) has no place among sorted
// keys and is left out.
QVector<QCPGraphData> points(const QVector<double>& keys, const QVector<double>& values)
{
    QVector<QCPGraphData> points;
    points.reserve(keys.size());
    for (int i = 0; i < keys.size(); ++i) {
        if (!std::isnan(keys.at(i)))
            points.append(QCPGraphData(keys.at(i), values.at(i)));
    }
    if (!std::is_sorted(points.cbegin(), points.cend(), keyLess))
        std::stable_sort(points.begin(), points.end(), keyLess);
    int kept = 0;
    for (int i = 0; i < points.size(); ++i) {
        if (kept > 0 && points.at(kept - 1).key == points.at(i).key)
            points[kept - 1] = points.at(i);
        else
            points[kept++] = points.at(i);
    }
    points.resize(kept);
    return points;
}

} // namespace

JsPlotWidgetPrivate::JsPlotWidgetPrivate(JsPlotWidget* q)
    : q(q)
{
}

void JsPlotWidgetPrivate::throwError(const QString& message) const
{
    if (QScriptContext* context = q->context())
        context->throwError(message);
}

QCPGraph* JsPlotWidgetPrivate::lookup(const QScriptValue& name) const
{
    const QString key = name.toString();
    QCPGraph* graph = m_graphs.value(key);
    if (!graph)
        throwError(QStringLiteral("Name: ") + key + QStringLiteral(" is not defined!"));
    return graph;
}

JsPlotAxisTicker* JsPlotWidgetPrivate::ticker(const QCPAxis* axis) const
{
    const QCPAxis* axes[] = {q->xAxis, q->yAxis, q->xAxis2, q->yAxis2};
    for (int i = 0; i < 4; ++i) {
        if (axes[i] == axis)
            return m_tickers[i].data();
    }
    return nullptr;
}

bool JsPlotWidgetPrivate::isSelected(QCPGraph* graph) const
{
    return graph->selected() || m_records.value(graph).emptySelected;
}

void JsPlotWidgetPrivate::setSelected(QCPGraph* graph, bool selected)
{
    JsPlotGraphRecord* r = record(graph);
    const int count = graph->dataCount();
    r->emptySelected = selected && count == 0 && graph->selectable() != QCP::stNone;
    graph->setSelection(selected ? QCPDataSelection(QCPDataRange(0, count)) : QCPDataSelection());
}

void JsPlotWidgetPrivate::reselect(QCPGraph* graph, bool wasSelected)
{
    if (wasSelected)
        setSelected(graph, true);
}

JsPlotWidget::JsPlotWidget(QWidget* parent)
    : QCustomPlot(parent)
    , d(new JsPlotWidgetPrivate(this))
{
    qRegisterMetaType<QCPRange>("QCPRange");
    qRegisterMetaType<QCPLineEnding>("QCPLineEnding");
    qRegisterMetaType<QCPScatterStyle>("QCPScatterStyle");

    // Direct: the script's handlers run inside the plot's own mouse handling.
    connect(this, &QCustomPlot::plottableClick, this, &JsPlotWidget::onPlottableClick,
            Qt::DirectConnection);
    connect(this, &QCustomPlot::plottableDoubleClick, this, &JsPlotWidget::onPlottableDoubleClick,
            Qt::DirectConnection);
    connect(this, &QCustomPlot::axisClick, this, &JsPlotWidget::onAxisClick, Qt::DirectConnection);
    connect(this, &QCustomPlot::axisDoubleClick, this, &JsPlotWidget::onAxisDoubleClick,
            Qt::DirectConnection);
    connect(this, &QCustomPlot::legendClick, this, &JsPlotWidget::onLegendClick, Qt::DirectConnection);
    connect(this, &QCustomPlot::legendDoubleClick, this, &JsPlotWidget::onLegendDoubleClick,
            Qt::DirectConnection);
    connect(this, &QCustomPlot::selectionChangedByUser, this, &JsPlotWidget::onSelectionChangedByUser,
            Qt::DirectConnection);
    // Title elements may be added to the layout at any time; they are
    // connected before each replot, and none can be clicked before it.
    connect(this, &QCustomPlot::beforeReplot, this, &JsPlotWidget::onBeforeReplot, Qt::DirectConnection);

    QCPAxis* const axes[] = {xAxis, yAxis, xAxis2, yAxis2};
    for (int i = 0; i < 4; ++i) {
        QCPAxis* axis = axes[i];
        d->m_tickers[i].reset(new JsPlotAxisTicker(axis));
        d->m_tickers[i]->m_request = [this, axis] { emit axisTicksRequest(axisToValue(axis)); };
        axis->setTicker(d->m_tickers[i]);
        connect(axis, qOverload<const QCPRange&, const QCPRange&>(&QCPAxis::rangeChanged), this,
                &JsPlotWidget::onAxisRangeChanged, Qt::DirectConnection);
        connect(axis, &QCPAxis::scaleTypeChanged, this, &JsPlotWidget::onAxisScaleTypeChanged,
                Qt::DirectConnection);
    }
}

JsPlotWidget::~JsPlotWidget()
{
    // The plot's own destructor deletes graphs and axes after this part of
    // the object is gone: nothing of it may be called back from there.
    for (auto& ticker : d->m_tickers)
        ticker->m_request = nullptr;
    disconnect(this, nullptr, this, nullptr);
    const QCPAxis* axes[] = {xAxis, yAxis, xAxis2, yAxis2};
    for (const QCPAxis* axis : axes)
        disconnect(axis, nullptr, this, nullptr);
    d->m_graphs.clear();
    d->m_records.clear();
}

QCPGraph* JsPlotWidget::graph(const QString& name) const
{
    return d->m_graphs.value(name);
}

QCPAxis* JsPlotWidget::checkAxis(const QScriptValue& axis)
{
    bool ok = false;
    const int value = axis.toVariant().toInt(&ok);
    if (ok) {
        switch (value) {
        case 0:
            return xAxis;
        case 1:
            return yAxis;
        case 2:
            return xAxis2;
        case 3:
            return yAxis2;
        default:
            break;
        }
    }
    d->throwError(QLatin1String(axisError));
    return nullptr;
}

int JsPlotWidget::axisToValue(const QCPAxis* axis) const
{
    if (axis == yAxis)
        return 1;
    if (axis == xAxis2)
        return 2;
    if (axis == yAxis2)
        return 3;
    return 0;
}

QScriptValue JsPlotWidget::addGraph(const QScriptValue& name, const QScriptValue& axisKey,
                                    const QScriptValue& axisValue)
{
    const QString key = name.toString();
    QCPAxis* keyAxis = checkAxis(axisKey);
    if (!keyAxis)
        return QScriptValue(QScriptValue::NullValue);
    QCPAxis* valueAxis = checkAxis(axisValue);
    if (!valueAxis)
        return QScriptValue(QScriptValue::NullValue);
    if (d->m_graphs.contains(key)) {
        d->throwError(QStringLiteral("Name: ") + key + QStringLiteral(" is already defined!"));
        return QScriptValue(QScriptValue::NullValue);
    }
    QCPGraph* graph = QCustomPlot::addGraph(keyAxis, valueAxis);
    if (!graph)
        return QScriptValue(QScriptValue::NullValue);
    graph->setName(key);
    // Points in a container of our own, for removals by exact key.
    auto* data = new JsPlotGraphData;
    graph->setData(QSharedPointer<QCPGraphDataContainer>(data));
    d->m_graphs.insert(key, graph);
    d->m_records.insert(graph, JsPlotGraphRecord());
    d->record(graph)->data = data;
    return name;
}

void JsPlotWidget::removeGraph(const QScriptValue& name)
{
    QCPGraph* graph = d->m_graphs.take(name.toString());
    if (!graph)
        return;
    d->m_records.remove(graph);
    removePlottable(graph);
}

QCPGraph* JsPlotWidgetPrivate::graphWithPoints(const QScriptValue& name, const QScriptValue& key,
                                               const QScriptValue& value, QVector<double>* keys,
                                               QVector<double>* values)
{
    QCPGraph* graph = lookup(name);
    if (!graph)
        return nullptr;
    *keys = toNumbers(key);
    *values = toNumbers(value);
    if (keys->size() != values->size()) {
        throwError(QStringLiteral("Key count not equal Value count!"));
        return nullptr;
    }
    return graph;
}

void JsPlotWidget::setData(const QScriptValue& name, const QScriptValue& key, const QScriptValue& value)
{
    QVector<double> keys;
    QVector<double> values;
    QCPGraph* graph = d->graphWithPoints(name, key, value, &keys, &values);
    if (!graph)
        return;
    const bool wasSelected = d->isSelected(graph);
    d->record(graph)->data->set(points(keys, values), true);
    d->reselect(graph, wasSelected);
}

void JsPlotWidget::addData(const QScriptValue& name, const QScriptValue& key, const QScriptValue& value)
{
    QVector<double> keys;
    QVector<double> values;
    QCPGraph* graph = d->graphWithPoints(name, key, value, &keys, &values);
    if (!graph)
        return;
    JsPlotGraphData* data = d->record(graph)->data;
    const bool wasSelected = d->isSelected(graph);
    if (keys.size() == 1) {
        if (!std::isnan(keys.first()))
            data->add(QCPGraphData(keys.first(), values.first()));
        d->reselect(graph, wasSelected);
        return;
    }
    // Keys repeated within the call collapse to their last value; a key that
    // the graph holds already is kept twice.
    data->add(points(keys, values), true);
    d->reselect(graph, wasSelected);
}

void JsPlotWidget::removeDataBefore(const QScriptValue& name, const QScriptValue& key)
{
    d->changeData(name, [&](JsPlotGraphData* data) { data->removeBefore(toNumber(key)); });
}

void JsPlotWidget::removeDataAfter(const QScriptValue& name, const QScriptValue& key)
{
    d->changeData(name, [&](JsPlotGraphData* data) { data->removeAfter(toNumber(key)); });
}

void JsPlotWidget::removeData(const QScriptValue& name, const QScriptValue& fromKey,
                              const QScriptValue& toKey)
{
    d->changeData(name, [&](JsPlotGraphData* data) {
        if (toKey.isNull())
            data->removeKey(toNumber(fromKey));
        else
            data->removeRange(toNumber(fromKey), toNumber(toKey));
    });
}

void JsPlotWidget::clearData(const QScriptValue& name)
{
    d->changeData(name, [](JsPlotGraphData* data) { data->clear(); });
}

void JsPlotWidget::setAxisRange(const QScriptValue& axis, const QScriptValue& lower,
                                const QScriptValue& upper)
{
    const double from = toNumber(lower);
    const double to = toNumber(upper);
    if (QCPAxis* a = checkAxis(axis))
        a->setRange(from, to);
}

void JsPlotWidget::setAxisRangeLower(const QScriptValue& axis, const QScriptValue& value)
{
    const double lower = toNumber(value);
    if (QCPAxis* a = checkAxis(axis))
        a->setRangeLower(lower);
}

void JsPlotWidget::setAxisRangeUpper(const QScriptValue& axis, const QScriptValue& value)
{
    const double upper = toNumber(value);
    if (QCPAxis* a = checkAxis(axis))
        a->setRangeUpper(upper);
}

void JsPlotWidget::rescaleAxisForGraph(const QScriptValue& name, bool onlyEnlarge)
{
    if (QCPGraph* graph = d->lookup(name))
        graph->rescaleAxes(onlyEnlarge);
}

void JsPlotWidget::selectGraph(const QScriptValue& name)
{
    if (QCPGraph* graph = d->lookup(name))
        d->setSelected(graph, true);
}

void JsPlotWidget::deselectGraph(const QScriptValue& name)
{
    if (QCPGraph* graph = d->lookup(name))
        d->setSelected(graph, false);
}

void JsPlotWidget::onPlottableClick(QCPAbstractPlottable* plottable, int, QMouseEvent* event)
{
    if (plottable)
        emit graphClicked(plottable->name(), mouseEventToMap(event));
}

void JsPlotWidget::onPlottableDoubleClick(QCPAbstractPlottable* plottable, int, QMouseEvent* event)
{
    if (plottable)
        emit graphDoubleClicked(plottable->name(), mouseEventToMap(event));
}

void JsPlotWidget::onAxisClick(QCPAxis* axis, QCPAxis::SelectablePart part, QMouseEvent* event)
{
    emit axisClicked(axisToValue(axis), int(part), mouseEventToMap(event));
}

void JsPlotWidget::onAxisDoubleClick(QCPAxis* axis, QCPAxis::SelectablePart part, QMouseEvent* event)
{
    emit axisDoubleClicked(axisToValue(axis), int(part), mouseEventToMap(event));
}

void JsPlotWidget::onLegendClick(QCPLegend*, QCPAbstractLegendItem*, QMouseEvent* event)
{
    emit legendClicked(mouseEventToMap(event));
}

void JsPlotWidget::onLegendDoubleClick(QCPLegend*, QCPAbstractLegendItem*, QMouseEvent* event)
{
    emit legendDoubleClicked(mouseEventToMap(event));
}

void JsPlotWidget::onTitleClick(QMouseEvent* event)
{
    if (auto* title = qobject_cast<QCPTextElement*>(sender()))
        emit titleClicked(title->text(), mouseEventToMap(event));
}

void JsPlotWidget::onTitleDoubleClick(QMouseEvent* event)
{
    if (auto* title = qobject_cast<QCPTextElement*>(sender()))
        emit titleDoubleClicked(title->text(), mouseEventToMap(event));
}

void JsPlotWidget::onSelectionChangedByUser()
{
    QVariantList names;
    for (auto it = d->m_graphs.cbegin(); it != d->m_graphs.cend(); ++it) {
        if (d->isSelected(it.value()))
            names.append(it.key());
    }
    emit graphSelectionChanged(names);
}

void JsPlotWidget::onAxisRangeChanged(const QCPRange& newRange, const QCPRange& oldRange)
{
    // Both maps first: newRange is the axis's own, which the script may change.
    const QVariant newMap = rangeToMap(newRange);
    const QVariant oldMap = rangeToMap(oldRange);
    emit axisRangeChanged(axisToValue(qobject_cast<QCPAxis*>(sender())), newMap, oldMap);
}

void JsPlotWidget::onAxisScaleTypeChanged(QCPAxis::ScaleType scaleType)
{
    emit axisScaleTypeChanged(axisToValue(qobject_cast<QCPAxis*>(sender())), int(scaleType));
}

void JsPlotWidget::onBeforeReplot()
{
    const QList<QCPLayoutElement*> elements = plotLayout()->elements(true);
    for (QCPLayoutElement* element : elements) {
        if (auto* title = qobject_cast<QCPTextElement*>(element)) {
            connect(title, &QCPTextElement::clicked, this, &JsPlotWidget::onTitleClick,
                    Qt::UniqueConnection);
            connect(title, &QCPTextElement::doubleClicked, this, &JsPlotWidget::onTitleDoubleClick,
                    Qt::UniqueConnection);
        }
    }
}
