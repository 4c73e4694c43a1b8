#ifndef QCFTPCLIENTEXPLORERTREEWIDGETITEM_H
#define QCFTPCLIENTEXPLORERTREEWIDGETITEM_H

#include "qcftpfileinfo.h"

#include <QTreeWidgetItem>

// One row of the remote file tree: a listing entry of the node's file
// system. Column 0 shows the name (a directory keeps its "/") with a folder,
// text-file or file icon, column 1 a file's size, column 2 the modification
// time. Rows sort directories first, then by the sort column's text without
// regard to case.
class QCFTPClientExplorerTreeWidgetItem : public QTreeWidgetItem
{
public:
    QCFTPClientExplorerTreeWidgetItem(const QCFTPFileInfo& info, QTreeWidgetItem* parent);
    QCFTPClientExplorerTreeWidgetItem(const QCFTPFileInfo& info, QTreeWidget* view);
    ~QCFTPClientExplorerTreeWidgetItem() override;

    bool operator<(const QTreeWidgetItem& other) const override;

    // Stores the entry and sets the texts and the icon.
    void setFileInfo(const QCFTPFileInfo& info);
    QCFTPFileInfo fileInfo() const;
    // The name ends with one of the text extensions (case-sensitive).
    bool isTextFile() const;

    // "999 B", "1.5 kB", "1000.0 kB", "4.3 GB"; with si false 1024-based
    // ("1.5 KiB").
    static QString formatSize(quint32 bytes, bool si);
    // The extensions of files the text editor opens on a double-click.
    static const QStringList& textExtensions();

private:
    QCFTPFileInfo m_info;
};

#endif // QCFTPCLIENTEXPLORERTREEWIDGETITEM_H
