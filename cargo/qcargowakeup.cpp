#include "qcargowakeup_p.h"

void QCargoWakeUp::wakeAll()
{
    QMutexLocker lock(&m_mutex);
    ++m_wakeUps;
    m_condition.wakeAll();
}
