#ifndef CARGO2UPDATEDIALOG_P_H
#define CARGO2UPDATEDIALOG_P_H

#include "cargo2updatedialog.h"

#include <QByteArray>
#include <QString>
#include <QTimer>

#include <memory>

class QCargo;
class QErfcStack;

namespace Ui {
class Cargo2UpdateDialog;
}

class Cargo2UpdateDialogPrivate
{
public:
    // How long the node may take to come back in Maintenance after its reset
    // (a real controller's restart, its bootloader's start included), and
    // how long a node left restarting by a cancel is watched for its return.
    static constexpr int RestartWaitMs = 60000;

    Cargo2UpdateDialogPrivate();
    ~Cargo2UpdateDialogPrivate();

    static Cargo2UpdateDialogPrivate* get(Cargo2UpdateDialog* q) { return q->d.get(); }

    void log(const QString& line);
    // Hands a remaining stream over to itself: it no longer reaches the
    // dialog, is disconnected and deletes itself once it reports so.
    void releaseStream(QObject* dialog);

    std::unique_ptr<Ui::Cargo2UpdateDialog> m_ui;
    QErfcStack* m_stack = nullptr;
    QCargo* m_cargo = nullptr;
    quint8 m_address = 0;
    QString m_errorString;
    QByteArray m_image;
    qint64 m_bytesWritten = 0;
    // Set once the dialog ends: stream and node-manager signals are ignored.
    bool m_ending = false;
    // From the reset into Maintenance until the node is seen again: a
    // request sent meanwhile finds no node and is lost.
    bool m_restarting = false;
    // Set once the stream reached the node's firmware channel.
    bool m_connected = false;
    // Tests shorten it before exec().
    int m_restartWaitMs = RestartWaitMs;
    QTimer m_restartWait;
};

#endif // CARGO2UPDATEDIALOG_P_H
