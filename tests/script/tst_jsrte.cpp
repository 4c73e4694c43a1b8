// The engine: registries and ownership, initialisation order, the globals
// and the js object; module resolution by require and load from the package
// file table and from disk.

#include "jsrte.h"
#include "jsrtefixtures.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QtTest>

namespace {

QString evalString(JsRte& engine, const QString& code)
{
    return engine.QScriptEngine::evaluate(code).toString();
}

} // namespace

using Files = QMap<QString, QByteArray>;
Q_DECLARE_METATYPE(Files)

// An instance object: scripts see only what this class declares.
class TestInstance : public QObject
{
    Q_OBJECT
    Q_PROPERTY(int address READ address CONSTANT)
public:
    int address() const { return 42; }
public slots:
    QString whoami() const { return QStringLiteral("instance"); }
};

class tst_JsRte : public QObject
{
    Q_OBJECT
private slots:
    void registrationAndOrder();
    void ownership_data();
    void ownership();
    void printText_data();
    void printText();
    void sleep();
    void globals();
    void evaluateFile();
    void resolve_data();
    void resolve();
};

void tst_JsRte::registrationAndOrder()
{
    QStringList log;
    JsRte engine;
    const int notInitialised = JsRteException::NotInitialised;
    QCOMPARE(thrownCode([&] { engine.evaluate("1", false); }), notInitialised);
    RecordingExtension first("rec", &log, "first"), second("rec", &log, "second"), timer("timer", &log);
    TestTableFactory table, otherTable;
    engine.registerExtension(&timer, JsRte::NoOwnership);
    engine.registerExtension(&first, JsRte::NoOwnership);
    engine.registerWidgetFactory(&table, JsRte::NoOwnership);
    const int used = JsRteException::NameAlreadyUsed;
    QCOMPARE(thrownCode([&] { engine.registerExtension(&second, 0); }), used);
    QCOMPARE(thrownCode([&] { engine.registerWidgetFactory(&otherTable, 0); }), used);

    // Installed, suspended and resumed by name.
    engine.init();
    engine.onDebuggerSuspend();
    engine.onDebuggerResume();
    QCOMPARE(log, (QStringList{"install first", "install timer", "suspend first", "suspend timer", "resume first",
                               "resume timer"}));
    QCOMPARE(evalString(engine, "rec.tag + ' ' + rec.hello()"), QStringLiteral("first hello from first"));

    const int initialised = JsRteException::AlreadyInitialised;
    RecordingExtension late("late", &log);
    QCOMPARE(thrownCode([&] { engine.registerExtension(&late, 0); }), initialised);
    QCOMPARE(thrownCode([&] { engine.init(); }), initialised);
    QCOMPARE(thrownCode([&] { engine.startPackage(handMadePackage({{"main.js", "1"}}), true); }), initialised);
    QCOMPARE(QByteArray(JsRteException(initialised).what()), QByteArray("AlreadyInitialised"));
}

void tst_JsRte::ownership_data()
{
    QTest::addColumn<int>("ownership");
    QTest::addColumn<bool>("deleted");
    QTest::newRow("caller keeps") << int(JsRte::NoOwnership) << false;
    QTest::newRow("on reset") << int(JsRte::DeleteOnReset) << true;
    QTest::newRow("on destroy") << int(JsRte::DeleteOnDestroy) << true;
    QTest::newRow("unknown value") << 7 << false;
}

void tst_JsRte::ownership()
{
    QFETCH(int, ownership);
    QFETCH(bool, deleted);
    QStringList log;
    int factoriesDeleted = 0;
    auto* extension = new RecordingExtension("rec", &log);
    auto* factory = new TestTableFactory(&factoriesDeleted);
    QPointer<JsRteExtension> watch(extension);
    {
        JsRte engine;
        engine.registerExtension(extension, ownership);
        engine.registerWidgetFactory(factory, ownership);
        // An owned extension deleted by someone else first is not deleted again.
        auto* gone = new RecordingExtension("gone", &log);
        engine.registerExtension(gone, ownership);
        delete gone;
        engine.init();
        engine.onDebuggerSuspend();
    }
    QCOMPARE(watch.isNull(), deleted);
    QCOMPARE(factoriesDeleted, deleted ? 1 : 0);
    if (!deleted) {
        delete extension;
        delete factory;
    }
}

