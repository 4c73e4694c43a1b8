#include "testcftpserver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

namespace {

const QString NotAllowed = QStringLiteral("Action is not allowed");

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
    });
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
    const bool ok = m_challenge.size() == 16 && user == m_user
        && token.toLatin1() == QCFTP::loginToken(m_password, m_challenge);
    m_challenge.clear();
    code = ok ? QCFTP::Success : QCFTP::ActionNotAllowed;
}

bool TestCftpServer::handleCommand(const QString& command, const QStringList& parameters, bool loggedIn,
                                   QCFTP::ResponseCode& code, QString& message, QStringList& lines)
{
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

void TestCftpServer::movePath(const QString& sourcepath, const QString& newpath, QCFTP::ResponseCode& code,
                              QString& message)
{
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
