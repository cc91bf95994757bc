#include "Rawoption.h"

#include "Apperror.h"
#include "Dialogs.h"
#include "Format.h"
#include "Forms.h"
#include "Readablefile.h"

#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <cmath>
#include <cstdlib>

TRawOptionForm::TRawOptionForm(QWidget* owner, const QString& path) : QDialog(owner)
{
    FileName = QFileInfo(path).fileName();
    {
        // Only the size is wanted, of the file opened without blocking.
        const TReadableFile file(QFile::encodeName(path).toStdString());
        if (!file.IsOpen())
            throw EAppError(QString("Cannot open file \"%1\". %2").arg(path, QString::fromStdString(file.Why())).toStdString());
        FileSize = static_cast<int64_t>(file.Size());
    }

    setWindowTitle("Raw Options");
    auto* layout = new QVBoxLayout(this);
    DescribeLabel = new QLabel("Describe: \"" + FileName + "\"", this);
    SizeLabel = new QLabel("( " + QString::number(FileSize) + " bytes )", this);
    layout->addWidget(DescribeLabel);
    layout->addWidget(SizeLabel);

    auto* dimensions = new QGroupBox("   Dimensions   ", this);
    auto* dimGrid = new QGridLayout(dimensions);
    WidthEdit = new QLineEdit("512", dimensions);
    HeightEdit = new QLineEdit("512", dimensions);
    dimGrid->addWidget(new QLabel("Width:", dimensions), 0, 0);
    dimGrid->addWidget(WidthEdit, 0, 1);
    dimGrid->addWidget(new QLabel("pixels", dimensions), 0, 2);
    dimGrid->addWidget(new QLabel("Height:", dimensions), 1, 0);
    dimGrid->addWidget(HeightEdit, 1, 1);
    dimGrid->addWidget(new QLabel("pixels", dimensions), 1, 2);
    layout->addWidget(dimensions);

    auto* channels = new QGroupBox("   Channels   ", this);
    auto* chGrid = new QGridLayout(channels);
    ChannelCountEdit = new QLineEdit("1", channels);
    Bits8RadioButton = new QRadioButton("8Bits", channels);
    Bits16RadioButton = new QRadioButton("16Bits", channels);
    Bits8RadioButton->setChecked(true);
    Bits16RadioButton->setEnabled(false);
    chGrid->addWidget(new QLabel("Count:", channels), 0, 0);
    chGrid->addWidget(ChannelCountEdit, 0, 1);
    chGrid->addWidget(Bits8RadioButton, 1, 0);
    chGrid->addWidget(Bits16RadioButton, 1, 1);
    layout->addWidget(channels);

    auto* header = new QGroupBox("   Header   ", this);
    auto* hdGrid = new QGridLayout(header);
    HeaderEdit = new QLineEdit("0", header);
    RetainCheckBox = new QCheckBox("Retain When Saving", header);
    RetainCheckBox->setEnabled(false);
    hdGrid->addWidget(new QLabel("Size:", header), 0, 0);
    hdGrid->addWidget(HeaderEdit, 0, 1);
    hdGrid->addWidget(new QLabel("bytes", header), 0, 2);
    hdGrid->addWidget(RetainCheckBox, 1, 0, 1, 3);
    layout->addWidget(header);

    auto* buttons = new QHBoxLayout;
    OKButton = new QPushButton("OK", this);
    OKButton->setDefault(true);
    CancelButton = new QPushButton("Cancel", this);
    Button3 = new QPushButton("&Swap", this);
    Button4 = new QPushButton("&Guess", this);
    buttons->addWidget(OKButton);
    buttons->addWidget(CancelButton);
    buttons->addWidget(Button3);
    buttons->addWidget(Button4);
    layout->addLayout(buttons);
    connect(OKButton, &QPushButton::clicked, this, [this] { done(mrOk); });
    connect(CancelButton, &QPushButton::clicked, this, [this] { done(mrCancel); });
    connect(Button3, &QPushButton::clicked, this, [this] { RunGuarded([this] { Button3Click(); }); });
    connect(Button4, &QPushButton::clicked, this, [this] { RunGuarded([this] { Button4Click(); }); });
}

void TRawOptionForm::Button3Click()
{
    const int width = StrToInt(WidthEdit->text());
    const int height = StrToInt(HeightEdit->text());
    WidthEdit->setText(QString::number(height));
    HeightEdit->setText(QString::number(width));
}

bool TRawOptionForm::GuessSize(int64_t n, int64_t& width, int64_t& height)
{
    // No square root of a negative, no division by an unset divisor.
    if (n < 4)
        return false;
    const int64_t limit = static_cast<int64_t>(std::sqrt(static_cast<double>(n)) + 2.0);
    int64_t best = n, divisor = 0;
    for (int64_t i = 2; i < limit; ++i) {
        if (n % i != 0)
            continue;
        const int64_t d = std::llabs(i - n / i);
        if (d < best) {
            best = d;
            divisor = i;
        }
    }
    if (divisor == 0)
        return false;
    width = n / divisor;
    height = divisor;
    return true;
}

void TRawOptionForm::Button4Click()
{
    const int64_t n = FileSize - StrToInt(HeaderEdit->text());
    int64_t width = 0, height = 0;
    if (!GuessSize(n, width, height))
        return;
    WidthEdit->setText(QString::number(width));
    HeightEdit->setText(QString::number(height));
}
