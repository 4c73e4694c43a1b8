#include "qcftpfile.h"
#include "qcftprecordpath_p.h"

class QCFTPFileData : public QSharedData
{
public:
    QString m_path;
    QByteArray m_data;
    quint32 m_lastModified = QCftpRecordPath::now();
};

QCFTPFile::QCFTPFile()
    : d(new QCFTPFileData)
{
}

QCFTPFile::QCFTPFile(const QCFTPFile& other) = default;
QCFTPFile& QCFTPFile::operator=(const QCFTPFile& other) = default;
QCFTPFile::~QCFTPFile() = default;

QByteArray QCFTPFile::data() const { return d->m_data; }
int QCFTPFile::size() const { return d->m_data.size(); }
void QCFTPFile::setData(const QByteArray& data) { d->m_data = data; }
quint32 QCFTPFile::lastModified() const { return d->m_lastModified; }
void QCFTPFile::setLastModified(const quint32& seconds) { d->m_lastModified = seconds; }
QString QCFTPFile::path() const { return d->m_path; }
void QCFTPFile::setPath(const QString& path) { d->m_path = QCftpRecordPath::withLeadingSlash(path); }
bool QCFTPFile::isDir() const { return QCftpRecordPath::isDir(d->m_path); }
bool QCFTPFile::isFile() const { return !isDir(); }
QString QCFTPFile::name() const { return QCftpRecordPath::name(d->m_path); }
QString QCFTPFile::parentPath() const { return QCftpRecordPath::parentPath(d->m_path); }
