#include "qversiondialog.h"

#include <QtTest>

#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>

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
    void texts_data();
    void texts();
    void form();
    void linkOpensTheDomainAsWebAddress();
    void closeEndsTheDialog_data();
    void closeEndsTheDialog();

private:
    UrlRecorder m_recorder;
};

void TestQVersionDialog::initTestCase()
{
    QCoreApplication::setApplicationName(QStringLiteral("quorvel Explorer"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.6.2.0"));
    QCoreApplication::setOrganizationName(QStringLiteral("Orvik"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("orvik.example"));
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &m_recorder, "openUrl");
}

void TestQVersionDialog::texts_data()
{
    QTest::addColumn<QString>("objectName");
    QTest::addColumn<QString>("text");

    QTest::newRow("name") << "labelApplicationName" << "quorvel Explorer";
    QTest::newRow("version") << "labelVersion" << "1.6.2.0";
    QTest::newRow("organisation") << "labelOrganisation" << "Orvik";
    QTest::newRow("link") << "labelLink" << "<a href=\"orvik.example\">orvik.example</a>";
    QTest::newRow("copyright") << "labelCopyright"
                               << QStringLiteral("Copyright \u00a9 %1 Orvik").arg(QDate::currentDate().year());
    QTest::newRow("captions") << "label_4 label_8 label_10 label"
                              << "Version: Website: Organisation: Copyright:";
}

void TestQVersionDialog::texts()
{
    QFETCH(QString, objectName);
    QFETCH(QString, text);

    QVersionDialog dialog;
    QStringList found;
    for (const QString& name : objectName.split(QLatin1Char(' '))) {
        auto* label = dialog.findChild<QLabel*>(name);
        QVERIFY2(label, qPrintable(name));
        found.append(label->text());
    }
    QCOMPARE(found.join(QLatin1Char(' ')), text);
}

void TestQVersionDialog::form()
{
    QVersionDialog dialog;
    // The compiled-in pictures are found.
    QVERIFY(!dialog.windowIcon().isNull());
    QVERIFY(!dialog.findChild<QLabel*>(QStringLiteral("label_2"))->pixmap(Qt::ReturnByValue).isNull());
    // Values from the identity are shown as typed, never as markup.
    for (const char* name : {"labelApplicationName", "labelVersion", "labelOrganisation", "labelCopyright"})
        QCOMPARE(dialog.findChild<QLabel*>(QLatin1String(name))->textFormat(), Qt::PlainText);
}

void TestQVersionDialog::linkOpensTheDomainAsWebAddress()
{
    QVersionDialog dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto* link = dialog.findChild<QLabel*>(QStringLiteral("labelLink"));
    QSignalSpy activated(link, &QLabel::linkActivated);

    const QPoint onText(link->fontMetrics().horizontalAdvance(QStringLiteral("orvik")), link->height() / 2);
    QTest::mouseClick(link, Qt::LeftButton, Qt::NoModifier, onText);
    QCOMPARE(activated.count(), 1);
    QCOMPARE(activated.at(0).at(0).toString(), QStringLiteral("orvik.example"));
    QCOMPARE(m_recorder.urls, QList<QUrl>{QUrl(QStringLiteral("http://orvik.example"))});
}

void TestQVersionDialog::closeEndsTheDialog_data()
{
    QTest::addColumn<bool>("escape");
    QTest::newRow("Close button") << false;
    QTest::newRow("Escape") << true;
}

void TestQVersionDialog::closeEndsTheDialog()
{
    QFETCH(bool, escape);

    // Answers the modal dialog once it is up; after 20 s it ends it anyway,
    // so a dialog that does not close fails the test instead of hanging it.
    QWidget parent;
    bool answered = false;
    QElapsedTimer waited;
    waited.start();
    QTimer driver;
    connect(&driver, &QTimer::timeout, this, [&] {
        auto* dialog = qobject_cast<QVersionDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        if (!answered) {
            answered = true;
            if (escape)
                QTest::keyClick(dialog, Qt::Key_Escape);
            else
                QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("pushButtonClose")), Qt::LeftButton);
        } else if (waited.elapsed() > 20000) {
            dialog->done(QDialog::Rejected);
        }
    });
    driver.start(20);
    showVersionDialog(&parent);

    QVERIFY(answered);
    QVERIFY(waited.elapsed() < 20000);
    QVERIFY(parent.findChildren<QVersionDialog*>().isEmpty()); // destroyed on return
}

QTEST_MAIN(TestQVersionDialog)

#include "tst_qversiondialog.moc"
