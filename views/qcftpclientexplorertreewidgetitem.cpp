#include "qcftpclientexplorertreewidgetitem.h"
#include "viewsresources.h"

#include <QDateTime>
#include <QFileIconProvider>
#include <QTreeWidget>

namespace {

QFileIconProvider& iconProvider()
{
    static QFileIconProvider provider;
    return provider;
}

const QIcon& textFileIcon()
{
    static const QIcon icon = [] {
        initViewsResources();
        return QIcon(QStringLiteral(":/img/resource/file_text.png"));
    }();
    return icon;
}

} // namespace

QCFTPClientExplorerTreeWidgetItem::QCFTPClientExplorerTreeWidgetItem(const QCFTPFileInfo& info,
                                                                     QTreeWidgetItem* parent)
    : QTreeWidgetItem(parent)
{
    setFileInfo(info);
}

QCFTPClientExplorerTreeWidgetItem::QCFTPClientExplorerTreeWidgetItem(const QCFTPFileInfo& info, QTreeWidget* view)
    : QTreeWidgetItem(view)
{
    setFileInfo(info);
}

QCFTPClientExplorerTreeWidgetItem::~QCFTPClientExplorerTreeWidgetItem() = default;

const QStringList& QCFTPClientExplorerTreeWidgetItem::textExtensions()
{
    static const QStringList extensions{
        QStringLiteral(".lua"),    QStringLiteral(".lp"),      QStringLiteral(".txt"),  QStringLiteral(".text"),
        QStringLiteral(".luadoc"), QStringLiteral(".doclua"),  QStringLiteral(".html"), QStringLiteral(".php"),
        QStringLiteral(".css"),    QStringLiteral(".xml"),     QStringLiteral(".js"),   QStringLiteral(".json"),
        QStringLiteral(".config"), QStringLiteral(".conf"),    QStringLiteral(".ini")};
    return extensions;
}

void QCFTPClientExplorerTreeWidgetItem::setFileInfo(const QCFTPFileInfo& info)
{
    m_info = info;
    setText(0, info.isDir() && info.path() == QLatin1String("/") ? QStringLiteral("/") : info.name());
    if (info.isFile())
        setText(1, QStringLiteral("%1 (%2)").arg(formatSize(info.size(), true)).arg(info.size()));
    else
        setText(1, QString());
    if (info.lastModified() != 0) {
        setText(2, QDateTime::fromSecsSinceEpoch(qint64(info.lastModified()))
                       .toLocalTime()
                       .toString(QStringLiteral("yyyy-MM-dd hh:mm.ss")));
    } else {
        setText(2, QString());
    }
    if (info.isDir())
        setIcon(0, iconProvider().icon(QFileIconProvider::Folder));
    else if (isTextFile())
        setIcon(0, textFileIcon());
    else
        setIcon(0, iconProvider().icon(QFileIconProvider::File));
}

QCFTPFileInfo QCFTPClientExplorerTreeWidgetItem::fileInfo() const
{
    return m_info;
}

bool QCFTPClientExplorerTreeWidgetItem::isTextFile() const
{
    const QString name = m_info.name();
    for (const QString& extension : textExtensions()) {
        if (name.endsWith(extension, Qt::CaseSensitive))
            return true;
    }
    return false;
}

QString QCFTPClientExplorerTreeWidgetItem::formatSize(quint32 bytes, bool si)
{
    const quint64 unit = si ? 1000 : 1024;
    if (bytes < unit)
        return QStringLiteral("%1 B").arg(bytes);
    // The largest power of the unit not above the size, counted exactly.
    int exponent = 0;
    quint64 scale = 1;
    while (scale * unit <= bytes) {
        scale *= unit;
        ++exponent;
    }
    const QChar letter = QLatin1String(si ? "kMGTPE" : "KMGTPE").at(exponent - 1);
    const QString prefix = QString(letter) + (si ? QString() : QStringLiteral("i"));
    return QStringLiteral("%1 %2B").arg(QString::number(double(bytes) / double(scale), 'f', 1), prefix);
}

bool QCFTPClientExplorerTreeWidgetItem::operator<(const QTreeWidgetItem& other) const
{
    const bool otherIsDir = other.text(0).endsWith(QLatin1Char('/'));
    const bool isDir = m_info.isDir();
    if (otherIsDir && !isDir)
        return true;
    if (!otherIsDir && isDir)
        return false;
    const QTreeWidget* view = treeWidget();
    const int column = view ? view->sortColumn() : 0;
    // The other row's text on the left: in the view's initial descending
    // order this gives names from A to Z.
    return other.text(column).toLower() < text(column).toLower();
}
