#ifndef QCFTPFILEEXPLORERWIDGET_P_H
#define QCFTPFILEEXPLORERWIDGET_P_H

#include "qcftpclient.h"
#include "qcftpfileexplorerwidget.h"
#include "qcftpfileinfo.h"

#include <QElapsedTimer>
#include <QSaveFile>
#include <QTimer>
#include <QVector>

#include <functional>
#include <memory>

namespace Ui {
class QCFTPFileExplorerWidget;
}
class QCFTPClientExplorerTreeWidget;
#include "qcftpclientgate.h"

class QCFTPFileExplorerWidgetPrivate
{
public:
    enum { ReconnectDelayMs = 2500, CftpPort = 125 };
    // What a download under way ends in.
    enum DownloadKind { NoDownload, DownloadToDisk, DownloadForEditor };

    QCFTPFileExplorerWidgetPrivate(QCFTPFileExplorerWidget* q, QErfcStack* stack, uchar address);
    ~QCFTPFileExplorerWidgetPrivate();

    static QCFTPFileExplorerWidgetPrivate* get(QCFTPFileExplorerWidget* q) { return q->d.get(); }

    QCFTPClientExplorerTreeWidget* tree() const;

    // Milliseconds since the transfer began; tests may set m_elapsed.
    qint64 elapsed() const;
    // Sets value and range; beyond the bar's int range both are scaled
    // alike. True when they were scaled.
    bool setProgress(qlonglong current, qlonglong total);
    // Forgets a download under way; the local file is left as it was.
    void discardDownload();
    void showError(const QString& title, const QString& text);
    // When the node would not get `path` as given, says so, with the path in
    // quotes (a blank at either end shows), and returns true.
    bool refuseName(const QString& path);
    // Says why the tree refused a command on `path` or giving the node that
    // name: the name is not possible there, or else `busyText`.
    void showRefused(const QString& path, const QString& busyText);
    // Each returns an empty text when the user cancels.
    QString askText(const QString& title, const QString& label, const QString& text);
    QString askOpenFileName(const QString& caption, const QString& filter);
    QString askSaveFileName(const QString& caption, const QString& suggested);

    // The commands, on what was taken of the entry beforehand.
    void openDirectory(const QCFTPFileInfo& entry);
    void createDirectory(const QCFTPFileInfo& entry);
    void deleteItem(const QCFTPFileInfo& entry);
    void uploadArchive();
    void editFile(const QCFTPFileInfo& entry);
    void moveItem(const QCFTPFileInfo& entry);
    void createNewFile(const QCFTPFileInfo& entry);
    void uploadFile(const QCFTPFileInfo& entry);
    void downloadFile(const QCFTPFileInfo& entry);
    // Opens and shows a text editor window on the file, saving through the tree.
    void openEditor(const QString& title, const QCFTPFile& file);
    // Logs in, with `slot` connected (as `handler`) to the login's end; once
    // the end of the connection before has reached the explorer.
    using EndSlot = void (QCFTPFileExplorerWidget::*)(QCFTP::ResponseCode);
    void connectClient(const QString& user, const QString& password, QMetaObject::Connection* handler,
                       EndSlot slot);

    QCFTPFileExplorerWidget* q;
    std::unique_ptr<Ui::QCFTPFileExplorerWidget> m_ui;
    QCFTPClient m_cftpClient;
    std::unique_ptr<QCftpClientGate> m_gate; // the explorer's own ends, after the tree's
    QElapsedTimer m_transactionTime;
    std::function<qint64()> m_elapsed;
    QTimer m_reconnectTimer;
    std::unique_ptr<QSaveFile> m_saveFile;
    DownloadKind m_download = NoDownload;
    QMetaObject::Connection m_downloadConnection;
    QMetaObject::Connection m_loginConnection;
    QMetaObject::Connection m_reconnectConnection;
    QByteArray m_nodeUniqueId;
    const uchar m_nodeAddress;
    // The form's own size, the least the window asks for.
    QSize m_formSize;
    // What the columns need for a typical file, measured once.
    QVector<int> m_sampleColumnWidths;
};

#endif // QCFTPFILEEXPLORERWIDGET_P_H
