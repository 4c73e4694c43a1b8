#include "qcftpclient.h"
#include "qcftpclient_p.h"
#include "qcftpheaderreader_p.h"

#include <QDeadlineTimer>
#include <QDebug>

namespace {

const QString DisconnectedText = QStringLiteral("Disconnected from server");

// A parameter line the server would read as something else.
bool isSendable(const QString& parameter)
{
    return !parameter.contains(QLatin1Char('\n')) && !parameter.contains(QLatin1Char('\r'))
        && !parameter.contains(QChar(0)) && !parameter.trimmed().isEmpty();
}

} // namespace

// ---------------------------------------------------------------- QCFTPClient

QCFTPClient::QCFTPClient(QErfcStack* erfc, QObject* parent)
    : QObject(parent)
    , d(new QCFTPClientPrivate(this, erfc))
{
}

QCFTPClient::~QCFTPClient()
{
    if (d->onExecThread()) {
        d->orphan(); // the exec thread deletes it as it ends
    } else {
        delete d;
    }
    d = nullptr;
}

bool QCFTPClient::connectToServer(const QString& user, const QString& password, quint8 address, quint8 port)
{
    return d->connectToServer(user, password, address, port);
}

void QCFTPClient::disconnectFromServer() { d->disconnectFromServer(); }

bool QCFTPClient::listPath(const QString& path)
{
    if (!d->checkName(path))
        return false;
    return d->startCommand(QStringLiteral("LST"), {path}, path);
}

bool QCFTPClient::createPath(const QString& path)
{
    if (!d->checkName(path))
        return false;
    return d->startCommand(QStringLiteral("MKD"), {path}, path);
}

bool QCFTPClient::deletePath(const QString& path)
{
    if (!d->checkName(path))
        return false;
    return d->startCommand(QStringLiteral("DEL"), {path}, path);
}

bool QCFTPClient::movePath(const QString& sourcepath, const QString& newpath)
{
    if (!d->checkName(sourcepath) || !d->checkName(newpath))
        return false;
    return d->startCommand(QStringLiteral("MOV"), {sourcepath, newpath}, sourcepath);
}

bool QCFTPClient::copyPath(const QString& sourcepath, const QString& newpath)
{
    if (!d->checkName(sourcepath) || !d->checkName(newpath))
        return false;
    return d->startCommand(QStringLiteral("CPY"), {sourcepath, newpath}, sourcepath);
}

bool QCFTPClient::uploadFile(const QCFTPFile& file)
{
    if (!d->checkName(file.path()))
        return false;
    return d->startCommand(QStringLiteral("STR"),
                           {file.path(), QString::number(file.lastModified()), QString::number(file.size())},
                           file.path(), file.data());
}

bool QCFTPClient::downloadFile(const QString& path)
{
    if (!d->checkName(path))
        return false;
    return d->startCommand(QStringLiteral("GET"), {path}, path);
}

bool QCFTPClient::isPossibleName(const QString& path)
{
    return isSendable(path) && QCftpHeaderReader::readsBackUnchanged(path);
}

bool QCFTPClient::waitForFinished(int msecs) { return d->waitForFinished(msecs); }
QCFTP::Client::State QCFTPClient::state() const { return QCFTP::Client::State(d->state()); }

QString QCFTPClient::errorString() const
{
    QMutexLocker lock(&d->resultLock);
    return d->message;
}

QCFTPFile QCFTPClient::downloadedFile() const
{
    QMutexLocker lock(&d->resultLock);
    return d->downloaded;
}

QList<QCFTPFileInfo> QCFTPClient::fileInfoList() const
{
    QMutexLocker lock(&d->resultLock);
    return d->listing;
}

// ---------------------------------------------------------------- start and end

