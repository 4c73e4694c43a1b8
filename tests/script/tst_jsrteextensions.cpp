// The dtype and timer extensions.

#include "jsrte.h"
#include "jsrtetimer.h"
#include "jsrtetimer_p.h"
#include "jsrtetype.h"

#include <QtTest>

class tst_JsRteExtensions : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void stringType_data();
    void stringType();
    void types_data();
    void types();
    void constants_data();
    void constants();

    void timerIds();
    void singleShot();
    void stopFromOwnFunction();
    void suspended();

private:
    QString eval(const QString& code) { return m_engine->QScriptEngine::evaluate(code).toString(); }
    int evalInt(const QString& code) { return m_engine->QScriptEngine::evaluate(code).toInt32(); }
    int runningTimers() { return JsRteTimerPrivate::get(m_timer)->m_timers.size(); }

    JsRte* m_engine = nullptr;
    JsRteTimer* m_timer = nullptr;
};

void tst_JsRteExtensions::init()
{
    m_engine = new JsRte;
    m_timer = new JsRteTimer;
    m_engine->registerExtension(new JsRteType, JsRte::DeleteOnDestroy);
    m_engine->registerExtension(m_timer, JsRte::DeleteOnDestroy);
    m_engine->init();
    m_engine->evaluate("var calls = 0;", false);
}

void tst_JsRteExtensions::cleanup()
{
    delete m_engine;
    m_engine = nullptr;
    m_timer = nullptr;
}

void tst_JsRteExtensions::stringType_data()
{
    QTest::addColumn<QString>("argument");
    QTest::addColumn<QString>("result");
    QTest::newRow("none") << "" << "256";
    QTest::newRow("beyond 32 bits") << "4294967306" << "266";
    QTest::newRow("0") << "0" << "error: 0 is not in range must greater 0";
    QTest::newRow("text") << "'5'" << "error: is not a number";
}

void tst_JsRteExtensions::stringType()
{
    QFETCH(QString, argument);
    QTEST(eval("try { String(dtype.STRING(" + argument + ")) } catch (e) { 'error: ' + e.message }"),
          "result");
}

void tst_JsRteExtensions::types_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("name");
    QTest::newRow("valid on its low 16 bits") << 0x10201 << true << "UNKNOWN";
    QTest::newRow("INT of 3 bytes") << 0x203 << false << "INT24";
    QTest::newRow("FLOAT of 2 bytes") << 0x502 << false << "FLOAT";
    QTest::newRow("kind 8") << 0x801 << false << "UNKNOWN";
}

void tst_JsRteExtensions::types()
{
    QFETCH(int, code);
    QTEST(JsRteType::isValidType(code), "valid");
    QTEST(JsRteType::typeName(code), "name");
}

void tst_JsRteExtensions::constants_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("code");
    const QList<QPair<const char*, int>> constants{
        {"INT8U", 0x301}, {"INT16U", 0x302}, {"INT32U", 0x304}, {"INT8", 0x201},   {"INT16", 0x202},
        {"INT32", 0x204}, {"DOUBLE", 0x408}, {"FLOAT", 0x504},  {"BOOL", 0x601},   {"CHAR8", 0x701},
        {"INT8S", 0x201}, {"INT16S", 0x202}, {"INT32S", 0x204}};
    for (const auto& constant : constants)
        QTest::newRow(constant.first) << QString::fromLatin1(constant.first) << constant.second;
}

void tst_JsRteExtensions::constants()
{
    QFETCH(QString, name);
    QFETCH(int, code);
    // Read-only: an assignment, strict or not, leaves the code and raises nothing.
    QCOMPARE(evalInt("dtype." + name), code);
    QCOMPARE(eval("dtype." + name + " = 5; String(dtype." + name + ")"), QString::number(code));
    QCOMPARE(eval("(function () { 'use strict'; try { dtype." + name + " = 5; } catch (e) { return 'error'; }"
                  " return String(dtype." + name + "); })()"),
             QString::number(code));
}

void tst_JsRteExtensions::timerIds()
{
    QCOMPARE(eval("[timer.start(100000, function () {}), timer.start(100000, function () {})].join()"),
             QStringLiteral("1,2"));
    QCOMPARE(eval("[timer.stop(1), timer.stop(1), timer.stop(0), timer.stop(-1), timer.stop(99)].join()"),
             QStringLiteral("true,false,false,false,false"));
    QCOMPARE(eval("[timer.setInterval(2, 50000), timer.setInterval(1, 5), timer.setInterval(0, 5)].join()"),
             QStringLiteral("2,0,0"));
    // Ids are never given twice, even after a stop.
    QCOMPARE(evalInt("timer.singleShot(100000, 0)"), 3);
    QCOMPARE(runningTimers(), 2);
}

void tst_JsRteExtensions::singleShot()
{
    // Runs once, with the object that started it as this; a throwing
    // periodic function keeps running.
    const int other = evalInt("timer.start(100000, function () {})");
    m_engine->evaluate("var owner = {hits: 0, go: function () {"
                       "    return timer.singleShot(1, function () { this.hits++; ++calls; }); }};"
                       "var shot = owner.go();",
                       false);
    QTRY_COMPARE(runningTimers(), 1);
    QCOMPARE(eval("calls + ' ' + owner.hits + ' ' + timer.stop(shot)"), QStringLiteral("1 1 false"));
    QCOMPARE(eval(QString("timer.stop(%1)").arg(other)), QStringLiteral("true"));
    m_engine->evaluate("timer.start(1, function () { ++calls; throw new Error('again'); });", false);
    QTRY_VERIFY(evalInt("calls") >= 3);
    QCOMPARE(runningTimers(), 1);
}

void tst_JsRteExtensions::stopFromOwnFunction()
{
    m_engine->evaluate("var results = [];"
                       "var periodic = timer.start(1, function () { ++calls; results.push(timer.stop(periodic)); });"
                       "var shot = timer.singleShot(1, function () { results.push(timer.stop(shot)); });",
                       false);
    QTRY_COMPARE(runningTimers(), 0);
    QCOMPARE(eval("calls + ' ' + results.join()"), QStringLiteral("1 true,true"));
    // A periodic timer left running would have been called again meanwhile.
    m_engine->evaluate("var marks = 0; timer.singleShot(30, function () { ++marks; });", false);
    QTRY_COMPARE(evalInt("marks"), 1);
    QCOMPARE(evalInt("calls"), 1);
}

void tst_JsRteExtensions::suspended()
{
    m_engine->onDebuggerSuspend();
    m_engine->evaluate("timer.singleShot(1, function () { ++calls; });", false);
    QTRY_COMPARE(runningTimers(), 0);
    m_engine->onDebuggerResume();
    QCOMPARE(evalInt("calls"), 0);

    // Started without a script context: the function still runs.
    const QScriptValue function = m_engine->QScriptEngine::evaluate("(function () { ++calls; })");
    QCOMPARE(m_timer->singleShot(1, function), 2);
    QTRY_COMPARE(evalInt("calls"), 1);
}

QTEST_MAIN(tst_JsRteExtensions)

#include "tst_jsrteextensions.moc"
