#ifndef ANSWERLOGIN_H
#define ANSWERLOGIN_H

// Header-only: for widget tests that link the views.

#include "getuserdialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>

// Fills in and accepts a login dialog; false for any other widget.
inline bool answerLogin(QWidget* widget, const QString& user = QStringLiteral("user"),
                        const QString& password = QStringLiteral("secret"), bool remember = true)
{
    auto* dialog = qobject_cast<GetUserDialog*>(widget);
    if (!dialog)
        return false;
    dialog->findChild<QLineEdit*>(QStringLiteral("lineEditUserName"))->setText(user);
    dialog->findChild<QLineEdit*>(QStringLiteral("lineEditUserPassword"))->setText(password);
    dialog->findChild<QCheckBox*>(QStringLiteral("checkBoxRemember"))->setChecked(remember);
    dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    return true;
}

#endif // ANSWERLOGIN_H
