// Starting packages made by GNU tar and by hand.

#include "jsrte.h"
#include "jsrte_p.h"
#include "jsrtefixtures.h"
#include "tarwriter.h"

#include <QBuffer>
#include <QDirIterator>
#include <QImage>
#include <QScriptEngineAgent>
#include <QUuid>
#include <QtTest>

namespace {

const QByteArray tableForm = R"(<ui version="4.0"><widget class="QWidget" name="Form">
 <property name="windowIcon"><iconset><normaloff>img/logo.png</normaloff>img/logo.png</iconset></property>
 <layout class="QVBoxLayout" name="layout"><item><widget class="QGroupBox" name="group">
  <layout class="QVBoxLayout" name="groupLayout"><item><widget class="QTableWidget" name="table"/></item></layout>
 </widget></item></layout>
</widget></ui>)";

const QByteArray plainForm = R"(<ui version="4.0"><widget class="QWidget" name="Form">
<layout class="QVBoxLayout" name="layout"><item><widget class="QLabel" name="label"/></item>
</layout></widget></ui>)";

QByteArray png()
{
    QImage image(8, 8, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// A start script whose entry prints how it was constructed.
QByteArray startScript(const QString& information)
{
    return "function Entry(ui) { print('entry', arguments.length, ui ? ui.objectName : '-'); }\n"
           "print('ran');\n"
           + information.toUtf8();
}

QStringList writtenFiles(JsRte& engine)
{
    const QString root = JsRtePrivate::get(&engine)->m_tempDir.path();
    QStringList files;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next().mid(root.size() + 1);
    files.sort();
    return files;
}

// Records every exception a script throws, caught or not.
class ThrowRecorder : public QScriptEngineAgent
{
public:
    using QScriptEngineAgent::QScriptEngineAgent;
    void exceptionThrow(qint64, const QScriptValue& exception, bool) override
    {
        thrown << exception.toString();
    }
    QStringList thrown;
};

QStringList printed(const QSignalSpy& spy)
{
    QStringList texts;
    for (const QList<QVariant>& args : spy)
        texts << args.at(0).toString();
    return texts;
}

} // namespace

class tst_JsRtePackage : public QObject
{
    Q_OBJECT
private slots:
    void fullPackage();
    void tarLayouts_data();
    void tarLayouts();
    void startFailures_data();
    void startFailures();
    void escapingMembers();
    void withoutTemporaryDirectory();
    void longMemberNames_data();
    void longMemberNames();
};

void tst_JsRtePackage::fullPackage()
{
    QTemporaryDir dir;
    writeFiles(dir.path() + "/pkg",
               {{"main.js", "var util = require('lib/util');\n"
                            "function Entry(ui) { print('entry', ui.table.kind(), util.greet()); }\n"
                            "var information = {name: 'Package title', uifile: 'main.ui', entry: Entry};\n"},
                {"main.ui", tableForm},
                {"img/logo.png", png()},
                {"lib/util.js", "exports.greet = function () { return 'hi'; };"},
                {"data.json", "{\"a\": 1}"}});
    const QByteArray archive = runTar(dir.path(), {"czf", "p.tar.gz", "-C", "pkg", "."});

    QWidget host;
    auto* factory = new TestTableFactory;
    JsRte engine;
    engine.setUiHost(&host);
    engine.registerWidgetFactory(factory, JsRte::DeleteOnDestroy);
    QSignalSpy print(&engine, &JsRte::print);
    engine.startPackage(archive, true);

    QCOMPARE(printed(print), QStringList{" entry test table hi"});
    QCOMPARE(host.windowTitle(), QStringLiteral("Package title"));
    QVERIFY(!host.windowIcon().isNull());
    QVERIFY(host.isVisible());
    QCOMPARE(factory->made, 1);
    QVERIFY(qobject_cast<TestTable*>(engine.globalObject().property("ui").property("table").toQObject()));
    QCOMPARE(writtenFiles(engine), (QStringList{"data.json", "img/logo.png"}));
    QVERIFY(engine.hasFile("/lib/util.js") && engine.hasFile("/main.ui"));
    QVERIFY(!engine.hasUncaughtException());
}

void tst_JsRtePackage::tarLayouts_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("code");
    QTest::newRow("posix format")
        << QStringList{"czf", "p.tar.gz", "--format=posix", "-C", "pkg", "."} << 0;
    QTest::newRow("directory prefix") << QStringList{"czf", "p.tar.gz", "pkg"}
                                      << int(JsRteException::StartScriptIsMissing);
}

