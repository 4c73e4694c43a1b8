#include "finddialog.h"

#include "finddialog_p.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <QVBoxLayout>

FindDialog::FindDialog(QPlainTextEdit* editor, QWidget* parent)
    : QDialog(parent)
    , d(new FindDialogPrivate)
{
    d->m_editor = editor;
    d->m_label = new QLabel(tr("Find what:"), this);
    d->m_lineEdit = new QLineEdit(this);
    d->m_label->setBuddy(d->m_lineEdit);
    d->m_lineEdit->setObjectName(QStringLiteral("lineEdit"));

    d->m_caseCheckBox = new QCheckBox(tr("Match case"), this);
    d->m_fromStartCheckBox = new QCheckBox(tr("Search from start"), this);
    d->m_wrapAroundCheckBox = new QCheckBox(tr("Wrap around"), this);
    d->m_wrapAroundCheckBox->setChecked(true);
    d->m_wholeWordsCheckBox = new QCheckBox(tr("Whole words"), this);
    d->m_backwardCheckBox = new QCheckBox(tr("Search backward"), this);
    d->m_caseCheckBox->setObjectName(QStringLiteral("caseCheckBox"));
    d->m_fromStartCheckBox->setObjectName(QStringLiteral("fromStartCheckBox"));
    d->m_wrapAroundCheckBox->setObjectName(QStringLiteral("wrapAroundCheckBox"));
    d->m_wholeWordsCheckBox->setObjectName(QStringLiteral("wholeWordsCheckBox"));
    d->m_backwardCheckBox->setObjectName(QStringLiteral("backwardCheckBox"));

    d->m_findButton = new QPushButton(tr("Find"), this);
    d->m_findButton->setObjectName(QStringLiteral("findButton"));
    d->m_findButton->setDefault(true);
    d->m_buttonBox = new QDialogButtonBox(Qt::Vertical, this);
    d->m_buttonBox->addButton(d->m_findButton, QDialogButtonBox::ActionRole);
    connect(d->m_findButton, &QPushButton::clicked, this, &FindDialog::onFind);

    auto* findLine = new QHBoxLayout;
    findLine->addWidget(d->m_label);
    findLine->addWidget(d->m_lineEdit);

    auto* leftOptions = new QVBoxLayout;
    leftOptions->addWidget(d->m_caseCheckBox);
    leftOptions->addWidget(d->m_fromStartCheckBox);
    leftOptions->addWidget(d->m_wrapAroundCheckBox);

    auto* rightOptions = new QVBoxLayout;
    rightOptions->addWidget(d->m_wholeWordsCheckBox);
    rightOptions->addWidget(d->m_backwardCheckBox);

    auto* grid = new QGridLayout(this);
    grid->setSizeConstraint(QLayout::SetFixedSize);
    grid->addLayout(findLine, 0, 0, 1, 2);
    grid->addWidget(d->m_buttonBox, 0, 2);
    grid->addLayout(leftOptions, 1, 0);
    grid->addLayout(rightOptions, 1, 1);

    setWindowTitle(QStringLiteral("Search"));
}

FindDialog::~FindDialog() = default;

void FindDialog::onFind()
{
    QPlainTextEdit* editor = d->m_editor;
    if (!editor)
        return;
    const QString text = d->m_lineEdit->text();
    const QTextCursor kept = editor->textCursor();
    if (text.isEmpty())
        return; // finds nothing and changes nothing

    QTextDocument::FindFlags flags;
    if (d->m_wholeWordsCheckBox->isChecked())
        flags |= QTextDocument::FindWholeWords;
    const bool backward = d->m_backwardCheckBox->isChecked();
    if (backward)
        flags |= QTextDocument::FindBackward;
    if (d->m_caseCheckBox->isChecked())
        flags |= QTextDocument::FindCaseSensitively;

    // A restart goes to the start of the document, or to its end when the
    // search runs backward (from the start a backward search finds nothing).
    const auto restart = [editor, backward] {
        editor->moveCursor(backward ? QTextCursor::End : QTextCursor::Start);
    };

    if (d->m_fromStartCheckBox->isChecked())
        restart();
    if (editor->find(text, flags))
        return;
    if (d->m_wrapAroundCheckBox->isChecked()) {
        restart();
        if (editor->find(text, flags))
            return;
    }
    editor->setTextCursor(kept);
}
