#ifndef JSERFCNODEINFO_P_H
#define JSERFCNODEINFO_P_H

#include "jsqerfcrecords_p.h"
#include "qerfcnodeinfo.h"

// One node query of a script: a node client of its own, carrying the
// script's callback from the call to the result.
class JSErfcNodeInfo : public QErfcNodeInfo
{
    Q_OBJECT
public:
    JSErfcNodeInfo(QErfcStack* stack, uchar address, QObject* parent = nullptr);
    ~JSErfcNodeInfo() override;

    // Queries alive in the process.
    static int instances();

    JsQErfcCallback callback;

private:
    Q_DISABLE_COPY(JSErfcNodeInfo)
};

#endif // JSERFCNODEINFO_P_H
