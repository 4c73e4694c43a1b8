// Feeds arbitrary bytes to both ends of CFTP and checks what must hold for
// every input:
//  - as responses, into the client's parser waiting for the handshake, the
//    login or each command: it never holds more than it was given, a listing
//    names only entries of the listed directory, a download is exactly its
//    announced length, and after an answer the parser is idle;
//  - as requests, into the server's dispatcher: every path the file
//    operations resolve lies inside the root (through symlinks too), and the
//    answers and calls do not depend on how the bytes are split into reads.
// The first byte picks the end and the waiting state, the second the size of
// the reads.

#include "fuzzcheck.h"
#include "qcftpheaderreader_p.h"
#include "qcftppathresolver_p.h"
#include "qcftprequestdispatcher_p.h"
#include "qcftpresponseparser_p.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

namespace {

// A root with a file, a folder, a link out of it and a dangling link.
struct Root
{
    Root()
    {
        QDir(dir.path()).mkpath("root/d/e");
        QDir(dir.path()).mkpath("outside");
        QFile f(dir.filePath("root/f"));
        f.open(QIODevice::WriteOnly);
        QFile::link(dir.filePath("outside"), dir.filePath("root/out"));
        QFile::link(dir.filePath("outside/none"), dir.filePath("root/dangle"));
        path = dir.filePath("root") + "/";
        real = QFileInfo(dir.filePath("root")).canonicalFilePath();
    }
    QTemporaryDir dir;
    QString path;
    QString real;
};

const Root& root()
{
    static const Root r;
    return r;
}

// The file operations resolve their paths and record the calls; nothing is
// touched on disk.
class RecordingBackend : public QCftpServerBackend
{
public:
    QStringList calls;