QCFTPClientPrivate::QCFTPClientPrivate(QCFTPClient* owner, QErfcStack* stack)
    : q(owner)
    , stack(stack)
    , execThread(new QThread)
{
    QCFTP::registerMetaTypes();
    qRegisterMetaType<QCargo::CargoState>("QCargo::CargoState");
    qRegisterMetaType<QCargo::CargoError>("QCargo::CargoError");
    execThread->setObjectName(QStringLiteral("QCFTPClient Execthread"));
    moveToThread(execThread);
    // Direct: both run on the exec thread itself, first and last.
    connect(execThread, &QThread::started, this, &QCFTPClientPrivate::onInitObjects, Qt::DirectConnection);
    connect(execThread, &QThread::finished, this, &QCFTPClientPrivate::onFinishedObjects,
            Qt::DirectConnection);
    execThread->start(QThread::InheritPriority);
    initSemaphore.acquire();
}

QCFTPClientPrivate::~QCFTPClientPrivate()
{
    if (orphaned.load())
        return; // the exec thread is ending on its own, and this runs on it
    execThread->quit();
    execThread->wait();
    delete execThread;
}

void QCFTPClientPrivate::orphan()
{
    q = nullptr;
    orphaned = true;
    ++generation;
    endConnection();
    // The thread object goes on its creator's thread once the thread has ended.
    connect(execThread, &QThread::finished, execThread, &QObject::deleteLater);
    execThread->quit();
}

void QCFTPClientPrivate::onInitObjects()
{
    initSemaphore.release();
}

void QCFTPClientPrivate::onFinishedObjects()
{
    // An open connection is closed with a disconnect frame before the stream goes.
    if (cargo && cargo->state() == QCargo::StateConnected) {
        cargo->disconnectFromNode();
        cargo->waitForDisconnected(DisconnectWaitMs);
    }
    delete cargo;
    cargo = nullptr;
    if (orphaned.load())
        delete this;
}

// ---------------------------------------------------------------- state and signals

namespace {

// The status word with the state `to` and `ends` more ends counted.
quint64 nextStatus(quint64 status, int to, quint64 ends)
{
    constexpr int StateBits = QCFTPClientPrivate::StateBits;
    return ((QCFTPClientPrivate::endsOf(status) + ends) << StateBits) | quint64(to);
}

} // namespace

bool QCFTPClientPrivate::moveState(int from, int to)
{
    quint64 current = status.load();
    while (stateOf(current) == from) {
        if (status.compare_exchange_weak(current, nextStatus(current, to, 0)))
            return true;
    }
    return false;
}

quint64 QCFTPClientPrivate::endIn(int from, int to)
{
    quint64 current = status.load();
    while (stateOf(current) == from) {
        const quint64 next = nextStatus(current, to, 1);
        if (status.compare_exchange_weak(current, next))
            return endsOf(next);
    }
    return 0;
}

quint64 QCFTPClientPrivate::endConnection()
{
    quint64 current = status.load();
    while (stateOf(current) != QCFTP::Client::Disconnected) {
        const quint64 next = nextStatus(current, QCFTP::Client::Disconnected, 1);
        if (status.compare_exchange_weak(current, next))
            return endsOf(next);
    }
    return 0;
}

quint64 QCFTPClientPrivate::announceEnd()
{
    return endsOf(status.fetch_add(quint64(1) << StateBits)) + 1;
}

void QCFTPClientPrivate::setMessage(const QString& text, bool onlyIfEmpty)
{
    QMutexLocker lock(&resultLock);
    if (!onlyIfEmpty || message.isEmpty())
        message = text;
}

void QCFTPClientPrivate::emitState()
{
    if (QCFTPClient* owner = q.load())
        emit owner->stateChanged(QCFTP::Client::State(state()));
}

void QCFTPClientPrivate::emitFinished(QCFTP::ResponseCode code, quint64 number)
{
    if (QCFTPClient* owner = q.load())
        emit owner->finished(code);
    emit ended(number, code);
    transactionSemaphore.release();
}

QString QCFTPClientPrivate::refusedNameText(const QString& path)
{
    return QStringLiteral("File name not allowed on the node, path: ") + path;
}

bool QCFTPClientPrivate::checkName(const QString& path)
{
    if (QCFTPClient::isPossibleName(path))
        return true;
    // Said only by a client that would have taken the command: the message
    // of a command still under way is its own. A command that starts after
    // the check clears the message as it starts.
    QMutexLocker lock(&resultLock);
    if (state() == QCFTP::Client::Ready)
        message = refusedNameText(path);
    return false;
}

