#include "qcftpfileexplorerwidget.h"
#include "qcftpfileexplorerwidget_p.h"
#include "ui_qcftpfileexplorerwidget.h"

#include "erfcnodeinfo.h"
#include "erfcnodemanager.h"
#include "getuserdialog.h"
#include "qcftpclientexplorertreewidget.h"
#include "qcftpclientexplorertreewidgetitem.h"
#include "qcftpclientgate.h"
#include "texteditorwindow.h"
#include "usercredentialcache.h"
#include "viewsize_p.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileDialog>
#include <QInputDialog>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QScrollBar>

#include <climits>

namespace {

QCFTPFileInfo entryOf(QTreeWidgetItem* item)
{
    return static_cast<QCFTPClientExplorerTreeWidgetItem*>(item)->fileInfo();
}

} // namespace

// ---------------------------------------------------------------- private

QCFTPFileExplorerWidgetPrivate::QCFTPFileExplorerWidgetPrivate(QCFTPFileExplorerWidget* q, QErfcStack* stack,
                                                               uchar address)
    : q(q)
    , m_ui(new Ui::QCFTPFileExplorerWidget)
    , m_cftpClient(stack)
    , m_nodeAddress(address)
{
}

QCFTPFileExplorerWidgetPrivate::~QCFTPFileExplorerWidgetPrivate() = default;

QCFTPClientExplorerTreeWidget* QCFTPFileExplorerWidgetPrivate::tree() const
{
    return m_ui->treeWidgetExplorer;
}

qint64 QCFTPFileExplorerWidgetPrivate::elapsed() const
{
    if (m_elapsed)
        return m_elapsed();
    return m_transactionTime.isValid() ? m_transactionTime.elapsed() : 0;
}

bool QCFTPFileExplorerWidgetPrivate::setProgress(qlonglong current, qlonglong total)
{
    int shift = 0;
    while ((qMax(current, total) >> shift) > INT_MAX)
        ++shift;
    // The range first, so that the first report of a transfer is not
    // dropped as lying outside the range of the one before.
    m_ui->progressBar->setMaximum(int(qMax<qlonglong>(0, total) >> shift));
    m_ui->progressBar->setValue(int(qMax<qlonglong>(0, current) >> shift));
    return shift > 0;
}

void QCFTPFileExplorerWidgetPrivate::discardDownload()
{
    QObject::disconnect(m_downloadConnection);
    m_downloadConnection = QMetaObject::Connection();
    m_download = NoDownload;
    if (m_saveFile) {
        m_saveFile->cancelWriting();
        m_saveFile.reset();
    }
}

void QCFTPFileExplorerWidgetPrivate::showError(const QString& title, const QString& text)
{
    // On the heap: the box goes with the window should the window go first.
    QPointer<QMessageBox> box = new QMessageBox(QMessageBox::Critical, title, text, QMessageBox::Ok, q);
    box->exec();
    delete box.data();
}

bool QCFTPFileExplorerWidgetPrivate::refuseName(const QString& path)
{
    if (QCFTPClient::isPossibleName(path))
        return false;
    q->onClientError(QCFTPFileExplorerWidget::tr("File name not possible on the node: \"%1\"").arg(path));
    return true;
}

void QCFTPFileExplorerWidgetPrivate::showRefused(const QString& path, const QString& busyText)
{
    if (!refuseName(path))
        q->onClientError(busyText);
}

QString QCFTPFileExplorerWidgetPrivate::askText(const QString& title, const QString& label, const QString& text)
{
    return QInputDialog::getText(q, title, label, QLineEdit::Normal, text);
}

QString QCFTPFileExplorerWidgetPrivate::askOpenFileName(const QString& caption, const QString& filter)
{
    QPointer<QFileDialog> dialog = new QFileDialog(q, caption, QString(), filter);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(QFileDialog::ExistingFile);
    QString chosen;
    if (dialog->exec() == QDialog::Accepted && dialog)
        chosen = dialog->selectedFiles().value(0);
    delete dialog.data();
    return chosen;
}

