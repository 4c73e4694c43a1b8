#ifndef QCFTPCLIENTEXPLORERTREEWIDGET_H
#define QCFTPCLIENTEXPLORERTREEWIDGET_H

#include "qcftp.h"
#include "qcftpfile.h"
#include "qcftpfileinfo.h"

#include <QTreeWidget>

#include <memory>

class QCFTPClient;
class QCFTPClientExplorerTreeWidgetItem;
class QCFTPClientExplorerTreeWidgetPrivate;

// A node's file system as its CFTP server lists it, and the file commands
// on it. Each command is a short chain of requests on the client: the
// directory it changes is listed first, the change is made, and the
// directories around it are listed again; the rows change only through
// listings. One chain runs at a time: every command returns false, sending
// nothing, while the client is not ready, while a chain or an archive
// upload runs, and when a path it acts on or the name it would give (a new
// folder, an upload, the target of a move or copy) is not a possible name
// on the node (QCFTPClient::isPossibleName): a listed entry with such a
// name keeps its row, but no command on it goes out, as the node would get
// another name. The end of each request reaches the
// chain's one pending step; a refused request inside a chain, a failed
// request and a dropped link each end the chain with one error().
//
// The tree is disabled while the client is not ready or an archive upload
// runs. It keeps its rows when the link drops; refresh() brings them up to
// date. GUI thread only.
class QCFTPClientExplorerTreeWidget : public QTreeWidget
{
    Q_OBJECT
public:
    explicit QCFTPClientExplorerTreeWidget(QWidget* parent = nullptr);
    ~QCFTPClientExplorerTreeWidget() override;

    // The client the commands use (not owned). Null detaches from the
    // current one: nothing of it reaches the tree afterwards, and a running
    // archive upload is ended. Detach before the client is destroyed.
    void setClient(QCFTPClient* client);
    int clientState() const;

    // Lists the whole tree again: the root, then every loaded directory.
    void refresh();
    // Deletes every row below the root.
    void clear();

    bool listPath(const QString& path);
    bool createPath(const QString& path);
    bool uploadFile(const QCFTPFile& file);
    // Uploads a local ".tar.gz" archive's members (or a local directory's
    // tree) below "/".
    bool uploadFilesystem(const QString& localPath);
    bool downloadFile(const QString& path);
    bool deletePath(const QString& path);
    bool movePath(const QString& sourcepath, const QString& newpath);
    bool copyPath(const QString& sourcepath, const QString& newpath);

    // The row of a path, made (with its parents) when missing.
    QCFTPClientExplorerTreeWidgetItem* itemForPath(const QString& path);
    // Makes the item's children equal to the listing: rows whose entry
    // changed are replaced, with their loaded children.
    void mergeListing(QTreeWidgetItem* item, const QList<QCFTPFileInfo>& list);
    // Widens columns to their contents, never narrows them.
    void resizeColumnsToContents();
    // The item's path and those of the loaded directories below it,
    // parents before children.
    void collectLoadedPaths(QTreeWidgetItem* item, QStringList& list);

signals:
    void error(QString error);
    void transactionBegin();
    void transactionProgress(qlonglong current, qlonglong total);
    void uploadFilesystemTransactionProgress(QString filename, qlonglong current, qlonglong total,
                                             qlonglong completeCurrent, qlonglong completeTotal);
    void transactionFinished();
    void transactionFailed(QString message);
    void downloadFinished(QCFTPFile file);

protected:
    // Drags carry the mark of the tree they left; a drop acts on this
    // tree's selection only when the drag left this very tree, and any
    // other drag is refused, so that its source keeps its rows.
    QMimeData* mimeData(const QList<QTreeWidgetItem*> items) const override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private slots:
    void onCftpStateChanged(QCFTP::Client::State state);
    // Every end of a request on the client; hands it to the pending step.
    void onCftpFinished(QCFTP::ResponseCode rsp);
    void onCftpUploadFilesystemFinished();
    // The steps of the chains, each run by onCftpFinished for the one
    // request it waits for.
    void onCftpActionListFinishedRefresh(QCFTP::ResponseCode rsp);
    void onCfptActionFinished(QCFTP::ResponseCode rsp);
    void onCftpActionListFinishedUpload(QCFTP::ResponseCode rsp);
    void onCftpActionListFinishedMove(QCFTP::ResponseCode rsp);
    void onCftpActionListFinishedCopy(QCFTP::ResponseCode rsp);
    void onCftpActionListFinishedDelete(QCFTP::ResponseCode rsp);
    void onCftpActionListSourceFinished(QCFTP::ResponseCode rsp);
    void onCftpActionListTargetFinished(QCFTP::ResponseCode rsp);
    void onCftpActionDownloadFinsiehd(QCFTP::ResponseCode rsp);

private:
    friend class QCFTPClientExplorerTreeWidgetPrivate;
    Q_DISABLE_COPY(QCFTPClientExplorerTreeWidget)
    std::unique_ptr<QCFTPClientExplorerTreeWidgetPrivate> d;
};

#endif // QCFTPCLIENTEXPLORERTREEWIDGET_H
