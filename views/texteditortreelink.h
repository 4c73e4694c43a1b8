#ifndef TEXTEDITORTREELINK_H
#define TEXTEDITORTREELINK_H

#include "qcftpfile.h"

#include <QObject>

#include <functional>
#include <memory>

class TextEditorTreeLinkPrivate;

// What a text editor window uses of the explorer's remote file tree: the
// client state, the upload of one file, the signals of the tree's current
// transaction and the tree's end. The link watches the tree: once the tree
// is destroyed it no longer calls it (clientState() gives -1, uploadFile()
// false) and it says so with treeDestroyed().
//
// Any tree type with clientState() -> int, uploadFile(QCFTPFile) -> bool and
// the signals transactionProgress(qlonglong, qlonglong), transactionFinished()
// and error(QString) fits create().
class TextEditorTreeLink : public QObject
{
    Q_OBJECT
public:
    // A link to no tree: nothing can be uploaded through it.
    TextEditorTreeLink();

    template <class Tree>
    static TextEditorTreeLink* create(Tree* tree);

    ~TextEditorTreeLink() override;

    bool hasTree() const;
    int clientState() const;
    bool uploadFile(const QCFTPFile& file);

signals:
    void transactionProgress(qlonglong current, qlonglong total);
    void transactionFinished();
    void error(const QString& message);
    // The tree is being destroyed; it must not be called any more.
    void treeDestroyed();

private:
    void attach(QObject* tree, std::function<int()> clientState,
                std::function<bool(const QCFTPFile&)> uploadFile);
    void onTreeDestroyed();

    Q_DISABLE_COPY(TextEditorTreeLink)
    std::unique_ptr<TextEditorTreeLinkPrivate> d;
};

template <class Tree>
TextEditorTreeLink* TextEditorTreeLink::create(Tree* tree)
{
    auto* link = new TextEditorTreeLink;
    if (!tree)
        return link;
    // The calls go through the link only while the tree lives (see attach).
    link->attach(
        tree, [tree] { return int(tree->clientState()); },
        [tree](const QCFTPFile& file) { return bool(tree->uploadFile(file)); });
    connect(tree, &Tree::transactionProgress, link, &TextEditorTreeLink::transactionProgress);
    connect(tree, &Tree::transactionFinished, link, &TextEditorTreeLink::transactionFinished);
    connect(tree, &Tree::error, link, &TextEditorTreeLink::error);
    return link;
}

#endif // TEXTEDITORTREELINK_H