QString QCFTPFileExplorerWidgetPrivate::askSaveFileName(const QString& caption, const QString& suggested)
{
    QPointer<QFileDialog> dialog = new QFileDialog(q, caption, suggested);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    QString chosen;
    if (dialog->exec() == QDialog::Accepted && dialog)
        chosen = dialog->selectedFiles().value(0);
    delete dialog.data();
    return chosen;
}

void QCFTPFileExplorerWidgetPrivate::connectClient(const QString& user, const QString& password,
                                                   QMetaObject::Connection* handler, EndSlot slot)
{
    if (!m_gate->isOpen()) {
        // The end of the connection before is still on its way here: it
        // would pass for the end of this login. Once it is in.
        QTimer::singleShot(0, q, [this, user, password, handler, slot] {
            if (m_cftpClient.state() == QCFTP::Client::Disconnected)
                connectClient(user, password, handler, slot);
        });
        return;
    }
    QObject::disconnect(*handler);
    *handler = QObject::connect(m_gate.get(), &QCftpClientGate::finished, q, slot);
    if (!m_cftpClient.connectToServer(user, password, m_nodeAddress, CftpPort)) {
        QObject::disconnect(*handler);
        *handler = QMetaObject::Connection();
    }
}

// ---------------------------------------------------------------- construction

QCFTPFileExplorerWidget::QCFTPFileExplorerWidget(QErfcStack* stack, uchar addr, QWidget* parent)
    : QWidget(parent)
    , d(new QCFTPFileExplorerWidgetPrivate(this, stack, addr))
{
    QCFTP::registerMetaTypes();
    d->m_ui->setupUi(this);
    d->m_formSize = size();

    QCFTPClientExplorerTreeWidget* tree = d->tree();
    tree->setSelectionMode(QAbstractItemView::SingleSelection);
    tree->setContextMenuPolicy(Qt::CustomContextMenu);
    tree->setClient(&d->m_cftpClient);
    // After the tree's own: each end reaches the tree first, so a login's
    // end finds the tree ready for the listing it starts.
    d->m_gate.reset(new QCftpClientGate(&d->m_cftpClient));
    tree->installEventFilter(this);

    d->m_ui->progressBar->hide();

    d->m_reconnectTimer.setInterval(QCFTPFileExplorerWidgetPrivate::ReconnectDelayMs);
    d->m_reconnectTimer.setSingleShot(true);
    connect(&d->m_reconnectTimer, &QTimer::timeout, this, &QCFTPFileExplorerWidget::onTimerReconnectClient);

    // The client reports from its own thread: its signals arrive queued.
    connect(&d->m_cftpClient, &QCFTPClient::stateChanged, this, &QCFTPFileExplorerWidget::onClientStateChanged);
    connect(d->m_ui->pushButtonReconnect, &QPushButton::clicked, this, &QCFTPFileExplorerWidget::login);
    // A failure ends a download under way before the box shows it.
    connect(tree, &QCFTPClientExplorerTreeWidget::error, this, [this] { d->discardDownload(); });
    connect(tree, &QCFTPClientExplorerTreeWidget::error, this, &QCFTPFileExplorerWidget::onClientError);
    connect(tree, &QCFTPClientExplorerTreeWidget::transactionBegin, this,
            &QCFTPFileExplorerWidget::onClientTransactionBegin);
    connect(tree, &QCFTPClientExplorerTreeWidget::transactionProgress, this,
            &QCFTPFileExplorerWidget::onClientTransactionProgress);
    connect(tree, &QCFTPClientExplorerTreeWidget::uploadFilesystemTransactionProgress, this,
            &QCFTPFileExplorerWidget::onClientUploadFilesystemTransactionProgress);
    connect(tree, &QCFTPClientExplorerTreeWidget::transactionFinished, this,
            &QCFTPFileExplorerWidget::onClientTransactionfinished);
    connect(ErfcNodeManager::instance(), &ErfcNodeManager::nodeInfoRefreshed, this,
            &QCFTPFileExplorerWidget::onErfcNodeManagerNodeInfoRefreshed);

    login();
}

