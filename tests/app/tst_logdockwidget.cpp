#include "logdockwidget.h"

#include <QtTest>

#include <QPushButton>
#include <QTextEdit>

static QTextEdit* viewOf(LogDockWidget& dock) { return qobject_cast<QTextEdit*>(dock.widget()); }

// The shown lines: a message's first line with its 26-character time stamp
// cut off, a continuation line marked "| ".
static QStringList shown(LogDockWidget& dock)
{
    static const QRegularExpression stamp(QStringLiteral("^\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] "));
    QStringList lines;
    for (const QString& line : viewOf(dock)->toPlainText().split('\n', Qt::SkipEmptyParts))
        lines.append(stamp.match(line).hasMatch() ? line.mid(26) : "| " + line);
    return lines;
}

class TestLogDockWidget : public QObject
{
    Q_OBJECT
private slots:
    void formatting_data();
    void formatting();
    void batchingAndClear();
    void noUndoHistory();
};

void TestLogDockWidget::formatting_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("lines");

    // The prefix is 26 characters: a tab at index 27 fills to column 32.
    QTest::newRow("tabs count per line") << "a\t\tb\n\tb\nxy\tz"
                                         << QStringList{"a             b", "|         b", "| xy      z"};
    QTest::newRow("windows line endings") << "one\r\ntwo\r\n" << QStringList{"one", "| two"};
    QTest::newRow("markup stays literal") << "<b>x</b> &lt;\n<p>2" << QStringList{"<b>x</b> &lt;", "| <p>2"};
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

void TestLogDockWidget::batchingAndClear()
{
    int appends = 0;
    LogDockWidget dock(QStringLiteral("Log"));
    connect(viewOf(dock), &QTextEdit::textChanged, this, [&appends] { ++appends; });

    // Messages within the interval appear together, in one append.
    for (const char* text : {"one", "two", "three"})
        dock.onPrintMessage(QLatin1String(text));
    QVERIFY(shown(dock).isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(shown(dock), (QStringList{"one", "two", "three"}), 10000);
    QCOMPARE(appends, 1);

    // Clear empties the view; a message still pending appears afterwards.
    dock.onPrintMessage(QStringLiteral("kept"));
    auto* clear = qobject_cast<QPushButton*>(viewOf(dock)->cornerWidget());
    QVERIFY(clear && !clear->icon().isNull());
    QTest::mouseClick(clear, Qt::LeftButton);
    QVERIFY(shown(dock).isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(shown(dock), QStringList{"kept"}, 10000);
}

void TestLogDockWidget::noUndoHistory()
{
    // The view keeps the text only: appending records no step to undo,
    // before a clear or after it.
    LogDockWidget dock(QStringLiteral("Log"));
    QTextDocument* document = viewOf(dock)->document();
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 3; ++i) {
            dock.onPrintMessage(QStringLiteral("line %1").arg(i));
            dock.onPrintBufferTimerTimeout();
        }
        QCOMPARE(shown(dock), (QStringList{"line 0", "line 1", "line 2"}));
        QVERIFY(!document->isUndoRedoEnabled());
        QCOMPARE(document->availableUndoSteps(), 0);
        QTest::mouseClick(qobject_cast<QPushButton*>(viewOf(dock)->cornerWidget()), Qt::LeftButton);
        QVERIFY(shown(dock).isEmpty());
    }
}

QTEST_MAIN(TestLogDockWidget)

#include "tst_logdockwidget.moc"