void tst_JsRte::printText_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("text");
    QTest::newRow("object then text") << "print({x: 1}, 'y')" << " {\n    \"x\": 1\n}\ny";
    QTest::newRow("two texts") << "print('a', 'b')" << " a b";
    QTest::newRow("no second space after a trailing one") << "print('a ', 'b')" << " a b";
    QTest::newRow("nothing") << "print()" << "";
    QTest::newRow("error output") << "printE('e', 3)" << " e 3";
}

void tst_JsRte::printText()
{
    QFETCH(QString, code);
    JsRte engine;
    engine.init();
    QSignalSpy print(&engine, &JsRte::print);
    QSignalSpy printE(&engine, &JsRte::printE);
    engine.evaluate(code.toUtf8(), false);
    QCOMPARE(print.count() + printE.count(), 1);
    QTEST((code.startsWith("printE") ? printE : print).at(0).at(0).toString(), "text");
}

void tst_JsRte::sleep()
{
    JsRte engine;
    engine.init();
    QElapsedTimer clock;
    clock.start();
    // Beyond 32 bits counts as negative: a wrapping cast would sleep 20 s.
    QCOMPARE(evalString(engine, "[sleep(-5), sleep(4294987296), sleep(Infinity)].every("
                                "function (r) { return r === sleep; })"),
             QStringLiteral("true"));
    QVERIFY2(clock.elapsed() < 10000, "slept for a value it should have refused");
}

void tst_JsRte::globals()
{
    qputenv("QUORVEL_TEST_A", "b=c");
    TestInstance object;
    object.setObjectName("named");
    JsRte engine;
    engine.setInstance(&object);
    engine.init();
    QSignalSpy print(&engine, &JsRte::print);
    engine.evaluate("js = 5; js.currentPath = 'x'; js.fileName = 'y'; js.system = 1;"
                    "print(typeof js, js.system.os, js.system.env.QUORVEL_TEST_A,"
                    "     js.currentPath === '', js.currentFilePath, js.fileName);",
                    false);
    QCOMPARE(print.value(0).value(0).toString(), QStringLiteral(" object windows b true /dummy.js dummy.js"));
    // Each evaluation makes a new js.
    engine.evaluate("var kept = js;", false);
    engine.evaluate("print(kept === js)", false);
    QCOMPARE(print.value(1).value(0).toString(), QStringLiteral(" false"));

    QCOMPARE(evalString(engine, "instance.whoami() + ' ' + instance.address + ' '"
                                "+ typeof instance.objectName + ' ' + typeof instance.deleteLater"),
             QStringLiteral("instance 42 undefined undefined"));
}

void tst_JsRte::evaluateFile()
{
    QTemporaryDir dir;
    writeFiles(dir.path(), {{"ok.js", "print(js.currentPath, js.fileName)"},
                            {"throws.js", "throw new Error('x')"},
                            {"sub/dir.js/placeholder", ""}});
    JsRte engine;
    engine.init();
    QSignalSpy print(&engine, &JsRte::print);
    QVERIFY(engine.evaluateFile(dir.path() + "/ok.js", false));
    QCOMPARE(print.at(0).at(0).toString(), " " + QFileInfo(dir.path()).canonicalFilePath() + " ok.js");
    QVERIFY(!engine.evaluateFile(dir.path() + "/throws.js", false));
    QCOMPARE(thrownCode([&] { engine.evaluateFile(dir.path() + "/missing.js", false); }),
             int(JsRteException::FileNotExists));
    QCOMPARE(thrownCode([&] { engine.evaluateFile(dir.path() + "/sub/dir.js", false); }),
             int(JsRteException::CantOpenFile));
    JsRte fresh;
    QCOMPARE(thrownCode([&] { fresh.startScript(dir.path() + "/missing.js", false); }),
             int(JsRteException::FileNotExists));
}