QSize QCFTPFileExplorerWidget::sizeHint() const
{
    const QCFTPClientExplorerTreeWidget* tree = d->tree();
    if (d->m_sampleColumnWidths.isEmpty()) {
        // The explorer opens before its first listing. A file one folder
        // down, with a name of twelve characters, almost a megabyte and a
        // date, measured on a tree like the explorer's, stands for what
        // its columns will show.
        QTreeWidget sample;
        sample.setFont(tree->font());
        sample.setColumnCount(tree->columnCount());
        QCFTPFileInfo info;
        info.setPath(QStringLiteral("/"));
        auto* item = new QCFTPClientExplorerTreeWidgetItem(info, &sample);
        info.setPath(QStringLiteral("/directory/"));
        item = new QCFTPClientExplorerTreeWidgetItem(info, item);
        info.setPath(QStringLiteral("/directory/filename.txt"));
        info.setSize(999999);
        info.setLastModified(quint32(QDateTime(QDate(2000, 12, 28), QTime(20, 58, 58)).toSecsSinceEpoch()));
        new QCFTPClientExplorerTreeWidgetItem(info, item);
        sample.expandAll();
        for (int column = 0; column < sample.columnCount(); ++column)
            d->m_sampleColumnWidths << treeColumnWidth(&sample, column);
    }
    // Room for a vertical scroll bar: a listing may come longer than the window.
    int width = 2 * tree->frameWidth() + tree->verticalScrollBar()->sizeHint().width();
    for (int column = 0; column < tree->columnCount(); ++column)
        width += qMax(treeColumnWidth(tree, column), d->m_sampleColumnWidths.value(column));
    const QSize contents(width, QWidget::sizeHint().height());
    return boundedToMdiArea(this, contents.expandedTo(d->m_formSize));
}

QCFTPFileExplorerWidget::~QCFTPFileExplorerWidget()
{
    // Nothing the client still says reaches the window or the tree once
    // the client starts to go.
    d->m_reconnectTimer.stop();
    disconnect(&d->m_cftpClient, nullptr, this, nullptr);
    d->m_gate.reset();
    d->tree()->setClient(nullptr);
    d->discardDownload();
    d.reset();
}

void QCFTPFileExplorerWidget::closeEvent(QCloseEvent* event)
{
    // The editors are children and would go with the explorer, unsaved text
    // and all: each closes first and asks about its text as it does alone.
    // One that stays keeps the explorer open.
    QPointer<QCFTPFileExplorerWidget> self(this);
    const QList<TextEditorWindow*> list = findChildren<TextEditorWindow*>(QString(), Qt::FindDirectChildrenOnly);
    const QList<QPointer<TextEditorWindow>> editors(list.cbegin(), list.cend());
    for (const QPointer<TextEditorWindow>& editor : editors) {
        if (editor && !editor->close()) {
            if (self)
                event->ignore();
            return;
        }
        if (!self)
            return;
    }
    QWidget::closeEvent(event);
}

// ---------------------------------------------------------------- login

void QCFTPFileExplorerWidget::login()
{
    if (d->m_cftpClient.state() != QCFTP::Client::Disconnected) {
        d->m_cftpClient.disconnectFromServer();
        return;
    }
    QPointer<QCFTPFileExplorerWidget> self(this);
    QPointer<GetUserDialog> dialog = new GetUserDialog(d->m_nodeAddress, this);
    dialog->setWindowTitle(tr("Filesystem access password"));
    const int result = dialog->exec();
    if (!self)
        return;
    const QString user = dialog ? dialog->userName() : QString();
    const QString password = dialog ? dialog->password() : QString();
    delete dialog.data();
    if (result == QDialog::Accepted) {
        d->connectClient(user, password, &d->m_loginConnection, &QCFTPFileExplorerWidget::onClientLoginFinished);
    } else {
        d->m_cftpClient.disconnectFromServer();
    }
}

void QCFTPFileExplorerWidget::onClientLoginFinished(QCFTP::ResponseCode rsp)
{
    disconnect(d->m_loginConnection);
    if (rsp != QCFTP::Success) {
        onClientError(d->m_cftpClient.errorString());
        return;
    }
    if (const ErfcNodeInfo* record = ErfcNodeManager::instance()->nodeInfo(d->m_nodeAddress))
        d->m_nodeUniqueId = record->uniqueId();
    d->tree()->refresh();
}

