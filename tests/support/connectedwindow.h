#ifndef CONNECTEDWINDOW_H
#define CONNECTEDWINDOW_H

// Header-only: for tests that link the application and define TESTNODE_PATH.

#include "answerlogin.h"
#include "erfcnodemanager.h"
#include "mainwindow.h"
#include "qerfcstack.h"
#include "testnodeprocess.h"

#include <QTest>

#include <memory>

// The test node program at `Address` and a shown main window connected to
// it over TCP. The stack outlives the window, as in the program.
struct ConnectedWindow
{
    std::unique_ptr<TestNodeProcess> node;
    QErfcStack stack;
    std::unique_ptr<MainWindow> window;

    ~ConnectedWindow()
    {
        window.reset();
        node.reset();
    }

    // (Re)starts the node with these options and connects the window (made
    // on first use); true once the manager read the node's record anew.
    bool connect(uchar address, const QStringList& options)
    {
        node.reset(new TestNodeProcess(QStringLiteral(TESTNODE_PATH)));
        const quint16 port = node->listen(QStringList{"--address", QString::number(address), "--tick", "0"} + options);
        if (!port)
            return false;
        if (!window) {
            window.reset(new MainWindow(&stack));
            window->show();
        }
        // The record outlives a connection; the manager may report from another thread.
        QAtomicInt read = 0;
        QObject context;
        QObject::connect(ErfcNodeManager::instance(), &ErfcNodeManager::nodeInfoRefreshed, &context,
                         [&read, address](uchar addr) { if (addr == address) read = 1; }, Qt::QueuedConnection);
        window->openTcpConnection(QStringLiteral("127.0.0.1"), port, 1);
        return QTest::qWaitFor([&read] { return read.loadRelaxed() == 1; }, 30000);
    }
};

#endif // CONNECTEDWINDOW_H
