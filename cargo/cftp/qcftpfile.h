#ifndef QCFTPFILE_H
#define QCFTPFILE_H

#include <QByteArray>
#include <QMetaType>
#include <QSharedDataPointer>
#include <QString>

class QCFTPFileData;

// A whole file or directory to transfer: its path on the node, its contents
// and its modification time (seconds since 1970-01-01 UTC). A path that ends
// with "/" names a directory. Copies share their data until one changes.
class QCFTPFile
{
public:
    QCFTPFile(); // empty path, no data, modified now
    QCFTPFile(const QCFTPFile& other);
    QCFTPFile& operator=(const QCFTPFile& other);
    ~QCFTPFile();

    QByteArray data() const;
    int size() const;
    void setData(const QByteArray& data);
    quint32 lastModified() const;
    void setLastModified(const quint32& seconds);
    QString path() const;
    // Stores the path with "/" put in front when missing; nothing else changes.
    void setPath(const QString& path);
    bool isDir() const;
    bool isFile() const;
    QString name() const;       // last segment; a directory keeps its "/"
    QString parentPath() const; // through the last "/"; empty for "/"

private:
    QSharedDataPointer<QCFTPFileData> d;
};

Q_DECLARE_METATYPE(QCFTPFile)

#endif // QCFTPFILE_H
