// Forms: widget factories, the ui object, the host's icon, title and layout,
// and taking the form away again.

#include "jsrte.h"
#include "jsrtefixtures.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QtTest>

namespace {

const QByteArray deepForm = R"(<ui version="4.0"><widget class="QWidget" name="Form">
 <layout class="QVBoxLayout" name="layout">
  <item><widget class="QLabel" name="dup"><property name="text"><string>first</string></property></widget></item>
  <item><widget class="QFrame" name="outer"><layout class="QVBoxLayout" name="outerLayout">
   <item><widget class="QFrame" name="middle"><layout class="QVBoxLayout" name="middleLayout">
    <item><widget class="QLabel" name="plotA"><property name="text"><string>deep</string></property></widget></item>
    <item><widget class="QLabel" name="dup"><property name="text"><string>second</string></property></widget></item>
   </layout></widget></item>
  </layout></widget></item>
  <item><widget class="QTableWidget" name="table"/></item>
  <item><widget class="QLabel"/></item>
 </layout>
</widget></ui>)";

const QByteArray tableTopForm =
    R"(<ui version="4.0"><widget class="QTableWidget" name="top"/></ui>)";

const QString withForm = "var information = {name: 'Title', uifile: 'main.ui', entry: Entry};";

// Runs main.ui with a main.js showing it as withForm says, in host.
struct FormRun : ScriptDir
{
    FormRun(const QByteArray& form, QWidget* host, JsRteWidgetFactory* factory = nullptr)
        : ScriptDir({{"main.ui", form}, {"main.js", "function Entry(ui) { entered = ui; }\n" + withForm.toUtf8()}}, host,
                    [factory](JsRte& engine, const QString&) {
                        if (factory)
                            engine.registerWidgetFactory(factory, JsRte::DeleteOnDestroy);
                    })
    {
    }
    QWidget* form() { return qobject_cast<QWidget*>(ui()); }
};

} // namespace

class tst_JsRteForms : public QObject
{
    Q_OBJECT
private slots:
    void factoriesAndMembers();
    void titleAndIcon();
    void layoutAndReset();
    void deletedHostOrForm();
    void signalHandlers_data();
    void signalHandlers();
};

void tst_JsRteForms::factoriesAndMembers()
{
    QWidget host;
    auto* factory = new TestTableFactory;
    FormRun run(deepForm, &host, factory);
    QCOMPARE(factory->made, 1);
    QCOMPARE(run.eval("ui.table.kind() + ' ' + ui.table.objectName + ' ' + (entered === ui)"),
             QStringLiteral("test table table true"));
    // Depth-first, parents before children: the later "dup" wins; an unnamed
    // object is the member with the empty name.
    QCOMPARE(run.eval("ui.plotA.text + ' ' + ui.dup.text + ' ' + ui.middleLayout.objectName + ' ' + typeof ui['']"),
             QStringLiteral("deep second middleLayout object"));

    // A factory that makes nothing leaves the widget to the standard loader.
    QWidget otherHost;
    auto* refusing = new TestTableFactory(nullptr, "QTableWidget", true);
    FormRun fallback(deepForm, &otherHost, refusing);
    QCOMPARE(refusing->made, 1);
    QCOMPARE(fallback.eval("typeof ui.table.kind + ' ' + ui.table.objectName"), QStringLiteral("undefined table"));

    // The form's top widget from a factory.
    QWidget topHost;
    FormRun top(tableTopForm, &topHost, new TestTableFactory);
    QCOMPARE(top.eval("ui.kind() + ' ' + ui.objectName"), QStringLiteral("test table top"));
}

void tst_JsRteForms::titleAndIcon()
{
    // No name: the host's title stays as it was; the form's icon is the host's.
    QWidget host;
    host.setWindowTitle("before");
    ScriptDir run({{"main.js", "var information = {uifile: 'main.ui'};"},
                   {"main.ui", R"(<ui version="4.0"><widget class="QWidget" name="Form">
      <property name="windowIcon"><iconset><normaloff>logo.png</normaloff>logo.png</iconset></property>
      <property name="windowTitle"><string>form's own</string></property></widget></ui>)"}},
                  &host, [](JsRte&, const QString& dir) {
                      QPixmap pixmap(8, 8);
                      pixmap.fill(Qt::blue);
                      pixmap.save(dir + "/logo.png");
                  });
    QCOMPARE(host.windowTitle(), QStringLiteral("before"));
    QVERIFY(!host.windowIcon().isNull());

    QWidget other;
    FormRun named(R"(<ui version="4.0"><widget class="QWidget" name="Form"/></ui>)", &other);
    QCOMPARE(other.windowTitle(), QStringLiteral("Title"));
    QCOMPARE(named.form()->windowTitle(), QStringLiteral("Title"));
}

void tst_JsRteForms::layoutAndReset()
{
    // The form joins the host's own layout; a reset takes it out again.
    QWidget host;
    auto* layout = new QHBoxLayout(&host);
    layout->addWidget(new QLabel("already there"));
    QPointer<QWidget> form;
    {
        FormRun run(deepForm, &host);
        form = run.form();
        QCOMPARE(host.layout(), layout);
        QCOMPARE(layout->itemAt(1)->widget(), run.form());
        QVERIFY(run.form()->isVisible());
    }
    QVERIFY(form.isNull());
    QCOMPARE(layout->count(), 1);
}

void tst_JsRteForms::deletedHostOrForm()
{
    // The host goes first (and the form with it): the engine's reset touches neither.
    auto* host = new QWidget;
    FormRun first(deepForm, host);
    delete host;
    first.engine.reset();

    // The form is deleted by someone else.
    QWidget otherHost;
    FormRun second(deepForm, &otherHost);
    delete second.form();
    second.engine.reset();
    QCOMPARE(otherHost.layout()->count(), 0);
}

void tst_JsRteForms::signalHandlers_data()
{
    QTest::addColumn<QString>("handler"); // the arguments of connect and disconnect

    QTest::newRow("function") << "counter.count";
    QTest::newRow("receiver and function") << "counter, counter.count";
    QTest::newRow("receiver and member name") << "counter, 'count'";
}

void tst_JsRteForms::signalHandlers()
{
    QFETCH(QString, handler);
    // A click the running script makes itself runs the handler at once,
    // however the handler was connected; once disconnected it runs no more.
    QWidget host;
    ScriptDir run({{"main.ui", R"(<ui version="4.0"><widget class="QWidget" name="Form">
<layout class="QVBoxLayout"><item><widget class="QPushButton" name="button"/></item></layout></widget></ui>)"},
                   {"main.js", "var clicks = 0;\n"
                               "var counter = {count: function () { ++clicks; }};\n"
                               "function click() { ui.button.click(); return clicks; }\n"
                               "var information = {uifile: 'main.ui'};"}},
                  &host);
    const QScriptValue click = run.engine->globalObject().property("click");
    QCOMPARE(run.eval("ui.button.clicked.connect(" + handler + ")"), QStringLiteral("undefined"));
    QCOMPARE(run.engine->callFunction(click, QScriptValue()).toInt32(), 1);
    QCOMPARE(run.eval("ui.button.clicked.disconnect(" + handler + ")"), QStringLiteral("undefined"));
    QCOMPARE(run.engine->callFunction(click, QScriptValue()).toInt32(), 1);
}

QTEST_MAIN(tst_JsRteForms)

#include "tst_jsrteforms.moc"
