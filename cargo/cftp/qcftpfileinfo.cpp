#include "qcftpfileinfo.h"
#include "qcftprecordpath_p.h"

class QCFTPFileInfoData : public QSharedData
{
public:
    QString m_path;
    quint32 m_lastModified = QCftpRecordPath::now();
    quint32 m_size = 0;
};

QCFTPFileInfo::QCFTPFileInfo()
    : d(new QCFTPFileInfoData)
{
}

QCFTPFileInfo::QCFTPFileInfo(const QCFTPFileInfo& other) = default;
QCFTPFileInfo& QCFTPFileInfo::operator=(const QCFTPFileInfo& other) = default;
QCFTPFileInfo::~QCFTPFileInfo() = default;

quint32 QCFTPFileInfo::size() const { return d->m_size; }
void QCFTPFileInfo::setSize(uint size) { d->m_size = size; }
quint32 QCFTPFileInfo::lastModified() const { return d->m_lastModified; }
void QCFTPFileInfo::setLastModified(const quint32& seconds) { d->m_lastModified = seconds; }
QString QCFTPFileInfo::path() const { return d->m_path; }
void QCFTPFileInfo::setPath(const QString& path) { d->m_path = QCftpRecordPath::withLeadingSlash(path); }
bool QCFTPFileInfo::isDir() const { return QCftpRecordPath::isDir(d->m_path); }
bool QCFTPFileInfo::isFile() const { return !isDir(); }
QString QCFTPFileInfo::name() const { return QCftpRecordPath::name(d->m_path); }
QString QCFTPFileInfo::parentPath() const { return QCftpRecordPath::parentPath(d->m_path); }

bool QCFTPFileInfo::operator==(const QCFTPFileInfo& other) const
{
    return d->m_path == other.d->m_path && d->m_size == other.d->m_size
        && d->m_lastModified == other.d->m_lastModified;
}
