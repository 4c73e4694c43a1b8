#include "qcftpclientdirectoryupload.h"
#include "qcftpclient.h"
#include "qcftpclient_p.h"
#include "qcftpclientdirectoryupload_p.h"
#include "tarreader.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QThread>

namespace {

const QString CantRead = QStringLiteral("Can't open file for read access, path: ");
const QString CantExtract = QStringLiteral("Error extracting file, path: ");
const QString MoreBadNames = QStringLiteral("... and %1 more");
const QString NotReady = QStringLiteral("CFTP client not ready");
// At most this many refused names are listed: the text goes into a message box.
constexpr int ListedBadNames = 20;

quint32 seconds(const QFileInfo& info)
{
    return quint32(info.lastModified().toMSecsSinceEpoch() / 1000);
}

} // namespace

// ---------------------------------------------------------------- the guard

QCftpClientDirectoryUploadPrivate* QCftpUploadGuard::enter()
{
    QMutexLocker locker(&lock);
    if (!owner)
        return nullptr;
    ++running;
    runningThread = QThread::currentThreadId();
    return owner;
}

void QCftpUploadGuard::leave()
{
    QMutexLocker locker(&lock);
    if (--running == 0)
        runningThread = nullptr;
    idle.wakeAll();
}

bool QCftpUploadGuard::alive()
{
    QMutexLocker locker(&lock);
    return owner != nullptr;
}

void QCftpUploadGuard::shut()
{
    QMutexLocker locker(&lock);
    owner = nullptr;
    // A call running on this very thread is what deletes the upload: it
    // sees the guard shut when its signal returns.
    while (running > 0 && runningThread != QThread::currentThreadId())
        idle.wait(&lock);
}

// ---------------------------------------------------------------- QCftpClientDirectoryUpload

QCftpClientDirectoryUpload::QCftpClientDirectoryUpload(QCFTPClient* client, QObject* parent)
    : QObject(parent)
    , d(new QCftpClientDirectoryUploadPrivate(this, client))
{
}

QCftpClientDirectoryUpload::~QCftpClientDirectoryUpload()
{
    delete d;
}

void QCftpClientDirectoryUpload::upload(const QString& localPath, const QString& remotePath)
{
    d->begin();
    const QFileInfo local(localPath);
    if (local.isDir()) {
        QString remote = remotePath;
        if (!remote.endsWith(QLatin1Char('/')))
            remote += QLatin1Char('/');
        QString failure = d->scan(local, remote);
        if (failure.isEmpty())
            failure = d->checkQueue();
        if (!failure.isEmpty())
            return d->end(failure);
        return d->nextStep();
    }

    QFile file(localPath);
    if (!file.open(QIODevice::ReadOnly))
        return d->end(CantRead + localPath);
    const QByteArray bytes = file.readAll();
    file.close();
    bool ok = false;
    const QList<TarEntry> entries = readTarGz(bytes, &ok);
    if (!ok)
        return d->end(CantExtract + localPath);
    QString failure = d->addArchive(entries, localPath);
    if (failure.isEmpty())
        failure = d->checkQueue();
    if (!failure.isEmpty())
        return d->end(failure);
    d->nextStep();
}

bool QCftpClientDirectoryUpload::waitForFinished(int msecs)
{
    if (msecs < 0)
        d->finishedGate.acquire();
    else if (!d->finishedGate.tryAcquire(1, msecs))
        return false;
    QMutexLocker lock(&d->lock);
    return d->errorString.isEmpty();
}

QString QCftpClientDirectoryUpload::errorString() const
{
    QMutexLocker lock(&d->lock);
    return d->errorString;
}

// ---------------------------------------------------------------- QCftpClientDirectoryUploadPrivate

