// The fs extension and its file worker: argument errors, outcomes, ids,
// suspension and teardown.

#include "jsrte.h"
#include "jsrtefilehelper_p.h"
#include "jsrtefilesystem.h"
#include "jsrtefilesystem_p.h"
#include "jsrtefixtures.h"

#include <QDir>
#include <QLabel>
#include <QPointer>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// A read must never ask for its whole byte count at once: in sanitizer
// builds an allocation above 1 GiB ends the test.
extern "C" const char* __asan_default_options()
{
    return "max_allocation_size_mb=1024";
}

namespace {

// Records outcomes into the global log as "tag JSON".
const char prelude[] = R"(
var log = [];
function rec(tag) { return function(r) { log.push(tag + ' ' + JSON.stringify(r)); }; }
function cbs(tag) { return {ok: rec(tag + ' ok'), error: rec(tag + ' error'), always: rec(tag + ' always')}; }
function f() {}
)";

// How many of the process's descriptors refer to files below dir.
int openFilesBelow(const QString& dir)
{
    const QFileInfoList descriptors = QDir(QStringLiteral("/proc/self/fd"))
                                          .entryInfoList(QDir::AllEntries | QDir::System
                                                         | QDir::NoDotAndDotDot);
    int count = 0;
    for (const QFileInfo& descriptor : descriptors)
        count += descriptor.symLinkTarget().startsWith(dir + '/') ? 1 : 0;
    return count;
}

// A FIFO whose reader blocks in its open until unblock() opens the writing end.
class Fifo : public QObject
{
    Q_OBJECT
public:
    explicit Fifo(const QString& path)
        : m_path(path)
    {
        if (mkfifo(QFile::encodeName(path).constData(), 0600) != 0)
            qFatal("mkfifo failed");
    }
    ~Fifo() override { closeWriter(); }

    void closeWriter()
    {
        if (m_writer >= 0)
            ::close(m_writer);
        m_writer = -1;
    }

public slots:
    // A non-blocking writer opens only once a reader is in its open; the
    // worker may not have got there yet (it counts as busy a little before),
    // so this tries again for a while.
    bool unblock()
    {
        const QDeadlineTimer bound(20000);
        while (m_writer < 0) {
            m_writer = ::open(QFile::encodeName(m_path).constData(), O_WRONLY | O_NONBLOCK);
            if (m_writer >= 0 || bound.hasExpired())
                break;
            QThread::msleep(2);
        }
        return m_writer >= 0;
    }

private:
    QString m_path;
    int m_writer = -1;
};

// Lets a script run the event loop until the worker has finished what it
// carries out, so that an outcome it signals would be delivered.
class EventPump : public QObject
{
    Q_OBJECT
public:
    explicit EventPump(JsRteFileHelper* helper)
        : m_helper(helper)
    {
    }

public slots:
    void settle()
    {
        static_cast<void>(QTest::qWaitFor([this] { return !m_helper || !m_helper->isBusy(); }, 10000));
        QCoreApplication::processEvents();
    }

private:
    QPointer<JsRteFileHelper> m_helper;
};

} // namespace

class tst_JsRteFileSystem : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void argumentErrors_data();
    void argumentErrors();
    void outcomes();
    void reads();
    void writesLatin1();
    void uniqueIds();
    void suspension();
    void teardownFailsQueued();
    void teardownLeavesBlockedWorker();
    void callbacksOfDeletedEngine();

private:
    QString eval(const QString& code)
    {
        const QString result = m_engine->QScriptEngine::evaluate(code).toString();
        m_engine->clearExceptions();
        return result;
    }
    int logSize() { return eval("log.length").toInt(); }
    QString logAt(int i) { return eval(QString("log[%1]").arg(i)); }
    QString path(const QString& name) const { return m_dir->path() + '/' + name; }
    int openFiles() const { return openFilesBelow(m_dir->path()); }
    // Opens the file as the global handle name; its id.
    int open(const QString& name, const QString& file, const QString& mode)
    {
        eval(QString("var %1 = null; fs.open('%2', %3, function(result) { %1 = result; });")
                 .arg(name, file, mode));
        if (!QTest::qWaitFor([&] { return eval("typeof " + name + ".id") == "number"; }, 10000))
            return -100;
        return eval(name + ".id").toInt();
    }
    JsRteFileSystemPrivate* fsPrivate() { return JsRteFileSystemPrivate::get(m_fs); }
    void startEngine(JsRte::Ownership ownership = JsRte::DeleteOnDestroy);

    QScopedPointer<QTemporaryDir> m_dir;
    JsRte* m_engine = nullptr;
    JsRteFileSystem* m_fs = nullptr;
};

