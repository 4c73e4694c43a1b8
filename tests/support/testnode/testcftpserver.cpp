#include "testcftpserver.h"
#include "qcftpserver_p.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QThread>

namespace {

const QString NotAllowed = QStringLiteral("Action is not allowed");

// Copies a local directory tree; links are not followed.
bool copyTree(const QString& from, const QString& to)
{
    if (!QDir().mkpath(to))
        return false;
    const QFileInfoList entries = QDir(from).entryInfoList(QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot
                                                           | QDir::NoSymLinks | QDir::Hidden);
    for (const QFileInfo& entry : entries) {
        const QString target = to + QLatin1Char('/') + entry.fileName();
        if (entry.isDir() ? !copyTree(entry.filePath(), target) : !QFile::copy(entry.filePath(), target))
            return false;
    }
    return true;
}

} // namespace

TestCftpServer::TestCftpServer(QErfcStack* stack, const QString& user, const QString& password, QObject* parent)
    : QCFTPServer(stack, parent)
    , m_user(user)
    , m_password(password)
{
    // A challenge belongs to one connection.
    connect(this, &QCFTPServer::stateChanged, this, [this](QCFTP::Server::State state) {
        if (state != QCFTP::Server::LoggedIn)
            m_challenge.clear();
        if (state < QCFTP::Server::ClientConnected)
            m_receiving = false;
    });
    // After the server's own handlers: what they did with the bytes is known.
    QCFTPServerPrivate* p = QCFTPServerPrivate::get(this);
    connect(&p->m_cargo, &QCargo::readyRead, this, &TestCftpServer::onReceived, Qt::QueuedConnection);
}

void TestCftpServer::record(const QString& line)
{
    m_commands.append(line);
    emit commandServed(line);
}

void TestCftpServer::setFault(const Fault& fault)
{
    m_fault = fault;
    m_faultSet = true;
}

bool TestCftpServer::setFault(const QString& rule)
{
    const int eq = rule.indexOf(QLatin1Char('='));
    if (eq <= 0)
        return false;
    Fault fault;
    fault.command = rule.left(eq);
    QString what = rule.mid(eq + 1);
    const int at = what.indexOf(QLatin1Char('@'));
    if (at >= 0) {
        bool ok = false;
        fault.occurrence = what.mid(at + 1).toInt(&ok);
        if (!ok || fault.occurrence < 1)
            return false;
        what = what.left(at);
    }
    if (what == QLatin1String("drop")) {
        fault.kind = Fault::Drop;
    } else if (what == QLatin1String("half")) {
        fault.kind = Fault::DropHalfway;
    } else {
        bool ok = false;
        fault.code = what.toInt(&ok);
        if (!ok || fault.code <= 0)
            return false;
    }
    setFault(fault);
    return true;
}

void TestCftpServer::clearFault()
{
    m_faultSet = false;
}

bool TestCftpServer::faultHits(const QString& command, QCFTP::ResponseCode& code, QString& message)
{
    if (!m_faultSet || m_fault.command != command)
        return false;
    if (--m_fault.occurrence > 0)
        return false;
    m_faultSet = false;
    switch (m_fault.kind) {
    case Fault::Code:
        code = m_fault.code;
        message = m_fault.message;
        break;
    case Fault::Drop:
        dropLink();
        code = QCFTP::ActionNotAllowed; // never goes out: the link is down
        message = m_fault.message;
        break;
    case Fault::DropHalfway:
        break; // the caller arms it
    }
    return true;
}

void TestCftpServer::dropLink()
{
    QCFTPServerPrivate* p = QCFTPServerPrivate::get(this);
    p->m_cargo.disconnectFromNode();
    // Down before the server writes the answer of the command at hand, so
    // that the answer never goes out.
    const QDeadlineTimer deadline(5000);
    while (p->m_cargo.state() != QCargo::StateDisconnected && !deadline.hasExpired())
        QThread::msleep(1);
    // Nothing more of this connection is read.
    p->resetConnection();
    p->m_closing = true;
    m_receiving = false;
    emit linkDropped();
}