QCftpClientDirectoryUploadPrivate::QCftpClientDirectoryUploadPrivate(QCftpClientDirectoryUpload* owner,
                                                                     QCFTPClient* c)
    : QObject(owner)
    , q(owner)
    , client(c)
    , guard(std::make_shared<QCftpUploadGuard>())
{
    guard->owner = this;
    // Direct: each step runs on the thread the client emits on, inside its finished().
    const std::shared_ptr<QCftpUploadGuard> g = guard;
    finishedConnection = connect(client, &QCFTPClient::finished, client, [g](QCFTP::ResponseCode rsp) {
        if (QCftpClientDirectoryUploadPrivate* p = g->enter()) {
            p->onClientFinished(rsp);
            g->leave();
        }
    }, Qt::DirectConnection);
    progressConnection = connect(client, &QCFTPClient::transactionProgress, client,
                                 [g](qlonglong current, qlonglong total) {
        if (QCftpClientDirectoryUploadPrivate* p = g->enter()) {
            p->onClientTransactionProgress(current, total);
            g->leave();
        }
    }, Qt::DirectConnection);
}

QCftpClientDirectoryUploadPrivate::~QCftpClientDirectoryUploadPrivate()
{
    QObject::disconnect(finishedConnection);
    QObject::disconnect(progressConnection);
    guard->shut();
}

void QCftpClientDirectoryUploadPrivate::begin()
{
    idleGate.acquire();
    QMutexLocker locker(&lock);
    queue.clear();
    currentSize = completed = total = reported = 0;
    currentName.clear();
    errorString.clear();
    awaiting = false;
    finishedGate.tryAcquire(finishedGate.available());
}

void QCftpClientDirectoryUploadPrivate::uploadEntries(const QList<TarEntry>& entries, const QString& archiveName)
{
    begin();
    QString failure = addArchive(entries, archiveName);
    if (failure.isEmpty())
        failure = checkQueue();
    if (!failure.isEmpty())
        return end(failure);
    nextStep();
}

QString QCftpClientDirectoryUploadPrivate::scan(const QFileInfo& local, const QString& remotePath)
{
    QCFTPFile record;
    record.setPath(remotePath);
    record.setLastModified(seconds(local));
    if (!local.isDir()) {
        QFile file(local.filePath());
        if (!file.open(QIODevice::ReadOnly))
            return CantRead + local.filePath();
        record.setData(file.readAll());
        QMutexLocker locker(&lock);
        total += record.size();
        queue.append(record);
        return QString();
    }
    if (record.path() != QLatin1String("/")) {
        QMutexLocker locker(&lock);
        queue.append(record);
    }
    // Links are not followed: they could lead out of the tree, or round in circles.
    const QFileInfoList entries = QDir(local.filePath())
                                      .entryInfoList(QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot
                                                         | QDir::NoSymLinks,
                                                     QDir::DirsFirst | QDir::Name);
    for (const QFileInfo& entry : entries) {
        const QString remote = record.path() + entry.fileName() + (entry.isDir() ? QStringLiteral("/") : QString());
        const QString failure = scan(entry, remote);
        if (!failure.isEmpty())
            return failure;
    }
    return QString();
}

bool QCftpClientDirectoryUploadPrivate::normaliseMemberName(const QString& name, QString* out)
{
    const bool dir = name.endsWith(QLatin1Char('/'));
    QStringList kept;
    for (const QString& segment : name.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (segment == QLatin1String("."))
            continue;
        if (segment == QLatin1String("..")) {
            if (kept.isEmpty())
                return false;
            kept.removeLast();
            continue;
        }
        kept.append(segment);
    }
    QString path = QLatin1Char('/') + kept.join(QLatin1Char('/'));
    if (dir && !kept.isEmpty())
        path += QLatin1Char('/');
    *out = path;
    return true;
}

QString QCftpClientDirectoryUploadPrivate::addArchive(const QList<TarEntry>& entries, const QString& archiveName)
{
    QList<QCFTPFile> records;
    qint64 bytes = 0;
    for (const TarEntry& entry : entries) {
        QString path;
        if (!normaliseMemberName(entry.name, &path))
            return CantExtract + archiveName;
        QCFTPFile record;
        record.setPath(path);
        record.setData(entry.data);
        bytes += record.size();
        records.append(record);
    }
    QMutexLocker locker(&lock);
    queue += records;
    total += bytes;
    return QString();
}

