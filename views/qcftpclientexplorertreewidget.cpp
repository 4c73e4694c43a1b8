#include "qcftpclientexplorertreewidget.h"
#include "qcftpclientexplorertreewidget_p.h"

#include "qcftpclient.h"
#include "qcftpclientdirectoryupload.h"
#include "qcftpclientexplorertreewidgetitem.h"
#include "qcftpclientgate.h"

#include <QDropEvent>
#include <QHeaderView>
#include <QMimeData>
#include <QScopeGuard>
#include <QSet>

namespace {

// The mime format of the mark a drag carries from its tree.
const QString DragMarkFormat = QStringLiteral("application/x-quorvel-explorer-drag");

QString entryKey(const QCFTPFileInfo& info)
{
    return QStringLiteral("%1\x1d%2\x1d%3").arg(info.path()).arg(info.lastModified()).arg(info.size());
}

QCFTPClientExplorerTreeWidgetItem* treeItem(QTreeWidgetItem* item)
{
    return static_cast<QCFTPClientExplorerTreeWidgetItem*>(item);
}

} // namespace

// ---------------------------------------------------------------- private

bool QCFTPClientExplorerTreeWidgetPrivate::clientReady() const
{
    return m_client && m_client->state() == QCFTP::Client::Ready && m_gate && m_gate->isOpen();
}

bool QCFTPClientExplorerTreeWidgetPrivate::canStart() const
{
    return m_step == NoStep && !m_busy && clientReady();
}

void QCFTPClientExplorerTreeWidgetPrivate::updateEnabled()
{
    const bool enable = !m_busy && clientReady();
    const bool wasOn = !q->testAttribute(Qt::WA_ForceDisabled);
    q->setEnabled(enable);
    if (enable && !wasOn)
        q->setFocus(Qt::OtherFocusReason);
}

QString QCFTPClientExplorerTreeWidgetPrivate::clientError() const
{
    const QString text = m_client ? m_client->errorString() : QString();
    return text.isEmpty() ? QCFTPClientExplorerTreeWidget::tr("Can't send request to target") : text;
}

void QCFTPClientExplorerTreeWidgetPrivate::fail()
{
    m_step = NoStep;
    stopProgress();
    // The receiver may run a modal box, during which the tree may go.
    QPointer<QCFTPClientExplorerTreeWidget> self(q);
    emit q->error(clientError());
    if (self)
        q->refresh();
}

void QCFTPClientExplorerTreeWidgetPrivate::stopProgress()
{
    QObject::disconnect(m_progressConnection);
    m_progressConnection = QMetaObject::Connection();
}

void QCFTPClientExplorerTreeWidgetPrivate::mergeAndExpand(const QString& path)
{
    QCFTPClientExplorerTreeWidgetItem* item = q->itemForPath(path);
    q->mergeListing(item, m_client->fileInfoList());
    item->setExpanded(true);
    q->resizeColumnsToContents();
}

template <typename Send>
bool QCFTPClientExplorerTreeWidgetPrivate::startChain(Step first, Send send, const QString& actionPath,
                                                      const QString& sourceDir, const QString& newPath,
                                                      const QString& targetDir)
{
    if (!canStart() || !send(m_client))
        return false;
    m_actionPath = actionPath;
    m_sourceDir = sourceDir;
    m_newPath = newPath;
    m_targetDir = targetDir;
    m_step = first;
    return true;
}

bool QCFTPClientExplorerTreeWidgetPrivate::startTransfer(Step first, const QString& sourcePath,
                                                         const QString& newPath)
{
    QCFTPFileInfo source, target;
    source.setPath(sourcePath);
    target.setPath(newPath);
    // Refused before the chain's first listing goes out.
    if (sourcePath == newPath || !QCFTPClient::isPossibleName(source.path())
        || !QCFTPClient::isPossibleName(target.path()))
        return false;
    return startChain(
        first, [&](QCFTPClient* c) { return c->listPath(target.parentPath()); }, source.path(),
        source.parentPath(), target.path(), target.parentPath());
}

template <typename Send>
void QCFTPClientExplorerTreeWidgetPrivate::sendNext(Step step, Send send)
{
    m_step = step;
    if (!send(m_client))
        fail();
}

