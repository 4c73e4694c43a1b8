#ifndef TESTUISERVICE_H
#define TESTUISERVICE_H

#include "qcargo.h"
#include "qerfcfunction.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>

#include <atomic>

class QErfcStack;

// The node's own user interfaces, downloaded by the program: function 124
// authenticates (0x00 + MD5 of the password: OK with the number of
// interfaces, Specific1 for a wrong digest), reads a name (0x10, index) and
// selects one (0x20, index); after a select the chosen package goes out on
// the stream connected to channel 123, which is then disconnected. The
// channel listens again after every stream.
class TestUiService : public QObject
{
public:
    enum : quint8 { Channel = 123, Function = 124 };

    TestUiService(QErfcStack* stack, const QString& password);
    ~TestUiService() override;

    // Offered in the order added; add all before start().
    void addInterface(const QString& name, const QByteArray& package);
    void start();

    // The built-in "Demo" interface, packed from the files beside this source.
    static QByteArray demoPackage();

private:
    // Runs on the stack thread; reads only what start() froze.
    void answer(QErfcIncomingRequest& request, QErfcResponse& response, QErfc::ResponseCode& code);
    void sendSelected();

    QErfcStack* m_stack;
    QErfcFunction m_control;
    QCargo m_cargo;
    QByteArray m_digest;
    QList<QPair<QString, QByteArray>> m_interfaces;
    std::atomic<int> m_selected{-1};
    bool m_sending = false;
    bool m_started = false;
};

#endif // TESTUISERVICE_H
