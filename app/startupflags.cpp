#include "startupflags.h"

bool allowExternalScripts = false;
bool showServiceFunctions = false;
bool viewAllSerialInterfaces = false;
