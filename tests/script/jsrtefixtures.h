#ifndef JSRTEFIXTURES_H
#define JSRTEFIXTURES_H

#include "jsrte.h"
#include "jsrteexception.h"
#include "jsrteextension.h"
#include "jsrtewidgetfactory.h"
#include "tarreader.h"
#include "tarwriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScriptValue>
#include <QStringList>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QWidget>

#include <functional>

// An extension that records what the engine does with it into a shared log.
class RecordingExtension : public JsRteExtension
{
    Q_OBJECT
public:
    RecordingExtension(const QString& name, QStringList* log, const QString& tag = QString())
        : m_log(log)
        , m_tag(tag.isEmpty() ? name : tag)
    {
        setName(name);
    }
    ~RecordingExtension() override { m_log->append("deleted " + m_tag); }

    void install(QScriptEngine*, QScriptValue& object) override
    {
        m_log->append("install " + m_tag);
        object.setProperty("tag", m_tag);
    }
    void resume() override { m_log->append("resume " + m_tag); }
    void suspend() override { m_log->append("suspend " + m_tag); }

public slots:
    QString hello() const { return "hello from " + m_tag; }

private:
    QStringList* m_log;
    QString m_tag;
};

// The table a test factory makes: a QTableWidget with a slot of its own.
class TestTable : public QTableWidget
{
    Q_OBJECT
public:
    using QTableWidget::QTableWidget;

public slots:
    QString kind() const { return QStringLiteral("test table"); }
};

// Makes TestTables for the class name "QTableWidget" (or another), counts
// what it made and its own deletion; it can refuse, to let the standard
// loader make the widget.
class TestTableFactory : public JsRteWidgetFactory
{
public:
    explicit TestTableFactory(int* deleted = nullptr, const QString& className = "QTableWidget",
                              bool refuse = false)
        : m_deleted(deleted)
        , m_refuse(refuse)
    {
        setClassName(className);
    }
    ~TestTableFactory() override
    {
        if (m_deleted)
            ++*m_deleted;
    }
    QWidget* create(QWidget* parent) override
    {
        ++made;
        return m_refuse ? nullptr : new TestTable(parent);
    }
    int made = 0;

private:
    int* m_deleted;
    bool m_refuse;
};

// The code of the JsRteException a call throws; 0 when it throws none.
inline int thrownCode(const std::function<void()>& call)
{
    try {
        call();
    } catch (const JsRteException& e) {
        return e.code();
    }
    return 0;
}

// Writes files (path relative to dir -> contents) below dir.
inline void writeFiles(const QString& dir, const QMap<QString, QByteArray>& files)
{
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        const QString path = dir + '/' + it.key();
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            qFatal("cannot write %s", qPrintable(path));
        file.write(it.value());
    }
}

// Runs GNU tar in dir with the given arguments and returns the archive it made.
inline QByteArray runTar(const QString& dir, const QStringList& arguments)
{
    QProcess tar;
    tar.setWorkingDirectory(dir);
    tar.start("tar", arguments);
    if (!tar.waitForFinished(60000) || tar.exitCode() != 0)
        qFatal("tar failed: %s", tar.readAllStandardError().constData());
    QFile file(dir + "/p.tar.gz");
    if (!file.open(QIODevice::ReadOnly))
        qFatal("no archive");
    return file.readAll();
}

// main.js and the other given files in a temporary directory, started by an
// engine for host; prepare (given the engine and the directory) runs first.
class ScriptDir
{
public:
    using Prepare = std::function<void(JsRte&, const QString&)>;
    ScriptDir(const QMap<QString, QByteArray>& files, QWidget* host, const Prepare& prepare = Prepare())
    {
        writeFiles(dir.path(), files);
        engine.reset(new JsRte);
        engine->setUiHost(host);
        if (prepare)
            prepare(*engine, dir.path());
        engine->startScript(dir.path() + "/main.js", false);
    }

    QString eval(const QString& code) { return engine->QScriptEngine::evaluate(code).toString(); }
    QObject* ui(const char* member = nullptr)
    {
        const QScriptValue ui = engine->globalObject().property("ui");
        return (member ? ui.property(member) : ui).toQObject();
    }

    QTemporaryDir dir;
    QScopedPointer<JsRte> engine;
};

#endif // JSRTEFIXTURES_H
