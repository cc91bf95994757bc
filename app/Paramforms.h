#pragma once
// Small shared helpers of the parameter dialogs: captioned groups of labelled rows, a
// labelled edit row and OK/Cancel buttons that close the dialog with the class library's
// modal results.

#include <QString>

class QDialog;
class QFormLayout;
class QGroupBox;
class QLineEdit;
class QWidget;

QLineEdit* AddEditRow(QWidget* parent, QFormLayout* layout, const QString& caption, const QString& text);
// A group box captioned title, made in parent, whose rows go into the returned box's form
// layout (QGroupBox::layout()).
QGroupBox* NewRowGroup(QWidget* parent, const QString& title);
// The form layout of a group made by NewRowGroup.
QFormLayout* GroupRows(QGroupBox* group);
// OK gives mrOk, Cancel mrCancel; okCaption names the OK button.
void AddOkCancel(QDialog* form, QFormLayout* layout, const QString& okCaption = "OK",
                 const QString& cancelCaption = "Cancel");
