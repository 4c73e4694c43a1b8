#ifndef TEXTEDITORTREELINK_P_H
#define TEXTEDITORTREELINK_P_H

#include "qcftpfile.h"

#include <QPointer>

#include <functional>

class TextEditorTreeLinkPrivate
{
public:
    // Cleared as soon as the tree starts its destruction: a widget announces
    // destroyed() after its own destructor ran, while a QPointer to it still
    // holds.
    QPointer<QObject> m_tree;
    std::function<int()> m_clientState;
    std::function<bool(const QCFTPFile&)> m_uploadFile;
};

#endif // TEXTEDITORTREELINK_P_H
