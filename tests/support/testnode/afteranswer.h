#ifndef AFTERANSWER_H
#define AFTERANSWER_H

#include <functional>

class QErfcFunction;

// What a node does once it has answered: the answer must reach the peer
// before whatever follows from it (the goodbye of an address change or a
// restart), however late the node's threads run on a loaded machine.
class AfterAnswer
{
public:
    // Called from `function`'s handler on the stack thread: runs `work` on
    // the function's own thread after the answer to the request in hand has
    // been queued for the link, so that every frame `work` sends leaves
    // behind it. Nothing runs once the function is gone.
    static void run(QErfcFunction* function, std::function<void()> work);

private:
    AfterAnswer() = delete;
};

#endif // AFTERANSWER_H
