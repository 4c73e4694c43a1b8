#ifndef ERFCNODEINFORMATIONWIDGET_H
#define ERFCNODEINFORMATIONWIDGET_H

#include <QWidget>

#include <memory>

class ErfcNodeInformationWidgetPrivate;
class QTreeWidgetItem;

// What one node says about itself: versions, hashes, hardware, serial,
// unique id, manufacturer and domain, read from the node registry's record
// and redrawn whenever the record's information is refreshed. A click on
// the domain row opens the node's web address. It asks for the size that
// shows every row uncut.
class ErfcNodeInformationWidget : public QWidget
{
    Q_OBJECT
public:
    explicit ErfcNodeInformationWidget(quint8 address, QWidget* parent = nullptr);
    ~ErfcNodeInformationWidget() override;

    void fillInformation();

    // All rows in full, within the multi-document area that holds the view.
    QSize sizeHint() const override;

private slots:
    void on_treeWidgetInfo_itemClicked(QTreeWidgetItem* item, int column);

private:
    Q_DISABLE_COPY(ErfcNodeInformationWidget)
    std::unique_ptr<ErfcNodeInformationWidgetPrivate> d;
};

#endif // ERFCNODEINFORMATIONWIDGET_H
