#include "viewsresources.h"

#include <QtGlobal>

// Q_INIT_RESOURCE must be used outside any namespace.
static bool registerViewsResources()
{
    Q_INIT_RESOURCE(views);
    return true;
}

void initViewsResources()
{
    static const bool registered = registerViewsResources();
    Q_UNUSED(registered)
}
