#include "appresources.h"

#include <QtGlobal>

// Q_INIT_RESOURCE must be used outside any namespace.
static bool registerResources()
{
    Q_INIT_RESOURCE(resources);
    return true;
}

void initAppResources()
{
    static const bool registered = registerResources();
    Q_UNUSED(registered)
}
