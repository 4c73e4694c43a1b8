// The node information and statistics views against the test node, opened
// from the main window, and the domain click's choice of what to open.

#include "connectedwindow.h"
#include "erfcnodeinfo.h"
#include "erfcnodeinformationwidget.h"
#include "erfcnodestatisticwidget.h"
#include "modaldriver.h"
#include "nodeinforows_p.h"

#include <QDesktopServices>
#include <QHeaderView>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QScrollBar>
#include <QSemaphore>
#include <QTreeWidget>
#include <QtTest>

namespace {

constexpr uchar Node = 10;

QStringList column(QTreeWidget* tree, int c)
{
    QStringList out;
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        out << tree->topLevelItem(i)->text(c);
    return out;
}

bool sameIcon(QWidget* view, const char* path)
{
    auto* window = qobject_cast<QMdiSubWindow*>(view->parentWidget());
    return window
        && window->windowIcon().pixmap(16).toImage() == QIcon(QString::fromLatin1(path)).pixmap(16).toImage();
}

// Every row and every column's widest text fit the tree's viewport as it
// is without scroll bars, and the name column is not cut either.
bool showsAllUncut(QTreeWidget* tree)
{
    const QAbstractItemView* view = tree;
    const QSize room = tree->maximumViewportSize();
    int width = 0;
    for (int c = 0; c < tree->columnCount(); ++c)
        width += view->sizeHintForColumn(c);
    QTreeWidgetItem* last = tree->topLevelItem(tree->topLevelItemCount() - 1);
    return last && width <= room.width() && tree->columnWidth(0) >= view->sizeHintForColumn(0)
        && tree->verticalScrollBar()->value() == 0 && tree->visualItemRect(last).bottom() < room.height()
        && !tree->horizontalScrollBar()->isVisible() && !tree->verticalScrollBar()->isVisible();
}

} // namespace

// Records what the views hand to the desktop.
class UrlRecorder : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

class TestNodeInfoViews : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void domainUrl_data();
    void domainUrl();
    void domainClick();
    void unknownNode();
    void information();
    void statistics();
    void opensShowingAllRows_data();
    void opensShowingAllRows();
    void viewsStayWhenTheNodeRestartsWhileTheWindowIsBusy();

private:
    ConnectedWindow m_session;
    MainWindow* window() const { return m_session.window.get(); }
};

void TestNodeInfoViews::initTestCase()
{
    QVERIFY(m_session.connect(Node, {"--software-hash", "dead01", "--bootloader-hash", "00ff10"}));
}

void TestNodeInfoViews::domainUrl_data()
{
    QTest::addColumn<QString>("domain");
    QTest::addColumn<QString>("url");
    QTest::newRow("https") << "HTTPS://example.com" << "https://example.com";
    QTest::newRow("bare host") << "example.com" << "http://example.com";
    QTest::newRow("host:port") << "node.local:8080" << "http://node.local:8080";
    QTest::newRow("host/path with colon") << "example.com/a:b" << "http://example.com/a:b";
    QTest::newRow("file without slashes") << "file:/bin/sh" << "";
    QTest::newRow("javascript") << "javascript:alert(1)" << "";
    QTest::newRow("http without host") << "http:///etc/passwd" << "";
    // A host is not enough: only web links open.
    QTest::newRow("ftp with host") << "ftp://example.com" << "";
    QTest::newRow("file with host") << "file://server/share/x" << "";
    QTest::newRow("blank") << "   " << "";
}

void TestNodeInfoViews::domainUrl()
{
    QFETCH(QString, domain);
    QFETCH(QString, url);
    QCOMPARE(nodeDomainUrl(domain).toString(), url);
}

