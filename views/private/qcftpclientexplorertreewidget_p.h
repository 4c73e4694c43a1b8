#ifndef QCFTPCLIENTEXPLORERTREEWIDGET_P_H
#define QCFTPCLIENTEXPLORERTREEWIDGET_P_H

#include "qcftpclientexplorertreewidget.h"

#include <QMetaObject>
#include <QPointer>
#include <QStringList>

class QCftpClientDirectoryUpload;

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

    // Nothing pending, no archive upload, and the client takes a command.
    bool canStart() const;
    // Ends the chain: error() with the client's text, then a whole refresh.
    void fail();
    // The step's next request was refused: the chain ends at once.
    void failRefused();
    QString clientError() const;
    void mergeAndExpand(const QString& path);
    void stopProgress();

    QCFTPClientExplorerTreeWidget* q;
    QCFTPClient* m_client = nullptr;
    QMetaObject::Connection m_stateConnection;
    QMetaObject::Connection m_finishedConnection;
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
};

#endif // QCFTPCLIENTEXPLORERTREEWIDGET_P_H