void QCFTPClientPrivate::wakeIdle()
{
    QMutexLocker lock(&idleLock);
    idleCondition.wakeAll();
}

// ---------------------------------------------------------------- public operations

bool QCFTPClientPrivate::connectToServer(const QString& userName, const QString& pass, quint8 address,
                                         quint8 port)
{
    const QString name = userName.isEmpty() ? QStringLiteral("anonymous") : userName;
    if (!isSendable(name))
        return false;
    if (!moveState(QCFTP::Client::Disconnected, QCFTP::Client::Connecting))
        return false;
    transactionSemaphore.tryAcquire(transactionSemaphore.available());
    const quint64 gen = ++generation;
    {
        QMutexLocker lock(&resultLock);
        message.clear();
        command.clear();
    }
    emitState();
    QMetaObject::invokeMethod(this, [=] { openConnection(gen, name, pass, address, port); },
                              Qt::QueuedConnection);
    return true;
}

void QCFTPClientPrivate::disconnectFromServer()
{
    // On return the connection's finished(127) has been emitted.
    const quint64 before = ends.load();
    if (state() == QCFTP::Client::Disconnected)
        return;
    if (onExecThread()) {
        if (cargo) {
            cargo->disconnectFromNode();
            if (cargo->waitForDisconnected(DisconnectWaitMs)) {
                connectionEnded();
                return;
            }
        }
        dropLocally();
        return;
    }
    const quint64 gen = generation.load();
    QMetaObject::invokeMethod(this, [this, gen] {
        if (gen != generation.load())
            return;
        if (cargo && cargo->state() != QCargo::StateDisconnected)
            cargo->disconnectFromNode();
        else
            connectionEnded(); // nothing to wait for: the connect never got going
    }, Qt::QueuedConnection);

    const QDeadlineTimer deadline(DisconnectWaitMs);
    QMutexLocker lock(&idleLock);
    while (ends.load() == before) {
        if (!idleCondition.wait(&idleLock, deadline))
            break;
    }
    lock.unlock();
    if (ends.load() == before)
        dropLocally();
}

void QCFTPClientPrivate::dropLocally()
{
    // A new generation first, so that a connect that follows keeps its own.
    const quint64 gen = ++generation;
    const quint64 end = endConnection();
    if (!end)
        return;
    setMessage(DisconnectedText, true);
    // The old stream goes on its own thread; it closes itself as it goes.
    QMetaObject::invokeMethod(this, [this, gen] {
        if (gen == generation.load())
            dropStream();
    }, Qt::QueuedConnection);
    emitState();
    emitFinished(QCFTP::ConnectionLost, end);
    ++ends;
    wakeIdle();
}

bool QCFTPClientPrivate::startCommand(const QString& word, const QStringList& parameters, const QString& path,
                                      const QByteArray& raw)
{
    for (const QString& parameter : parameters) {
        if (!isSendable(parameter))
            return false;
    }
    if (!moveState(QCFTP::Client::Ready, QCFTP::Client::Busy))
        return false;
    transactionSemaphore.tryAcquire(transactionSemaphore.available());
    const quint64 gen = generation.load();
    {
        QMutexLocker lock(&resultLock);
        message.clear();
        command = word;
        if (word == QLatin1String("GET")) {
            downloaded = QCFTPFile();
            downloaded.setPath(path);
        }
    }
    emitState();
    QMetaObject::invokeMethod(this, [=] { writeRequest(gen, word, parameters, raw, path); },
                              Qt::QueuedConnection);
    return true;
}

bool QCFTPClientPrivate::waitForFinished(int msecs)
{
    if (onExecThread())
        transactionSemaphore.tryAcquire(1, 0); // the exec thread would wait for itself
    else if (msecs < 0)
        transactionSemaphore.acquire();
    else
        transactionSemaphore.tryAcquire(1, msecs);
    return state() == QCFTP::Client::Ready;
}

// ---------------------------------------------------------------- the stream (exec thread)

