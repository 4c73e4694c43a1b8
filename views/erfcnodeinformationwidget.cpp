#include "erfcnodeinformationwidget.h"
#include "ui_erfcnodeinformationwidget.h"

#include "erfcnodeinfo.h"
#include "erfcnodemanager.h"
#include "nodeinforows_p.h"
#include "viewsize_p.h"

#include <QDesktopServices>

class ErfcNodeInformationWidgetPrivate
{
public:
    Ui::ErfcNodeInformationWidget m_ui;
    // The registry's record, never freed; null for an address it never saw.
    QErfcNodeInfo* m_info = nullptr;
};

ErfcNodeInformationWidget::ErfcNodeInformationWidget(quint8 address, QWidget* parent)
    : QWidget(parent)
    , d(new ErfcNodeInformationWidgetPrivate)
{
    d->m_ui.setupUi(this);
    d->m_info = ErfcNodeManager::instance()->nodeInfo(address);
    if (d->m_info)
        connect(d->m_info, &QErfcNodeInfo::nodeInfoRefreshed, this, [this] { fillInformation(); });
    d->m_ui.treeWidgetInfo->setColumnCount(2);
    d->m_ui.treeWidgetInfo->resizeColumnToContents(0);
    d->m_ui.treeWidgetInfo->resizeColumnToContents(1);
    // Empty, the columns fit the header labels; the rows decide instead.
    startNodeInfoColumns(d->m_ui.treeWidgetInfo);
    fillInformation();
}

ErfcNodeInformationWidget::~ErfcNodeInformationWidget() = default;

void ErfcNodeInformationWidget::fillInformation()
{
    const QErfcNodeInfo* info = d->m_info;
    auto text = [info](QString (QErfcNodeInfo::*get)() const) { return info ? (info->*get)() : QString(); };
    auto hex = [info](QByteArray (QErfcNodeInfo::*get)() const) {
        return info ? QString::fromLatin1((info->*get)().toHex()) : QString();
    };
    fillNodeInfoRows(d->m_ui.treeWidgetInfo,
                     {
                         {tr("Node Version"), text(&QErfcNodeInfo::nodeDescription)},
                         {tr("Protocol Version"), text(&QErfcNodeInfo::protocolVersion)},
                         {tr("Bootloader Version"), text(&QErfcNodeInfo::bootloaderVersion)},
                         {tr("Bootloader Hash"), hex(&QErfcNodeInfo::bootloaderHash)},
                         {tr("Software Version"), text(&QErfcNodeInfo::softwareVersion)},
                         {tr("Software Hash"), hex(&QErfcNodeInfo::softwareHash)},
                         {tr("Hardware Description"), text(&QErfcNodeInfo::hardwareDescription)},
                         {tr("Hardware Revision"), text(&QErfcNodeInfo::hardwareRevision)},
                         {tr("Serial"), text(&QErfcNodeInfo::serial)},
                         {tr("Unique ID"), hex(&QErfcNodeInfo::uniqueId)},
                         {tr("Manufacturer"), text(&QErfcNodeInfo::manufacturer)},
                         {tr("Domain"), text(&QErfcNodeInfo::domain)},
                     });
}

QSize ErfcNodeInformationWidget::sizeHint() const
{
    const QTreeWidget* tree = d->m_ui.treeWidgetInfo;
    return boundedToMdiArea(this, QSize(treeContentWidth(tree), treeContentHeight(tree)));
}

void ErfcNodeInformationWidget::on_treeWidgetInfo_itemClicked(QTreeWidgetItem* item, int column)
{
    Q_UNUSED(column)
    if (!item || item->text(0) != QLatin1String("Domain"))
        return;
    const QUrl url = nodeDomainUrl(item->text(1));
    if (url.isValid())
        QDesktopServices::openUrl(url);
}
