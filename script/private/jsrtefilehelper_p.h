#ifndef JSRTEFILEHELPER_P_H
#define JSRTEFILEHELPER_P_H

#include <QHash>
#include <QList>
#include <QMutex>
#include <QSemaphore>
#include <QString>
#include <QThread>

#include <memory>

class QFile;
class JsRteFileAction;

// One open file of the worker: the file (owned), its path and open mode.
class JsRteOpenFile
{
public:
    JsRteOpenFile(QFile* file, const QString& path, int mode);
    ~JsRteOpenFile();

    std::unique_ptr<QFile> m_file;
    QString m_path;
    int m_mode;

private:
    Q_DISABLE_COPY(JsRteOpenFile)
};

// The worker thread of one fs extension: carries out file actions one after
// another in the order queued and signals each outcome through the action.
// It starts in the constructor.
//
// The owner stops it with stop(). A worker stuck in a blocking call (a FIFO,
// a device) cannot be waited for without hanging the GUI, and a QThread
// destroyed while running aborts the process; so a worker that does not end
// in time is abandoned: it finishes the call on its own, frees the action it
// holds, closes its files and deletes itself once its thread has ended.
class JsRteFileHelper : public QThread
{
    Q_OBJECT
public:
    // Ids given to open files that have no descriptor of their own, or whose
    // descriptor another open file of this worker already uses.
    static constexpr int FirstPrivateId = 0x10000;

    JsRteFileHelper();
    ~JsRteFileHelper() override;

    // GUI thread: appends the action to the queue.
    void enqueue(JsRteFileAction* action);
    // GUI thread: empties the queue and returns what it held, in queue order.
    QList<JsRteFileAction*> takeQueued();
    // GUI thread: ends the worker, waiting at most timeoutMs for its thread.
    // Returns true when the thread has ended and the helper was deleted;
    // otherwise the helper is abandoned (it deletes itself later) and
    // *heldAction is the action the worker still carries out, or null. The
    // worker frees that action; its script values are dropped here.
    static bool stop(JsRteFileHelper* helper, int timeoutMs, JsRteFileAction** heldAction);
    // Whether the worker is carrying out an action at this moment.
    bool isBusy();

protected:
    void run() override;

private:
    bool carryOut(JsRteFileAction* action, QString* message);
    int takeId(int descriptor);
    void closeAll();

    // Worker thread only while the thread runs.
    QHash<int, JsRteOpenFile*> m_files;
    int m_nextPrivateId = FirstPrivateId;

    // Guarded by m_queueMutex.
    QList<JsRteFileAction*> m_queue;
    JsRteFileAction* m_current = nullptr;
    bool m_abandoned = false;
    QSemaphore m_queueSemaphore;
    QMutex m_queueMutex;

    Q_DISABLE_COPY(JsRteFileHelper)
};

#endif // JSRTEFILEHELPER_P_H
