#include "qcftpserver.h"
#include "qcftppathresolver_p.h"
#include "qcftpserver_p.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

const QString NotAllowed = QStringLiteral("Action is not allowed");
const QString NoPath = QStringLiteral("Path does not exist");
const QString NoPathOnServer = QStringLiteral("Path does not exist on server");
const QString NotAFile = QStringLiteral("Path is not a file");

void refuse(QCFTP::ResponseCode& code, QString& message, QCFTP::ResponseCode c, const QString& text)
{
    code = c;
    message = text;
}

quint32 seconds(const QDateTime& time)
{
    return quint32(time.toMSecsSinceEpoch() / 1000);
}

} // namespace

// ---------------------------------------------------------------- QCFTPServer

QCFTPServer::QCFTPServer(QErfcStack* erfc, QObject* parent)
    : QObject(parent)
    , d(new QCFTPServerPrivate(this, erfc))
{
}

QCFTPServer::~QCFTPServer()
{
    delete d; // with its stream, before the QObject part goes
}

QCFTP::Server::State QCFTPServer::state() const { return d->m_state; }
QString QCFTPServer::rootPath() const { return d->m_root; }

bool QCFTPServer::listen(QErfc::Privilege privilege, quint8 port)
{
    if (d->m_state != QCFTP::Server::Closed)
        return false;
    d->m_privilege = privilege;
    d->m_port = port;
    d->setState(QCFTP::Server::BeginListening);
    return true;
}

void QCFTPServer::close()
{
    d->setState(QCFTP::Server::Closed);
    d->resetConnection();
    d->m_cargo.disconnectFromNode();
}

void QCFTPServer::addUser(const QString& user, const QString& password)
{
    d->m_users.insert(user, password);
}

void QCFTPServer::setRootPath(const QString& path)
{
    d->m_root = path;
    if (!path.isEmpty() && !path.endsWith(QLatin1Char('/')))
        d->m_root += QLatin1Char('/');
}

void QCFTPServer::checkLogin(const QString& user, const QString& password, QCFTP::ResponseCode& code)
{
    const auto it = d->m_users.constFind(user);
    code = it != d->m_users.constEnd() && it.value() == password ? QCFTP::Success : QCFTP::ActionNotAllowed;
}

bool QCFTPServer::resolvePath(const QString& path, PathUse use, QString* localPath) const
{
    return QCftpPathResolver::resolve(d->m_root, path,
                                      use == BelowRoot ? QCftpPathResolver::BelowRoot
                                                       : QCftpPathResolver::AnyPath,
                                      localPath);
}

bool QCFTPServer::handleCommand(const QString&, const QStringList&, bool, QCFTP::ResponseCode&, QString&,
                                QStringList&)
{
    return false;
}

void QCFTPServer::listPath(const QString& path, QList<QCFTPFileInfo>& list, QCFTP::ResponseCode& code,
                           QString& message)
{
    QString local;
    if (!resolvePath(path, AnyPath, &local))
        return refuse(code, message, QCFTP::ActionNotAllowed, NotAllowed);
    if (!QFileInfo(local).isDir())
        return refuse(code, message, QCFTP::PathDoesNotExist, NoPathOnServer);
    const QFileInfoList entries = QDir(local).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot,
                                                            QDir::DirsFirst | QDir::Name);
    list.clear();
    for (const QFileInfo& entry : entries) {
        QCFTPFileInfo info;
        info.setPath(entry.isDir() ? entry.fileName() + QLatin1Char('/') : entry.fileName());
        info.setLastModified(seconds(entry.lastModified()));
        info.setSize(entry.isDir() ? 0 : uint(qMin<qint64>(entry.size(), 0xFFFFFFFFLL)));
        list.append(info);
    }
    code = QCFTP::Success;
}

void QCFTPServer::makePath(const QString& path, QCFTP::ResponseCode& code, QString& message)
{
    QString local;
    if (!resolvePath(path, AnyPath, &local) || !QDir().mkpath(local))
        return refuse(code, message, QCFTP::ActionNotAllowed, NotAllowed);
    code = QCFTP::Success;
}