void TestNodeInfoViews::domainClick()
{
    // A view of a node the registry never saw: all twelve rows, empty.
    ErfcNodeInformationWidget view(42);
    auto* tree = view.findChild<QTreeWidget*>(QStringLiteral("treeWidgetInfo"));
    QVERIFY(tree);
    QCOMPARE(tree->topLevelItemCount(), 12);
    QCOMPARE(column(tree, 1).join(QString()), QString());

    UrlRecorder recorder;
    const QStringList schemes{"http", "https", "file", "mailto", "ftp"};
    for (const QString& scheme : schemes)
        QDesktopServices::setUrlHandler(scheme, &recorder, "open");
    QTreeWidgetItem* domain = tree->topLevelItem(11);
    QTreeWidgetItem* serial = tree->topLevelItem(8);
    QCOMPARE(domain->text(0), QStringLiteral("Domain"));
    const QStringList texts{"https://example.com/x", "node.local", "file:///bin/sh", "",
                            "ftp://example.com", "file://server/share/x"};
    for (const QString& text : texts) {
        domain->setText(1, text);
        emit tree->itemClicked(domain, 1);
        serial->setText(1, text);
        emit tree->itemClicked(serial, 1);
    }
    emit tree->itemClicked(domain, 0);
    for (const QString& scheme : schemes)
        QDesktopServices::unsetUrlHandler(scheme);
    QCOMPARE(recorder.opened, (QList<QUrl>{QUrl("https://example.com/x"), QUrl("http://node.local")}));

    // Neither view asks anything of a missing record; the statistics stay empty.
    ErfcNodeStatisticWidget statistics(42);
    QCOMPARE(statistics.findChild<QTreeWidget*>()->topLevelItemCount(), 0);
}

void TestNodeInfoViews::unknownNode()
{
    ModalDriver driver;
    QVERIFY(QMetaObject::invokeMethod(window(), "onNodesDockWidgetInformationRequested", Q_ARG(uchar, 43)));
    QVERIFY(QMetaObject::invokeMethod(window(), "onNodesDockWidgetStatisitcRequested", Q_ARG(uchar, 43)));
    const QString gone = QStringLiteral("information Error: Target not available.");
    QCOMPARE(driver.seen, (QStringList{gone, gone}));
    QVERIFY(window()->findChildren<ErfcNodeInformationWidget*>().isEmpty());
    QVERIFY(window()->findChildren<ErfcNodeStatisticWidget*>().isEmpty());
}

