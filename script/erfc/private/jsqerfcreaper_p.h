#ifndef JSQERFCREAPER_P_H
#define JSQERFCREAPER_P_H

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>

class JsQErfcEventConnect;
class QErfcStack;

// Frees the subscription objects that bindings let go (replaced, or left at
// teardown) once the stack is done with them. A connected one is
// unsubscribed first and freed when that ends (disconnected, or in error);
// one whose subscribe request is on its way is kept for the answer and then
// unsubscribed or freed; any other is freed at once. One per process, on the
// GUI thread.
class JsQErfcReaper : public QObject
{
    Q_OBJECT
public:
    static JsQErfcReaper* instance();

    void take(QErfcStack* stack, JsQErfcEventConnect* subscription);
    // A newer subscription to the same pair has been sent: the node keeps the
    // pair's subscription for that one, so this one is freed without an
    // unsubscribe.
    void supersede(JsQErfcEventConnect* subscription);
    // Subscriptions waiting to be freed.
    int held() const { return m_held.size(); }

private:
    JsQErfcReaper() = default;
    void review(JsQErfcEventConnect* subscription);
    void release(JsQErfcEventConnect* subscription);

    QHash<JsQErfcEventConnect*, QPointer<QErfcStack>> m_held;
    QSet<QErfcStack*> m_watched; // stacks whose end frees what is held for them
};

#endif // JSQERFCREAPER_P_H
