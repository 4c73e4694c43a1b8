#include "nodeinforows_p.h"

#include <QHeaderView>
#include <QTreeWidget>

void startNodeInfoColumns(QTreeWidget* tree)
{
    QHeaderView* header = tree->header();
    header->setStretchLastSection(false);
    for (int column = 0; column < header->count(); ++column)
        header->resizeSection(column, header->minimumSectionSize());
}

void fillNodeInfoRows(QTreeWidget* tree, const QVector<NodeInfoRow>& rows)
{
    tree->setUpdatesEnabled(false);
    tree->clear();
    for (const NodeInfoRow& row : rows) {
        auto* item = new QTreeWidgetItem;
        item->setText(0, row.first);
        item->setText(1, row.second);
        tree->addTopLevelItem(item);
    }
    for (int column = 0; column < tree->columnCount(); ++column) {
        const int before = tree->columnWidth(column);
        tree->resizeColumnToContents(column);
        if (before > tree->columnWidth(column))
            tree->setColumnWidth(column, before);
    }
    tree->setUpdatesEnabled(true);
}

QUrl nodeDomainUrl(const QString& domain)
{
    const QString text = domain.trimmed();
    if (text.isEmpty())
        return QUrl();
    // A scheme ends at the first ':' that comes before any '/', '?' or '#';
    // "host:port" has digits after that colon and is no scheme.
    QString candidate = text;
    const int colon = text.indexOf(QLatin1Char(':'));
    int end = text.size();
    for (const QChar c : {QLatin1Char('/'), QLatin1Char('?'), QLatin1Char('#')}) {
        const int at = text.indexOf(c);
        if (at >= 0 && at < end)
            end = at;
    }
    bool hasScheme = false;
    if (colon >= 0 && colon < end) {
        const QString rest = text.mid(colon + 1, end - colon - 1);
        bool digits = !rest.isEmpty();
        for (const QChar c : rest)
            digits = digits && c.isDigit() && c.unicode() < 128;
        hasScheme = !digits;
    }
    if (!hasScheme)
        candidate = QStringLiteral("http://") + text;
    const QUrl url(candidate, QUrl::TolerantMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        || url.host().isEmpty())
        return QUrl();
    return url;
}
