#include "testnodeoutput.h"

#include <QStringList>

#include <atomic>
#include <cstdio>

namespace {
std::atomic<bool> namingNodes{false};
} // namespace

void TestNodeOutput::setNamingNodes(bool naming)
{
    namingNodes = naming;
}

void TestNodeOutput::print(quint8 address, const char* word, const QString& rest)
{
    QStringList parts{QString::fromLatin1(word)};
    if (namingNodes)
        parts << QStringLiteral("address=%1").arg(address);
    if (!rest.isEmpty())
        parts << rest;
    // One write per line: the nodes' threads print side by side.
    std::fprintf(stdout, "%s\n", qPrintable(parts.join(QLatin1Char(' '))));
    std::fflush(stdout);
}
