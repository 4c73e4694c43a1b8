#ifndef FINDDIALOG_P_H
#define FINDDIALOG_P_H

#include <QPointer>

class QCheckBox;
class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

class FindDialogPrivate
{
public:
    QLabel* m_label = nullptr;
    QLineEdit* m_lineEdit = nullptr;
    QCheckBox* m_caseCheckBox = nullptr;
    QCheckBox* m_fromStartCheckBox = nullptr;
    QCheckBox* m_wrapAroundCheckBox = nullptr;
    QCheckBox* m_wholeWordsCheckBox = nullptr;
    QCheckBox* m_backwardCheckBox = nullptr;
    QDialogButtonBox* m_buttonBox = nullptr;
    QPushButton* m_findButton = nullptr;
    QPointer<QPlainTextEdit> m_editor; // not owned
};

#endif // FINDDIALOG_P_H
