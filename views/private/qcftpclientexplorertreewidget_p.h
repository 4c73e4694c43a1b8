#ifndef QCFTPCLIENTEXPLORERTREEWIDGET_P_H
#define QCFTPCLIENTEXPLORERTREEWIDGET_P_H

#include "qcftpclientexplorertreewidget.h"

#include <QByteArray>
#include <QMetaObject>
#include <QPointer>
#include <QStringList>
#include <QUuid>

#include <memory>

class QCftpClientDirectoryUpload;
#include "qcftpclientgate.h"

class QCFTPClientExplorerTreeWidgetPrivate
{
public:
    // The step of a chain that waits for the end of the request in flight.
    enum Step {
        NoStep,
        RefreshStep,
        ListDeleteStep,
        ListMoveStep,
        ListCopyStep,
        ListUploadStep,
        ActionStep,
        ListSourceStep,
        ListTargetStep,
        DownloadStep
    };

    explicit QCFTPClientExplorerTreeWidgetPrivate(QCFTPClientExplorerTreeWidget* q)
        : q(q)
    {
    }

    static QCFTPClientExplorerTreeWidgetPrivate* get(QCFTPClientExplorerTreeWidget* q) { return q->d.get(); }

    // The client is Ready and every end it announced has reached the tree.
    bool clientReady() const;
    // Nothing pending, no archive upload, and the client takes a command.
    bool canStart() const;
    // On while the tree may start a command, and focused as it turns on.
    void updateEnabled();
    // Ends the chain: error() with the client's text, then a whole refresh.
    void fail();
    QString clientError() const;
    void mergeAndExpand(const QString& path);
    void stopProgress();

    // Starts a chain when the tree may and the client takes its first
    // request (send); remembers the chain's paths and its first step.
    template <typename Send>
    bool startChain(Step first, Send send, const QString& actionPath = QString(),
                    const QString& sourceDir = QString(), const QString& newPath = QString(),
                    const QString& targetDir = QString());
    // A move or copy chain: lists the target's directory first.
    bool startTransfer(Step first, const QString& sourcePath, const QString& newPath);
    // Waits for step after the next request (send); a refused one ends the chain.
    template <typename Send>
    void sendNext(Step step, Send send);
    void listNext(Step step, const QString& path);
    // The target's directory of a move or copy is listed: make the transfer.
    void transferListed(QCFTP::ResponseCode rsp,
                        bool (QCFTPClient::*transfer)(const QString&, const QString&));
    // Passes the client's progress on and says a transfer begins; for an
    // upload of uploadSize bytes, as the file's bytes sent.
    void beginTransfer(qint64 uploadSize = -1);
    // Says the transfer ended; false when the tree went meanwhile.
    bool finishTransaction();
    // The drag's data carries this tree's mark.
    bool isOwnDrag(const QMimeData* data) const;

    QCFTPClientExplorerTreeWidget* q;
    QCFTPClient* m_client = nullptr;
    QMetaObject::Connection m_stateConnection;
    std::unique_ptr<QCftpClientGate> m_gate;
    QMetaObject::Connection m_progressConnection;
    QPointer<QCftpClientDirectoryUpload> m_archiveUpload;
    bool m_busy = false;
    Step m_step = NoStep;
    QCFTPFile m_pendingUpload;
    QString m_actionPath;
    QString m_sourceDir;
    QString m_newPath;
    QString m_targetDir;
    QStringList m_refreshPaths;
    QCFTPClientExplorerTreeWidgetItem* m_rootItem = nullptr;
    // Unique to this tree, also across processes.
    const QByteArray m_dragMark = QUuid::createUuid().toByteArray();
};

#endif // QCFTPCLIENTEXPLORERTREEWIDGET_P_H
