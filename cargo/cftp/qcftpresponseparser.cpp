#include "qcftpresponseparser_p.h"

namespace {

const QString NoValidCode = QStringLiteral("No valid response code");
const QString WrongCount = QStringLiteral("Wrong parameter count");
const QString WrongParameter = QStringLiteral("Wrong parameter");
const QChar FieldSeparator(0x1D);

} // namespace

QCftpResponseParser::QCftpResponseParser()
    : m_reader(QCFTP::MaxResponseHeader)
{
}

void QCftpResponseParser::expect(Expect what, const QString& command, const QString& path)
{
    reset();
    m_expect = what;
    m_command = command;
    m_path = path;
}

void QCftpResponseParser::reset()
{
    m_reader.reset();
    m_expect = Idle;
    m_binary = false;
    m_length = 0;
}

QCftpResponseParser::Outcome QCftpResponseParser::finish(Outcome::Kind kind, QCFTP::ResponseCode code,
                                                         const QString& message)
{
    reset();
    Outcome out;
    out.kind = kind;
    out.code = code;
    out.message = message;
    return out;
}

QCftpResponseParser::Outcome QCftpResponseParser::feed(QByteArray& buffer)
{
    if (m_expect == Idle) {
        Outcome out;
        if (!buffer.isEmpty()) {
            buffer.clear();
            out.kind = Outcome::Unexpected;
        }
        return out;
    }
    if (m_binary)
        return readDownload(buffer);

    QStringList lines;
    for (;;) {
        const QCftpHeaderReader::Result r = m_reader.read(buffer);
        if (r == QCftpHeaderReader::NeedMore)
            return Outcome();
        if (r == QCftpHeaderReader::TooLong)
            return finish(Outcome::Failed, QCFTP::WrongParameters, WrongParameter);
        lines = m_reader.takeLines();
        if (!lines.isEmpty())
            break; // a blank line alone is no response
    }

    bool ok = false;
    const QCFTP::ResponseCode code = lines.takeFirst().toInt(&ok);
    if (!ok)
        return finish(Outcome::Failed, QCFTP::WrongParameters, NoValidCode);
    if (code != QCFTP::Success)
        return finish(Outcome::Done, code, lines.value(0));

    switch (m_expect) {
    case Handshake:
        if (lines.size() != 2)
            return finish(Outcome::Failed, QCFTP::WrongParameters, WrongCount);
        m_handshakeNumber = lines.at(0).toInt();
        m_challenge = QByteArray::fromHex(lines.at(1).toLatin1());
        return finish(Outcome::Done, QCFTP::Success);
    case Login:
        return finish(Outcome::Done, QCFTP::Success);
    default:
        break;
    }
    if (m_command == QLatin1String("LST"))
        return readListing(lines);
    if (m_command == QLatin1String("GET")) {
        if (lines.size() != 2)
            return finish(Outcome::Failed, QCFTP::WrongParameters, WrongCount);
        m_downloadTime = lines.at(0).toUInt();
        m_length = lines.at(1).toUInt();
        if (m_length > QCFTP::MaxFileSize)
            return finish(Outcome::Failed, QCFTP::WrongParameters, WrongParameter);
        m_downloadData.clear();
        m_binary = true;
        return readDownload(buffer);
    }
    return finish(Outcome::Done, QCFTP::Success);
}

QCftpResponseParser::Outcome QCftpResponseParser::readDownload(QByteArray& buffer)
{
    if (buffer.size() < m_length) {
        Outcome out;
        out.buffered = buffer.size();
        out.length = m_length;
        return out;
    }
    if (buffer.size() == m_length) {
        m_downloadData.swap(buffer);
        buffer.clear();
    } else {
        m_downloadData = buffer.left(int(m_length));
        buffer.remove(0, int(m_length));
    }
    return finish(Outcome::Done, QCFTP::Success);
}

QCftpResponseParser::Outcome QCftpResponseParser::readListing(const QStringList& lines)
{
    m_listing.clear();
    QString dir = m_path;
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    for (const QString& line : lines) {
        const QStringList fields = line.split(FieldSeparator, Qt::KeepEmptyParts);
        if (fields.size() != 3)
            return finish(Outcome::Failed, QCFTP::WrongParameters, WrongParameter);
        QCFTPFileInfo info;
        info.setPath(dir + fields.at(0));
        info.setLastModified(fields.at(1).toUInt());
        info.setSize(fields.at(2).toUInt());
        m_listing.append(info);
    }
    return finish(Outcome::Done, QCFTP::Success);
}