QString QCftpClientDirectoryUploadPrivate::checkQueue() const
{
    // Every path must reach the node as it is: one that would not could
    // land under another name, or on another member's.
    QMutexLocker locker(&lock);
    QStringList refused;
    int more = 0;
    for (const QCFTPFile& record : queue) {
        if (QCFTPClient::isPossibleName(record.path()))
            continue;
        if (refused.size() < ListedBadNames)
            refused << QCFTPClientPrivate::refusedNameText(record.path());
        else
            ++more;
    }
    if (more > 0)
        refused << MoreBadNames.arg(more);
    return refused.join(QLatin1Char('\n'));
}

void QCftpClientDirectoryUploadPrivate::nextStep()
{
    QCFTPFile record;
    quint64 number;
    {
        QMutexLocker locker(&lock);
        if (queue.isEmpty()) {
            locker.unlock();
            return end(QString());
        }
        record = queue.takeFirst();
        currentName = record.name();
        completed += currentSize;
        currentSize = record.isDir() ? 0 : record.size();
        awaiting = true;
        armed = false;
        number = ++issued;
    }
    // The client's state turns Ready before the finished() of the command
    // that ended goes out, so a command may start here while that finished()
    // is still to come. The client's thread handles its events in order: an
    // event queued there ahead of the command runs after any finished()
    // already under way and before the command is written, so before its
    // answer can come.
    const std::shared_ptr<QCftpUploadGuard> g = guard;
    QMetaObject::invokeMethod(QCFTPClientPrivate::get(client), [g, number] {
        if (QCftpClientDirectoryUploadPrivate* p = g->enter()) {
            {
                QMutexLocker locker(&p->lock);
                if (p->issued == number)
                    p->armed = true;
            }
            g->leave();
        }
    }, Qt::QueuedConnection);
    const bool sent = record.isDir() ? client->createPath(record.path()) : client->uploadFile(record);
    if (sent)
        return;
    {
        QMutexLocker locker(&lock);
        awaiting = false;
    }
    const QString text = client->errorString();
    end(text.isEmpty() ? NotReady : text);
}

void QCftpClientDirectoryUploadPrivate::end(const QString& text)
{
    {
        QMutexLocker locker(&lock);
        errorString = text;
        queue.clear(); // nothing of a failed upload is sent later
        awaiting = false;
    }
    idleGate.release();
    finishedGate.release();
    const std::shared_ptr<QCftpUploadGuard> g = guard;
    QCftpClientDirectoryUpload* owner = q;
    if (!text.isEmpty()) {
        emit owner->error(text);
        if (!g->alive())
            return;
    }
    emit owner->finished();
}

void QCftpClientDirectoryUploadPrivate::onClientFinished(QCFTP::ResponseCode rsp)
{
    QString name;
    qint64 size = 0, overall = 0, all = 0;
    {
        // Only the end of a command this upload issued moves it on.
        QMutexLocker locker(&lock);
        // A lost connection ends whatever is in flight, taken up or not.
        if (!awaiting || (!armed && rsp != QCFTP::ConnectionLost))
            return;
        awaiting = false;
        // The stream's last progress may come after the node's answer, and
        // is then no longer taken: a file sent whole is reported whole here.
        if (rsp == QCFTP::Success && currentSize > 0 && reported < completed + currentSize) {
            name = currentName;
            size = currentSize;
            overall = reported = completed + currentSize;
            all = total;
        }
    }
    if (size > 0)
        emit q->progress(name, size, size, overall, all);
    if (rsp == QCFTP::Success)
        return nextStep();
    const QString text = client->errorString();
    end(text.isEmpty() ? NotReady : text);
}

void QCftpClientDirectoryUploadPrivate::onClientTransactionProgress(qint64 current, qint64 transfer)
{
    QString name;
    qint64 overall, all;
    {
        QMutexLocker locker(&lock);
        if (!awaiting || !armed)
            return;
        name = currentName;
        // The stream counts the request's header too: the file's part stops at its size.
        overall = completed + qBound<qint64>(0, current, currentSize);
        all = total;
        reported = overall;
    }
    emit q->progress(name, current, transfer, overall, all);
}