void QCFTPClientExplorerTreeWidgetPrivate::listNext(Step step, const QString& path)
{
    sendNext(step, [&](QCFTPClient* c) { return c->listPath(path); });
}

void QCFTPClientExplorerTreeWidgetPrivate::transferListed(QCFTP::ResponseCode rsp,
                                                          bool (QCFTPClient::*transfer)(const QString&,
                                                                                        const QString&))
{
    if (rsp != QCFTP::Success)
        return fail();
    mergeAndExpand(m_targetDir);
    sendNext(ActionStep, [&](QCFTPClient* c) { return (c->*transfer)(m_actionPath, m_newPath); });
}

void QCFTPClientExplorerTreeWidgetPrivate::beginTransfer(qint64 uploadSize)
{
    if (uploadSize < 0) {
        m_progressConnection = QObject::connect(m_client, &QCFTPClient::transactionProgress, q,
                                                &QCFTPClientExplorerTreeWidget::transactionProgress);
    } else {
        // An upload's stream counts the request's header, which goes first:
        // the file's bytes are what was sent beyond it, of the file's size.
        m_progressConnection = QObject::connect(m_client, &QCFTPClient::transactionProgress, q,
                                                [this, uploadSize](qlonglong sent, qlonglong total) {
            const qlonglong header = qMax<qlonglong>(0, total - uploadSize);
            emit q->transactionProgress(qBound<qlonglong>(0, sent - header, uploadSize), uploadSize);
        });
    }
    emit q->transactionBegin();
}

bool QCFTPClientExplorerTreeWidgetPrivate::finishTransaction()
{
    // The receiver may run a modal box, during which the tree may go.
    QPointer<QCFTPClientExplorerTreeWidget> self(q);
    emit q->transactionFinished();
    return self;
}

bool QCFTPClientExplorerTreeWidgetPrivate::isOwnDrag(const QMimeData* data) const
{
    return data && data->data(DragMarkFormat) == m_dragMark;
}

// ---------------------------------------------------------------- the tree

QCFTPClientExplorerTreeWidget::QCFTPClientExplorerTreeWidget(QWidget* parent)
    : QTreeWidget(parent)
    , d(new QCFTPClientExplorerTreeWidgetPrivate(this))
{
    setSortingEnabled(true);
    sortByColumn(0, header()->sortIndicatorOrder());
    setEnabled(false);
    QCFTPFileInfo root;
    root.setPath(QStringLiteral("/"));
    root.setSize(0);
    root.setLastModified(0);
    d->m_rootItem = new QCFTPClientExplorerTreeWidgetItem(root, this);
}

QCFTPClientExplorerTreeWidget::~QCFTPClientExplorerTreeWidget()
{
    // An archive upload still running goes with the tree; its client is
    // not touched (it may be gone already).
    delete d->m_archiveUpload.data();
}

void QCFTPClientExplorerTreeWidget::setClient(QCFTPClient* client)
{
    if (d->m_client) {
        disconnect(d->m_stateConnection);
        d->m_gate.reset();
        d->stopProgress();
        delete d->m_archiveUpload.data();
        d->m_busy = false;
        d->m_step = QCFTPClientExplorerTreeWidgetPrivate::NoStep;
    }
    d->m_client = client;
    if (!client) {
        setEnabled(false);
        return;
    }
    QCFTP::registerMetaTypes();
    // The client reports from its own thread: these arrive queued.
    d->m_stateConnection = connect(client, &QCFTPClient::stateChanged, this,
                                   &QCFTPClientExplorerTreeWidget::onCftpStateChanged);
    // Ends come through the gate: a command starts only once the end of the
    // one before has been handled here.
    d->m_gate.reset(new QCftpClientGate(client));
    connect(d->m_gate.get(), &QCftpClientGate::finished, this, &QCFTPClientExplorerTreeWidget::onCftpFinished);
    setHeaderLabels({tr("Path"), tr("Size"), tr("Date")});
}

int QCFTPClientExplorerTreeWidget::clientState() const
{
    if (!d->m_client)
        return QCFTP::Client::Disconnected;
    // Ready with an end still on its way here is busy to the tree's users.
    const int state = d->m_client->state();
    return state == QCFTP::Client::Ready && !d->clientReady() ? int(QCFTP::Client::Busy) : state;
}