void QCFTPFileExplorerWidget::onErfcNodeManagerNodeInfoRefreshed(uchar addr, QErfcNodeInfo* info)
{
    // Only the device of the last login, and only when it can be told from
    // others and its login was remembered.
    if (addr != d->m_nodeAddress || !info || d->m_nodeUniqueId.isEmpty()
        || info->uniqueId() != d->m_nodeUniqueId
        || !GetUserDialog::credentialCache()->contains(d->m_nodeUniqueId))
        return;
    d->m_reconnectTimer.start();
}

void QCFTPFileExplorerWidget::onTimerReconnectClient()
{
    if (d->m_cftpClient.state() != QCFTP::Client::Disconnected)
        return;
    const UserCredentialCache* cache = GetUserDialog::credentialCache();
    d->connectClient(cache->userName(d->m_nodeUniqueId), cache->password(d->m_nodeUniqueId),
                     &d->m_reconnectConnection, &QCFTPFileExplorerWidget::onClientReconnectFinished);
}

void QCFTPFileExplorerWidget::onClientReconnectFinished(QCFTP::ResponseCode rsp)
{
    disconnect(d->m_reconnectConnection);
    if (rsp == QCFTP::Success)
        d->tree()->refresh();
}

void QCFTPFileExplorerWidget::onClientStateChanged(QCFTP::Client::State state)
{
    d->m_ui->pushButtonReconnect->setVisible(state == QCFTP::Client::Disconnected
                                             || state == QCFTP::Client::Connecting);
    if (state == QCFTP::Client::Disconnected) {
        // A transfer cut off by the link reports no end of its own.
        d->m_ui->progressBar->hide();
        d->discardDownload();
    }
}

// ---------------------------------------------------------------- progress and errors

void QCFTPFileExplorerWidget::onClientTransactionBegin()
{
    d->m_transactionTime.start();
    d->m_ui->progressBar->show();
}

void QCFTPFileExplorerWidget::onClientTransactionfinished()
{
    d->m_ui->progressBar->hide();
}

void QCFTPFileExplorerWidget::onClientTransactionProgress(qlonglong current, qlonglong total)
{
    const qint64 ms = d->elapsed();
    const bool scaled = d->setProgress(current, total);
    if (current > 0 && ms > 0) {
        const QString rate = QString::number((double(current) / 1024.0) / (double(ms) / 1000.0), 'f', 3);
        // Scaled, the bar's own numbers would be wrong: the real ones go in the text.
        d->m_ui->progressBar->setFormat(scaled ? QStringLiteral("%1/%2 @%3 kB/s").arg(current).arg(total).arg(rate)
                                               : QStringLiteral("%v/%m @%1 kB/s").arg(rate));
    } else if (scaled) {
        d->m_ui->progressBar->setFormat(QStringLiteral("%1/%2").arg(current).arg(total));
    }
}

void QCFTPFileExplorerWidget::onClientUploadFilesystemTransactionProgress(QString filename, qlonglong current,
                                                                          qlonglong total,
                                                                          qlonglong completeCurrent,
                                                                          qlonglong completeTotal)
{
    const qint64 ms = d->elapsed();
    d->setProgress(completeCurrent, completeTotal);
    if (completeCurrent > 0 && ms > 0) {
        const QString rate =
            QString::number((double(completeCurrent) / 1024.0) / (double(ms) / 1000.0), 'f', 3);
        d->m_ui->progressBar->setFormat(QStringLiteral("%1 - %2/%3 (%4/%5) @%6 kB/s")
                                            .arg(filename, QString::number(current), QString::number(total),
                                                 QString::number(completeCurrent),
                                                 QString::number(completeTotal), rate));
    }
}

void QCFTPFileExplorerWidget::onClientError(QString error)
{
    d->showError(tr("Node: %1 Explorer Error").arg(d->m_nodeAddress), error);
}

// ---------------------------------------------------------------- menu, keys and double-click

