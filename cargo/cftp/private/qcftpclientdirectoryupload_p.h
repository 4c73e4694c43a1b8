#ifndef QCFTPCLIENTDIRECTORYUPLOAD_P_H
#define QCFTPCLIENTDIRECTORYUPLOAD_P_H

#include "qcftp.h"
#include "qcftpclientdirectoryupload.h"
#include "qcftpfile.h"
#include "tarentry.h"

#include <QFileInfo>
#include <QMutex>
#include <QSemaphore>
#include <QWaitCondition>

#include <memory>

class QCFTPClient;

// What the client's signals reach of an upload. The upload shuts it (and
// waits for a call running on another thread) before it goes; a call on the
// deleting thread itself sees it shut after each signal it emits.
struct QCftpUploadGuard
{
    QMutex lock;
    QWaitCondition idle;
    QCftpClientDirectoryUploadPrivate* owner = nullptr;
    int running = 0;
    Qt::HANDLE runningThread = nullptr;

    QCftpClientDirectoryUploadPrivate* enter();
    void leave();
    bool alive();
    void shut(); // from the destructor
};

class QCftpClientDirectoryUploadPrivate : public QObject
{
    Q_OBJECT
public:
    QCftpClientDirectoryUploadPrivate(QCftpClientDirectoryUpload* q, QCFTPClient* client);
    ~QCftpClientDirectoryUploadPrivate() override;

    static QCftpClientDirectoryUploadPrivate* get(QCftpClientDirectoryUpload* q) { return q->d; }

    // The archive branch of upload() from the unpacked members on: builds
    // the queue from them and issues the first command. `archiveName` is
    // what failures name.
    void uploadEntries(const QList<TarEntry>& entries, const QString& archiveName);

    // An archive member's name made absolute and clean; a directory keeps its
    // final "/". False when it climbs above "/".
    static bool normaliseMemberName(const QString& name, QString* out);

    QCftpClientDirectoryUpload* q;
    QCFTPClient* client;
    std::shared_ptr<QCftpUploadGuard> guard;
    QMetaObject::Connection finishedConnection;
    QMetaObject::Connection progressConnection;

    QSemaphore idleGate{1};
    QSemaphore finishedGate{0};

    mutable QMutex lock; // the fields below
    QList<QCFTPFile> queue;
    QString errorString;
    QString currentName;
    qint64 currentSize = 0;
    qint64 completed = 0;
    qint64 reported = 0; // the overall figure last reported
    qint64 total = 0;
    bool awaiting = false; // a command this upload issued is in flight
    // The client's thread has taken up the command in flight: every
    // finished() it emits from then on can only be that command's. One
    // emitted before (the end of an earlier command, whose Ready the upload
    // saw before its finished() went out) is not.
    bool armed = false;
    quint64 issued = 0; // counts the commands issued

private:
    friend class QCftpClientDirectoryUpload;
    void begin();
    // Each returns an error text, or an empty one.
    QString scan(const QFileInfo& local, const QString& remotePath);
    QString addArchive(const QList<TarEntry>& entries, const QString& archiveName);
    QString checkQueue() const;
    void nextStep();
    // Ends the upload; `text` empty: success. Emits and may see itself deleted.
    void end(const QString& text);

    void onClientFinished(QCFTP::ResponseCode rsp);
    void onClientTransactionProgress(qint64 current, qint64 total);
};

#endif // QCFTPCLIENTDIRECTORYUPLOAD_P_H