void QCFTPClientPrivate::dropStream()
{
    delete cargo;
    cargo = nullptr;
    buffer.clear();
    parser.reset();
}

void QCFTPClientPrivate::openConnection(quint64 gen, const QString& userName, const QString& pass,
                                        quint8 address, quint8 port)
{
    if (gen != generation.load())
        return;
    dropStream();
    user = userName;
    password = pass;
    cargo = new QCargo(stack);
    // Queued: the stream reports from its own and the stack's threads.
    connect(cargo, &QCargo::readyRead, this, [this, gen] { onConnectionReadyRead(gen); }, Qt::QueuedConnection);
    connect(cargo, &QCargo::stateChanged, this,
            [this, gen](QCargo::CargoState s) { onConnectionStateChanged(gen, s); }, Qt::QueuedConnection);
    connect(cargo, &QCargo::error, this, [this, gen](QCargo::CargoError e) { onConnectionError(gen, e); },
            Qt::QueuedConnection);
    connect(cargo, &QCargo::transactionProgress, this,
            [this, gen](qint64 bytes, qint64 total) { onConnectionTransactionProgress(gen, bytes, total); },
            Qt::QueuedConnection);
    cargo->setRemoteAddress(address);
    cargo->setRemoteFunctionId(port);
    cargo->connectToNode();
}

void QCFTPClientPrivate::onConnectionStateChanged(quint64 gen, QCargo::CargoState cargoState)
{
    if (gen != generation.load())
        return;
    switch (cargoState) {
    case QCargo::StateConnected:
        if (moveState(QCFTP::Client::Connecting, QCFTP::Client::Connected)) {
            sendHandshake();
            emitState();
        }
        break;
    case QCargo::StateDisconnected:
        connectionEnded();
        break;
    default:
        break; // connecting: the client said so when the connect began
    }
}

void QCFTPClientPrivate::onConnectionError(quint64 gen, QCargo::CargoError cargoError)
{
    if (gen != generation.load() || state() == QCFTP::Client::Disconnected || !cargo)
        return;
    setMessage(QCargo::errorString(cargoError), true);
    // A stream that never got going (refused at once) reports no disconnection.
    if (cargo->state() == QCargo::StateDisconnected)
        connectionEnded();
    else
        cargo->disconnectFromNode();
}

void QCFTPClientPrivate::onConnectionTransactionProgress(quint64 gen, qlonglong bytes, qlonglong total)
{
    if (gen != generation.load() || state() != QCFTP::Client::Busy)
        return;
    {
        QMutexLocker lock(&resultLock);
        if (command != QLatin1String("STR"))
            return;
    }
    if (QCFTPClient* owner = q.load())
        emit owner->transactionProgress(bytes, total);
}

void QCFTPClientPrivate::connectionEnded()
{
    const quint64 end = endConnection();
    if (!end)
        return;
    setMessage(DisconnectedText, true);
    buffer.clear();
    parser.reset();
    emitState();
    emitFinished(QCFTP::ConnectionLost, end);
    ++ends;
    wakeIdle();
}

void QCFTPClientPrivate::onConnectionReadyRead(quint64 gen)
{
    if (gen != generation.load() || !cargo)
        return;
    if (cargo->isReadable())
        buffer += cargo->readAll();
    readResponses();
}

// ---------------------------------------------------------------- requests and responses

void QCFTPClientPrivate::write(const QString& word, const QStringList& parameters, const QByteArray& raw)
{
    setMessage(QString());
    QStringList lines{word};
    lines += parameters;
    cargo->write(QCftpHeaderReader::encode(lines) + raw);
}

void QCFTPClientPrivate::sendHandshake()
{
    if (!moveState(QCFTP::Client::Connected, QCFTP::Client::Handshaking))
        return;
    emitState();
    buffer.clear();
    parser.expect(QCftpResponseParser::Handshake);
    write(QStringLiteral("HND"), {});
}

void QCFTPClientPrivate::sendLogin()
{
    if (!moveState(QCFTP::Client::HandshakeDone, QCFTP::Client::LoggingIn))
        return;
    emitState();
    parser.expect(QCftpResponseParser::Login);
    write(QStringLiteral("LOG"), {user, QString::fromLatin1(QCFTP::loginToken(password, challenge))});
}

