#include "qversiondialog.h"

#include <QtTest>

#include <QDesktopServices>
#include <QLabel>

// Records the URLs that QDesktopServices::openUrl hands to it.
class UrlRecorder : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;

public slots:
    void openUrl(const QUrl& url) { urls.append(url); }
};

class TestQVersionDialog : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void identityAsPlainText();
    void linkOpensTheDomainAsWebAddress();

private:
    UrlRecorder m_recorder;
};

void TestQVersionDialog::initTestCase()
{
    QCoreApplication::setApplicationName(QStringLiteral("quorvel Explorer"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.6.2.0"));
    QCoreApplication::setOrganizationName(QStringLiteral("Orvik <b>"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("orvik.example"));
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &m_recorder, "openUrl");
}

void TestQVersionDialog::identityAsPlainText()
{
    QVersionDialog dialog;
    QStringList texts;
    for (const char* name : {"labelApplicationName", "labelVersion", "labelOrganisation", "labelCopyright"}) {
        auto* label = dialog.findChild<QLabel*>(QLatin1String(name));
        QVERIFY2(label && label->textFormat() == Qt::PlainText, name);
        texts << label->text();
    }
    QCOMPARE(texts, (QStringList{"quorvel Explorer", "1.6.2.0", "Orvik <b>",
                                 QStringLiteral("Copyright \u00a9 %1 Orvik <b>").arg(QDate::currentDate().year())}));
}

void TestQVersionDialog::linkOpensTheDomainAsWebAddress()
{
    QVersionDialog dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto* link = dialog.findChild<QLabel*>(QStringLiteral("labelLink"));
    const QPoint onText(link->fontMetrics().horizontalAdvance(QStringLiteral("orvik")), link->height() / 2);
    QTest::mouseClick(link, Qt::LeftButton, Qt::NoModifier, onText);
    QCOMPARE(m_recorder.urls, QList<QUrl>{QUrl(QStringLiteral("http://orvik.example"))});
}

QTEST_MAIN(TestQVersionDialog)

#include "tst_qversiondialog.moc"
