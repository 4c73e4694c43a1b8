// The debug log end to end: the main window opens it for the test node,
// whose generated records all arrive, once each, in order and intact; the
// node's restart marks a RECONNECT and the records go on. A stack held up
// long enough on a loaded machine may also lose and find the node again
// meanwhile: a RECONNECT too, and the records must still all be there.

#include "connectedwindow.h"
#include "erfcdebuglogdockwidget.h"
#include "erfceventsubscription_p.h"
#include "modaldriver.h"
#include "testnode/testlogsource.h"

#include <QRegularExpression>
#include <QTableWidget>
#include <QtTest>

namespace {

constexpr uchar Node = 10;
constexpr int Records = 10000;

// The sequence numbers of the records shown, in table order; -1 for a
// RECONNECT row. Continuation rows are skipped.
QList<int> sequence(QTableWidget* table)
{
    static const QRegularExpression seq(QStringLiteral("^seq=(\\d{8})"));
    QList<int> out;
    for (int row = 0; row < table->rowCount(); ++row) {
        if (!table->item(row, 0))
            continue;
        const QString text = table->item(row, 7)->text();
        const QRegularExpressionMatch m = seq.match(text);
        out << (m.hasMatch() ? m.captured(1).toInt() : text == QLatin1String("RECONNECT") ? -1 : -2);
    }
    return out;
}

// The table's rows other than RECONNECT rows, in order.
QList<int> recordRows(QTableWidget* table)
{
    QList<int> out;
    for (int row = 0; row < table->rowCount(); ++row) {
        if (!table->item(row, 0) || table->item(row, 7)->text() != QLatin1String("RECONNECT"))
            out << row;
    }
    return out;
}

} // namespace

class TestErfcDebugLogEndToEnd : public QObject
{
    Q_OBJECT
private slots:
    void logOfTheTestNode();
};

void TestErfcDebugLogEndToEnd::logOfTheTestNode()
{
    ConnectedWindow session;
    QVERIFY(session.connect(Node, {"--log-count", "0", "--log-rate", "2500"}));
    std::unique_ptr<MainWindow>& window = session.window;

    QVERIFY(QMetaObject::invokeMethod(window.get(), "onNodesDockWidgetLogRequested", Q_ARG(uchar, Node)));
    auto* view = window->findChild<ErfcDebugLogDockWidget*>();
    QVERIFY(view);
    QCOMPARE(window->dockWidgetArea(view), Qt::BottomDockWidgetArea);
    QVERIFY(window->tabifiedDockWidgets(view).contains(window->findChild<QDockWidget*>("systemLog")));
    QVERIFY(view->isVisible());
    // Each time the node comes back, after its reset or after a stack held
    // up on a loaded machine lost it, the view marks it with one RECONNECT.
    int returns = 0;
    connect(ErfcNodeManager::instance(), &ErfcNodeManager::drcUpdate, view,
            [&returns](uchar addr, QErfc::DrcUpdate state, QErfc::Mode mode) {
                if (addr == Node && state == QErfc::NewNode && mode == QErfc::Application)
                    ++returns;
            });
    {
        ModalDriver driver;
        QVERIFY(QMetaObject::invokeMethod(window.get(), "onNodesDockWidgetLogRequested", Q_ARG(uchar, Node)));
        QCOMPARE(driver.seen, QStringList{"information Error: Node log is already open!"});
        QCOMPARE(window->findChildren<ErfcDebugLogDockWidget*>().size(), 1);
    }
    QTRY_COMPARE_WITH_TIMEOUT(view->windowTitle(), QStringLiteral("Log Node 10 (Connected)"), 20000);

    // The first records, each once, in order, with every field as sent.
    auto* table = view->findChild<QTableWidget*>(QStringLiteral("tableWidget"));
    const auto recordCount = [table] {
        const QList<int> seen = sequence(table);
        return seen.size() - seen.count(-1);
    };
    QTRY_VERIFY_WITH_TIMEOUT(recordCount() >= Records, 60000);
    ErfcDebugLogDockWidget expected(nullptr, Node);
    for (int seq = 0; seq < Records; ++seq) {
        const QByteArray record = TestLogSource::record(quint64(seq));
        ErfcDebugLogEntry entry(0, 0, 0, {}, {}, {}, 0, {}, {});
        QVERIFY(ErfcDebugLogEntry::fromRecord(QString::fromUtf8(record.mid(1, record.size() - 2)), &entry));
        expected.appendEntry(entry);
    }
    auto* reference = expected.findChild<QTableWidget*>(QStringLiteral("tableWidget"));
    const QList<int> rows = recordRows(table);
    QVERIFY(rows.size() >= reference->rowCount());
    for (int row = 0; row < reference->rowCount(); ++row) {
        for (int c = 1; c < 8; ++c) {
            const QTableWidgetItem* want = reference->item(row, c);
            const QTableWidgetItem* got = table->item(rows.at(row), c);
            QVERIFY2(bool(want) == bool(got) && (!want || want->text() == got->text()),
                     qPrintable(QStringLiteral("row %1 column %2").arg(row).arg(c)));
        }
    }

    // The node restarts: a RECONNECT row, subscribed again, and the records
    // go on where they stopped.
    const int before = sequence(table).size();
    ErfcNodeManager::instance()->resetNode(Node, QErfc::Application);
    QTRY_VERIFY_WITH_TIMEOUT(sequence(table).lastIndexOf(-1) >= before, 20000);
    QTRY_COMPARE_WITH_TIMEOUT(view->windowTitle(), QStringLiteral("Log Node 10 (Connected)"), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(sequence(table).size() > before + 500, 60000);
    QTRY_COMPARE_WITH_TIMEOUT(sequence(table).count(-1), returns, 20000);
    QList<int> records = sequence(table);
    records.removeAll(-1);
    for (int i = 0; i < records.size(); ++i)
        QCOMPARE(records.at(i), i);

    // Closed: forgotten by the window, unsubscribed, and it may be opened again.
    view->close();
    QTRY_VERIFY(window->findChildren<ErfcDebugLogDockWidget*>().isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(ErfcEventSubscription::lingering(), 0, 15000);
    QVERIFY(QMetaObject::invokeMethod(window.get(), "onNodesDockWidgetLogRequested", Q_ARG(uchar, Node)));
    QCOMPARE(window->findChildren<ErfcDebugLogDockWidget*>().size(), 1);
    // The stack outlives the window: disabled with it, it ends the
    // subscription, and its owner goes.
    window.reset();
    QTRY_COMPARE_WITH_TIMEOUT(ErfcEventSubscription::lingering(), 0, 15000);
}

QTEST_MAIN(TestErfcDebugLogEndToEnd)
#include "tst_erfcdebuglogendtoend.moc"