void QCFTPFileExplorerWidget::on_treeWidgetExplorer_customContextMenuRequested(const QPoint& pos)
{
    QCFTPClientExplorerTreeWidget* tree = d->tree();
    QTreeWidgetItem* item = tree->itemAt(pos);
    if (!item)
        return;
    // The row may go while the menu is open (a listing replaces it).
    const QCFTPFileInfo entry = entryOf(item);
    const bool topLevel = !item->parent();

    enum Command { NewFile, EditFile, UploadFile, UploadFilesystem, Download, Move, Refresh, CreateDir, Delete };
    QPointer<QMenu> menu = new QMenu(this);
    const auto add = [&menu](const QString& text, Command command) {
        QAction* action = new QAction(text, menu);
        action->setData(int(command));
        menu->addAction(action);
        return action;
    };
    if (entry.isFile()) {
        add(tr("Edit File"), EditFile);
        add(tr("DownloadFile"), Download);
    } else {
        add(tr("New File"), NewFile);
        add(tr("Upload File"), UploadFile);
        add(tr("Refresh Direcotry"), Refresh);
        add(tr("Create Directory"), CreateDir);
    }
    QAction* move = add(tr("Move File or Directory"), Move);
    QAction* remove = add(tr("Delete"), Delete);
    if (topLevel) {
        add(QStringLiteral("Upload fileystem"), UploadFilesystem);
        move->setEnabled(false);
        remove->setEnabled(false);
    }

    QPointer<QCFTPFileExplorerWidget> self(this);
    QAction* chosen = menu->exec(tree->viewport()->mapToGlobal(pos));
    if (!self)
        return;
    const int command = chosen && menu ? chosen->data().toInt() : -1;
    delete menu.data();

    switch (command) {
    case NewFile:
        return d->createNewFile(entry);
    case EditFile:
        return d->editFile(entry);
    case UploadFile:
        return d->uploadFile(entry);
    case UploadFilesystem:
        return d->uploadArchive();
    case Download:
        return d->downloadFile(entry);
    case Move:
        return d->moveItem(entry);
    case Refresh:
        return d->openDirectory(entry);
    case CreateDir:
        return d->createDirectory(entry);
    case Delete:
        return d->deleteItem(entry);
    default:
        return;
    }
}

bool QCFTPFileExplorerWidget::eventFilter(QObject* watched, QEvent* event)
{
    QCFTPClientExplorerTreeWidget* tree = d ? d->tree() : nullptr;
    if (!tree || watched != tree || event->type() != QEvent::KeyRelease || !tree->currentItem())
        return false;
    QTreeWidgetItem* item = tree->currentItem();
    const QCFTPFileInfo entry = entryOf(item);
    const bool topLevel = !item->parent();
    // Run once the key has been delivered: a command may open a dialog,
    // and the tree still has the event to handle.
    std::function<void()> command;
    switch (static_cast<QKeyEvent*>(event)->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        command = [this, entry] { d->openDirectory(entry); };
        break;
    case Qt::Key_Delete:
        if (!topLevel)
            command = [this, entry] { d->deleteItem(entry); };
        break;
    case Qt::Key_F2:
        if (!topLevel)
            command = [this, entry] { d->moveItem(entry); };
        break;
    case Qt::Key_F5:
        command = [this] { d->tree()->refresh(); };
        break;
    default:
        break;
    }
    if (command)
        QMetaObject::invokeMethod(this, command, Qt::QueuedConnection);
    return false;
}

void QCFTPFileExplorerWidget::on_treeWidgetExplorer_itemDoubleClicked(QTreeWidgetItem* item, int column)
{
    Q_UNUSED(column)
    if (!item)
        return;
    const QCFTPFileInfo entry = entryOf(item);
    if (entry.isDir())
        d->openDirectory(entry);
    else if (static_cast<QCFTPClientExplorerTreeWidgetItem*>(item)->isTextFile())
        d->editFile(entry);
}

// ---------------------------------------------------------------- commands

void QCFTPFileExplorerWidget::openDirectory(QTreeWidgetItem* item)
{
    if (item)
        d->openDirectory(entryOf(item));
}

void QCFTPFileExplorerWidget::createDirectory(QTreeWidgetItem* item)
{
    if (item)
        d->createDirectory(entryOf(item));
}

void QCFTPFileExplorerWidget::deleteItem(QTreeWidgetItem* item)
{
    if (item)
        d->deleteItem(entryOf(item));
}

