#ifndef QVERSIONDIALOG_H
#define QVERSIONDIALOG_H

#include <QDialog>

#include <memory>

namespace Ui {
class QVersionDialog;
}

// The About box: application name and version, organisation, a link to the
// organisation's web domain and the copyright notice, all taken from the
// application identity.
class QVersionDialog : public QDialog
{
    Q_OBJECT
public:
    explicit QVersionDialog(QWidget* parent = nullptr);
    ~QVersionDialog() override;

private slots:
    void on_pushButtonClose_clicked();
    void on_labelLink_linkActivated(const QString& link);

private:
    Q_DISABLE_COPY(QVersionDialog)
    std::unique_ptr<Ui::QVersionDialog> ui;
};

// Runs the About box modally over parent; it is destroyed when it ends.
void showVersionDialog(QWidget* parent);

#endif // QVERSIONDIALOG_H