void TestCftpServer::onReceived()
{
    const bool binary = QCFTPServerPrivate::get(this)->m_dispatcher.isBinary();
    if (!binary) {
        m_receiving = false;
        return;
    }
    if (m_receiving)
        return;
    m_receiving = true; // an STR's content began and is not all in yet
    if (storeHalfwayHits())
        dropLink();
}

bool TestCftpServer::storeHalfwayHits()
{
    if (!m_faultSet || m_fault.kind != Fault::DropHalfway || m_fault.command != QLatin1String("STR")
        || --m_fault.occurrence > 0)
        return false;
    m_faultSet = false;
    return true;
}

void TestCftpServer::dropHalfway(QCFTPFile& file, QCFTP::ResponseCode& code, QString& message)
{
    // Only the first half of the answer ever goes into the stream, and the
    // link drops once the client has confirmed it: the client never gets
    // the whole file, however late this thread runs behind the transfer.
    QCFTPServerPrivate* p = QCFTPServerPrivate::get(this);
    const QByteArray answer = QCftpRequestDispatcher::answer(
        {QString::number(file.lastModified()), QString::number(file.size())}, file.data());
    p->m_cargo.write(answer.left(answer.size() / 2));
    p->m_cargo.waitForBytesWritten(HalfwayWaitMs);
    dropLink();
    file = QCFTPFile();
    code = QCFTP::ActionNotAllowed; // never goes out: the link is down
    message = m_fault.message;
}

QString TestCftpServer::seed(const QString& dir)
{
    const QList<QPair<QString, QByteArray>> files{
        {"readme.txt", "Files of the test node, served on its channel 125.\n"},
        {"config/settings.ini", "[node]\naddress=10\nname=Test node\n"},
        {"logs/boot.txt", "boot ok\n"},
        {"www/index.html", "<html><body>Test node</body></html>\n"}};
    for (const auto& f : files) {
        QDir().mkpath(QFileInfo(dir + QLatin1Char('/') + f.first).path());
        QFile out(dir + QLatin1Char('/') + f.first);
        if (out.open(QIODevice::WriteOnly))
            out.write(f.second);
    }
    return dir;
}

void TestCftpServer::checkLogin(const QString& user, const QString& token, QCFTP::ResponseCode& code)
{
    record(QStringLiteral("LOG %1").arg(user));
    QString message;
    if (faultHits(QStringLiteral("LOG"), code, message))
        return;
    const bool ok = m_challenge.size() == 16 && user == m_user
        && token.toLatin1() == QCFTP::loginToken(m_password, m_challenge);
    m_challenge.clear();
    code = ok ? QCFTP::Success : QCFTP::ActionNotAllowed;
}

bool TestCftpServer::handleCommand(const QString& command, const QStringList& parameters, bool loggedIn,
                                   QCFTP::ResponseCode& code, QString& message, QStringList& lines)
{
    if (command == QLatin1String("HND") || command == QLatin1String("CPY"))
        record((QStringList{command} + parameters).join(QLatin1Char(' ')));
    if ((command == QLatin1String("HND") || (command == QLatin1String("CPY") && loggedIn))
        && faultHits(command, code, message))
        return true;
    if (command == QLatin1String("HND")) {
        if (!parameters.isEmpty()) {
            code = QCFTP::WrongParameters;
            message = QStringLiteral("Wrong parameters");
            return true;
        }
        m_challenge.resize(16);
        QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(m_challenge.data()), 4);
        code = QCFTP::Success;
        lines << QString::number(QRandomGenerator::system()->bounded(1, 1 << 30))
              << QString::fromLatin1(m_challenge.toHex());
        return true;
    }
    if (command == QLatin1String("CPY") && loggedIn) {
        if (parameters.size() != 2) {
            code = QCFTP::WrongParameters;
            message = QStringLiteral("Wrong parameters");
        } else {
            copyFile(parameters.at(0), parameters.at(1), code, message);
        }
        return true;
    }
    return false;
}

void TestCftpServer::listPath(const QString& path, QList<QCFTPFileInfo>& list, QCFTP::ResponseCode& code,
                              QString& message)
{
    record(QStringLiteral("LST %1").arg(path));
    if (!faultHits(QStringLiteral("LST"), code, message))
        QCFTPServer::listPath(path, list, code, message);
}

