#ifndef CARGO2UPDATEDIALOG_H
#define CARGO2UPDATEDIALOG_H

#include "qcargo.h"
#include "qerfc.h"

#include <QDialog>

#include <memory>

class QErfcStack;
class Cargo2UpdateDialogPrivate;

// Updates the firmware of one node: asks for an image file, resets the node
// into maintenance, catches it when it is back, streams the image to its
// firmware channel and reports the node's flash state. Every way of ending
// the dialog (its button, Escape, the window's close button) drops a running
// stream and resets the node into its application; a node that is restarting
// then gets that reset once it is back, or the system log says that it did
// not come back within a minute. No wait of the dialog is endless: a stream
// the node refuses ends the update at once, a node not back in Maintenance a
// minute after its reset ends it then, each with a line in the log.
class Cargo2UpdateDialog : public QDialog
{
    Q_OBJECT
public:
    Cargo2UpdateDialog(QErfcStack* stack, quint8 address, QWidget* parent = nullptr);
    ~Cargo2UpdateDialog() override;

    // 0: no file chosen or the dialog was ended; -1: the file could not be
    // read or is empty (see errorString()); nothing is sent to the node then.
    int exec() override;
    QString errorString() const;

public slots:
    void reject() override;

private slots:
    void onErfcDrcUpdate(uchar addr, QErfc::DrcUpdate state, QErfc::Mode mode);
    void onCargoError(QCargo::CargoError cargoError);
    void onCargoStateChanged(QCargo::CargoState cargoState);
    void onCargoFinished();
    void onCargoDisconnected();
    void onCargoTransactionProgress(qint64 bytes, qint64 total);
    void on_pushButtonCancel_clicked();

private:
    void sendCatchRequest();
    void checkFlashState();
    void onRestartWaitOver();

    friend class Cargo2UpdateDialogPrivate;
    Q_DISABLE_COPY(Cargo2UpdateDialog)
    std::unique_ptr<Cargo2UpdateDialogPrivate> d;
};

#endif // CARGO2UPDATEDIALOG_H