void tst_JsRte::resolve_data()
{
    QTest::addColumn<bool>("fromDisk");
    QTest::addColumn<Files>("members");
    QTest::addColumn<Files>("disk");
    QTest::addColumn<QString>("searchPath");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("expected"); // a trailing "*" matches any rest

    const Files util{{"/lib/util.js", "exports.v = 'util';"}};
    const Files none;
    auto package = [&](const char* name, const Files& members, const QString& code,
                       const QString& expected, const Files& disk = Files()) {
        QTest::newRow(name) << false << members << disk << QString() << code << expected;
    };
    auto disk = [&](const char* name, const Files& files, const QString& searchPath,
                    const QString& code, const QString& expected) {
        QTest::newRow(name) << true << Files() << files << searchPath << code << expected;
    };

    package("relative member", util, "result = require('lib/util').v", "util");
    package("upper-case JS gets .js", {{"/a.JS", "exports.v = 'raw';"}, {"/a.JS.js", "exports.v = 'js';"}},
            "result = require('a.JS').v", "js");
    package("package only ignores disk", none, "result = require('util')",
            "error: File: util.js not found", {{"util.js", "exports.v = 'disk';"}});
    package("nested relative require",
            {{"/lib/util.js", "exports.v = require('format').v;"},
             {"/lib/format.js", "exports.v = 'format';"}},
            "result = require('lib/util').v", "format");
    package("no cache",
            {{"/m.js", "count = (typeof count == 'number' ? count : 0) + 1; var local = 1;"}},
            "var a = require('m'), b = require('m'); result = (a !== b) + ' ' + count + ' ' + typeof local",
            "true 2 undefined");
    package("js follows the module",
            {{"/lib/util.js", "exports.inner = js.fileName + ' ' + js.currentFilePath;"}},
            "var m = require('lib/util'); result = m.inner + ' ' + js.fileName",
            "util.js /lib/util.js dummy.js");
    package("module error reaches the caller", {{"/bad.js", "throw new Error('bad module');"}},
            "result = require('bad')", "error: bad module");
    package("cycle", {{"/a.js", "require('b');"}, {"/b.js", "require('a');"}},
            "result = require('a')", "error: *");
    package("load returns exports", {{"/defs.js", "var exports = {v: 3};"}},
            "result = load('defs').v + ' ' + js.fileName", "3 dummy.js");

    disk("beside the script", {{"mod.js", "exports.v = 'beside';"}}, QString(),
         "result = require('mod').v", "beside");
    disk("in a search path", {{"lib/sp.js", "exports.v = 'search';"}}, "lib",
         "result = require('sp').v", "search");
}

void tst_JsRte::resolve()
{
    QFETCH(bool, fromDisk);
    QFETCH(Files, members);
    QFETCH(Files, disk);
    QFETCH(QString, searchPath);
    QFETCH(QString, code);
    QFETCH(QString, expected);

    QTemporaryDir dir;
    writeFiles(dir.path(), disk);
    // Relative names on disk are looked up from the current directory too.
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());

    JsRte engine;
    engine.init();
    for (auto it = members.cbegin(); it != members.cend(); ++it)
        engine.addFile(it.key(), it.value());
    if (!searchPath.isEmpty())
        engine.setSearchPaths({dir.path() + '/' + searchPath});

    const QString wrapped = "var result; try { " + code
                            + " } catch (e) { result = 'error: ' + e.message; }";
    if (fromDisk) {
        writeFiles(dir.path(), {{"main.js", wrapped.toUtf8()}});
        QDir::setCurrent(previous);
        QVERIFY(engine.evaluateFile(dir.path() + "/main.js", false));
    } else {
        engine.evaluate(wrapped.toUtf8(), true);
        QDir::setCurrent(previous);
    }

    const QString result = engine.globalObject().property("result").toString();
    if (expected.endsWith('*'))
        QVERIFY2(result.startsWith(expected.chopped(1)), qPrintable(result));
    else
        QCOMPARE(result, expected);
    // The engine stays usable.
    QCOMPARE(engine.QScriptEngine::evaluate("6 * 7").toInt32(), 42);
}

QTEST_MAIN(tst_JsRte)

#include "tst_jsrte.moc"
