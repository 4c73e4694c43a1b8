#ifndef TESTNODERESET_H
#define TESTNODERESET_H

#include <QObject>

#include <functional>

class QCommandLineParser;
class QErfcStack;
class TestNodeResetFunction;

// Lets the test node be reset like a real node: the MANAGEMENT reset
// (function 4, command 0) is answered OK and the node restarts a moment
// later: it forgets every node and subscriber (disable) and announces
// itself again a second later (enable) with a new run id, which the PC sees
// as the node leaving and coming back. "00 01" restarts it in maintenance,
// "00 00" in its application; "00" alone keeps the mode.
//
// --reset-to-application N: the first N resets into maintenance bring the
// node back in its application instead, as a controller does whose catch
// came too late.
class TestNodeReset : public QObject
{
    Q_OBJECT
public:
    explicit TestNodeReset(QErfcStack* stack);
    ~TestNodeReset() override;

    static void addOptions(QCommandLineParser& parser);
    // False, with a message printed, for an option it cannot read.
    bool readOptions(const QCommandLineParser& parser);

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
    int m_toApplication = 0; // resets into maintenance still to come back in the application
};

#endif // TESTNODERESET_H
