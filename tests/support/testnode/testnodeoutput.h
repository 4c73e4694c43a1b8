#ifndef TESTNODEOUTPUT_H
#define TESTNODEOUTPUT_H

#include <QString>

// The lines the test node prints about what one of its nodes did ("clock 5",
// "restart", "firmware 3000 bytes", ...). In a run of several nodes such a
// line names its node right after its first word ("clock address=12 5"), as
// the file service's line does; a single node's lines stay as they are.
class TestNodeOutput
{
public:
    // Set once, before any node runs.
    static void setNamingNodes(bool naming);

    // Prints "<word> <rest>", or "<word> address=<address> <rest>" when
    // naming nodes; any thread.
    static void print(quint8 address, const char* word, const QString& rest = QString());
};

#endif // TESTNODEOUTPUT_H