void QCFTPClientExplorerTreeWidget::clear()
{
    qDeleteAll(d->m_rootItem->takeChildren());
}

// ---------------------------------------------------------------- rows

QCFTPClientExplorerTreeWidgetItem* QCFTPClientExplorerTreeWidget::itemForPath(const QString& path)
{
    if (path == QLatin1String("/"))
        return d->m_rootItem;
    QStringList parts = path.split(QLatin1Char('/'));
    parts.removeFirst();
    const QString last = parts.takeLast();

    const auto child = [](QTreeWidgetItem* parent, const QString& name) -> QCFTPClientExplorerTreeWidgetItem* {
        for (int i = 0; i < parent->childCount(); ++i) {
            QCFTPClientExplorerTreeWidgetItem* c = treeItem(parent->child(i));
            if (c->fileInfo().name() == name)
                return c;
        }
        return nullptr;
    };
    const auto make = [](QCFTPClientExplorerTreeWidgetItem* parent, const QString& name) {
        QCFTPFileInfo info;
        info.setPath(parent->fileInfo().path() + name);
        info.setSize(0);
        info.setLastModified(0);
        return new QCFTPClientExplorerTreeWidgetItem(info, parent);
    };

    QCFTPClientExplorerTreeWidgetItem* cur = d->m_rootItem;
    for (const QString& part : qAsConst(parts)) {
        if (part.isEmpty())
            continue;
        const QString name = part + QLatin1Char('/');
        QCFTPClientExplorerTreeWidgetItem* next = child(cur, name);
        cur = next ? next : make(cur, name);
    }
    if (last.isEmpty())
        return cur;
    QCFTPClientExplorerTreeWidgetItem* leaf = child(cur, last);
    return leaf ? leaf : make(cur, last);
}

void QCFTPClientExplorerTreeWidget::mergeListing(QTreeWidgetItem* item, const QList<QCFTPFileInfo>& list)
{
    QSet<QString> listed;
    for (const QCFTPFileInfo& info : list)
        listed.insert(entryKey(info));
    QSet<QString> present;
    for (int i = 0; i < item->childCount();) {
        const QString key = entryKey(treeItem(item->child(i))->fileInfo());
        if (!listed.contains(key) || present.contains(key)) {
            delete item->takeChild(i);
            continue;
        }
        present.insert(key);
        ++i;
    }
    for (const QCFTPFileInfo& info : list) {
        const QString key = entryKey(info);
        if (present.contains(key))
            continue;
        present.insert(key);
        new QCFTPClientExplorerTreeWidgetItem(info, item);
    }
    resizeColumnsToContents();
    sortByColumn(0, header()->sortIndicatorOrder());
}

void QCFTPClientExplorerTreeWidget::resizeColumnsToContents()
{
    for (int column = 0; column < columnCount(); ++column) {
        const int before = columnWidth(column);
        resizeColumnToContents(column);
        if (before > columnWidth(column))
            setColumnWidth(column, before);
    }
}

void QCFTPClientExplorerTreeWidget::collectLoadedPaths(QTreeWidgetItem* item, QStringList& list)
{
    list.append(treeItem(item)->fileInfo().path());
    for (int i = 0; i < item->childCount(); ++i) {
        if (item->child(i)->childCount() > 0)
            collectLoadedPaths(item->child(i), list);
    }
}

// ---------------------------------------------------------------- client state and results

void QCFTPClientExplorerTreeWidget::onCftpStateChanged(QCFTP::Client::State state)
{
    d->updateEnabled();
    if (state != QCFTP::Client::Disconnected || d->m_step == QCFTPClientExplorerTreeWidgetPrivate::NoStep)
        return;
    // The link dropped with a request in flight: its chain ends here, once,
    // and the finished(127) that follows finds nothing pending.
    const QCFTPClientExplorerTreeWidgetPrivate::Step step = d->m_step;
    d->m_step = QCFTPClientExplorerTreeWidgetPrivate::NoStep;
    d->stopProgress();
    if (step == QCFTPClientExplorerTreeWidgetPrivate::DownloadStep && !d->finishTransaction())
        return;
    emit error(d->clientError());
}

