// The credential cache, and the dialog against node records read from a
// test node: filled in only for the same unique id, remembered or
// forgotten on OK, untouched on Cancel, and nothing at all for a node
// without a unique id.

#include "answerlogin.h"
#include "explorernode.h"
#include "usercredentialcache.h"

#include <QtTest>

namespace {

const QByteArray IdA = QByteArray::fromHex("a1a2a3a4");
const QByteArray IdB = QByteArray::fromHex("b1b2b3b4");

QString fields(GetUserDialog& dialog)
{
    return dialog.findChild<QLineEdit*>("lineEditUserName")->text() + '|'
        + dialog.findChild<QLineEdit*>("lineEditUserPassword")->text();
}

// What a fresh dialog for the address shows filled in.
QString shown(quint8 address)
{
    GetUserDialog dialog(address);
    return fields(dialog);
}

// Accepts a dialog for the address with these texts and the box as given.
void accept(quint8 address, const QString& user, const QString& password, bool remember)
{
    GetUserDialog dialog(address);
    QVERIFY(answerLogin(&dialog, user, password, remember));
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
    c.setPassword(id, "pw");
    QVERIFY(c.contains(id));
    QVERIFY(!c.contains("a")); // keys are compared as bytes
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
        QCOMPARE(fields(dialog), QStringLiteral("|"));
        QVERIFY(dialog.findChild<QCheckBox*>("checkBoxRemember")->isChecked());
        QCOMPARE(dialog.findChild<QLineEdit*>("lineEditUserPassword")->echoMode(), QLineEdit::Password);
    }
    accept(ExplorerNode::Address, "u1", "p1", true);
    QCOMPARE(cache->userName(IdA) + '|' + cache->password(IdA), QStringLiteral("u1|p1"));
    {
        GetUserDialog dialog(ExplorerNode::Address);
        QCOMPARE(fields(dialog), QStringLiteral("u1|p1"));
        QCOMPARE(dialog.userName() + dialog.password(), QString()); // only what was accepted
    }

    // The node answers at another address: its entry follows it. Another
    // device at the old address gets nothing of it.
    QVERIFY(moveNode(3, IdA));
    QCOMPARE(shown(3), QStringLiteral("u1|p1"));
    QVERIFY(moveNode(ExplorerNode::Address, IdB));
    QCOMPARE(shown(ExplorerNode::Address), QStringLiteral("|"));
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
        dialog.findChild<QLineEdit*>("lineEditUserName")->setText("other");
        dialog.findChild<QCheckBox*>("checkBoxRemember")->setChecked(false);
        dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->click();
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
    QCOMPARE(shown(ExplorerNode::Address), QStringLiteral("|"));
    accept(ExplorerNode::Address, "u2", "p2", true);
    QCOMPARE(cache->userName(QByteArray()), QStringLiteral("stale"));
    accept(ExplorerNode::Address, "u2", "p2", false);
    QVERIFY(cache->contains(QByteArray()));
    cache->remove(QByteArray());
}

QTEST_MAIN(tst_Credentials)
#include "tst_credentials.moc"