void tst_JsRteFileSystem::startEngine(JsRte::Ownership ownership)
{
    m_engine = new JsRte;
    m_fs = new JsRteFileSystem;
    m_engine->registerExtension(m_fs, ownership);
    m_engine->init();
    eval(prelude);
}

void tst_JsRteFileSystem::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
    startEngine();
}

void tst_JsRteFileSystem::cleanup()
{
    delete m_engine;
    m_engine = nullptr;
    m_fs = nullptr;
    m_dir.reset();
}

void tst_JsRteFileSystem::argumentErrors_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("message");
    const QString needOk =
        "To open a file you need a \"OK\" fuction to receive the created file handle!";
    const QString badHandle = "Parameter handle is not a valid handle";
    QTest::newRow("open null") << "fs.open(P, 2, null)" << needOk;
    QTest::newRow("unknown key") << "fs.open(P, 2, {ok: f, done: f})" << "Function done is not a known";
    QTest::newRow("first bad key in map order")
        << "fs.close({id: 1}, {zeta: f, Error: 5, alpha: f})" << "Function Error is not a function";
    QTest::newRow("handle before callback") << "fs.flush({}, {bad: f})" << badHandle;
}

void tst_JsRteFileSystem::argumentErrors()
{
    QFETCH(QString, code);
    QFETCH(QString, message);
    eval("var P = '" + path("x") + "';");
    QCOMPARE(eval("try { " + code + "; 'no error' } catch (e) { e.message }"), message);
    // Nothing was made or queued.
    QVERIFY(fsPrivate()->m_actions.isEmpty());
    QVERIFY(!QFile::exists(path("x")));
}

void tst_JsRteFileSystem::outcomes()
{
    writeFiles(m_dir->path(), {{"ab", QByteArray("A\0B", 3)}});
    const int id = open("h", path("ab"), "fs.OPEN_READ_ONLY");
    QVERIFY(id >= 0);
    QFile missing(path("missing/file"));
    QVERIFY(!missing.open(QIODevice::ReadOnly));
    QFile readOnly(path("ab"));
    QVERIFY(readOnly.open(QIODevice::ReadOnly));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("QIODevice::write.*ReadOnly device"));
    QCOMPARE(readOnly.write("x"), qint64(-1));

    // ok or error before always, each with an object of its own; the data
    // stops at the zero byte, the length does not. A plain function hears of
    // successes only. Writing a read-only file fails with the file's text.
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("QIODevice::write.*ReadOnly device"));
    eval(QString("function first(tag) { return function(r) { rec(tag)(r); r.data = r.message = 'changed'; }; }"
                 "fs.read(h, fs.READ_ALL, {always: rec('always'), ok: first('ok')});"
                 "fs.open('%1', fs.OPEN_READ_ONLY, {ok: f, error: first('error'), always: rec('always')});"
                 "fs.read({id: 12345}, 1, rec('failure')); fs.read(h, 1, rec('success'));"
                 "fs.write(h, 'x', {error: function(r) { log.push('write ' + r.message); }});")
             .arg(path("missing/file")));
    QTRY_COMPARE(logSize(), 6);
    const QString read = QString("{\"id\":%1,\"state\":0,\"data\":\"A\",\"data_length\":3}").arg(id);
    const QString failure = QString("{\"id\":-1,\"state\":1,\"message\":\"%1\"}").arg(missing.errorString());
    QCOMPARE(logAt(0), "ok " + read);
    QCOMPARE(logAt(1), "always " + read);
    QCOMPARE(logAt(2), "error " + failure);
    QCOMPARE(logAt(3), "always " + failure);
    QCOMPARE(logAt(4), QString("success {\"id\":%1,\"state\":0,\"data\":\"\",\"data_length\":0}").arg(id));
    QCOMPARE(logAt(5), "write " + readOnly.errorString());
}

void tst_JsRteFileSystem::reads()
{
    // Carried out in the order queued; a size of zero or below reads nothing,
    // the largest reads what there is without asking for that much.
    writeFiles(m_dir->path(), {{"lines", "ab\r\ncd\n"}});
    QVERIFY(open("h", path("lines"), "fs.OPEN_READ_ONLY") >= 0);
    const QStringList sizes = {"fs.READ_LINE", "0", "-5", "1", "2147483647", "fs.READ_LINE"};
    for (const QString& size : sizes)
        eval("fs.read(h, " + size + ", {ok: function(r) { log.push(JSON.stringify(r.data).slice(1, -1) + ':' + r.data_length); }});");
    QTRY_COMPARE(logSize(), sizes.size());
    QCOMPARE(eval("log.join()"), QStringLiteral("ab\\r\\n:4,:0,:0,c:1,d\\n:2,:0"));
}

