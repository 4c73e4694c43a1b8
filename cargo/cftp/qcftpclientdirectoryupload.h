#ifndef QCFTPCLIENTDIRECTORYUPLOAD_H
#define QCFTPCLIENTDIRECTORYUPLOAD_H

#include <QObject>
#include <QString>

class QCFTPClient;
class QCftpClientDirectoryUploadPrivate;

// Copies a local directory tree, or every member of a gzip-compressed tar
// archive, onto a node through a logged-in QCFTPClient: it reads everything
// into a queue first, then creates each directory ("MKD") and stores each
// file ("STR"), one command at a time, each started when the client reports
// the one before finished. Ends with finished(), after error() on failure.
// Nothing is sent when a path is not a possible name on the node
// (QCFTPClient::isPossibleName): the error lists those paths, one a line.
//
// Threads: upload() builds the queue and issues the first command on the
// caller's thread; every later step, progress() and the end run on the
// client's thread, inside its finished() signal. The object may be deleted
// from its own finished().
class QCftpClientDirectoryUpload : public QObject
{
    Q_OBJECT
public:
    explicit QCftpClientDirectoryUpload(QCFTPClient* client, QObject* parent = nullptr);
    ~QCftpClientDirectoryUpload() override;

    // A directory goes below remotePath (a final "/" is added when missing);
    // an archive's members go to their own paths. Waits while another upload
    // of this object runs.
    void upload(const QString& localPath, const QString& remotePath);
    // Waits for the end of the upload started last (negative msecs: no
    // limit); true when it ended without error.
    bool waitForFinished(int msecs = -1);
    QString errorString() const;

signals:
    void error(QString message);
    void finished();
    void progress(QString filename, qint64 current, qint64 total, qint64 completeCurrent,
                  qint64 completeTotal);

private:
    friend class QCftpClientDirectoryUploadPrivate;
    Q_DISABLE_COPY(QCftpClientDirectoryUpload)
    QCftpClientDirectoryUploadPrivate* d;
};

#endif // QCFTPCLIENTDIRECTORYUPLOAD_H
