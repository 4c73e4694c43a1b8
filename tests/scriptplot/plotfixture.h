#ifndef PLOTFIXTURE_H
#define PLOTFIXTURE_H

#include "jsplot.h"
#include "jsplotwidget.h"
#include "jsplotwidgetfactory.h"
#include "jsrte.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QScriptValueIterator>
#include <QTemporaryDir>
#include <QWidget>

// A script engine with JsPlot and the plot factory running a form that holds
// one plot, "ui.plot", shown offscreen in a window of the given size.
class PlotFixture
{
public:
    explicit PlotFixture(const QSize& size = QSize(500, 350))
    {
        write("main.ui", R"(<ui version="4.0"><widget class="QWidget" name="Form">
 <layout class="QVBoxLayout" name="layout">
  <property name="leftMargin"><number>0</number></property>
  <property name="topMargin"><number>0</number></property>
  <property name="rightMargin"><number>0</number></property>
  <property name="bottomMargin"><number>0</number></property>
  <item><widget class="JsPlot" name="plot"/></item>
 </layout>
</widget></ui>)");
        write("main.js", "function Entry(ui) {}\n"
                         "var information = {name: 'Plot', uifile: 'main.ui', entry: Entry};\n");
        engine.reset(new JsRte);
        engine->setUiHost(&host);
        engine->registerExtension(new JsPlot, JsRte::DeleteOnDestroy);
        engine->registerWidgetFactory(new JsPlotWidgetFactory, JsRte::DeleteOnDestroy);
        engine->startScript(m_dir.path() + "/main.js", false);
        plot = qobject_cast<JsPlotWidget*>(
            engine->globalObject().property("ui").property("plot").toQObject());
        host.resize(size);
        host.show();
        settle();
    }

    // Lets pending layout requests run and lays the plot out.
    void settle()
    {
        QCoreApplication::processEvents();
        plot->replot(QCustomPlot::rpImmediateRefresh);
    }

    // The points of a graph, "key:value" joined by commas.
    QString points(const QString& name) const
    {
        QStringList texts;
        const QCPGraph* graph = plot->graph(name);
        if (!graph)
            return QStringLiteral("no graph");
        for (auto it = graph->data()->constBegin(); it != graph->data()->constEnd(); ++it)
            texts.append(QString::number(it->key) + ':' + QString::number(it->value));
        return texts.join(',');
    }

    // The script's result as text; an uncaught error gives "Error: " and its message.
    QString eval(const QString& code)
    {
        const QScriptValue result = engine->QScriptEngine::evaluate(code);
        engine->clearExceptions();
        return result.toString();
    }
    QVariant value(const QString& code) { return engine->QScriptEngine::evaluate(code).toVariant(); }

    QWidget host;
    QScopedPointer<JsRte> engine;
    JsPlotWidget* plot = nullptr;

private:
    void write(const QString& name, const QByteArray& data)
    {
        QFile file(m_dir.path() + '/' + name);
        if (!file.open(QIODevice::WriteOnly))
            qFatal("cannot write %s", qPrintable(name));
        file.write(data);
    }

    QTemporaryDir m_dir;
};

#endif // PLOTFIXTURE_H
