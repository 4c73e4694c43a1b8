#include <QtTest>
class tst_ExplorerWindow : public QObject { Q_OBJECT private slots: void none() {} };
QTEST_MAIN(tst_ExplorerWindow)
#include "tst_explorerwindow.moc"
