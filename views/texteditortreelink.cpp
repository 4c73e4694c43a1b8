#include "texteditortreelink.h"

#include "texteditortreelink_p.h"

TextEditorTreeLink::TextEditorTreeLink()
    : d(new TextEditorTreeLinkPrivate)
{
}

TextEditorTreeLink::~TextEditorTreeLink() = default;

void TextEditorTreeLink::attach(QObject* tree, std::function<int()> clientState,
                                std::function<bool(const QCFTPFile&)> uploadFile)
{
    d->m_tree = tree;
    d->m_clientState = std::move(clientState);
    d->m_uploadFile = std::move(uploadFile);
    connect(tree, &QObject::destroyed, this, &TextEditorTreeLink::onTreeDestroyed);
}

void TextEditorTreeLink::onTreeDestroyed()
{
    d->m_tree.clear();
    d->m_clientState = nullptr;
    d->m_uploadFile = nullptr;
    emit treeDestroyed();
}

bool TextEditorTreeLink::hasTree() const
{
    return !d->m_tree.isNull();
}

int TextEditorTreeLink::clientState() const
{
    return hasTree() ? d->m_clientState() : -1;
}

bool TextEditorTreeLink::uploadFile(const QCFTPFile& file)
{
    return hasTree() && d->m_uploadFile(file);
}
