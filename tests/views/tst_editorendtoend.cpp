// The text editor from the file explorer, end to end: the main window, the
// test node program serving a folder, a file edited and saved in UTF-8 and
// one with mixed line ends, each read back byte for byte, and closing the
// explorer or the main window over unsaved text.

#include "connectedwindow.h"
#include "filebytes.h"
#include "modaldriver.h"
#include "qcftpclientexplorertreewidget.h"
#include "qcftpclientexplorertreewidget_p.h"
#include "qcftpclientexplorertreewidgetitem.h"
#include "qcftpfileexplorerwidget.h"
#include "qcftpfileexplorerwidget_p.h"
#include "texteditorwindow.h"

#include <QAction>
#include <QInputDialog>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTextBlock>
#include <QTemporaryDir>
#include <QtTest>

namespace {

constexpr uchar Node = 10;
const QByteArray Original = "-- original\n";
const QString Question =
    QStringLiteral("question Unsaved changes: You have unsaved changes, do you realy want to close editior?");

QString status(TextEditorWindow* editor)
{
    return editor->statusBar()->currentMessage();
}

void type(TextEditorWindow* editor, const QString& text)
{
    auto* edit = editor->findChild<QPlainTextEdit*>(QStringLiteral("plainTextEdit"));
    QTextCursor cursor = edit->textCursor();
    cursor.insertText(text);
    edit->setTextCursor(cursor);
}

void trigger(TextEditorWindow* editor, const char* action)
{
    editor->findChild<QAction*>(QLatin1String(action))->trigger();
}

} // namespace

class tst_EditorEndToEnd : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void editAndSave();
    void mixedLineEnds();
    // Last: the main window's accepted close ends the application's loops.
    void closingAsks();

private:
    // The test node serving a fresh folder with /notes.txt, the main window
    // connected to it and its file explorer logged in and listed.
    bool start();
    bool idle();
    QCFTPClientExplorerTreeWidget* tree() const
    {
        return m_explorer->findChild<QCFTPClientExplorerTreeWidget*>(QStringLiteral("treeWidgetExplorer"));
    }
    QTreeWidgetItem* row(const QString& path) const { return tree()->itemForPath(path); }
    // The explorer's one editor, once it is open.
    TextEditorWindow* editor();
    QString remote(const QString& path) const { return m_root->path() + path; }

    QTemporaryDir m_cwd; // the editor's settings file lives in the current directory
    std::unique_ptr<QTemporaryDir> m_root;
    std::unique_ptr<ConnectedWindow> m_session;
    MainWindow* m_window = nullptr;
    std::unique_ptr<ModalDriver> m_driver;
    QPointer<QCFTPFileExplorerWidget> m_explorer;
    QString m_answerText;         // the input dialog's answer
    bool m_closeUnsaved = false;  // the unsaved-changes question: Close, else Cancel
};

void tst_EditorEndToEnd::initTestCase()
{
    QVERIFY(m_cwd.isValid());
    QVERIFY(QDir::setCurrent(m_cwd.path()));
}

void tst_EditorEndToEnd::cleanup()
{
    if (m_session)
        m_session->window.reset();
    // Editors with unsaved text outlive the main window.
    QList<QPointer<TextEditorWindow>> editors;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* editor = qobject_cast<TextEditorWindow*>(widget))
            editors << editor;
    }
    qDeleteAll(editors);
    m_session.reset();
    m_driver.reset();
    m_root.reset();
    m_closeUnsaved = false;
}

bool tst_EditorEndToEnd::start()
{
    m_root.reset(new QTemporaryDir);
    if (!m_root->isValid() || !writeFile(remote("/notes.txt"), Original))
        return false;
    m_driver.reset(new ModalDriver(300000));
    m_driver->answer = [this](QWidget* widget) {
        if (answerLogin(widget))
            return true;
        if (auto* input = qobject_cast<QInputDialog*>(widget)) {
            input->setTextValue(m_answerText);
            input->accept();
            return true;
        }
        auto* box = qobject_cast<QMessageBox*>(widget);
        if (box && m_closeUnsaved && box->windowTitle() == QLatin1String("Unsaved changes")) {
            m_driver->seen << Question;
            box->button(QMessageBox::Close)->click();
            return true;
        }
        return false; // other boxes, and the question with Cancel, as the driver does
    };

    m_session.reset(new ConnectedWindow);
    if (!m_session->connect(Node, {"--cftp-root", m_root->path()}))
        return false;
    m_window = m_session->window.get();
    // The explorer asks for the login while it is being built.
    QMetaObject::invokeMethod(m_window, "onNodesDockWidgetCftpFileExplorerRequested", Q_ARG(uchar, Node));
    m_explorer = m_window->findChild<QCFTPFileExplorerWidget*>();
    return m_explorer && idle() && row(QStringLiteral("/notes.txt"));
}

