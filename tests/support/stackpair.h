#ifndef STACKPAIR_H
#define STACKPAIR_H

#include "qerfcstack.h"
#include "qerfcstreaminterface.h"
#include "tcptestdevice.h"

#include <memory>

// Two stacks in one process joined by a loopback TCP connection: two real
// nodes on a real socket. Links are released and stacks destroyed in order
// when the pair goes.
class StackPair
{
public:
    StackPair(uchar addressA = 1, uchar addressB = 2);
    ~StackPair();

    // Binds both links (client side first, so that neither open blocks).
    bool bind();
    // bind(), enables both stacks and waits until each knows the other.
    bool connectAndDiscover(int timeoutMs = 15000);
    // Releases both links; the stacks stay.
    void release();

    std::unique_ptr<QErfcStack> a;
    std::unique_ptr<QErfcStack> b;
    std::unique_ptr<TcpServerTestDevice> deviceA;
    std::unique_ptr<TcpClientTestDevice> deviceB;
    std::unique_ptr<QErfcStreamInterface> linkA;
    std::unique_ptr<QErfcStreamInterface> linkB;

private:
    bool m_boundA = false;
    bool m_boundB = false;
};

#endif // STACKPAIR_H