void tst_JsRteFileSystem::writesLatin1()
{
    // One byte a character: what Latin-1 lacks becomes "?".
    QVERIFY(open("h", path("latin1"), "fs.OPEN_WRITE_ONLY") >= 0);
    eval("fs.write(h, '\\u00e9\\u20ac', rec('write')); fs.close(h, rec('close'));");
    QTRY_COMPARE(logSize(), 2);
    QVERIFY2(logAt(1).startsWith("close "), qPrintable(logAt(1)));
    QFile file(path("latin1"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("\xE9\x3F"));
}

void tst_JsRteFileSystem::uniqueIds()
{
    // Two opens of one path are two files; files without a descriptor of their
    // own (Qt resources) get private ids, never shared.
    const int first = open("a", path("same"), "fs.OPEN_WRITE_ONLY");
    const int second = open("b", path("same"), "fs.OPEN_WRITE_ONLY");
    const int resource1 = open("r1", ":/fixture/a.txt", "fs.OPEN_READ_ONLY");
    const int resource2 = open("r2", ":/fixture/a.txt", "fs.OPEN_READ_ONLY");
    QVERIFY(first >= 0 && second >= 0 && first != second);
    QVERIFY(first < JsRteFileHelper::FirstPrivateId);
    QCOMPARE(resource1, JsRteFileHelper::FirstPrivateId);
    QCOMPARE(resource2, JsRteFileHelper::FirstPrivateId + 1);

    // Each id addresses its own file.
    eval("fs.read(r2, 8, function(r) { log.push(r.data); }); fs.close(r1);"
         " fs.read(r1, 8, {error: rec('r1')}); fs.read(r2, fs.READ_ALL, function(r) { log.push(r.data); });");
    QTRY_COMPARE(logSize(), 3);
    QCOMPARE(logAt(0), QStringLiteral("resource"));
    QVERIFY(logAt(1).endsWith("\"message\":\"file not open!\"}"));
    QCOMPARE(logAt(2), QStringLiteral(" text\n"));
}

void tst_JsRteFileSystem::suspension()
{
    QVERIFY(open("h", path("s"), "fs.OPEN_WRITE_ONLY") >= 0);
    m_engine->onDebuggerSuspend();
    // Outcomes arriving now are dropped; an open dropped so keeps its file
    // open until the extension goes.
    eval(QString("fs.write(h, 'x', cbs('write')); fs.close({id: 999}, cbs('close'));"
                 " fs.open('%1', fs.OPEN_WRITE_ONLY, cbs('open'));").arg(path("t")));
    QTRY_VERIFY(fsPrivate()->m_actions.isEmpty());
    m_engine->onDebuggerResume();
    QCoreApplication::processEvents();
    QCOMPARE(logSize(), 0);
    QCOMPARE(openFiles(), 2);

    eval("fs.close(h, cbs('after'));");
    QTRY_COMPARE(logSize(), 2);
    QCOMPARE(openFiles(), 1);
    delete m_engine;
    m_engine = nullptr;
    QCOMPARE(openFiles(), 0);
}

void tst_JsRteFileSystem::teardownFailsQueued()
{
    // The runtime destroys its extensions while it is whole: each queued
    // action fails with "deleted", in order, and its callbacks may print,
    // require a module, use the form and queue more.
    delete m_engine;
    QWidget host;
    ScriptDir run({{"main.ui", R"(<ui version="4.0"><widget class="QWidget" name="Form"><layout class="QVBoxLayout">
                     <item><widget class="QLabel" name="label"/></item></layout></widget></ui>)"},
                   {"mod.js", "exports.value = 'from module';"},
                   {"main.js", "var information = {name: 'T', uifile: 'main.ui', entry: function() {}};"}},
                  &host, [this](JsRte& engine, const QString& dir) {
                      m_fs = new JsRteFileSystem;
                      engine.registerExtension(m_fs, JsRte::DeleteOnDestroy);
                      engine.setSearchPaths({dir});
                  });
    m_engine = run.engine.data();
    eval(prelude);
    Fifo fifo(path("fifo"));
    m_engine->globalObject().setProperty("fifo", m_engine->newQObject(&fifo));
    writeFiles(m_dir->path(), {{"b", "b"}});
    QVERIFY(open("a", path("a"), "fs.OPEN_WRITE_ONLY") >= 0);
    QVERIFY(open("b", path("b"), "fs.OPEN_READ_ONLY") >= 0);
    // The worker blocks in the FIFO's open; three actions queue behind it.
    eval(QString("fs.open('%1', fs.OPEN_READ_ONLY, cbs('fifo'));").arg(path("fifo")));
    QPointer<JsRteFileHelper> helper = fsPrivate()->m_helper;
    QTRY_VERIFY(helper->isBusy());
    // The first "deleted" lets the open in progress finish and runs the event
    // loop: it completes while the teardown runs, and is never delivered.
    EventPump pump(helper);
    m_engine->globalObject().setProperty("pump", m_engine->newQObject(&pump));
    QStringList entries;
    connect(m_engine, &JsRte::print, this, [&](const QString& text) { entries << text.trimmed(); });
    eval(R"(log.push = function(entry) { print(entry.substr(0, entry.indexOf('{') - 1), JSON.parse(entry.substr(entry.indexOf('{'))).message); };
            fs.write(a, 'x', {error: function(r) {
                fifo.unblock(); pump.settle();
                ui.label.text = require('mod').value;
                print('write', r.message, ui.label.text);
            }});
            fs.read(b, 1, cbs('read'));
            fs.close({id: 777}, {always: function(r) {
                fs.close(a, {always: function(r2) {
                    print('late', r2.message);
                    fs.close(a, {always: function() { print('never'); }});
                }});
            }});)");
    QCOMPARE(openFiles(), 2);
    QList<QPointer<JsRteFileAction>> actions;
    for (JsRteFileAction* action : qAsConst(fsPrivate()->m_actions))
        actions << action;
    QCOMPARE(actions.size(), 4);

    m_engine = nullptr;
    run.engine.reset();
    QVERIFY(helper.isNull());
    // Every action is freed, the one in progress too.
    QCOMPARE(actions.count(nullptr), 4);
    QCOMPARE(entries, QStringList({"write deleted from module", "read error deleted", "read always deleted",
                                   "late deleted"}));
    QCoreApplication::processEvents();
    fifo.closeWriter();
    QCOMPARE(openFiles(), 0);
}

void tst_JsRteFileSystem::teardownLeavesBlockedWorker()
{
    Fifo fifo(path("fifo"));
    QVERIFY(open("a", path("a"), "fs.OPEN_WRITE_ONLY") >= 0);
    eval(QString("fs.open('%1', fs.OPEN_READ_ONLY, cbs('fifo'));").arg(path("fifo")));
    QPointer<JsRteFileHelper> helper = fsPrivate()->m_helper;
    QTRY_VERIFY(helper->isBusy());
    QCOMPARE(fsPrivate()->m_actions.size(), 1);
    QPointer<JsRteFileAction> held = *fsPrivate()->m_actions.begin();

    // The window closes although the worker stays blocked.
    QElapsedTimer timer;
    timer.start();
    delete m_engine;
    m_engine = nullptr;
    QVERIFY2(timer.elapsed() < 60000, "the teardown waited for the blocked worker");
    QVERIFY(!helper.isNull());
    QVERIFY(helper->isRunning());
    QCOMPARE(openFiles(), 1);

    // Once its call returns, the worker frees the action, closes its files
    // and goes.
    QVERIFY(fifo.unblock());
    QTRY_VERIFY_WITH_TIMEOUT(helper.isNull(), 20000);
    QVERIFY(held.isNull());
    fifo.closeWriter();
    QCOMPARE(openFiles(), 0);
}

void tst_JsRteFileSystem::callbacksOfDeletedEngine()
{
    // An extension that outlives its engine calls nothing at its teardown.
    delete m_engine;
    startEngine(JsRte::NoOwnership);
    QPointer<JsRteFileSystem> fs = m_fs;
    Fifo fifo(path("fifo"));
    eval(QString("fs.open('%1', fs.OPEN_READ_ONLY, cbs('fifo'));").arg(path("fifo")));
    QPointer<JsRteFileHelper> helper = fsPrivate()->m_helper;
    QTRY_VERIFY(helper->isBusy());
    eval("fs.close({id: 5}, cbs('queued'));");
    delete m_engine;
    m_engine = nullptr;
    QVERIFY(!fs.isNull());
    delete fs.data();
    QVERIFY(fifo.unblock());
    QTRY_VERIFY_WITH_TIMEOUT(helper.isNull(), 20000);
}

QTEST_MAIN(tst_JsRteFileSystem)
#include "tst_jsrtefilesystem.moc"
