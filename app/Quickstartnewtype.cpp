#include "Quickstartnewtype.h"

#include <QDialogButtonBox>
#include <QRadioButton>
#include <QVBoxLayout>

#include "Dialogs.h"
#include "Forms.h"
#include "Main.h"

TQuickStartNewTypeForm* QuickStartNewTypeForm = nullptr;

TQuickStartNewTypeForm::TQuickStartNewTypeForm(QWidget* owner) : QDialog(owner, Qt::Dialog)
{
    setWindowTitle("Created Type");
    auto* layout = new QVBoxLayout(this);
    NewTypeRadioGroup = new TRadioGroup("Created Type", {"Create an empty file", "Create and Capture from CCD"}, 1, this);
    NewTypeRadioGroup->SetItemIndex(1);
    layout->addWidget(NewTypeRadioGroup);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] { done(mrOk); });
    connect(buttons, &QDialogButtonBox::rejected, this, [this] { done(mrCancel); });
    for (int i = 0; i < NewTypeRadioGroup->Count(); ++i)
        connect(NewTypeRadioGroup->Button(i), &QRadioButton::clicked, this, [this] { NewTypeRadioGroupClick(); });
    NewTypeRadioGroupClick();
}

TQuickStartNewTypeForm::~TQuickStartNewTypeForm()
{
    if (QuickStartNewTypeForm == this)
        QuickStartNewTypeForm = nullptr;
}

void TQuickStartNewTypeForm::NewTypeRadioGroupClick()
{
    if (MainForm && !MainForm->BoardHasDigitizer()) NewTypeRadioGroup->SetItemIndex(0);
}

void TQuickStartNewTypeForm::showEvent(QShowEvent* event)
{
    NewTypeRadioGroupClick();
    QDialog::showEvent(event);
}
