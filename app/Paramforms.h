#pragma once
// Small shared helpers of the parameter dialogs: a labelled edit row and OK/Cancel buttons
// that close the dialog with the class library's modal results.

#include <QString>

class QDialog;
class QFormLayout;
class QLineEdit;

QLineEdit* AddEditRow(QDialog* form, QFormLayout* layout, const QString& caption, const QString& text);
// OK gives mrOk, Cancel mrCancel; okCaption names the OK button.
void AddOkCancel(QDialog* form, QFormLayout* layout, const QString& okCaption = "OK",
                 const QString& cancelCaption = "Cancel");
