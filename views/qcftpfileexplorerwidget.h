#ifndef QCFTPFILEEXPLORERWIDGET_H
#define QCFTPFILEEXPLORERWIDGET_H

#include "qcftp.h"
#include "qcftpfile.h"

#include <QWidget>

#include <memory>

class QErfcNodeInfo;
class QErfcStack;
class QTreeWidgetItem;
class QCFTPFileExplorerWidgetPrivate;

// The file explorer of one node: logs in to the node's file service (CFTP
// on function 125) with the credential dialog, shows its file system in a
// remote file tree, and runs the commands of the tree's context menu, keys
// and double-click. When the node's information is read anew and it is
// still the device of the last interactive login, and its login was
// remembered, it logs in again by itself 2500 ms after the last such
// report. Transfers show in a progress bar with their rate; failures in a
// box titled "Node: <address> Explorer Error". Files open in text editor
// windows, children of the explorer that save through its tree; closing the
// explorer closes them first, and an editor that stays keeps it open.
//
// The credential dialog opens from the constructor. GUI thread only.
class QCFTPFileExplorerWidget : public QWidget
{
    Q_OBJECT
public:
    QCFTPFileExplorerWidget(QErfcStack* stack, uchar addr, QWidget* parent = nullptr);
    ~QCFTPFileExplorerWidget() override;

    // The interactive login; while the client is not disconnected it
    // disconnects instead (the Reconnect button aborts a connect).
    void login();

    bool eventFilter(QObject* watched, QEvent* event) override;

    // The form's size at least, and wide enough for the tree's columns with
    // a typical file's name, size and date in full, within the
    // multi-document area that holds the explorer.
    QSize sizeHint() const override;

    // The commands on a tree entry. Each takes what it needs of the entry
    // before it opens any dialog.
    void openDirectory(QTreeWidgetItem* item);
    void createDirectory(QTreeWidgetItem* item);
    void deleteItem(QTreeWidgetItem* item);
    void uploadArchive(QTreeWidgetItem* item);
    void editFile(QTreeWidgetItem* item);
    void moveItem(QTreeWidgetItem* item);
    void createNewFile(QTreeWidgetItem* item);
    void uploadFile(QTreeWidgetItem* item);
    void downloadFile(QTreeWidgetItem* item);

public slots:
    void onClientTransactionBegin();
    void onClientTransactionProgress(qlonglong current, qlonglong total);
    void onClientUploadFilesystemTransactionProgress(QString filename, qlonglong current, qlonglong total,
                                                     qlonglong completeCurrent, qlonglong completeTotal);
    void onClientTransactionfinished();
    void onClientStateChanged(QCFTP::Client::State state);
    void onClientLoginFinished(QCFTP::ResponseCode rsp);
    void onClientDownloadFileFinished(QCFTPFile file);
    void onClientDownloadEditFileFinished(QCFTPFile file);
    void onClientError(QString error);
    void onClientReconnectFinished(QCFTP::ResponseCode rsp);
    void onErfcNodeManagerNodeInfoRefreshed(uchar addr, QErfcNodeInfo* info);
    void onTimerReconnectClient();
    void on_treeWidgetExplorer_itemDoubleClicked(QTreeWidgetItem* item, int column);
    void on_treeWidgetExplorer_customContextMenuRequested(const QPoint& pos);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    friend class QCFTPFileExplorerWidgetPrivate;
    Q_DISABLE_COPY(QCFTPFileExplorerWidget)
    std::unique_ptr<QCFTPFileExplorerWidgetPrivate> d;
};

#endif // QCFTPFILEEXPLORERWIDGET_H