void QCFTPServer::deletePath(const QString& path, QCFTP::ResponseCode& code, QString& message)
{
    QString local;
    if (!resolvePath(path, BelowRoot, &local))
        return refuse(code, message, QCFTP::ActionNotAllowed, NotAllowed);
    const QFileInfo info(local);
    bool removed;
    if (info.isSymLink()) {
        removed = QFile::remove(local); // the link, never what it points at
    } else if (!info.exists()) {
        return refuse(code, message, QCFTP::PathDoesNotExist, NoPath);
    } else if (info.isDir()) {
        removed = QDir(local).removeRecursively(); // does not follow links inside
    } else {
        removed = QFile::remove(local);
    }
    if (!removed)
        return refuse(code, message, QCFTP::ActionNotAllowed, NotAllowed);
    code = QCFTP::Success;
}

void QCFTPServer::movePath(const QString& sourcepath, const QString& newpath, QCFTP::ResponseCode& code,
                           QString& message)
{
    QString source, target;
    if (!resolvePath(sourcepath, BelowRoot, &source) || !resolvePath(newpath, BelowRoot, &target))
        return refuse(code, message, QCFTP::ActionNotAllowed, NotAllowed);
    if (!QFileInfo(source).isDir())
        return refuse(code, message, QCFTP::PathDoesNotExist, NoPath);
    if (!QDir().rename(source, target))
        return refuse(code, message, QCFTP::ActionNotAllowed, NotAllowed);
    code = QCFTP::Success;
}

void QCFTPServer::storeFile(const QCFTPFile& file, QCFTP::ResponseCode& code, QString& message)
{
    QString local;
    if (!resolvePath(file.path(), AnyPath, &local))
        return refuse(code, message, QCFTP::ActionNotAllowed, NotAllowed);
    QFile out(local);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(file.data()) != file.size()) {
        return refuse(code, message, QCFTP::ActionNotAllowed, NotAllowed);
    }
    code = QCFTP::Success;
}

void QCFTPServer::getFile(const QString& path, QCFTPFile& file, QCFTP::ResponseCode& code, QString& message)
{
    QString local;
    if (!resolvePath(path, AnyPath, &local))
        return refuse(code, message, QCFTP::ActionNotAllowed, NotAllowed);
    const QFileInfo info(local);
    if (!info.isFile())
        return refuse(code, message, QCFTP::PathIsNotAFile, NotAFile);
    QFile in(local);
    if (info.size() > QCFTP::MaxFileSize || !in.open(QIODevice::ReadOnly))
        return refuse(code, message, QCFTP::ActionNotAllowed, NotAllowed);
    file.setPath(path);
    file.setData(in.readAll());
    file.setLastModified(seconds(info.lastModified()));
    code = QCFTP::Success;
}

// ---------------------------------------------------------------- QCFTPServerPrivate

QCFTPServerPrivate::QCFTPServerPrivate(QCFTPServer* owner, QErfcStack* stack)
    : QObject(owner)
    , q(owner)
    , m_cargo(stack)
    , m_dispatcher(this)
{
    QCFTP::registerMetaTypes();
    qRegisterMetaType<QCargo::CargoState>("QCargo::CargoState");
    qRegisterMetaType<QCargo::CargoError>("QCargo::CargoError");
    m_cargo.setName(QStringLiteral("CFTP"));
    // Queued: the stream reports from its own threads and the stack's.
    connect(&m_cargo, &QCargo::readyRead, this, &QCFTPServerPrivate::onConnectionReadyRead,
            Qt::QueuedConnection);
    connect(&m_cargo, &QCargo::stateChanged, this, &QCFTPServerPrivate::onConnectionStateChanged,
            Qt::QueuedConnection);
    connect(&m_cargo, &QCargo::error, this, &QCFTPServerPrivate::onConnectionError, Qt::QueuedConnection);
    connect(&m_cargo, &QCargo::transactionProgress, q, &QCFTPServer::transactionProgress,
            Qt::QueuedConnection);
    // The last answer before a forced close has gone out. The end of the
    // answer before it may be reported only now (its window's confirmation
    // can come behind the client's next request): bytes still waiting then
    // are that last answer, and closing would lose it.
    connect(&m_cargo, &QCargo::finished, this, [this] {
        if (m_closing && m_cargo.bytesToWrite() == 0)
            closeConnection();
    }, Qt::QueuedConnection);
    m_closeTimer.setSingleShot(true);
    m_closeTimer.setInterval(CloseAfterWriteMs);
    connect(&m_closeTimer, &QTimer::timeout, this, &QCFTPServerPrivate::closeConnection);
}

QCFTPServerPrivate::~QCFTPServerPrivate()
{
    m_state = QCFTP::Server::Closed;
    m_cargo.disconnect(); // nothing the stream says on its way out reaches the server
}

