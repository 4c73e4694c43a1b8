#ifndef QCFTPFILEINFO_H
#define QCFTPFILEINFO_H

#include <QList>
#include <QMetaType>
#include <QSharedDataPointer>
#include <QString>

class QCFTPFileInfoData;

// One entry of a directory listing: path (as in QCFTPFile), modification
// time in seconds since 1970-01-01 UTC, and size in bytes.
class QCFTPFileInfo
{
public:
    QCFTPFileInfo(); // empty path, modified now, size 0
    QCFTPFileInfo(const QCFTPFileInfo& other);
    QCFTPFileInfo& operator=(const QCFTPFileInfo& other);
    ~QCFTPFileInfo();

    quint32 size() const;
    void setSize(uint size);
    quint32 lastModified() const;
    void setLastModified(const quint32& seconds);
    QString path() const;
    void setPath(const QString& path); // "/" put in front when missing
    bool isDir() const;
    bool isFile() const;
    QString name() const;
    QString parentPath() const;

    // Equal path, size and modification time.
    bool operator==(const QCFTPFileInfo& other) const;
    bool operator!=(const QCFTPFileInfo& other) const { return !(*this == other); }

private:
    QSharedDataPointer<QCFTPFileInfoData> d;
};

Q_DECLARE_METATYPE(QCFTPFileInfo)

#endif // QCFTPFILEINFO_H
