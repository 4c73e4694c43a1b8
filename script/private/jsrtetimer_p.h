#ifndef JSRTETIMER_P_H
#define JSRTETIMER_P_H

#include "jsrtetimer.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QScriptValue>
#include <QTimer>

// One script timer: the id the script got, the function to call and the
// this object of the code that created it.
class JsRteTimerHelper : public QTimer
{
    Q_OBJECT
public:
    JsRteTimerHelper() = default;

    int m_id = 0;
    bool m_waiting = false; // a call waits for the script to be idle
    QScriptValue m_function;
    QScriptValue m_thisObject;
};

class JsRteTimerPrivate : public QObject
{
    Q_OBJECT
public:
    explicit JsRteTimerPrivate(JsRteTimer* q);
    ~JsRteTimerPrivate() override;

    static JsRteTimerPrivate* get(JsRteTimer* q) { return q->d.get(); }

    int create(int timeout, const QScriptValue& function, bool singleShot);
    bool stop(int id);
    int setInterval(int id, int interval);

    JsRteTimer* const q;
    // Owned: the running timers in the order of creation.
    QList<JsRteTimerHelper*> m_timers;
    // Stopped timers awaiting their deferred deletion; deleted here if the
    // event loop does not get to them first.
    QList<QPointer<JsRteTimerHelper>> m_retired;
    int m_lastId = 0;
    bool m_suspended = false;

public slots:
    void onTimerTimeout();
};

#endif // JSRTETIMER_P_H
