#ifndef TESTNODERESET_H
#define TESTNODERESET_H

#include <QObject>

class QErfcStack;
class TestNodeResetFunction;

// Lets the test node be reset like a real node: the MANAGEMENT reset
// (function 4, command 0) is answered OK and the node restarts a moment
// later: it forgets every node and subscriber (disable) and announces
// itself again a second later (enable), which the PC sees as the node
// leaving and coming back. The node keeps its mode.
class TestNodeReset : public QObject
{
    Q_OBJECT
public:
    explicit TestNodeReset(QErfcStack* stack);
    ~TestNodeReset() override;

signals:
    // After the stack was enabled again.
    void restarted();

private:
    friend class TestNodeResetFunction;
    void restart();

    QErfcStack* m_stack;
    TestNodeResetFunction* m_function = nullptr;
};

#endif // TESTNODERESET_H