void QCFTPClientPrivate::writeRequest(quint64 gen, const QString& word, const QStringList& parameters,
                                      const QByteArray& raw, const QString& path)
{
    // The connection may have ended since the command was accepted.
    if (gen != generation.load() || state() != QCFTP::Client::Busy || !cargo)
        return;
    if (!buffer.isEmpty()) {
        qWarning("CFTP: %d bytes arrived outside a response; dropped", int(buffer.size()));
        buffer.clear();
    }
    parser.expect(QCftpResponseParser::Command, word, path);
    write(word, parameters, raw);
}

void QCFTPClientPrivate::readResponses()
{
    while (!buffer.isEmpty()) {
        const int s = state();
        if (s != QCFTP::Client::Handshaking && s != QCFTP::Client::LoggingIn && s != QCFTP::Client::Busy) {
            qWarning("CFTP: %d bytes arrived outside a response (state %d); dropped", int(buffer.size()), s);
            buffer.clear();
            return;
        }
        const QCftpResponseParser::Outcome out = parser.feed(buffer);
        switch (out.kind) {
        case QCftpResponseParser::Outcome::NeedMore:
            if (out.buffered >= 0) {
                if (QCFTPClient* owner = q.load())
                    emit owner->transactionProgress(out.buffered, out.length);
            }
            return;
        case QCftpResponseParser::Outcome::Unexpected:
            qWarning("CFTP: an answer arrived with no request in flight; dropped");
            return;
        case QCftpResponseParser::Outcome::Failed:
            if (s == QCFTP::Client::Busy && parser.command() == QLatin1String("LST")) {
                QMutexLocker lock(&resultLock);
                listing = parser.listing(); // what was read before the bad line
            }
            buffer.clear();
            // The connection ends: finished(1) now, finished(127) once the stream is down.
            setMessage(out.message);
            if (cargo)
                cargo->disconnectFromNode();
            emitFinished(out.code, announceEnd());
            return;
        case QCftpResponseParser::Outcome::Done:
            break;
        }

        if (s == QCFTP::Client::Handshaking) {
            if (out.code != QCFTP::Success) {
                failConnection(out.code, out.message);
                return;
            }
            handshakeNumber = parser.handshakeNumber();
            challenge = parser.challenge();
            if (moveState(QCFTP::Client::Handshaking, QCFTP::Client::HandshakeDone)) {
                sendLogin();
                emitState();
            }
        } else if (s == QCFTP::Client::LoggingIn) {
            if (out.code != QCFTP::Success) {
                failConnection(out.code, out.message);
                return;
            }
            complete();
        } else if (out.code != QCFTP::Success) {
            failCommand(out.code, out.message);
        } else {
            {
                QMutexLocker lock(&resultLock);
                if (command == QLatin1String("LST")) {
                    listing = parser.listing();
                } else if (command == QLatin1String("GET")) {
                    downloaded.setData(parser.downloadData());
                    downloaded.setLastModified(parser.downloadTime());
                }
            }
            complete();
        }
    }
}

void QCFTPClientPrivate::complete()
{
    const int from = state();
    if (from != QCFTP::Client::Busy && from != QCFTP::Client::LoggingIn)
        return;
    const quint64 end = endIn(from, QCFTP::Client::Ready);
    if (!end)
        return;
    emitState();
    emitFinished(QCFTP::Success, end);
}

void QCFTPClientPrivate::failCommand(QCFTP::ResponseCode code, const QString& text)
{
    setMessage(text);
    const quint64 end = endIn(QCFTP::Client::Busy, QCFTP::Client::Ready);
    if (!end)
        return;
    emitState();
    emitFinished(code, end);
}

void QCFTPClientPrivate::failConnection(QCFTP::ResponseCode code, const QString& text)
{
    setMessage(text);
    buffer.clear();
    parser.reset();
    if (cargo)
        cargo->disconnectFromNode();
    emitFinished(code, announceEnd());
}
