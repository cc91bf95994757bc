#include "Paramforms.h"

#include <QDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>

#include "Dialogs.h"

QLineEdit* AddEditRow(QWidget* parent, QFormLayout* layout, const QString& caption, const QString& text)
{
    auto* edit = new QLineEdit(text, parent);
    layout->addRow(caption, edit);
    return edit;
}

QGroupBox* NewRowGroup(QWidget* parent, const QString& title)
{
    auto* group = new QGroupBox(title, parent);
    new QFormLayout(group);
    return group;
}

QFormLayout* GroupRows(QGroupBox* group) { return static_cast<QFormLayout*>(group->layout()); }

void AddOkCancel(QDialog* form, QFormLayout* layout, const QString& okCaption, const QString& cancelCaption)
{
    auto* row = new QHBoxLayout;
    auto* ok = new QPushButton(okCaption, form);
    auto* cancel = new QPushButton(cancelCaption, form);
    row->addWidget(ok);
    row->addWidget(cancel);
    layout->addRow(row);
    QObject::connect(ok, &QPushButton::clicked, form, [form] { form->done(mrOk); });
    QObject::connect(cancel, &QPushButton::clicked, form, [form] { form->done(mrCancel); });
}
