#ifndef JSPLOTWIDGET_P_H
#define JSPLOTWIDGET_P_H

#include "jsplotaxisticker_p.h"
#include "jsplotgraphdata_p.h"
#include "jsplotwidget.h"

#include <QHash>
#include <QSharedPointer>

// What the plot keeps for each graph besides the graph itself.
struct JsPlotGraphRecord
{
    // The graph's points; the graph owns them.
    JsPlotGraphData* data = nullptr;
    // Selected while the graph had no points to select.
    bool emptySelected = false;
    // Error bars: kept for configuration maps, nothing draws them.
    int errorType = 0;
    QPen errorPen;
    double errorBarSize = 6;
    bool errorBarSkipSymbol = true;
    bool antialiasedErrorBars = false;
};

class JsPlotWidgetPrivate
{
public:
    explicit JsPlotWidgetPrivate(JsPlotWidget* q);

    static JsPlotWidgetPrivate* get(JsPlotWidget* q) { return q->d.get(); }

    // Raises message as an error of the calling script, if a script called.
    void throwError(const QString& message) const;
    // The registered graph named by the value's text; raises "Name: ... is not
    // defined!" and returns null when there is none.
    QCPGraph* lookup(const QScriptValue& name) const;
    // The named graph and the call's keys and values; null, with the error
    // raised, for an unknown name or counts that differ.
    QCPGraph* graphWithPoints(const QScriptValue& name, const QScriptValue& key, const QScriptValue& value,
                              QVector<double>* keys, QVector<double>* values);
    JsPlotGraphRecord* record(QCPGraph* graph) { return &m_records[graph]; }
    JsPlotAxisTicker* ticker(const QCPAxis* axis) const;

    // A graph's selection, as a whole: the graph is selected when any of its
    // points is, or when it was selected without points.
    bool isSelected(QCPGraph* graph) const;
    void setSelected(QCPGraph* graph, bool selected);
    // After a change of the points: a selected graph stays selected, whole.
    void reselect(QCPGraph* graph, bool wasSelected);
    // Runs change on the named graph's points (nothing for an unknown name);
    // a selected graph stays selected, whole.
    template <typename Change>
    void changeData(const QScriptValue& name, Change change)
    {
        QCPGraph* graph = lookup(name);
        if (!graph)
            return;
        const bool wasSelected = isSelected(graph);
        change(record(graph)->data);
        reselect(graph, wasSelected);
    }

    // Configuration maps, with the object's stand-in for the keys it declares.
    void writeMap(QObject* target, const QVariantMap& map, QObject* standIn = nullptr);
    QVariantMap readMap(QObject* source) const;

    JsPlotWidget* const q;
    // Name to graph; the plot owns the graphs.
    QHash<QString, QCPGraph*> m_graphs;
    QHash<const QCPGraph*, JsPlotGraphRecord> m_records;
    // The tickers of xAxis, yAxis, xAxis2, yAxis2; each axis holds its own too.
    QSharedPointer<JsPlotAxisTicker> m_tickers[4];
};

#endif // JSPLOTWIDGET_P_H
