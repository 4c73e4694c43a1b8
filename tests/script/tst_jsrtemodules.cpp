// Module resolution: require and load from the package file table and from
// disk, the js members that follow the evaluated file.

#include "jsrte.h"
#include "jsrtefixtures.h"

#include <QApplication>
#include <QtTest>

using Files = QMap<QString, QByteArray>;
Q_DECLARE_METATYPE(Files)

class tst_JsRteModules : public QObject
{
    Q_OBJECT
private slots:
    void resolve_data();
    void resolve();
};

void tst_JsRteModules::resolve_data()
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
    package("dot-slash member", util, "result = require('./lib/util').v", "util");
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
    package("self require", {{"/self.js", "require('self');"}}, "result = require('self')",
            "error: *");
    package("cycle", {{"/a.js", "require('b');"}, {"/b.js", "require('a');"}},
            "result = require('a')", "error: *");
    package("load returns exports", {{"/defs.js", "var exports = {v: 3};"}},
            "result = load('defs').v + ' ' + js.fileName", "3 dummy.js");

    disk("beside the script", {{"mod.js", "exports.v = 'beside';"}}, QString(),
         "result = require('mod').v", "beside");
    disk("in a search path", {{"lib/sp.js", "exports.v = 'search';"}}, "lib",
         "result = require('sp').v", "search");
    disk("nowhere", {{"other.js", ""}}, "lib", "result = require('nowhere')",
         "error: File: nowhere.js not found");
}

void tst_JsRteModules::resolve()
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

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    tst_JsRteModules test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_jsrtemodules.moc"
