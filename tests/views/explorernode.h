#ifndef EXPLORERNODE_H
#define EXPLORERNODE_H

#include "erfcnodeinfo.h"
#include "erfcnodemanager.h"
#include "filebytes.h"
#include "stackpair.h"
#include "testcftpserver.h"

#include <QTemporaryDir>
#include <QTest>

#include <memory>

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
