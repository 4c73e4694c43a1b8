#include "jsrtefilehelper_p.h"
#include "jsrtefileaction_p.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QMutexLocker>

#include <limits>

namespace {

// Sequential devices are read in pieces of this size, so a large byte count
// never becomes one allocation of that size.
constexpr qint64 readChunk = 1024 * 1024;
// The most a QByteArray holds, with room for its header.
constexpr qint64 maxRead = std::numeric_limits<int>::max() - 64;

// At most size bytes from the file's position: the bytes QIODevice::read(size)
// gives, without reserving size bytes up front. A file that is not sequential
// reserves what it holds from its position; reading stops at the first short
// piece, as a single read would.
QByteArray readAtMost(QFile* file, qint64 size)
{
    QByteArray data;
    if (size <= 0)
        return data;
    size = qMin(size, maxRead);
    if (!file->isSequential()) {
        const qint64 held = file->size() - file->pos();
        if (held > 0)
            data.reserve(int(qMin(size, held)));
    }
    qint64 remaining = size;
    while (remaining > 0) {
        const qint64 piece = qMin(remaining, readChunk);
        const int before = data.size();
        data.resize(before + int(piece));
        const qint64 got = file->read(data.data() + before, piece);
        data.resize(before + int(qMax<qint64>(got, 0)));
        if (got < piece)
            break;
        remaining -= got;
    }
    return data;
}

} // namespace

JsRteOpenFile::JsRteOpenFile(QFile* file, const QString& path, int mode)
    : m_file(file)
    , m_path(path)
    , m_mode(mode)
{
}

JsRteOpenFile::~JsRteOpenFile() = default;

JsRteFileHelper::JsRteFileHelper()
{
    // Emitted on the worker thread as it ends and queued to the thread that
    // owns the helper. Only an abandoned helper is still there to take it:
    // one stopped in time is deleted at once, and its pending call with it.
    connect(this, &QThread::finished, this, &QObject::deleteLater, Qt::QueuedConnection);
    start(QThread::InheritPriority);
}

JsRteFileHelper::~JsRteFileHelper()
{
    // Only deleted once the thread has ended; the worker closed its files then.
    closeAll();
}

void JsRteFileHelper::enqueue(JsRteFileAction* action)
{
    {
        QMutexLocker locker(&m_queueMutex);
        m_queue.append(action);
    }
    m_queueSemaphore.release();
}

QList<JsRteFileAction*> JsRteFileHelper::takeQueued()
{
    QMutexLocker locker(&m_queueMutex);
    QList<JsRteFileAction*> taken;
    taken.swap(m_queue);
    return taken;
}

bool JsRteFileHelper::stop(JsRteFileHelper* helper, int timeoutMs, JsRteFileAction** heldAction)
{
    *heldAction = nullptr;
    helper->requestInterruption();
    helper->m_queueSemaphore.release();
    if (helper->wait(QDeadlineTimer(timeoutMs))) {
        delete helper;
        return true;
    }
    // The worker's finished signal deletes the helper; nothing here waits.
    QMutexLocker locker(&helper->m_queueMutex);
    helper->m_abandoned = true;
    if (JsRteFileAction* action = helper->m_current) {
        action->dropScriptValues();
        QObject::disconnect(action, nullptr, nullptr, nullptr);
        *heldAction = action;
    }
    return false;
}

bool JsRteFileHelper::isBusy()
{
    QMutexLocker locker(&m_queueMutex);
    return m_current != nullptr;
}

void JsRteFileHelper::run()
{
    while (!isInterruptionRequested()) {
        m_queueSemaphore.acquire();
        JsRteFileAction* action = nullptr;
        {
            QMutexLocker locker(&m_queueMutex);
            if (m_queue.isEmpty())
                continue;
            action = m_queue.takeFirst();
            m_current = action;
        }

        QString message;
        if (carryOut(action, &message))
            emit action->doneSignal();
        else
            emit action->errorSignal(message);

        bool abandoned = false;
        {
            QMutexLocker locker(&m_queueMutex);
            m_current = nullptr;
            abandoned = m_abandoned;
        }
        // Nobody is left to receive the outcome or to free the action.
        if (abandoned)
            delete action;
    }
    closeAll();
}

bool JsRteFileHelper::carryOut(JsRteFileAction* action, QString* message)
{
    if (action->m_kind == JsRteFileAction::Open) {
        auto file = std::make_unique<QFile>(action->m_path);
        if (!file->open(QIODevice::OpenMode(QFlag(action->m_mode)))) {
            *message = file->errorString();
            return false;
        }
        const int id = takeId(file->handle());
        action->m_id = id;
        m_files.insert(id, new JsRteOpenFile(file.release(), action->m_path, action->m_mode));
        return true;
    }

    JsRteOpenFile* entry = m_files.value(action->m_id);
    if (!entry) {
        *message = QStringLiteral("file not open!");
        return false;
    }
    QFile* file = entry->m_file.get();
    switch (action->m_kind) {
    case JsRteFileAction::Close:
        m_files.remove(action->m_id);
        file->close();
        delete entry;
        return true;
    case JsRteFileAction::Write:
        if (file->write(action->m_data) == -1) {
            *message = file->errorString();
            return false;
        }
        return true;
    case JsRteFileAction::Read:
        // A read never fails: what cannot be read is empty data.
        if (action->m_size == -1)
            action->m_data = file->readAll();
        else if (action->m_size == -2)
            action->m_data = file->readLine();
        else
            action->m_data = readAtMost(file, action->m_size);
        return true;
    case JsRteFileAction::Flush:
        if (!file->flush()) {
            *message = file->errorString();
            return false;
        }
        return true;
    case JsRteFileAction::Open:
        break;
    }
    return true;
}

int JsRteFileHelper::takeId(int descriptor)
{
    if (descriptor >= 0 && !m_files.contains(descriptor))
        return descriptor;
    while (m_files.contains(m_nextPrivateId))
        m_nextPrivateId = m_nextPrivateId == std::numeric_limits<int>::max() ? FirstPrivateId
                                                                            : m_nextPrivateId + 1;
    const int id = m_nextPrivateId;
    m_nextPrivateId = id == std::numeric_limits<int>::max() ? FirstPrivateId : id + 1;
    return id;
}

void JsRteFileHelper::closeAll()
{
    qDeleteAll(m_files);
    m_files.clear();
}