void QCFTPFileExplorerWidget::uploadArchive(QTreeWidgetItem* item)
{
    Q_UNUSED(item)
    d->uploadArchive();
}

void QCFTPFileExplorerWidget::editFile(QTreeWidgetItem* item)
{
    if (item)
        d->editFile(entryOf(item));
}

void QCFTPFileExplorerWidget::moveItem(QTreeWidgetItem* item)
{
    if (item)
        d->moveItem(entryOf(item));
}

void QCFTPFileExplorerWidget::createNewFile(QTreeWidgetItem* item)
{
    if (item)
        d->createNewFile(entryOf(item));
}

void QCFTPFileExplorerWidget::uploadFile(QTreeWidgetItem* item)
{
    if (item)
        d->uploadFile(entryOf(item));
}

void QCFTPFileExplorerWidget::downloadFile(QTreeWidgetItem* item)
{
    if (item)
        d->downloadFile(entryOf(item));
}

void QCFTPFileExplorerWidgetPrivate::openDirectory(const QCFTPFileInfo& entry)
{
    if (!entry.isDir())
        return;
    if (!tree()->listPath(entry.path()))
        showRefused(entry.path(), QCFTPFileExplorerWidget::tr("Can't send list request to target, target is busy"));
}

void QCFTPFileExplorerWidgetPrivate::createDirectory(const QCFTPFileInfo& entry)
{
    QPointer<QCFTPFileExplorerWidget> self(q);
    const QString name = askText(QCFTPFileExplorerWidget::tr("Create new Directory"),
                                 QCFTPFileExplorerWidget::tr("The relative path from current directory"), QString());
    if (!self || name.isEmpty())
        return;
    QString dir = entry.path() + name;
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    if (!tree()->createPath(dir))
        showRefused(dir, QCFTPFileExplorerWidget::tr("Can't send create folder to target, target is busy"));
}

void QCFTPFileExplorerWidgetPrivate::deleteItem(const QCFTPFileInfo& entry)
{
    if (!tree()->deletePath(entry.path()))
        showRefused(entry.path(), QCFTPFileExplorerWidget::tr("Can't send delete path to target, target is busy"));
}

void QCFTPFileExplorerWidgetPrivate::moveItem(const QCFTPFileInfo& entry)
{
    if (refuseName(entry.path()))
        return;
    QPointer<QCFTPFileExplorerWidget> self(q);
    const QString path = askText(QCFTPFileExplorerWidget::tr("Move File or Direcotry"),
                                 QCFTPFileExplorerWidget::tr("The absolute path for the new file"), entry.path());
    if (!self || path.isEmpty() || path == entry.path())
        return;
    if (tree()->movePath(entry.path(), path))
        return;
    QCFTPFileInfo target; // the path as the tree gives it, with its leading "/"
    target.setPath(path);
    showRefused(target.path(), QCFTPFileExplorerWidget::tr("Can't send move to target, target is busy"));
}

void QCFTPFileExplorerWidgetPrivate::createNewFile(const QCFTPFileInfo& entry)
{
    QPointer<QCFTPFileExplorerWidget> self(q);
    const QString name = askText(QCFTPFileExplorerWidget::tr("Create new File"),
                                 QCFTPFileExplorerWidget::tr("Please enter the filename for the new file"),
                                 QString());
    if (!self || name.isEmpty())
        return;
    QCFTPFile file;
    file.setData(QByteArray());
    file.setLastModified(quint32(QDateTime::currentMSecsSinceEpoch() / 1000));
    file.setPath(entry.path() + name);
    openEditor(QCFTPFileExplorerWidget::tr("Node: %1 - Create New File").arg(m_nodeAddress), file);
}

void QCFTPFileExplorerWidgetPrivate::editFile(const QCFTPFileInfo& entry)
{
    if (!tree()->downloadFile(entry.path())) {
        showRefused(entry.path(), QCFTPFileExplorerWidget::tr("Can't send download file to target, target is busy"));
        return;
    }
    discardDownload();
    m_download = DownloadForEditor;
    m_downloadConnection = QObject::connect(tree(), &QCFTPClientExplorerTreeWidget::downloadFinished, q,
                                            &QCFTPFileExplorerWidget::onClientDownloadEditFileFinished);
}

