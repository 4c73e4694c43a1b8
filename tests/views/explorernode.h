#ifndef EXPLORERNODE_H
#define EXPLORERNODE_H

#include "erfcnodeinfo.h"
#include "erfcnodemanager.h"
#include "filebytes.h"
#include "stackpair.h"
#include "testcftpserver.h"

#include "qcftpclient.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <functional>
#include <memory>

// Waits up to `msecs` for `done`, and gives up sooner once the outcome is
// plain: a command in flight (the client busy) that has shown no sign of
// life for StalledMs - no progress, no end, no change of state - has an
// answer that will not come. (StalledMs is what the tests give a whole login.)
inline bool waitUnlessStalled(QCFTPClient& client, const std::function<bool()>& done, int msecs = 60000)
{
    constexpr qint64 StalledMs = 20000;
    const auto pulse = std::make_shared<std::atomic<quint64>>(0);
    const auto beat = [pulse] { ++*pulse; };
    // Direct: the client emits on its own thread; the count is all they touch.
    const QMetaObject::Connection connections[] = {
        QObject::connect(&client, &QCFTPClient::transactionProgress, &client, beat, Qt::DirectConnection),
        QObject::connect(&client, &QCFTPClient::finished, &client, beat, Qt::DirectConnection),
        QObject::connect(&client, &QCFTPClient::stateChanged, &client, beat, Qt::DirectConnection)};
    quint64 seen = pulse->load();
    QElapsedTimer still;
    still.start();
    bool ended = false;
    (void)QTest::qWaitFor([&] {
        if ((ended = done()))
            return true;
        const quint64 now = pulse->load();
        if (now != seen || client.state() != QCFTP::Client::Busy) {
            seen = now;
            still.restart();
        }
        return still.hasExpired(StalledMs);
    }, msecs);
    for (const QMetaObject::Connection& c : connections)
        QObject::disconnect(c);
    return ended;
}

// The program's stack (address 1, followed by the node manager) and a test
// node (address 2) that serves a temporary folder on channel 125 with the
// login "user" / "secret" and records every command. The node manager is
// process-wide: one such pair per test program.
struct ExplorerNode
{
    static constexpr quint8 Address = 2;

    StackPair pair{1, Address};
    QTemporaryDir root;
    std::unique_ptr<TestCftpServer> server;

    // Starts both sides and waits until the manager has read the node's
    // information with this unique id.
    bool start(const QByteArray& uniqueId)
    {
        pair.b->setUniqueId(uniqueId);
        ErfcNodeManager::instance()->setStack(pair.a.get());
        if (!pair.connectAndDiscover())
            return false;
        server.reset(new TestCftpServer(pair.b.get(), QStringLiteral("user"), QStringLiteral("secret")));
        server->setRootPath(root.path());
        if (!server->listen(QErfc::User, TestCftpServer::Channel))
            return false;
        return QTest::qWaitFor([&] {
            const ErfcNodeInfo* record = ErfcNodeManager::instance()->nodeInfo(Address);
            return record && record->uniqueId() == uniqueId;
        }, 20000);
    }

    void stop()
    {
        server.reset();
        pair.a->disable();
        ErfcNodeManager::instance()->setStack(nullptr);
        pair.release();
    }

    QString local(const QString& path) const { return root.path() + path; }

    bool write(const QString& path, const QByteArray& bytes) const { return writeFile(local(path), bytes); }
    QByteArray read(const QString& path) const { return readFile(local(path)); }

    // Empties the served folder.
    void wipe() const
    {
        QDir dir(root.path());
        for (const QFileInfo& entry : dir.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)) {
            if (entry.isDir())
                QDir(entry.filePath()).removeRecursively();
            else
                QFile::remove(entry.filePath());
        }
    }
};

#endif // EXPLORERNODE_H
