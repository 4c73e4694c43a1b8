#include "qversiondialog.h"
#include "ui_qversiondialog.h"

#include "appresources.h"

#include <QCoreApplication>
#include <QDate>
#include <QDesktopServices>
#include <QUrl>

QVersionDialog::QVersionDialog(QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::QVersionDialog)
{
    initAppResources();
    ui->setupUi(this);

    ui->labelApplicationName->setText(QCoreApplication::applicationName());
    ui->labelVersion->setText(QCoreApplication::applicationVersion());
    // The link's target and text are both the bare domain; it is opened by
    // on_labelLink_linkActivated, not by the label.
    const QString domain = QCoreApplication::organizationDomain().toHtmlEscaped();
    ui->labelLink->setText(QStringLiteral("<a href=\"%1\">%1</a>").arg(domain));
    ui->labelOrganisation->setText(QCoreApplication::organizationName());
    ui->labelCopyright->setText(QStringLiteral("Copyright \u00a9 %1 %2")
                                    .arg(QString::number(QDate::currentDate().year()),
                                         QCoreApplication::organizationName()));
}

QVersionDialog::~QVersionDialog() = default;

void QVersionDialog::on_pushButtonClose_clicked()
{
    hide();
}

void QVersionDialog::on_labelLink_linkActivated(const QString& link)
{
    QUrl url(link, QUrl::TolerantMode);
    // A bare domain has no scheme and would open nothing: take it as a web
    // address.
    if (url.scheme().isEmpty() && !link.isEmpty())
        url = QUrl(QStringLiteral("http://") + link, QUrl::TolerantMode);
    QDesktopServices::openUrl(url);
}

void showVersionDialog(QWidget* parent)
{
    QVersionDialog dialog(parent);
    dialog.exec();
}
