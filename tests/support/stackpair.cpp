#include "stackpair.h"
#include "qerfcexception.h"

#include <QTest>

StackPair::StackPair(uchar addressA, uchar addressB)
    : a(new QErfcStack(addressA))
    , b(new QErfcStack(addressB))
    , deviceA(new TcpServerTestDevice)
    , deviceB(new TcpClientTestDevice(deviceA->port()))
    , linkA(new QErfcStreamInterface(deviceA.get()))
    , linkB(new QErfcStreamInterface(deviceB.get()))
{
}

StackPair::~StackPair()
{
    release();
    a.reset();
    b.reset();
}

bool StackPair::bind()
{
    try {
        b->bindInterface(linkB.get());
        m_boundB = true;
        a->bindInterface(linkA.get());
        m_boundA = true;
    } catch (const QErfcException&) {
        return false;
    }
    return true;
}

bool StackPair::connectAndDiscover(int timeoutMs)
{
    if (!bind())
        return false;
    a->enable();
    b->enable();
    const uchar addrA = a->address();
    const uchar addrB = b->address();
    return QTest::qWaitFor([&] { return a->knownNodes().contains(addrB)
                                        && b->knownNodes().contains(addrA); },
                           timeoutMs);
}

void StackPair::release()
{
    if (m_boundA) {
        a->releaseInterface(linkA.get());
        m_boundA = false;
    }
    if (m_boundB) {
        b->releaseInterface(linkB.get());
        m_boundB = false;
    }
}
