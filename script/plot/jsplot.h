#ifndef JSPLOT_H
#define JSPLOT_H

#include "jsrteextension.h"

// The script extension "JsPlot": named numbers for the plot widget's slots
// and configuration maps (pen and brush styles, axes, line styles, line
// endings, interactions, scatter shapes, label and scale settings) and one
// text per colour name Qt knows. Every member is read-only.
class JsPlot : public JsRteExtension
{
    Q_OBJECT
public:
    explicit JsPlot(QObject* parent = nullptr);

    void install(QScriptEngine* engine, QScriptValue& object) override;

private:
    Q_DISABLE_COPY(JsPlot)
};

#endif // JSPLOT_H
