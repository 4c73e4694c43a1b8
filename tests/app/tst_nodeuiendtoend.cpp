#include "erfcnodemanager.h"
#include "jsplotwidget.h"
#include "logdockwidget.h"
#include "mainwindow.h"
#include "modaldriver.h"
#include "nodesdockwidget.h"
#include "qerfcstack.h"
#include "testnodeprocess.h"

#include <QAction>
#include <QFontMetricsF>
#include <QInputDialog>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTreeWidget>
#include <QtTest>

#include <algorithm>
#include <limits>

// The road a person takes, against the test node program: its node menu
// offers "Launch Cockpit", the password and the choice are answered, and the
// node's built-in "Demo" interface runs in the main window: it shows the
// node's statistics, appends them to a CSV file and plots the node's ticks,
// it fits the main window as it first opens, and its plot's time labels keep
// apart in a wide window and in a narrow one.
class tst_NodeUiEndToEnd : public QObject
{
    Q_OBJECT
private slots:
    void demoStartsFromNodeMenu();
};

void tst_NodeUiEndToEnd::demoStartsFromNodeMenu()
{
    // The first node is killed below, so it serves a folder of the test's
    // own rather than one it would leave behind.
    QTemporaryDir served;
    TestNodeProcess node(QStringLiteral(TESTNODE_PATH));
    const quint16 port = node.listen({"--address", "10", "--ui-password", "geheim", "--tick", "100",
                                      "--description", "Bench node", "--cftp-root", served.path()});
    QVERIFY(port != 0);

    QErfcStack stack;
    MainWindow window(&stack);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.openTcpConnection(QStringLiteral("127.0.0.1"), port, 1);
    QTRY_VERIFY_WITH_TIMEOUT(ErfcNodeManager::instance()->nodeInfo(10), 30000);

    NodesDockWidget* dock = nullptr;
    QTreeWidgetItem* entry = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT([&] {
        for (NodesDockWidget* candidate : window.findChildren<NodesDockWidget*>()) {
            const auto found = candidate->treeWidget()->findItems(
                QStringLiteral("^10( : .*)?$"), Qt::MatchRegularExpression | Qt::MatchRecursive);
            if (candidate->isVisible() && !found.isEmpty()) {
                dock = candidate;
                entry = found.first();
                return true;
            }
        }
        return false;
    }(), 30000);

    QStringList menuEntries;
    QStringList choices;
    bool cockpitEnabled = false;
    ModalDriver driver(120000);
    driver.answer = [&](QWidget* widget) {
        if (auto* menu = qobject_cast<QMenu*>(widget)) {
            const QList<QAction*> actions = menu->actions();
            QAction* cockpit = nullptr;
            for (QAction* action : actions) {
                menuEntries << action->text();
                if (action->text() == QLatin1String("Launch Cockpit"))
                    cockpit = action;
            }
            // Enabled once the node's function list shows 123 and 124.
            cockpitEnabled = cockpit && QTest::qWaitFor([cockpit] { return cockpit->isEnabled(); }, 30000);
            if (!cockpitEnabled)
                return false;
            menu->setActiveAction(cockpit);
            QTest::keyClick(menu, Qt::Key_Return);
            return true;
        }
        auto* dialog = qobject_cast<QInputDialog*>(widget);
        if (!dialog)
            return false;
        if (dialog->windowTitle() == QLatin1String("Password")) {
            dialog->setTextValue(QStringLiteral("geheim"));
        } else {
            choices = dialog->comboBoxItems();
            dialog->setTextValue(QStringLiteral("Demo"));
        }
        dialog->accept();
        return true;
    };
    emit dock->treeWidget()->customContextMenuRequested(dock->treeWidget()->visualItemRect(entry).center());

    QMdiArea* area = window.findChild<QMdiArea*>();
    QTRY_COMPARE_WITH_TIMEOUT(area->subWindowList().size(), 1, 60000);
    QVERIFY(cockpitEnabled);
    QCOMPARE(choices, QStringList{"Demo"});
    QMdiSubWindow* sub = area->subWindowList().first();
    QCOMPARE(sub->windowTitle(), QStringLiteral("Node 10: Demo"));
    QStringList boxes = driver.seen;
    boxes.removeAll(QStringLiteral("QInputDialog"));
    QCOMPARE(boxes, QStringList());

    // The script shows its node's information and prints to its own dock.
    auto* nodeLabel = sub->findChild<QLabel*>(QStringLiteral("nodeLabel"));
    QVERIFY(nodeLabel);
    QCOMPARE(nodeLabel->text(), QStringLiteral("Node 10: Bench node"));
    QPointer<LogDockWidget> log;
    for (LogDockWidget* candidate : window.findChildren<LogDockWidget*>())
        if (candidate->windowTitle() == QLatin1String("10 : Bench node - UI Log"))
            log = candidate;
    QVERIFY(log);
    auto* text = log->findChild<QTextEdit*>();
    QTRY_VERIFY(text->toPlainText().contains(QStringLiteral("Demo started for node 10 (Bench node)")));

    // The button calls the node's function 16, which echoes the count.
    auto* button = sub->findChild<QPushButton*>(QStringLiteral("callButton"));
    auto* answer = sub->findChild<QLabel*>(QStringLiteral("answerLabel"));
    QVERIFY(button && answer);
    button->click();
    QTRY_COMPARE_WITH_TIMEOUT(answer->text(), QStringLiteral("Answer: 1"), 30000);
    QTRY_VERIFY(text->toPlainText().contains(QStringLiteral("function 16 answered")));

    // Thirteen counters by name, each with a number once the first answer is in.
    auto* table = sub->findChild<QTableWidget*>(QStringLiteral("statisticsTable"));
    QVERIFY(table);
    QCOMPARE(table->rowCount(), 13);
    QCOMPARE(table->item(0, 0)->text(), QStringLiteral("frameTx"));
    QCOMPARE(table->item(12, 0)->text(), QStringLiteral("rxqueueFull"));
    QTRY_VERIFY_WITH_TIMEOUT([table] {
        for (int row = 0; row < 13; ++row) {
            const QTableWidgetItem* item = table->item(row, 1);
            const QVariant value = item ? item->data(Qt::DisplayRole) : QVariant();
            if (!value.isValid() || value.userType() == QMetaType::QString || !value.canConvert<double>())
                return false;
        }
        return true;
    }(), 30000);
    QVERIFY(table->item(0, 1)->data(Qt::DisplayRole).toDouble() > 0); // the node has sent frames

    // The CSV file goes to the current folder: a header once, then a line per press.
    QTemporaryDir folder;
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(folder.path()));
    auto* csvButton = sub->findChild<QPushButton*>(QStringLiteral("csvButton"));
    auto* csvLabel = sub->findChild<QLabel*>(QStringLiteral("csvLabel"));
    QVERIFY(csvButton && csvLabel);
    for (int press = 0; press < 2; ++press) {
        QTRY_VERIFY(csvButton->isEnabled());
        csvButton->click();
        QTRY_COMPARE_WITH_TIMEOUT(csvLabel->text(), QStringLiteral("Written to node10-statistics.csv"), 30000);
    }
    QDir::setCurrent(previous);
    QFile csv(folder.filePath(QStringLiteral("node10-statistics.csv")));
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromLatin1(csv.readAll()).split('\n');
    QCOMPARE(lines.size(), 4); // header, two lines, the empty rest
    QCOMPARE(lines[0], QStringLiteral("time,frameTx,frameRx,crcError,routing,routingError,retries,maxRetries,"
                                      "retransmit,unknownNode,unknownFunction,unknownEvent,unexpResponse,rxqueueFull"));
    QVERIFY(lines[3].isEmpty());
    for (int i = 1; i <= 2; ++i) {
        const QStringList fields = lines[i].split(',');
        QCOMPARE(fields.size(), 14);
        QVERIFY(fields[0].startsWith(QStringLiteral("20")));
        QVERIFY(fields[1].toUInt() > 0);
    }

    // The ticks arrive in the plot as values of the noisy wave.
    auto* plot = sub->findChild<JsPlotWidget*>(QStringLiteral("tickPlot"));
    QVERIFY(plot && plot->graph(QStringLiteral("TICK")));
    QTRY_VERIFY_WITH_TIMEOUT(plot->graph(QStringLiteral("TICK"))->dataCount() >= 3, 30000);
    const auto data = plot->graph(QStringLiteral("TICK"))->data();
    QSet<double> values;
    for (auto it = data->constBegin(); it != data->constEnd(); ++it) {
        QVERIFY2(it->value >= -1.1 && it->value <= 1.1, qPrintable(QString::number(it->value)));
        values.insert(it->value);
    }
    QVERIFY(values.size() > 1); // noise alone makes them differ
    QVERIFY(sub->findChild<QLabel*>(QStringLiteral("tickLabel"))->text().startsWith(QStringLiteral("Sample ")));

    // The Demo fits the default window: its smallest size fits the
    // multi-document area, tiling leaves the window's size as it is, and as a
    // maximised tab nothing overlaps.
    const QSize windowSize = window.size();
    const QSize smallest = sub->minimumSizeHint();
    const QSize room = area->viewport()->size();
    QVERIFY2(smallest.width() <= room.width() && smallest.height() <= room.height(),
             qPrintable(QStringLiteral("%1x%2 in %3x%4").arg(smallest.width()).arg(smallest.height())
                            .arg(room.width()).arg(room.height())));
    const auto settle = [] {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    };
    window.findChild<QAction*>(QStringLiteral("actionTile_Views"))->trigger();
    settle();
    QCOMPARE(window.size(), windowSize);
    sub->showMaximized();
    QTRY_COMPARE(area->viewMode(), QMdiArea::TabbedView);
    settle();
    QCOMPARE(window.size(), windowSize);
    const auto placed = [sub](const char* name) {
        const auto* widget = sub->findChild<QWidget*>(QLatin1String(name));
        return QRect(widget->mapTo(sub, QPoint(0, 0)), widget->size());
    };
    const QRect inside = sub->contentsRect();
    const QList<QRect> parts{placed("statisticsTable"), placed("csvButton"), placed("csvLabel"),
                             placed("tickPlot"), placed("tickLabel"), placed("callButton")};
    for (int i = 0; i < parts.size(); ++i) {
        QVERIFY2(inside.contains(parts[i]), qPrintable(QString::number(i)));
        for (int j = i + 1; j < parts.size(); ++j)
            QVERIFY2(!parts[i].intersects(parts[j]), qPrintable(QStringLiteral("%1 %2").arg(i).arg(j)));
    }

    // The time labels of a Demo left open for long (four digits) keep apart
    // at any width: a wide plot shows them every 5 s, a narrow one fewer. The
    // range is set and replotted here, before the script's own timer runs
    // again; the script picks the ticks during the replot.
    const auto timeLabels = [plot](int* count) {
        plot->xAxis->setRange(1000, 1030);
        plot->replot();
        const QVector<double> ticks = plot->xAxis->tickVector();
        const QVector<QString> labels = plot->xAxis->tickVectorLabels();
        const QFontMetricsF metrics(plot->xAxis->tickLabelFont());
        *count = int(ticks.size());
        // The narrowest gap between neighbouring labels, each centred on its tick.
        double gap = std::numeric_limits<double>::max();
        for (int i = 1; i < ticks.size(); ++i) {
            const double leftEnd = plot->xAxis->coordToPixel(ticks[i - 1])
                                   + metrics.horizontalAdvance(labels[i - 1]) / 2;
            const double rightStart = plot->xAxis->coordToPixel(ticks[i])
                                      - metrics.horizontalAdvance(labels[i]) / 2;
            gap = std::min(gap, rightStart - leftEnd);
        }
        return gap;
    };
    const double space = QFontMetricsF(plot->xAxis->tickLabelFont()).horizontalAdvance(QLatin1Char(' '));
    int count = 0;
    window.resize(1600, 1000);
    settle();
    double gap = timeLabels(&count);
    QVERIFY2(count >= 6 && gap >= space, qPrintable(QStringLiteral("wide, %1 px: %2 labels, %3 px apart")
                                                        .arg(plot->width()).arg(count).arg(gap)));
    window.findChild<QAction*>(QStringLiteral("actionTile_Views"))->trigger();
    sub->showNormal();
    sub->resize(sub->minimumSizeHint());
    settle();
    gap = timeLabels(&count);
    QVERIFY2(count >= 2 && gap >= space, qPrintable(QStringLiteral("narrow, %1 px: %2 labels, %3 px apart")
                                                        .arg(plot->width()).arg(count).arg(gap)));

    // Another node takes over address 10 on the same port: once its
    // information arrives with its own unique id, the Demo window closes.
    QPointer<QMdiSubWindow> demo = sub;
    node.process.kill();
    QVERIFY(node.process.waitForFinished(20000));
    QVERIFY(node.start({"--listen", QString::number(port), "--address", "10", "--tick", "0",
                        "--unique-id", "0a0b0c0d"}));
    QCOMPARE(node.readUntil("listening port="), QByteArray::number(port));
    window.findChild<QAction*>(QStringLiteral("actionConnectionReconnect"))->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!demo, 60000);
    QTRY_VERIFY(!log);
}

QTEST_MAIN(tst_NodeUiEndToEnd)
#include "tst_nodeuiendtoend.moc"