void QCFTPClientExplorerTreeWidget::onCftpFinished(QCFTP::ResponseCode rsp)
{
    using P = QCFTPClientExplorerTreeWidgetPrivate;
    // The tree turns on once the end is in, whatever follows it.
    QPointer<QCFTPClientExplorerTreeWidget> self(this);
    const auto enable = qScopeGuard([&] {
        if (self)
            d->updateEnabled();
    });
    const P::Step step = d->m_step;
    d->m_step = P::NoStep;
    switch (step) {
    case P::NoStep:
        break; // a login, an archive upload's request, or a chain already ended
    case P::RefreshStep:
        onCftpActionListFinishedRefresh(rsp);
        break;
    case P::ListDeleteStep:
        onCftpActionListFinishedDelete(rsp);
        break;
    case P::ListMoveStep:
        onCftpActionListFinishedMove(rsp);
        break;
    case P::ListCopyStep:
        onCftpActionListFinishedCopy(rsp);
        break;
    case P::ListUploadStep:
        onCftpActionListFinishedUpload(rsp);
        break;
    case P::ActionStep:
        onCfptActionFinished(rsp);
        break;
    case P::ListSourceStep:
        onCftpActionListSourceFinished(rsp);
        break;
    case P::ListTargetStep:
        onCftpActionListTargetFinished(rsp);
        break;
    case P::DownloadStep:
        onCftpActionDownloadFinsiehd(rsp);
        break;
    }
}

// ---------------------------------------------------------------- refresh

void QCFTPClientExplorerTreeWidget::refresh()
{
    if (!d->canStart() || !d->m_client->listPath(QStringLiteral("/")))
        return;
    d->m_refreshPaths.clear();
    collectLoadedPaths(d->m_rootItem, d->m_refreshPaths);
    d->m_step = QCFTPClientExplorerTreeWidgetPrivate::RefreshStep;
}

void QCFTPClientExplorerTreeWidget::onCftpActionListFinishedRefresh(QCFTP::ResponseCode rsp)
{
    if (rsp != QCFTP::Success || d->m_refreshPaths.isEmpty()) {
        if (rsp != QCFTP::Success)
            emit error(d->clientError());
        return;
    }
    const QString listed = d->m_refreshPaths.takeFirst();
    QCFTPClientExplorerTreeWidgetItem* item = itemForPath(listed);
    mergeListing(item, d->m_client->fileInfoList());

    // Remembered directories below the listed one that it no longer holds
    // are not listed again.
    const QStringList remembered = d->m_refreshPaths;
    for (const QString& path : remembered) {
        if (!path.startsWith(listed))
            continue;
        bool kept = false;
        for (int i = 0; i < item->childCount() && !kept; ++i) {
            const QCFTPFileInfo info = treeItem(item->child(i))->fileInfo();
            kept = info.isDir() && path.startsWith(info.path());
        }
        if (!kept)
            d->m_refreshPaths.removeAll(path);
    }
    if (listed == QLatin1String("/")) {
        item->setExpanded(true);
        resizeColumnsToContents();
    }
    if (d->m_refreshPaths.isEmpty())
        return;
    d->m_step = QCFTPClientExplorerTreeWidgetPrivate::RefreshStep;
    if (!d->m_client->listPath(d->m_refreshPaths.first())) {
        d->m_step = QCFTPClientExplorerTreeWidgetPrivate::NoStep;
        emit error(d->clientError());
    }
}

// ---------------------------------------------------------------- commands

bool QCFTPClientExplorerTreeWidget::listPath(const QString& path)
{
    return d->startChain(QCFTPClientExplorerTreeWidgetPrivate::ListSourceStep,
                         [&](QCFTPClient* c) { return c->listPath(path); }, QString(), path);
}

bool QCFTPClientExplorerTreeWidget::createPath(const QString& path)
{
    const QString dir = path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/');
    return d->startChain(QCFTPClientExplorerTreeWidgetPrivate::ActionStep,
                         [&](QCFTPClient* c) { return c->createPath(dir); }, QString(), dir);
}

