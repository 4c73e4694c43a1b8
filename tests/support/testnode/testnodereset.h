#ifndef TESTNODERESET_H
#define TESTNODERESET_H

#include <QObject>

#include <functional>

class QErfcStack;
class TestNodeResetFunction;

// Lets the test node be reset like a real node: the MANAGEMENT reset
// (function 4, command 0) is answered OK and the node restarts a moment
// later: it forgets every node and subscriber (disable) and announces
// itself again a second later (enable) with a new run id, which the PC sees
// as the node leaving and coming back. "00 01" restarts it in maintenance,
// "00 00" in its application; "00" alone keeps the mode.
class TestNodeReset : public QObject
{
    Q_OBJECT
public:
    explicit TestNodeReset(QErfcStack* stack);
    ~TestNodeReset() override;

    // Called on the stack thread with each MANAGEMENT payload received; set
    // before the node goes on line.
    void setRecorder(std::function<void(const QByteArray&)> recorder) { m_recorder = std::move(recorder); }

signals:
    // After the stack was enabled again.
    void restarted();

private:
    friend class TestNodeResetFunction;
    void restart(int mode); // -1 keeps the mode

    QErfcStack* m_stack;
    TestNodeResetFunction* m_function = nullptr;
    std::function<void(const QByteArray&)> m_recorder;
};

#endif // TESTNODERESET_H