void QCFTPFileExplorerWidget::onClientDownloadEditFileFinished(QCFTPFile file)
{
    d->discardDownload();
    d->openEditor(tr("Node: %1 - Edit ").arg(d->m_nodeAddress), file);
}

void QCFTPFileExplorerWidgetPrivate::uploadFile(const QCFTPFileInfo& entry)
{
    QPointer<QCFTPFileExplorerWidget> self(q);
    const QString local = askOpenFileName(QCFTPFileExplorerWidget::tr("Select file"), QString());
    if (!self || local.isEmpty())
        return;
    const QFileInfo info(local);
    if (!info.isFile())
        return;
    QFile in(local);
    if (!in.open(QIODevice::ReadOnly))
        return;
    QCFTPFile file;
    file.setData(in.readAll());
    in.close();
    const qint64 seconds = info.lastModified().toMSecsSinceEpoch() / 1000;
    file.setLastModified(seconds > 0 ? quint32(seconds) : 0);
    file.setPath(entry.path() + info.fileName());
    if (!tree()->uploadFile(file))
        showRefused(file.path(), QCFTPFileExplorerWidget::tr("Can't send upload file to target, target is busy"));
}

void QCFTPFileExplorerWidgetPrivate::downloadFile(const QCFTPFileInfo& entry)
{
    if (refuseName(entry.path()))
        return;
    QPointer<QCFTPFileExplorerWidget> self(q);
    // The save dialog reads a '"' in its name field as quoting a list of
    // names, and would save under a part of the name: the suggestion has
    // none, so that the name it shows is the name saved.
    QString suggested = entry.name();
    suggested.replace(QLatin1Char('"'), QLatin1Char('_'));
    const QString name = askSaveFileName(QCFTPFileExplorerWidget::tr("Select save path"),
                                         QDir::homePath() + QLatin1Char('/') + suggested);
    if (!self || name.isEmpty())
        return;
    // The local file changes only when the whole download is in.
    auto target = std::make_unique<QSaveFile>(name);
    if (!target->open(QIODevice::WriteOnly)) {
        showError(QCFTPFileExplorerWidget::tr("Error"), QCFTPFileExplorerWidget::tr("Can't open file for writing"));
        return;
    }
    if (!tree()->downloadFile(entry.path())) {
        target->cancelWriting();
        q->onClientError(QCFTPFileExplorerWidget::tr("Can't send download file to target, target is busy"));
        return;
    }
    discardDownload();
    m_saveFile = std::move(target);
    m_download = DownloadToDisk;
    m_downloadConnection = QObject::connect(tree(), &QCFTPClientExplorerTreeWidget::downloadFinished, q,
                                            &QCFTPFileExplorerWidget::onClientDownloadFileFinished);
}

void QCFTPFileExplorerWidget::onClientDownloadFileFinished(QCFTPFile file)
{
    disconnect(d->m_downloadConnection);
    d->m_download = QCFTPFileExplorerWidgetPrivate::NoDownload;
    const std::unique_ptr<QSaveFile> target = std::move(d->m_saveFile);
    if (!target)
        return;
    target->write(file.data());
    if (!target->commit())
        d->showError(tr("Error"), target->errorString());
}

void QCFTPFileExplorerWidgetPrivate::uploadArchive()
{
    QPointer<QCFTPFileExplorerWidget> self(q);
    const QString archive = askOpenFileName(QCFTPFileExplorerWidget::tr("Select Archive"),
                                            QCFTPFileExplorerWidget::tr("Archive (*.tar.gz)"));
    if (!self || archive.isEmpty())
        return;
    if (!tree()->uploadFilesystem(archive))
        q->onClientError(QCFTPFileExplorerWidget::tr("Can't send upload file to target, target is busy"));
}

void QCFTPFileExplorerWidgetPrivate::openEditor(const QString& title, const QCFTPFile& file)
{
    // A child of the explorer, but a window of its own; it saves through the
    // tree and asks before its unsaved text is lost.
    auto* editor = new TextEditorWindow(title, tree(), file, q);
    editor->show();
}
