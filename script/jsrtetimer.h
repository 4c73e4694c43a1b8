#ifndef JSRTETIMER_H
#define JSRTETIMER_H

#include "jsrteextension.h"

#include <QScriptable>
#include <QScriptValue>
#include <memory>

class JsRteTimerPrivate;

// The script extension "timer": periodic and one-shot timers that call a
// script function on the GUI thread. Ids count from 1 and are never given
// twice by one extension. While the debugger holds the script, expiries call
// nothing.
class JsRteTimer : public JsRteExtension, protected QScriptable
{
    Q_OBJECT
public:
    explicit JsRteTimer(QObject* parent = nullptr);
    ~JsRteTimer() override;

    void resume() override;
    void suspend() override;

public slots:
    // A periodic timer; its id.
    int start(int timeout, const QScriptValue& function);
    // A timer that fires once and is then gone; its id.
    int singleShot(int timeout, const QScriptValue& function);
    // True when a timer with that id was stopped.
    bool stop(int index);
    // The id when the timer exists, else 0.
    int setInterval(int index, int interval);

private:
    friend class JsRteTimerPrivate;
    Q_DISABLE_COPY(JsRteTimer)
    std::unique_ptr<JsRteTimerPrivate> d;
};

#endif // JSRTETIMER_H