void tst_JsRtePackage::tarLayouts()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, code);
    QTemporaryDir dir;
    writeFiles(dir.path() + "/pkg",
               {{"main.js", startScript("var information = {uifile: '/main.ui', entry: Entry};")},
                {"main.ui", plainForm}});
    const QByteArray archive = runTar(dir.path(), arguments);
    QWidget host;
    JsRte engine;
    engine.setUiHost(&host);
    QSignalSpy print(&engine, &JsRte::print);
    QCOMPARE(thrownCode([&] { engine.startPackage(archive, true); }), code);
    if (code == 0)
        QCOMPARE(printed(print), (QStringList{" ran", " entry 1 Form"}));
    else
        QVERIFY(print.isEmpty());
}

void tst_JsRtePackage::startFailures_data()
{
    QTest::addColumn<QByteArray>("archive");
    QTest::addColumn<bool>("withHost");
    QTest::addColumn<int>("code");
    QTest::addColumn<QStringList>("printed");
    QTest::addColumn<bool>("hostHidden");
    QTest::addColumn<QStringList>("thrown");

    auto package = [](const QString& information, const QByteArray& form = plainForm) {
        return handMadePackage({{"./main.js", startScript(information)}, {"./main.ui", form}});
    };
    QTest::newRow("not gzip") << QByteArray("random bytes, not an archive") << true
                              << int(JsRteException::CantExtractPackage) << QStringList() << false << QStringList();
    QTest::newRow("no main.js") << handMadePackage({{"other.js", "print(1)"}}) << true
                                << int(JsRteException::StartScriptIsMissing) << QStringList() << false
                                << QStringList();
    QTest::newRow("missing form")
        << package("var information = {uifile: 'missing.ui', entry: Entry};") << true
        << int(JsRteException::UiFileNotExists) << QStringList{" ran"} << false << QStringList();
    QTest::newRow("form that cannot be built")
        << package("var information = {uifile: 'main.ui', entry: Entry};", "this is no form")
        << true << int(JsRteException::CantOpenUiFile) << QStringList{" ran"} << false << QStringList();
    QTest::newRow("no information") << package("") << true << 0 << QStringList{" ran"} << true
                                    << QStringList();
    QTest::newRow("no host")
        << package("var information = {uifile: 'main.ui', entry: Entry};") << false << 0
        << QStringList{" ran", " entry 0 -"} << false << QStringList();
    QTest::newRow("start script throws late")
        << package("var information = {uifile: 'main.ui', entry: Entry}; throw new Error('late');")
        << true << 0 << QStringList{" ran", " entry 1 Form"} << false
        << QStringList{"Error: late"};
}

void tst_JsRtePackage::startFailures()
{
    QFETCH(QByteArray, archive);
    QFETCH(bool, withHost);
    QFETCH(bool, hostHidden);
    QWidget host;
    host.show();
    JsRte engine;
    if (withHost)
        engine.setUiHost(&host);
    QSignalSpy print(&engine, &JsRte::print);
    ThrowRecorder recorder(&engine);
    engine.setAgent(&recorder);
    QTEST(thrownCode([&] { engine.startPackage(archive, true); }), "code");
    QTEST(printed(print), "printed");
    QTEST(recorder.thrown, "thrown");
    QCOMPARE(host.isHidden(), hostHidden);
    // Nothing is left pending after a start.
    QVERIFY(!engine.hasUncaughtException());
    engine.setAgent(nullptr);
}