bool QCFTPClientExplorerTreeWidget::uploadFile(const QCFTPFile& file)
{
    if (!QCFTPClient::isPossibleName(file.path()))
        return false;
    const QString dir = file.parentPath();
    if (!d->startChain(QCFTPClientExplorerTreeWidgetPrivate::ListUploadStep,
                       [&](QCFTPClient* c) { return c->listPath(dir); }, QString(), dir, file.path(), dir))
        return false;
    d->m_pendingUpload = file;
    return true;
}

bool QCFTPClientExplorerTreeWidget::uploadFilesystem(const QString& localPath)
{
    if (!d->canStart())
        return false;
    auto* upload = new QCftpClientDirectoryUpload(d->m_client);
    // The upload reports from the client's thread: these arrive queued.
    connect(upload, &QCftpClientDirectoryUpload::progress, this,
            &QCFTPClientExplorerTreeWidget::uploadFilesystemTransactionProgress);
    connect(upload, &QCftpClientDirectoryUpload::error, this, &QCFTPClientExplorerTreeWidget::error);
    connect(upload, &QCftpClientDirectoryUpload::finished, this,
            &QCFTPClientExplorerTreeWidget::onCftpUploadFilesystemFinished);
    connect(upload, &QCftpClientDirectoryUpload::finished, upload, &QObject::deleteLater);
    d->m_archiveUpload = upload;
    d->m_busy = true;
    d->updateEnabled();
    emit transactionBegin();
    upload->upload(localPath, QStringLiteral("/"));
    return true;
}

bool QCFTPClientExplorerTreeWidget::downloadFile(const QString& path)
{
    if (!d->startChain(QCFTPClientExplorerTreeWidgetPrivate::DownloadStep,
                       [&](QCFTPClient* c) { return c->downloadFile(path); }))
        return false;
    d->beginTransfer();
    return true;
}

bool QCFTPClientExplorerTreeWidget::deletePath(const QString& path)
{
    QCFTPFileInfo target;
    target.setPath(path);
    // Refused before the chain's first listing goes out.
    if (!QCFTPClient::isPossibleName(target.path()))
        return false;
    return d->startChain(QCFTPClientExplorerTreeWidgetPrivate::ListDeleteStep,
                         [&](QCFTPClient* c) { return c->listPath(target.parentPath()); }, target.path(),
                         target.parentPath());
}

bool QCFTPClientExplorerTreeWidget::movePath(const QString& sourcepath, const QString& newpath)
{
    return d->startTransfer(QCFTPClientExplorerTreeWidgetPrivate::ListMoveStep, sourcepath, newpath);
}

bool QCFTPClientExplorerTreeWidget::copyPath(const QString& sourcepath, const QString& newpath)
{
    return d->startTransfer(QCFTPClientExplorerTreeWidgetPrivate::ListCopyStep, sourcepath, newpath);
}

// ---------------------------------------------------------------- the steps of the chains

void QCFTPClientExplorerTreeWidget::onCftpActionListFinishedDelete(QCFTP::ResponseCode rsp)
{
    if (rsp != QCFTP::Success)
        return d->fail();
    d->mergeAndExpand(d->m_sourceDir);
    d->sendNext(QCFTPClientExplorerTreeWidgetPrivate::ActionStep,
                [this](QCFTPClient* c) { return c->deletePath(d->m_actionPath); });
}

void QCFTPClientExplorerTreeWidget::onCftpActionListFinishedMove(QCFTP::ResponseCode rsp)
{
    d->transferListed(rsp, &QCFTPClient::movePath);
}

void QCFTPClientExplorerTreeWidget::onCftpActionListFinishedCopy(QCFTP::ResponseCode rsp)
{
    d->transferListed(rsp, &QCFTPClient::copyPath);
}

