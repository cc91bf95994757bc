#include "Selectboardtype.h"

#include "Dialogs.h"
#include "Forms.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

TSelectBoardTypeForm::TSelectBoardTypeForm(QWidget* owner) : QDialog(owner)
{
    setWindowTitle("Choose Your Image Board");
    auto* layout = new QVBoxLayout(this);
    BoardInfoRadioGroup = new TRadioGroup(
        "  Board Info  ",
        {"Sorvik", "Sorvik II", "Drevan (Single  Screen Mode)", "Drevan (Double Screen Mode)",
         "Lumbra", "Halcyra", "No Board (VGA)", "No Board (Host)"},
        2, this);
    BoardInfoRadioGroup->SetItemIndex(2);
    layout->addWidget(BoardInfoRadioGroup);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    OKButton = new QPushButton("OK", this);
    OKButton->setDefault(true);
    CancelButton = new QPushButton("Cancel", this);
    buttons->addWidget(OKButton);
    buttons->addWidget(CancelButton);
    layout->addLayout(buttons);
    connect(OKButton, &QPushButton::clicked, this, [this] { done(mrOk); });
    connect(CancelButton, &QPushButton::clicked, this, [this] { done(mrCancel); });
}