void TestCftpServer::makePath(const QString& path, QCFTP::ResponseCode& code, QString& message)
{
    record(QStringLiteral("MKD %1").arg(path));
    if (!faultHits(QStringLiteral("MKD"), code, message))
        QCFTPServer::makePath(path, code, message);
}

void TestCftpServer::deletePath(const QString& path, QCFTP::ResponseCode& code, QString& message)
{
    record(QStringLiteral("DEL %1").arg(path));
    if (!faultHits(QStringLiteral("DEL"), code, message))
        QCFTPServer::deletePath(path, code, message);
}

void TestCftpServer::storeFile(const QCFTPFile& file, QCFTP::ResponseCode& code, QString& message)
{
    // The content came in whole before this thread saw it begin (the
    // stream confirms it without the server): it is cut off here, unserved
    // and unstored, as if halfway.
    if (!m_receiving && storeHalfwayHits()) {
        dropLink();
        code = QCFTP::ActionNotAllowed; // never goes out: the link is down
        message = m_fault.message;
        return;
    }
    record(QStringLiteral("STR %1 %2 %3").arg(file.path()).arg(file.lastModified()).arg(file.size()));
    if (m_faultSet && m_fault.kind == Fault::DropHalfway)
        return QCFTPServer::storeFile(file, code, message);
    if (!faultHits(QStringLiteral("STR"), code, message))
        QCFTPServer::storeFile(file, code, message);
}

void TestCftpServer::getFile(const QString& path, QCFTPFile& file, QCFTP::ResponseCode& code, QString& message)
{
    record(QStringLiteral("GET %1").arg(path));
    const bool hit = faultHits(QStringLiteral("GET"), code, message);
    if (hit && m_fault.kind != Fault::DropHalfway)
        return;
    QCFTPServer::getFile(path, file, code, message);
    if (hit && code == QCFTP::Success)
        dropHalfway(file, code, message);
}

void TestCftpServer::movePath(const QString& sourcepath, const QString& newpath, QCFTP::ResponseCode& code,
                              QString& message)
{
    record(QStringLiteral("MOV %1 %2").arg(sourcepath, newpath));
    if (faultHits(QStringLiteral("MOV"), code, message))
        return;
    QString source, target;
    if (!resolvePath(sourcepath, BelowRoot, &source) || !QFileInfo(source).isFile())
        return QCFTPServer::movePath(sourcepath, newpath, code, message); // directories, and the refusals
    if (!resolvePath(newpath, BelowRoot, &target) || !QFile::rename(source, target)) {
        code = QCFTP::ActionNotAllowed;
        message = NotAllowed;
        return;
    }
    code = QCFTP::Success;
}

void TestCftpServer::copyFile(const QString& sourcepath, const QString& newpath, QCFTP::ResponseCode& code,
                              QString& message)
{
    QString source, target;
    if (!resolvePath(sourcepath, AnyPath, &source) || !resolvePath(newpath, BelowRoot, &target)) {
        code = QCFTP::ActionNotAllowed;
        message = NotAllowed;
        return;
    }
    const QFileInfo from(source);
    if (!from.exists()) {
        code = QCFTP::PathDoesNotExist;
        message = QStringLiteral("Path does not exist");
        return;
    }
    // A directory path (with its "/") copies the whole tree.
    if (from.isDir() && sourcepath.endsWith(QLatin1Char('/'))) {
        const QString below = QDir::cleanPath(source) + QLatin1Char('/');
        if (QFileInfo::exists(target) || QDir::cleanPath(target).startsWith(below) || !copyTree(source, target)) {
            code = QCFTP::ActionNotAllowed;
            message = NotAllowed;
            return;
        }
        code = QCFTP::Success;
        return;
    }
    if (!from.isFile()) {
        code = QCFTP::PathIsNotAFile;
        message = QStringLiteral("Path is not a file");
        return;
    }
    // An existing file at the target is replaced, as a copy command does.
    const QFileInfo to(target);
    if (to.isDir() || (to.exists() && !QFile::remove(target)) || !QFile::copy(source, target)) {
        code = QCFTP::ActionNotAllowed;
        message = NotAllowed;
        return;
    }
    code = QCFTP::Success;
}