bool tst_EditorEndToEnd::idle()
{
    auto* d = QCFTPClientExplorerTreeWidgetPrivate::get(tree());
    const QCFTPClient& client = QCFTPFileExplorerWidgetPrivate::get(m_explorer)->m_cftpClient;
    return QTest::qWaitFor([&] {
        return d->m_step == QCFTPClientExplorerTreeWidgetPrivate::NoStep && !d->m_busy
            && client.state() == QCFTP::Client::Ready && tree()->isEnabled();
    }, 60000);
}

TextEditorWindow* tst_EditorEndToEnd::editor()
{
    if (!QTest::qWaitFor([this] { return m_explorer->findChild<TextEditorWindow*>() != nullptr; }, 60000))
        return nullptr;
    return m_explorer->findChild<TextEditorWindow*>();
}

void tst_EditorEndToEnd::editAndSave()
{
    QVERIFY(start());
    QVERIFY(writeFile(remote("/notes.txt"), "-- Gr\xc3\xbc\xc3\x9f \xe2\x82\xac\nx = 1\n"));

    // A double-click on a text file downloads it into an editor.
    m_explorer->on_treeWidgetExplorer_itemDoubleClicked(row(QStringLiteral("/notes.txt")), 0);
    TextEditorWindow* window = editor();
    QVERIFY(window);
    QCOMPARE(window->windowTitle(), QStringLiteral("Node: 10 - Edit  /notes.txt"));
    QVERIFY(window->isVisible() && window->isWindow());
    trigger(window, "actionUTF8");
    auto* edit = window->findChild<QPlainTextEdit*>(QStringLiteral("plainTextEdit"));
    QCOMPARE(edit->toPlainText(), QStringLiteral("-- Gr\u00fc\u00df \u20ac\nx = 1\n"));

    type(window, QStringLiteral("-- \u2192 \u2713\n"));
    trigger(window, "actionSave");
    QTRY_VERIFY_WITH_TIMEOUT(status(window).endsWith(QLatin1String(": File saved...")), 60000);
    QVERIFY(idle());
    QCOMPARE(readFile(remote("/notes.txt")), QByteArray("-- \xe2\x86\x92 \xe2\x9c\x93\n-- Gr\xc3\xbc\xc3\x9f \xe2\x82\xac\nx = 1\n"));

    // Saved: closing asks nothing.
    QVERIFY(window->close());
    QCOMPARE(m_driver->seen, QStringList());
}

void tst_EditorEndToEnd::mixedLineEnds()
{
    // "Edit File" on a file with every kind of line end, one line edited:
    // the node's file changes in that line only.
    QVERIFY(start());
    QVERIFY(writeFile(remote("/notes.txt"), "a-line\r\nb-line\nc-line\rd-line\r\n"));
    m_explorer->editFile(row(QStringLiteral("/notes.txt")));
    TextEditorWindow* window = editor();
    QVERIFY(window);
    auto* edit = window->findChild<QPlainTextEdit*>(QStringLiteral("plainTextEdit"));
    QCOMPARE(edit->blockCount(), 5);
    QTextCursor cursor(edit->document()->firstBlock());
    cursor.movePosition(QTextCursor::EndOfBlock);
    edit->setTextCursor(cursor);
    type(window, QStringLiteral("X"));
    trigger(window, "actionSave");
    QTRY_VERIFY_WITH_TIMEOUT(status(window).endsWith(QLatin1String(": File saved...")), 60000);
    QVERIFY(idle());
    QCOMPARE(readFile(remote("/notes.txt")), QByteArray("a-lineX\r\nb-line\nc-line\rd-line\r\n"));
}

void tst_EditorEndToEnd::closingAsks()
{
    QVERIFY(start());
    // A clean editor and an edited one.
    m_explorer->editFile(row(QStringLiteral("/notes.txt")));
    QPointer<TextEditorWindow> clean = editor();
    QVERIFY(clean);
    m_answerText = QStringLiteral("draft.txt");
    m_explorer->createNewFile(row(QStringLiteral("/")));
    QCOMPARE(m_explorer->findChildren<TextEditorWindow*>().size(), 2);
    QPointer<TextEditorWindow> edited = m_explorer->findChildren<TextEditorWindow*>().last();
    type(edited, QStringLiteral("x"));
    QPointer<QMdiSubWindow> subWindow = qobject_cast<QMdiSubWindow*>(m_explorer->parentWidget());
    QVERIFY(subWindow);

    // The explorer's sub-window, then the main window: the edited editor
    // asks each time, and Cancel keeps it, the explorer and the main window.
    QVERIFY(!subWindow->close());
    QVERIFY(!m_window->close());
    QCOMPARE(m_driver->seen, QStringList({Question, Question}));
    QCoreApplication::processEvents();
    QVERIFY(edited && edited->isVisible());
    QVERIFY(m_explorer && m_explorer->isVisible() && subWindow);
    QVERIFY(m_window->isVisible());

    // Close: the editors, the explorer and the main window go.
    m_closeUnsaved = true;
    QVERIFY(m_window->close());
    QCOMPARE(m_driver->seen.size(), 3);
    QTRY_VERIFY(!clean && !edited && !m_explorer);
    QVERIFY(!m_window->isVisible());
}

QTEST_MAIN(tst_EditorEndToEnd)
#include "tst_editorendtoend.moc"