    void checkLogin(const QString& user, const QString& password, QCFTP::ResponseCode& code) override
    {
        code = user == QLatin1String("u") && password == QLatin1String("p") ? 0 : 20;
        calls << "LOG";
    }
    void listPath(const QString& path, QList<QCFTPFileInfo>& list, QCFTP::ResponseCode& code, QString& m) override
    {
        resolve("LST", path, QCftpPathResolver::AnyPath, code, m);
        QCFTPFileInfo info;
        info.setPath(path);
        info.setLastModified(1);
        list << info;
    }
    void makePath(const QString& path, QCFTP::ResponseCode& code, QString& m) override
    {
        resolve("MKD", path, QCftpPathResolver::AnyPath, code, m);
    }
    void deletePath(const QString& path, QCFTP::ResponseCode& code, QString& m) override
    {
        resolve("DEL", path, QCftpPathResolver::BelowRoot, code, m);
    }
    void movePath(const QString& s, const QString& n, QCFTP::ResponseCode& code, QString& m) override
    {
        resolve("MOV", s, QCftpPathResolver::BelowRoot, code, m);
        if (code == 0)
            resolve("MOV", n, QCftpPathResolver::BelowRoot, code, m);
    }
    void storeFile(const QCFTPFile& file, QCFTP::ResponseCode& code, QString& m) override
    {
        FUZZ_CHECK(file.size() <= QCFTP::MaxFileSize);
        resolve("STR", file.path(), QCftpPathResolver::AnyPath, code, m);
    }
    void getFile(const QString& path, QCFTPFile& file, QCFTP::ResponseCode& code, QString& m) override
    {
        resolve("GET", path, QCftpPathResolver::AnyPath, code, m);
        file.setData("x\n\n");
        file.setLastModified(1); // a record is made with the current time
    }
    bool handleCommand(const QString&, const QStringList&, bool, QCFTP::ResponseCode&, QString&,
                       QStringList&) override
    {
        return false;
    }

private:
    void resolve(const char* what, const QString& path, QCftpPathResolver::Use use, QCFTP::ResponseCode& code,
                 QString& message)
    {
        QString local;
        const bool ok = QCftpPathResolver::resolve(root().path, path, use, &local);
        calls << QString::fromLatin1(what) + (ok ? QStringLiteral(" ok ") : QStringLiteral(" refused ")) + path;
        if (!ok) {
            code = 20;
            message = QStringLiteral("Action is not allowed");
            return;
        }
        const QString cleanRoot = QDir::cleanPath(root().path);
        FUZZ_CHECK(QCftpPathResolver::isInside(cleanRoot, local));
        FUZZ_CHECK(use == QCftpPathResolver::AnyPath || local != cleanRoot);
        // The deepest existing ancestor (or the target) is really inside.
        QString at = local;
        while (!QFileInfo::exists(at))
            at = QFileInfo(at).path();
        FUZZ_CHECK(QCftpPathResolver::isInside(root().real, QFileInfo(at).canonicalFilePath()));
        code = 0;
    }
};

struct ServerRun
{
    QByteArray answers;
    QStringList calls;
    bool disconnect = false;
};

ServerRun runServer(const char* data, size_t size, size_t chunk)
{
    RecordingBackend backend;
    QCftpRequestDispatcher dispatcher(&backend);
    ServerRun run;
    QByteArray buffer;
    for (size_t at = 0; at < size && !run.disconnect; at += chunk) {
        buffer.append(data + at, int(qMin(chunk, size - at)));
        const QCftpRequestDispatcher::Result r = dispatcher.feed(buffer);
        run.answers += r.answers;
        run.disconnect = r.disconnect;
        FUZZ_CHECK(!r.disconnect || buffer.isEmpty());
    }
    run.calls = backend.calls;
    return run;
}

void runClient(int expect, const char* data, size_t size, size_t chunk)
{
    static const char* const commands[] = {"LST", "GET", "MKD", "STR", "DEL", "MOV", "CPY"};
    const QString command = QString::fromLatin1(commands[(expect >> 2) % 7]);
    const QString dir = (expect & 0x40) ? QStringLiteral("/d") : QStringLiteral("/");
    QCftpResponseParser parser;
    const int state = expect & 3;
    parser.expect(state == 0 ? QCftpResponseParser::Handshake
                  : state == 1 ? QCftpResponseParser::Login
                               : QCftpResponseParser::Command,
                  command, dir);
    QByteArray buffer;
    size_t given = 0;
    for (size_t at = 0; at < size; at += chunk) {
        const int n = int(qMin(chunk, size - at));
        buffer.append(data + at, n);
        given += size_t(n);
        const QCftpResponseParser::Outcome out = parser.feed(buffer);
        FUZZ_CHECK(size_t(buffer.size()) <= given);
        switch (out.kind) {
        case QCftpResponseParser::Outcome::NeedMore:
            FUZZ_CHECK(out.buffered < 0 || (out.buffered < out.length && out.length <= QCFTP::MaxFileSize));
            break;
        case QCftpResponseParser::Outcome::Failed:
            FUZZ_CHECK(out.code == QCFTP::WrongParameters && !out.message.isEmpty());
            FUZZ_CHECK(parser.expecting() == QCftpResponseParser::Idle);
            return;
        case QCftpResponseParser::Outcome::Done:
            FUZZ_CHECK(parser.expecting() == QCftpResponseParser::Idle);
            if (out.code == 0 && state >= 2 && command == QLatin1String("LST")) {
                const QString prefix = dir.endsWith('/') ? dir : dir + '/';
                for (const QCFTPFileInfo& info : parser.listing())
                    FUZZ_CHECK(info.path().startsWith(prefix));
            }
            return;
        case QCftpResponseParser::Outcome::Unexpected:
            FUZZ_CHECK(false);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    if (size < 2)
        return 0;
    const int mode = bytes[0];
    const size_t chunk = size_t(bytes[1] % 64) + 1;
    const char* data = reinterpret_cast<const char*>(bytes + 2);
    size -= 2;
    if (mode & 0x80) {
        const ServerRun whole = runServer(data, size, size ? size : 1);
        const ServerRun pieces = runServer(data, size, chunk);
        FUZZ_CHECK(whole.answers == pieces.answers);
        FUZZ_CHECK(whole.calls == pieces.calls);
        FUZZ_CHECK(whole.disconnect == pieces.disconnect);
    } else {
        runClient(mode, data, size, chunk);
    }
    return 0;
}