void QCFTPServerPrivate::setState(QCFTP::Server::State next)
{
    if (next == m_state)
        return;
    m_state = next;
    if (next == QCFTP::Server::BeginListening)
        beginListening();
    emit q->stateChanged(m_state);
}

void QCFTPServerPrivate::beginListening()
{
    // What the last client sent and nobody read (blocks of a window that
    // never ended) would come ahead of the next client's requests: it goes
    // now, while no connection can add to it.
    if (m_cargo.state() == QCargo::StateDisconnected && m_cargo.isReadable())
        m_cargo.readAll();
    if (!m_cargo.listen(m_privilege, m_port))
        emit q->error(QStringLiteral("Can't open port"));
}

void QCFTPServerPrivate::resetConnection()
{
    m_dispatcher.reset();
    m_buffer.clear();
    m_closing = false;
    m_closeTimer.stop();
}

void QCFTPServerPrivate::closeConnection()
{
    m_closeTimer.stop();
    m_cargo.disconnectFromNode();
}

void QCFTPServerPrivate::onConnectionStateChanged(QCargo::CargoState cargoState)
{
    if (m_state == QCFTP::Server::Closed)
        return;
    switch (cargoState) {
    case QCargo::StateListening:
        setState(QCFTP::Server::Listening);
        break;
    case QCargo::StateConnecting:
        setState(QCFTP::Server::ClientConnecting);
        break;
    case QCargo::StateConnected:
        resetConnection(); // nothing of an earlier client carries over
        setState(QCFTP::Server::ClientConnected);
        break;
    case QCargo::StateDisconnected:
        resetConnection();
        // Listen again, also when an error already took the state to 1.
        if (m_state == QCFTP::Server::BeginListening)
            beginListening();
        else
            setState(QCFTP::Server::BeginListening);
        break;
    }
}

void QCFTPServerPrivate::onConnectionError(QCargo::CargoError cargoError)
{
    if (m_state == QCFTP::Server::Closed || cargoError == QCargo::ErrorWrongState)
        return;
    // A live stream is closed first; its disconnection then listens again.
    if (m_cargo.state() == QCargo::StateConnected)
        closeConnection();
    else
        setState(QCFTP::Server::BeginListening);
}

void QCFTPServerPrivate::onConnectionReadyRead()
{
    if (!m_cargo.isReadable())
        return;
    const QByteArray bytes = m_cargo.readAll();
    if (m_closing || m_state < QCFTP::Server::ClientConnected)
        return;
    m_buffer += bytes;
    const QCftpRequestDispatcher::Result result = m_dispatcher.feed(m_buffer);
    if (result.loggedIn)
        setState(QCFTP::Server::LoggedIn);
    if (!result.answers.isEmpty())
        m_cargo.write(result.answers);
    if (result.disconnect) {
        if (result.answers.isEmpty()) {
            closeConnection();
        } else {
            m_closing = true; // closed when the answer has gone out
            m_closeTimer.start();
        }
    }
}

// ---------------------------------------------------------------- the server's operations

void QCFTPServerPrivate::checkLogin(const QString& user, const QString& password, QCFTP::ResponseCode& code)
{
    q->checkLogin(user, password, code);
}

void QCFTPServerPrivate::listPath(const QString& path, QList<QCFTPFileInfo>& list, QCFTP::ResponseCode& code,
                                  QString& message)
{
    q->listPath(path, list, code, message);
}

void QCFTPServerPrivate::makePath(const QString& path, QCFTP::ResponseCode& code, QString& message)
{
    q->makePath(path, code, message);
}

void QCFTPServerPrivate::deletePath(const QString& path, QCFTP::ResponseCode& code, QString& message)
{
    q->deletePath(path, code, message);
}

void QCFTPServerPrivate::movePath(const QString& sourcepath, const QString& newpath, QCFTP::ResponseCode& code,
                                  QString& message)
{
    q->movePath(sourcepath, newpath, code, message);
}

void QCFTPServerPrivate::storeFile(const QCFTPFile& file, QCFTP::ResponseCode& code, QString& message)
{
    q->storeFile(file, code, message);
}

void QCFTPServerPrivate::getFile(const QString& path, QCFTPFile& file, QCFTP::ResponseCode& code,
                                 QString& message)
{
    q->getFile(path, file, code, message);
}

bool QCFTPServerPrivate::handleCommand(const QString& command, const QStringList& parameters, bool loggedIn,
                                       QCFTP::ResponseCode& code, QString& message, QStringList& lines)
{
    return q->handleCommand(command, parameters, loggedIn, code, message, lines);
}
