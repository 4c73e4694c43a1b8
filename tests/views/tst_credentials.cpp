// The credential cache, and the dialog against node records read from a
// test node: filled in only for the same unique id, remembered or
// forgotten on OK, untouched on Cancel, and nothing at all for a node
// without a unique id.

#include "explorernode.h"
#include "getuserdialog.h"
#include "usercredentialcache.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

namespace {

const QByteArray IdA = QByteArray::fromHex("a1a2a3a4");
const QByteArray IdB = QByteArray::fromHex("b1b2b3b4");

struct Form
{
    explicit Form(GetUserDialog& dialog)
        : name(dialog.findChild<QLineEdit*>("lineEditUserName"))
        , password(dialog.findChild<QLineEdit*>("lineEditUserPassword"))
        , remember(dialog.findChild<QCheckBox*>("checkBoxRemember"))
        , buttons(dialog.findChild<QDialogButtonBox*>("buttonBox"))
    {
    }
    QString fields() const { return name->text() + '|' + password->text(); }
    void ok() { buttons->button(QDialogButtonBox::Ok)->click(); }
    void cancel() { buttons->button(QDialogButtonBox::Cancel)->click(); }

    QLineEdit* name;
    QLineEdit* password;
    QCheckBox* remember;
    QDialogButtonBox* buttons;
};

// Accepts a dialog for the address with these texts and the box as given.
void accept(quint8 address, const QString& user, const QString& password, bool remember)
{
    GetUserDialog dialog(address);
    Form form(dialog);
    form.name->setText(user);
    form.password->setText(password);
    form.remember->setChecked(remember);
    form.ok();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.userName() + '|' + dialog.password(), user + '|' + password);
}

} // namespace

class tst_Credentials : public QObject
{
    Q_OBJECT
private slots:
    void cacheEntries();
    void initTestCase();
    void cleanupTestCase();
    void rememberedForTheSameNodeOnly();
    void cancelAndForget();
    void emptyUniqueIdIsNeverRemembered();

private:
    // Moves the test node to an address with a unique id, and waits until
    // the node manager has read it there.
    bool moveNode(quint8 address, const QByteArray& id);

    ExplorerNode node;
    UserCredentialCache* cache = GetUserDialog::credentialCache();
};

void tst_Credentials::cacheEntries()
{
    UserCredentialCache c;
    const QByteArray id("a\0b", 3);
    QVERIFY(!c.contains(id));
    c.setPassword(id, "pw");
    QVERIFY(c.contains(id));
    QVERIFY(!c.contains("a")); // keys are compared as bytes
    QCOMPARE(c.userName(id) + '|' + c.password(id), QStringLiteral("|pw"));
    c.setUserName(id, "me");
    QCOMPARE(c.userName(id) + '|' + c.password(id), QStringLiteral("me|pw"));
    c.remove(id);
    QVERIFY(!c.contains(id));
}

void tst_Credentials::initTestCase()
{
    QVERIFY(node.start(IdA));
}

void tst_Credentials::cleanupTestCase()
{
    node.stop();
}

bool tst_Credentials::moveNode(quint8 address, const QByteArray& id)
{
    node.pair.b->disable();
    node.pair.b->setAddress(address);
    node.pair.b->setUniqueId(id);
    node.pair.b->enable();
    return QTest::qWaitFor([&] {
        const ErfcNodeInfo* record = ErfcNodeManager::instance()->nodeInfo(address);
        return record && record->isAvailable() && record->uniqueId() == id;
    }, 20000);
}

void tst_Credentials::rememberedForTheSameNodeOnly()
{
    {
        GetUserDialog dialog(ExplorerNode::Address);
        Form form(dialog);
        QCOMPARE(form.fields(), QStringLiteral("|"));
        QVERIFY(form.remember->isChecked());
        QCOMPARE(form.password->echoMode(), QLineEdit::Password);
    }
    accept(ExplorerNode::Address, "u1", "p1", true);
    QCOMPARE(cache->userName(IdA) + '|' + cache->password(IdA), QStringLiteral("u1|p1"));
    {
        GetUserDialog dialog(ExplorerNode::Address);
        QCOMPARE(Form(dialog).fields(), QStringLiteral("u1|p1"));
        QCOMPARE(dialog.userName() + dialog.password(), QString()); // only what was accepted
    }

    // The node answers at another address: its entry follows it. Another
    // device at the old address gets nothing of it.
    QVERIFY(moveNode(3, IdA));
    {
        GetUserDialog dialog(3);
        QCOMPARE(Form(dialog).fields(), QStringLiteral("u1|p1"));
    }
    QVERIFY(moveNode(ExplorerNode::Address, IdB));
    {
        GetUserDialog dialog(ExplorerNode::Address);
        QCOMPARE(Form(dialog).fields(), QStringLiteral("|"));
    }
    // An address never seen: nothing filled in, nothing remembered.
    accept(40, "x", "y", true);
    QCOMPARE(cache->userName(IdA) + '|' + cache->password(IdA), QStringLiteral("u1|p1"));
    QVERIFY(!cache->contains(QByteArray()));
}

void tst_Credentials::cancelAndForget()
{
    QVERIFY(moveNode(ExplorerNode::Address, IdA));
    {
        GetUserDialog dialog(ExplorerNode::Address);
        Form form(dialog);
        form.name->setText("other");
        form.remember->setChecked(false);
        form.cancel();
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(dialog.userName() + dialog.password(), QString());
    }
    QCOMPARE(cache->userName(IdA) + '|' + cache->password(IdA), QStringLiteral("u1|p1"));

    accept(ExplorerNode::Address, "u1", "p1", false);
    QVERIFY(!cache->contains(IdA));
}

void tst_Credentials::emptyUniqueIdIsNeverRemembered()
{
    // Two devices without an id must not share a login: nothing is filled
    // in, stored or removed for them.
    cache->setUserName(QByteArray(), "stale");
    QVERIFY(moveNode(ExplorerNode::Address, QByteArray()));
    {
        GetUserDialog dialog(ExplorerNode::Address);
        QCOMPARE(Form(dialog).fields(), QStringLiteral("|"));
    }
    accept(ExplorerNode::Address, "u2", "p2", true);
    QCOMPARE(cache->userName(QByteArray()), QStringLiteral("stale"));
    accept(ExplorerNode::Address, "u2", "p2", false);
    QVERIFY(cache->contains(QByteArray()));
    cache->remove(QByteArray());
}

QTEST_MAIN(tst_Credentials)
#include "tst_credentials.moc"
