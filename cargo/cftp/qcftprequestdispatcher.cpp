#include "qcftprequestdispatcher_p.h"

namespace {

const QString WrongParameters = QStringLiteral("Wrong parameters");
const QString NoValidCommand = QStringLiteral("No valid command ID");
const QString NotLoggedIn = QStringLiteral("Not logged in");
const QString ActionNotAllowed = QStringLiteral("Action is not allowed");

// A listed name that would break the listing line or the header.
bool isListable(const QString& name)
{
    for (const QChar c : name) {
        const ushort u = c.unicode();
        if (u == '\n' || u == '\r' || u == 0x1D || u == 0)
            return false;
    }
    return !name.isEmpty();
}

// One line of text: a line break inside would end the line early.
QString oneLine(QString text)
{
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    text.replace(QChar(0), QLatin1Char(' '));
    return text;
}

} // namespace

QCftpRequestDispatcher::QCftpRequestDispatcher(QCftpServerBackend* backend)
    : m_backend(backend)
    , m_reader(QCFTP::MaxRequestHeader)
{
}

void QCftpRequestDispatcher::reset()
{
    m_reader.reset();
    m_loggedIn = false;
    m_binary = false;
    m_length = 0;
    m_upload = QCFTPFile();
}

QByteArray QCftpRequestDispatcher::answer(QCFTP::ResponseCode code, const QString& message)
{
    QString text = oneLine(message).trimmed();
    if (text.isEmpty())
        text = QStringLiteral("Error %1").arg(code); // a blank line would end the answer early
    return QCftpHeaderReader::encode({QString::number(code), text});
}

QByteArray QCftpRequestDispatcher::answer(const QStringList& lines, const QByteArray& raw)
{
    QStringList all{QStringLiteral("0")};
    for (const QString& line : lines)
        all.append(oneLine(line));
    return QCftpHeaderReader::encode(all) + raw;
}

QCftpRequestDispatcher::Result QCftpRequestDispatcher::feed(QByteArray& buffer)
{
    Result result;
    while (!result.disconnect) {
        if (m_binary) {
            if (buffer.size() < m_length)
                break;
            storeUpload(buffer, result);
            continue;
        }
        const QCftpHeaderReader::Result r = m_reader.read(buffer);
        if (r == QCftpHeaderReader::NeedMore)
            break;
        if (r == QCftpHeaderReader::TooLong) {
            result.answers += answer(QCFTP::WrongParameters, WrongParameters);
            result.disconnect = true;
            break;
        }
        QStringList lines = m_reader.takeLines();
        if (lines.isEmpty())
            continue;
        const QString command = lines.takeFirst();
        dispatch(command, lines, result);
    }
    if (result.disconnect) {
        buffer.clear();
        reset();
    }
    return result;
}

void QCftpRequestDispatcher::dispatch(const QString& command, const QStringList& parameters, Result& result)
{
    static const QStringList served{QStringLiteral("LOG"), QStringLiteral("LST"), QStringLiteral("MKD"),
                                    QStringLiteral("DEL"), QStringLiteral("MOV"), QStringLiteral("STR"),
                                    QStringLiteral("GET")};
    static const int counts[] = {2, 1, 1, 1, 2, 3, 1};

    QCFTP::ResponseCode code = QCFTP::Success;
    QString message;
    const int which = served.indexOf(command);
    if (which < 0) {
        QStringList lines;
        if (m_backend->handleCommand(command, parameters, m_loggedIn, code, message, lines))
            result.answers += code == QCFTP::Success ? answer(lines) : answer(code, message);
        else if (!m_loggedIn)
            result.answers += answer(QCFTP::NotLoggedIn, NotLoggedIn);
        else
            result.answers += answer(QCFTP::UnknownCommand, NoValidCommand);
        return;
    }
    if (!m_loggedIn && which != 0) {
        result.answers += answer(QCFTP::NotLoggedIn, NotLoggedIn);
        return;
    }
    if (parameters.size() != counts[which]) {
        result.answers += answer(QCFTP::WrongParameters, WrongParameters);
        return;
    }

    switch (which) {
    case 0: // LOG
        m_backend->checkLogin(parameters.at(0), parameters.at(1), code);
        if (code != QCFTP::Success) {
            // A refused login gets no answer: the connection closes.
            m_loggedIn = false;
            result.disconnect = true;
            return;
        }
        m_loggedIn = true;
        result.loggedIn = true;
        result.answers += answer({QStringLiteral("1")});
        return;
    case 1: { // LST
        QList<QCFTPFileInfo> list;
        m_backend->listPath(parameters.at(0), list, code, message);
        if (code != QCFTP::Success)
            break;
        QStringList lines;
        for (const QCFTPFileInfo& info : qAsConst(list)) {
            QString name = info.path();
            if (name.startsWith(QLatin1Char('/')))
                name.remove(0, 1);
            if (!isListable(name))
                continue;
            lines.append(name + QChar(0x1D) + QString::number(info.lastModified()) + QChar(0x1D)
                         + QString::number(info.size()));
        }
        result.answers += answer(lines);
        return;
    }
    case 2: // MKD
        m_backend->makePath(parameters.at(0), code, message);
        break;
    case 3: // DEL
        m_backend->deletePath(parameters.at(0), code, message);
        break;
    case 4: // MOV
        m_backend->movePath(parameters.at(0), parameters.at(1), code, message);
        break;
    case 5: { // STR
        bool ok = false;
        const qulonglong length = parameters.at(2).toULongLong(&ok);
        if (!ok || length > quint64(QCFTP::MaxFileSize)) {
            // The content that follows cannot be told from commands.
            result.answers += answer(QCFTP::WrongParameters, WrongParameters);
            result.disconnect = true;
            return;
        }
        m_upload = QCFTPFile();
        m_upload.setPath(parameters.at(0));
        m_upload.setLastModified(parameters.at(1).toUInt());
        m_length = qint64(length);
        m_binary = true;
        return; // the content is taken by feed
    }
    case 6: { // GET
        QCFTPFile file;
        m_backend->getFile(parameters.at(0), file, code, message);
        if (code != QCFTP::Success)
            break;
        if (file.size() > QCFTP::MaxFileSize) {
            code = QCFTP::ActionNotAllowed;
            message = ActionNotAllowed;
            break;
        }
        result.answers += answer({QString::number(file.lastModified()), QString::number(file.size())},
                                 file.data());
        return;
    }
    }
    result.answers += code == QCFTP::Success ? answer(QStringList()) : answer(code, message);
}

void QCftpRequestDispatcher::storeUpload(QByteArray& buffer, Result& result)
{
    if (buffer.size() == m_length) {
        m_upload.setData(buffer);
        buffer.clear();
    } else {
        m_upload.setData(buffer.left(int(m_length)));
        buffer.remove(0, int(m_length));
    }
    m_binary = false;
    m_length = 0;
    QCFTP::ResponseCode code = QCFTP::Success;
    QString message;
    m_backend->storeFile(m_upload, code, message);
    m_upload = QCFTPFile();
    result.answers += code == QCFTP::Success ? answer(QStringList()) : answer(code, message);
}