void TestNodeInfoViews::information()
{
    QVERIFY(QMetaObject::invokeMethod(window(), "onNodesDockWidgetInformationRequested", Q_ARG(uchar, Node)));
    QVERIFY(QMetaObject::invokeMethod(window(), "onNodesDockWidgetInformationRequested", Q_ARG(uchar, Node)));
    const auto views = window()->findChildren<ErfcNodeInformationWidget*>();
    QCOMPARE(views.size(), 2);
    ErfcNodeInformationWidget* view = views.first();
    QCOMPARE(view->windowTitle(), QStringLiteral("10 : Test node - Information"));
    QVERIFY(sameIcon(view, ":/img/resource/information.png"));
    QVERIFY(view->isVisible());

    auto* tree = view->findChild<QTreeWidget*>(QStringLiteral("treeWidgetInfo"));
    QCOMPARE(column(tree, 0),
             (QStringList{"Node Version", "Protocol Version", "Bootloader Version", "Bootloader Hash",
                          "Software Version", "Software Hash", "Hardware Description", "Hardware Revision",
                          "Serial", "Unique ID", "Manufacturer", "Domain"}));
    const QStringList values = column(tree, 1);
    QCOMPARE(values.mid(3, 7), (QStringList{"00ff10", values.at(4), "dead01", "erfc-testnode", values.at(7),
                                            "TN-0001", "0102030405060708"}));

    // Both views refill on a refresh; a wide column stays wide.
    auto* other = views.last()->findChild<QTreeWidget*>(QStringLiteral("treeWidgetInfo"));
    tree->topLevelItem(8)->setText(1, QStringLiteral("stale"));
    other->topLevelItem(8)->setText(1, QStringLiteral("stale"));
    tree->setColumnWidth(1, 900);
    ErfcNodeManager::instance()->nodeInfo(Node)->refreshNodeInfo();
    QTRY_COMPARE_WITH_TIMEOUT(tree->topLevelItem(8)->text(1), QStringLiteral("TN-0001"), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(other->topLevelItem(8)->text(1), QStringLiteral("TN-0001"), 20000);
    QCOMPARE(tree->columnWidth(1), 900);
    qDeleteAll(views);
}

void TestNodeInfoViews::statistics()
{
    QVERIFY(QMetaObject::invokeMethod(window(), "onNodesDockWidgetStatisitcRequested", Q_ARG(uchar, Node)));
    auto* first = window()->findChild<ErfcNodeStatisticWidget*>();
    QVERIFY(first);
    QCOMPARE(first->windowTitle(), QStringLiteral("10 : Test node - Statistic"));
    QVERIFY(sameIcon(first, ":/img/resource/statistics.png"));
    auto* tree = first->findChild<QTreeWidget*>(QStringLiteral("treeWidgetStatistics"));
    QTRY_COMPARE_WITH_TIMEOUT(tree->topLevelItemCount(), 13, 20000);
    QCOMPARE(column(tree, 0),
             (QStringList{"# Frames TX", "# Frames RX", "# CRC Frame Errors", "# Frames Routed",
                          "# Routing Errors", "# Retries", "# Max Retries", "# Retransmits",
                          "# MSG unknown Addr", "# Unknown Funct. ID", "# Unknown Event ID",
                          "# Unexpected Responses", "# RX Dropped"}));
    // The node has answered every request so far: frames both ways.
    QVERIFY(column(tree, 1).at(1).toUInt() > 0);

    // A second view's answer refills the first as well.
    tree->topLevelItem(0)->setText(1, QStringLiteral("stale"));
    auto* second = new ErfcNodeStatisticWidget(Node, window());
    auto* secondTree = second->findChild<QTreeWidget*>();
    QCOMPARE(secondTree->topLevelItemCount(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(secondTree->topLevelItemCount(), 13, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(tree->topLevelItem(0)->text(1) != QLatin1String("stale"), 20000);
    delete second;

    // Counters at their maxima, in full.
    QErfcStatistics max;
    max.frameTx = max.frameRx = max.routing = 4294967295u;
    max.crcError = max.routingError = max.retries = max.maxRetries = max.retransmit = max.unknownNode =
        max.unknownFunction = max.unknownEvent = max.unexpResponse = max.rxqueueFull = 65535;
    QVERIFY(QMetaObject::invokeMethod(first, "onStatisticsRefreshed", Qt::DirectConnection,
                                      Q_ARG(QErfcStatistics, max)));
    QCOMPARE(column(tree, 1).at(3), QStringLiteral("4294967295"));
    QCOMPARE(column(tree, 1).at(12), QStringLiteral("65535"));

    // Each counter in its own row: a swapped or repeated row shows.
    QErfcStatistics distinct;
    distinct.frameTx = 4000000001u;
    distinct.frameRx = 4000000002u;
    distinct.crcError = 3;
    distinct.routing = 4000000004u;
    distinct.routingError = 5;
    distinct.retries = 6;
    distinct.maxRetries = 7;
    distinct.retransmit = 8;
    distinct.unknownNode = 9;
    distinct.unknownFunction = 10;
    distinct.unknownEvent = 11;
    distinct.unexpResponse = 12;
    distinct.rxqueueFull = 65013;
    QVERIFY(QMetaObject::invokeMethod(first, "onStatisticsRefreshed", Qt::DirectConnection,
                                      Q_ARG(QErfcStatistics, distinct)));
    QCOMPARE(column(tree, 1), (QStringList{"4000000001", "4000000002", "3", "4000000004", "5", "6", "7", "8", "9",
                                           "10", "11", "12", "65013"}));
    delete first;
}

void TestNodeInfoViews::opensShowingAllRows_data()
{
    QTest::addColumn<QByteArray>("slot");
    QTest::addColumn<int>("rows");
    QTest::newRow("information") << QByteArray("onNodesDockWidgetInformationRequested") << 12;
    // Its values all empty: the value column narrower than a tree starts it.
    QTest::newRow("information, nothing answered") << QByteArray() << 12;
    // Opened empty: sized for counters it has not seen yet.
    QTest::newRow("statistics") << QByteArray("onNodesDockWidgetStatisitcRequested") << 13;
}

void TestNodeInfoViews::opensShowingAllRows()
{
    QFETCH(QByteArray, slot);
    QFETCH(int, rows);
    window()->resize(1400, 900); // the program's window on a common screen
    auto* area = window()->findChild<QMdiArea*>();
    if (slot.isEmpty()) {
        // As the main window adds a view, for a node the registry never saw.
        auto* view = new ErfcNodeInformationWidget(42, window());
        area->addSubWindow(view);
        view->show();
    } else {
        QVERIFY(QMetaObject::invokeMethod(window(), slot.constData(), Q_ARG(uchar, Node)));
    }
    QMdiSubWindow* sub = area->subWindowList().value(area->subWindowList().size() - 1);
    QVERIFY(sub);
    auto* tree = sub->widget()->findChild<QTreeWidget*>();
    QTRY_COMPARE_WITH_TIMEOUT(tree->topLevelItemCount(), rows, 20000);
    // Large counters, so that the statistics are as wide as they get.
    if (rows == 13) {
        QErfcStatistics max;
        max.frameTx = max.frameRx = max.routing = 4294967295u;
        QVERIFY(QMetaObject::invokeMethod(sub->widget(), "onStatisticsRefreshed", Qt::DirectConnection,
                                          Q_ARG(QErfcStatistics, max)));
    }
    QTRY_VERIFY_WITH_TIMEOUT(showsAllUncut(tree), 5000);
    // Cascading sizes the windows anew, from what they ask for, also after
    // a refill in a larger window.
    sub->resize(900, 600);
    if (rows == 13)
        QVERIFY(QMetaObject::invokeMethod(sub->widget(), "onStatisticsRefreshed", Qt::DirectConnection,
                                          Q_ARG(QErfcStatistics, QErfcStatistics())));
    else
        static_cast<ErfcNodeInformationWidget*>(sub->widget())->fillInformation();
    QVERIFY(QMetaObject::invokeMethod(window(), "on_actionCascade_Views_triggered"));
    QTRY_VERIFY_WITH_TIMEOUT(showsAllUncut(tree), 5000);
    QVERIFY(area->viewport()->rect().contains(sub->geometry()));
    delete sub;
}

void TestNodeInfoViews::viewsStayWhenTheNodeRestartsWhileTheWindowIsBusy()
{
    // A batch of the node's information ends on the stack thread; the node
    // restarts (a reset) before this thread, held meanwhile as by a modal
    // wait, has handled that end. The same node came back: its views stay.
    QVERIFY(QMetaObject::invokeMethod(window(), "onNodesDockWidgetInformationRequested", Q_ARG(uchar, Node)));
    QVERIFY(QMetaObject::invokeMethod(window(), "onNodesDockWidgetStatisitcRequested", Q_ARG(uchar, Node)));
    QPointer<ErfcNodeInformationWidget> information = window()->findChild<ErfcNodeInformationWidget*>();
    QPointer<ErfcNodeStatisticWidget> statistics = window()->findChild<ErfcNodeStatisticWidget*>();
    QVERIFY(information && statistics);
    ErfcNodeInfo* record = ErfcNodeManager::instance()->nodeInfo(Node);
    QSemaphore ended;
    QObject context;
    connect(record, &QErfcNodeInfo::nodeInfoRefreshed, &context, [&ended] { ended.release(); },
            Qt::DirectConnection);
    const quint64 updates = record->updateCount();

    ErfcNodeManager::instance()->queueRequests(Node, [](ErfcNodeInfo* r) { r->refreshNodeInfo(); });
    // Held from here on: nothing queued to this thread runs.
    QVERIFY(ended.tryAcquire(1, 20000));
    ErfcNodeManager::instance()->resetNode(Node, QErfc::Application);
    QDeadlineTimer bound(30000);
    while (!(record->updateCount() >= updates + 2 && record->isAvailable()) && !bound.hasExpired())
        QThread::msleep(1);
    QVERIFY(record->updateCount() >= updates + 2 && record->isAvailable());

    // Released: the node's next information arrives, and the views are there.
    QAtomicInt read = 0;
    connect(ErfcNodeManager::instance(), &ErfcNodeManager::nodeInfoRefreshed, &context,
            [&read](uchar addr) { if (addr == Node) read = 1; });
    QTRY_VERIFY_WITH_TIMEOUT(read.loadRelaxed() == 1, 30000);
    QVERIFY(information && statistics);
    delete information->parentWidget();
    delete statistics->parentWidget();
}

QTEST_MAIN(TestNodeInfoViews)
#include "tst_nodeinfoviews.moc"