void tst_JsRtePackage::escapingMembers()
{
    const QString tag = QUuid::createUuid().toString(QUuid::WithoutBraces);
    const QByteArray escape = ("../escape-" + tag + ".txt").toUtf8();
    const QByteArray deeper = ("a/../../../deeper-" + tag + ".txt").toUtf8();
    JsRte engine;
    QSignalSpy print(&engine, &JsRte::print);
    engine.startPackage(handMadePackage({{"main.js", "print('ran')"},
                                         {escape, "x"},
                                         {deeper, "x"},
                                         {"/ok/../inside.txt", "y"},
                                         {"./dir/", ""}}),
                        true);
    QCOMPARE(printed(print), QStringList{" ran"});
    const QString root = JsRtePrivate::get(&engine)->m_tempDir.path();
    QCOMPARE(writtenFiles(engine), QStringList{"inside.txt"});
    QVERIFY(QFileInfo(root + "/dir").isDir());
    QVERIFY(!QFile::exists(root + "/../escape-" + tag + ".txt"));
    QVERIFY(!QFile::exists(root + "/../../deeper-" + tag + ".txt"));
    QVERIFY(!QFile::exists("/deeper-" + tag + ".txt"));
    // Every member stays in the table.
    QVERIFY(engine.hasFile("/" + QString::fromUtf8(escape)));
}

void tst_JsRtePackage::withoutTemporaryDirectory()
{
    const QByteArray previous = qgetenv("TMPDIR");
    // Nothing can be created in /proc, not even by root.
    qputenv("TMPDIR", "/proc");
    JsRte engine;
    if (previous.isEmpty())
        qunsetenv("TMPDIR");
    else
        qputenv("TMPDIR", previous);
    QVERIFY(!JsRtePrivate::get(&engine)->m_tempDir.isValid());

    const QString member = "quorvel-" + QUuid::createUuid().toString(QUuid::WithoutBraces) + ".json";
    QSignalSpy print(&engine, &JsRte::print);
    engine.startPackage(handMadePackage({{"main.js", "print(require('lib').v)"},
                                         {"lib.js", "exports.v = 'from the table';"},
                                         {member.toUtf8(), "{}"}}),
                        true);
    QCOMPARE(printed(print), QStringList{" from the table"});
    QVERIFY(!QFile::exists("/" + member));
}

void tst_JsRtePackage::longMemberNames_data()
{
    QTest::addColumn<QString>("format");
    for (const char* format : {"gnu", "posix", "ustar"})
        QTest::newRow(format) << QString::fromLatin1(format);
}

void tst_JsRtePackage::longMemberNames()
{
    // main.js requires a module whose path is 122 characters long, beside a
    // data file as deep; tar writes those names in its format's own way.
    QFETCH(QString, format);
    const QString deep = QString(57, 'd') + "/" + QString(57, 'e');
    QTemporaryDir dir;
    writeFiles(dir.path(), {{"main.js", "print('value', require('" + deep.toUtf8() + "/mod').v);"},
                            {deep + "/mod.js", "exports.v = 7;"},
                            {deep + "/data.txt", "payload"}});
    const QByteArray archive = gnuTarArchive(dir.path(), format);
    QVERIFY(!archive.isEmpty());

    JsRte engine;
    QSignalSpy print(&engine, &JsRte::print);
    QCOMPARE(thrownCode([&] { engine.startPackage(archive, true); }), 0);
    QCOMPARE(printed(print), QStringList{" value 7"});
    QVERIFY(!engine.hasUncaughtException());
    // Only the package's own file is written: no record of tar's own.
    QCOMPARE(writtenFiles(engine), QStringList{deep + "/data.txt"});
    QCOMPARE(engine.fileData("/" + deep + "/data.txt"), QByteArray("payload"));
}

QTEST_MAIN(tst_JsRtePackage)

#include "tst_jsrtepackage.moc"
