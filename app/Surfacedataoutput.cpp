#include "Surfacedataoutput.h"

#include "Apperror.h"
#include "Dialogs.h"
#include "Format.h"

#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

TSurfaceDataOutputForm::TSurfaceDataOutputForm(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("SurfaceDataOutputForm"));
    setWindowTitle(QStringLiteral("Surface Data Output"));

    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel(QStringLiteral("File Name"), this), 0, 0);
    FileNameEdit = new QLineEdit(this);
    FileNameEdit->setObjectName(QStringLiteral("FileNameEdit"));
    grid->addWidget(FileNameEdit, 0, 1, 1, 2);
    SpeedButton1 = new QToolButton(this);
    SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
    SpeedButton1->setText(QStringLiteral("..."));
    SpeedButton1->setToolTip(QStringLiteral("Select a file name"));
    grid->addWidget(SpeedButton1, 0, 3);

    grid->addWidget(new QLabel(QStringLiteral("Sample Rows"), this), 1, 0);
    SampleRowEdit = new QLineEdit(QStringLiteral("50"), this);
    SampleRowEdit->setObjectName(QStringLiteral("SampleRowEdit"));
    grid->addWidget(SampleRowEdit, 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("Sample Cols"), this), 2, 0);
    SampleColEdit = new QLineEdit(QStringLiteral("200"), this);
    SampleColEdit->setObjectName(QStringLiteral("SampleColEdit"));
    grid->addWidget(SampleColEdit, 2, 1);

    BitBtn1 = new QPushButton(QStringLiteral("Output"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setDefault(true);
    CancelBitBtn = new QPushButton(QStringLiteral("Cancel"), this);
    CancelBitBtn->setObjectName(QStringLiteral("CancelBitBtn"));
    grid->addWidget(BitBtn1, 3, 1);
    grid->addWidget(CancelBitBtn, 3, 2);

    connect(SpeedButton1, &QToolButton::clicked, this, [this] { SpeedButton1Click(); });
    connect(BitBtn1, &QPushButton::clicked, this, [this] {
        try {
            BitBtn1Click();
        } catch (const EAppError& e) {
            ShowMessage(QString::fromStdString(e.Message()));
        }
    });
    connect(CancelBitBtn, &QPushButton::clicked, this, [this] { done(mrCancel); });
}

void TSurfaceDataOutputForm::LoadData(const float* heights, const uint8_t* mask, int32_t width,
                                      int32_t height, double zc, double zcf, double x0,
                                      double y0, double originX, double originY,
                                      double originZ, double pixelX, double pixelY)
{
    map_.Heights = heights;
    map_.Mask = mask;
    map_.Width = width;
    map_.Height = height;
    map_.Zc = zc;
    map_.Zcf = zcf;
    map_.X0 = x0;
    map_.Y0 = y0;
    map_.OriginX = originX;
    map_.OriginY = originY;
    map_.OriginZ = originZ;
    map_.PixelX = pixelX;
    map_.PixelY = pixelY;
}

void TSurfaceDataOutputForm::SpeedButton1Click()
{
    TFileDialog dialog(true);
    dialog.Title = QStringLiteral("Select or type a new file name");
    dialog.Filter = QStringLiteral("Surface Data(*.sur)|*.sur;*.dat|All Files|*.*");
    dialog.DefaultExt = QStringLiteral("sur");
    dialog.OverwritePrompt = true;
    if (!dialog.Execute()) return;
    const QFileInfo info(dialog.FileName);
    FileNameEdit->setText(info.fileName());
    QDir::setCurrent(info.absolutePath());
}

void TSurfaceDataOutputForm::BitBtn1Click()
{
    const int rows = StrToInt(SampleRowEdit->text());
    const int cols = StrToInt(SampleColEdit->text());
    const QString name = FileNameEdit->text().trimmed();
    if (name.isEmpty()) throw EAppError("Give the name of the surface data file first");
    WriteSurfaceData(QDir::current().absoluteFilePath(name).toStdString(), map_, rows, cols);
    done(mrOk);
}
