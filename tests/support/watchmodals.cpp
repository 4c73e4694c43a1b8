// Compiled into every program that links the widget fixtures: a modal
// dialog nobody answers fails the test instead of hanging it.

#include "modalwatcher.h"

#include <QCoreApplication>

static void watchModals()
{
    ModalWatcher::startWhenRunning();
}
Q_COREAPP_STARTUP_FUNCTION(watchModals)
