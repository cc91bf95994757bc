#include "Imagebuffercontrol.h"

#include "Apperror.h"
#include "Dialogs.h"
#include "Format.h"
#include "Main.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QVBoxLayout>

TImageBufferControlForm::TImageBufferControlForm(QWidget* owner) : QDialog(owner)
{
    setWindowTitle("ImageBufferControlForm");
    auto* layout = new QVBoxLayout(this);
    auto* pages = new QTabWidget(this);
    auto* page = new QWidget(pages);
    auto* grid = new QGridLayout(page);

    auto edit = [page](const char* text) {
        auto* e = new QLineEdit(text, page);
        return e;
    };
    SizeXEdit = edit("768");
    SizeYEdit = edit("576");
    SizeBitEdit = edit("8");
    SizeBandEdit = edit("1");
    grid->addWidget(new QLabel("Size X", page), 0, 0);
    grid->addWidget(SizeXEdit, 0, 1);
    grid->addWidget(new QLabel("Size Y", page), 1, 0);
    grid->addWidget(SizeYEdit, 1, 1);
    grid->addWidget(new QLabel("Size ( bit )", page), 2, 0);
    grid->addWidget(SizeBitEdit, 2, 1);
    grid->addWidget(new QLabel("Number of Byte", page), 3, 0);
    grid->addWidget(SizeBandEdit, 3, 1);

    auto* sign = new QGroupBox(page);
    auto* signLayout = new QVBoxLayout(sign);
    UnsignedRadioButton = new QRadioButton("Unsigned", sign);
    SignedRadioButton = new QRadioButton("Signed", sign);
    UnsignedRadioButton->setChecked(true);
    signLayout->addWidget(UnsignedRadioButton);
    signLayout->addWidget(SignedRadioButton);
    grid->addWidget(sign, 0, 2, 2, 1);

    ProcCheckBox = new QCheckBox("For processing", page);
    GrabCheckBox = new QCheckBox("For grabbing", page);
    DispCheckBox = new QCheckBox("For display", page);
    ProcCheckBox->setChecked(true);
    GrabCheckBox->setChecked(true);
    DispCheckBox->setChecked(true);
    grid->addWidget(ProcCheckBox, 2, 2);
    grid->addWidget(GrabCheckBox, 3, 2);
    grid->addWidget(DispCheckBox, 4, 2);
    pages->addTab(page, "Image Buffer");
    layout->addWidget(pages);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    OKButton = new QPushButton("OK", this);
    OKButton->setDefault(true);
    CancelButton = new QPushButton("Cancel", this);
    buttons->addWidget(OKButton);
    buttons->addWidget(CancelButton);
    layout->addLayout(buttons);
    connect(OKButton, &QPushButton::clicked, this, [this] { OKButtonClick(); });
    connect(CancelButton, &QPushButton::clicked, this, [this] { done(mrCancel); });

    FormCreate();
}

void TImageBufferControlForm::FormCreate()
{
    const bool digitizer = MainForm && MainForm->BoardHasDigitizer();
    GrabCheckBox->setEnabled(digitizer);
    GrabCheckBox->setChecked(digitizer);
}

int TImageBufferControlForm::SizeX() const { return StrToInt(SizeXEdit->text()); }
int TImageBufferControlForm::SizeY() const { return StrToInt(SizeYEdit->text()); }
int TImageBufferControlForm::Bits() const { return StrToInt(SizeBitEdit->text()); }
int TImageBufferControlForm::Bands() const { return StrToInt(SizeBandEdit->text()); }

void TImageBufferControlForm::OKButtonClick()
{
    // Every edit must hold an integer before the dialog may close: the first that does not
    // is named once, and the dialog stays open with the text as typed, that edit selected.
    for (QLineEdit* edit : {SizeXEdit, SizeYEdit, SizeBitEdit, SizeBandEdit}) {
        try {
            StrToInt(edit->text());
        } catch (const EAppError& e) {
            ShowMessage(QString::fromStdString(e.Message()));
            edit->setFocus();
            edit->selectAll();
            return;
        }
    }
    done(mrOk);
}
