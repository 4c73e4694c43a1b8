#include "logdockwidget.h"

#include <QtTest>

#include <QPushButton>
#include <QScrollBar>
#include <QTextEdit>

namespace {

QTextEdit* viewOf(LogDockWidget& dock)
{
    return qobject_cast<QTextEdit*>(dock.widget());
}

// The shown lines: a message's first line with its time stamp checked and cut
// off, a continuation line marked "| ".
QStringList shown(LogDockWidget& dock)
{
    static const QRegularExpression prefix(QStringLiteral("^\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] "));
    QStringList lines;
    const QString text = viewOf(dock)->toPlainText();
    if (!text.isEmpty()) {
        for (const QString& line : text.split(QLatin1Char('\n')))
            lines.append(prefix.match(line).hasMatch() ? line.mid(26) : QLatin1String("| ") + line);
    }
    return lines;
}

} // namespace

class TestLogDockWidget : public QObject
{
    Q_OBJECT
private slots:
    void formatting_data();
    void formatting();
    void batchesWithinTheInterval();
    void clearKeepsPendingText();
    void endScrollsToTheBottom();
};

void TestLogDockWidget::formatting_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("lines");

    // The prefix is 26 characters: a tab at index 27 fills to column 32.
    QTest::newRow("tab after one letter") << "a\tb" << QStringList{"a     b"};
    QTest::newRow("two tabs") << "a\t\tb" << QStringList{"a             b"};
    QTest::newRow("tabs count per line") << "a\n\tb\nxy\tz" << QStringList{"a", "|         b", "| xy      z"};
    QTest::newRow("windows line endings") << "one\r\ntwo\r\n" << QStringList{"one", "| two"};
    QTest::newRow("ends with a line feed") << "done\n" << QStringList{"done"};
    QTest::newRow("empty message") << "" << QStringList{""};
    QTest::newRow("markup stays literal") << "<b>x</b>" << QStringList{"<b>x</b>"};
    QTest::newRow("entity stays literal") << "a &lt; b" << QStringList{"a &lt; b"};
    QTest::newRow("markup over lines") << "<i>1</i>\n\n<p>2" << QStringList{"<i>1</i>", "| ", "| <p>2"};
}

void TestLogDockWidget::formatting()
{
    QFETCH(QString, message);
    QFETCH(QStringList, lines);

    LogDockWidget dock(QStringLiteral("Log"));
    dock.onPrintMessage(message);
    dock.onPrintBufferTimerTimeout();
    QCOMPARE(shown(dock), lines);
    QCOMPARE(viewOf(dock)->document()->blockCount(), lines.size());
}

void TestLogDockWidget::batchesWithinTheInterval()
{
    int appends = 0;
    LogDockWidget dock(QStringLiteral("Log"));
    connect(viewOf(dock), &QTextEdit::textChanged, this, [&appends] { ++appends; });

    QElapsedTimer clock;
    clock.start();
    for (const char* text : {"one", "two", "three"})
        dock.onPrintMessage(QLatin1String(text));
    QVERIFY(shown(dock).isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(appends > 0, 10000);
    QVERIFY(clock.elapsed() >= 90);
    QCOMPARE(appends, 1);
    QCOMPARE(shown(dock), (QStringList{"one", "two", "three"}));

    // A later message waits for a flush of its own.
    dock.onPrintMessage(QStringLiteral("four"));
    QCOMPARE(shown(dock).size(), 3);
    QTRY_COMPARE_WITH_TIMEOUT(shown(dock), (QStringList{"one", "two", "three", "four"}), 10000);
    QCOMPARE(appends, 2);
}

void TestLogDockWidget::clearKeepsPendingText()
{
    LogDockWidget dock(QStringLiteral("Log"));
    dock.onPrintMessage(QStringLiteral("old"));
    QTRY_COMPARE_WITH_TIMEOUT(shown(dock), QStringList{"old"}, 10000);

    dock.onPrintMessage(QStringLiteral("kept"));
    auto* clear = qobject_cast<QPushButton*>(viewOf(dock)->cornerWidget());
    QVERIFY(clear);
    QVERIFY(!clear->icon().isNull()); // the compiled-in image is found
    QTest::mouseClick(clear, Qt::LeftButton);
    QVERIFY(shown(dock).isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(shown(dock), QStringList{"kept"}, 10000);
}

void TestLogDockWidget::endScrollsToTheBottom()
{
    LogDockWidget dock(QStringLiteral("Log"));
    dock.resize(400, 150);
    dock.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dock));
    for (int i = 0; i < 200; ++i)
        dock.onPrintMessage(QStringLiteral("line %1").arg(i));
    dock.onPrintBufferTimerTimeout();
    QScrollBar* bar = viewOf(dock)->verticalScrollBar();
    QTRY_VERIFY_WITH_TIMEOUT(bar->maximum() > 0, 10000);

    for (QWidget* target : {static_cast<QWidget*>(viewOf(dock)), static_cast<QWidget*>(&dock)}) {
        bar->setValue(0);
        QTest::keyClick(target, Qt::Key_End);
        QCOMPARE(bar->value(), bar->maximum());
    }

    // A view at the bottom follows new lines.
    dock.onPrintMessage(QStringLiteral("more\nand more\nand more"));
    dock.onPrintBufferTimerTimeout();
    QCOMPARE(bar->value(), bar->maximum());
}

QTEST_MAIN(TestLogDockWidget)

#include "tst_logdockwidget.moc"