void QCFTPClientExplorerTreeWidget::onCftpActionListFinishedUpload(QCFTP::ResponseCode rsp)
{
    if (rsp != QCFTP::Success)
        return d->fail();
    QCFTPClientExplorerTreeWidgetItem* dirItem = itemForPath(d->m_targetDir);
    mergeListing(dirItem, d->m_client->fileInfoList());
    // The uploaded file's row shows its own time and no size until the
    // listing after the transfer.
    QCFTPFileInfo row;
    row.setPath(d->m_pendingUpload.path());
    row.setLastModified(d->m_pendingUpload.lastModified());
    row.setSize(0);
    itemForPath(row.path())->setFileInfo(row);
    dirItem->setExpanded(true);
    resizeColumnsToContents();
    d->beginTransfer(d->m_pendingUpload.size());
    d->sendNext(QCFTPClientExplorerTreeWidgetPrivate::ActionStep,
                [this](QCFTPClient* c) { return c->uploadFile(d->m_pendingUpload); });
}

void QCFTPClientExplorerTreeWidget::onCfptActionFinished(QCFTP::ResponseCode rsp)
{
    d->stopProgress();
    if (rsp != QCFTP::Success)
        return d->fail();
    if (!d->finishTransaction() || d->m_sourceDir.isEmpty())
        return;
    d->listNext(QCFTPClientExplorerTreeWidgetPrivate::ListSourceStep, d->m_sourceDir);
}

void QCFTPClientExplorerTreeWidget::onCftpActionListSourceFinished(QCFTP::ResponseCode rsp)
{
    if (rsp != QCFTP::Success)
        return d->fail();
    d->mergeAndExpand(d->m_sourceDir);
    if (!d->m_targetDir.isEmpty())
        d->listNext(QCFTPClientExplorerTreeWidgetPrivate::ListTargetStep, d->m_targetDir);
}

void QCFTPClientExplorerTreeWidget::onCftpActionListTargetFinished(QCFTP::ResponseCode rsp)
{
    if (rsp != QCFTP::Success)
        return d->fail();
    d->mergeAndExpand(d->m_targetDir);
}

void QCFTPClientExplorerTreeWidget::onCftpActionDownloadFinsiehd(QCFTP::ResponseCode rsp)
{
    d->stopProgress();
    if (!d->finishTransaction())
        return;
    if (rsp == QCFTP::Success)
        emit downloadFinished(d->m_client->downloadedFile());
    else
        d->fail();
}

void QCFTPClientExplorerTreeWidget::onCftpUploadFilesystemFinished()
{
    d->m_busy = false;
    d->m_archiveUpload.clear();
    d->updateEnabled();
    if (d->finishTransaction())
        refresh();
}

// ---------------------------------------------------------------- drop

QMimeData* QCFTPClientExplorerTreeWidget::mimeData(const QList<QTreeWidgetItem*> items) const
{
    QMimeData* data = QTreeWidget::mimeData(items);
    if (data)
        data->setData(DragMarkFormat, d->m_dragMark);
    return data;
}

void QCFTPClientExplorerTreeWidget::dragEnterEvent(QDragEnterEvent* event)
{
    // A drag from elsewhere (another node's explorer, another program) is
    // not taken: no drop reaches the tree, and the source sees none.
    if (!d->isOwnDrag(event->mimeData())) {
        event->ignore();
        return;
    }
    QTreeWidget::dragEnterEvent(event);
}

void QCFTPClientExplorerTreeWidget::dropEvent(QDropEvent* event)
{
    // The command acts on the selection, which is the dragged row only for
    // a drag out of this tree.
    if (!d->isOwnDrag(event->mimeData())) {
        event->ignore();
        return;
    }
    const QList<QTreeWidgetItem*> selected = selectedItems();
    if (selected.isEmpty())
        return;
    QTreeWidgetItem* target = itemAt(event->pos());
    if (!target)
        return;
    const QCFTPFileInfo source = treeItem(selected.first())->fileInfo();
    const QCFTPFileInfo into = treeItem(target)->fileInfo();
    if (!into.isDir())
        return;
    // A directory cannot go into itself or below itself.
    if (source.isDir() && into.path().startsWith(source.path())) {
        event->ignore();
        return;
    }
    const QString destination = into.path() + source.name();
    bool ok;
    if (event->dropAction() == Qt::CopyAction) {
        ok = copyPath(source.path(), destination);
    } else if (event->dropAction() == Qt::MoveAction) {
        ok = movePath(source.path(), destination);
    } else {
        event->ignore();
        return;
    }
    if (ok)
        event->accept();
    else
        event->ignore();
}
