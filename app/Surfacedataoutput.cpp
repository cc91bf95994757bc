#include "Surfacedataoutput.h"

#include "Apperror.h"
#include "Dialogs.h"
#include "Floatimage.h"
#include "Format.h"

#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

#include <cmath>
#include <cstdio>

namespace {

void AppendLine(std::string& text, const std::string& line)
{
    text += line;
    text += "\r\n";
}

}  // namespace

std::string SurfaceDataText(const TMapCoordinates& map, int rows, int cols)
{
    if (!map.Heights || map.Width <= 0 || map.Height <= 0)
        throw EAppError("There is no height map to output");
    if (rows <= 0) throw EAppError("The number of sample rows must be above 0");
    if (cols <= 0) throw EAppError("The number of sample columns must be above 0");
    if (map.Zcf == 0)
        throw EAppError("Zcf is 0: the surface coordinates cannot be computed");

    const int W = map.Width, H = map.Height;
    int xMin = W - 1, xMax = 0, yMin = H - 1, yMax = 0;
    bool any = false;
    for (int r = 0; r < H; ++r)
        for (int c = 0; c < W; ++c) {
            if (map.Mask && map.Mask[map.Index(c, r)] != 0) continue;
            any = true;
            if (c < xMin) xMin = c;
            if (c > xMax) xMax = c;
            if (r < yMin) yMin = r;
            if (r > yMax) yMax = r;
        }

    std::string text;
    AppendLine(text, Format("%3d %3d", rows, cols));
    if (!any) return text;

    const int spanX = xMax - xMin + 1, spanY = yMax - yMin + 1;
    const float stepX = static_cast<float>(spanX) / static_cast<float>(cols);
    const float stepY = static_cast<float>(spanY) / static_cast<float>(rows);
    // Each advance is trunc(position + step + 0.5): a step of half a pixel or more moves
    // at least one pixel, a shorter one would never move.
    if (stepX < 0.5f)
        throw EAppError(Format("%d sample columns are more than twice the %d columns of "
                                "valid pixels: the sample step must be at least half a pixel",
                                cols, spanX));
    if (stepY < 0.5f)
        throw EAppError(Format("%d sample rows are more than twice the %d rows of valid "
                                "pixels: the sample step must be at least half a pixel",
                                rows, spanY));

    for (int y = yMin; y <= yMax; y = static_cast<int>(double(y) + double(stepY) + 0.5)) {
        for (int x = xMin; x <= xMax; x = static_cast<int>(double(x) + double(stepX) + 0.5)) {
            const bool masked = map.Mask && map.Mask[map.Index(x, y)] == 255;
            const double z = masked ? 0.0 : double(map.Heights[map.Index(x, y)]);
            const float X = static_cast<float>(map.WorldX(x, z));
            const float Y = static_cast<float>(map.WorldY(y, z));
            const double Z = masked ? 10000.0 : double(static_cast<float>(z + map.OriginZ));
            AppendLine(text, Format("%8.3f   %8.3f   %8.3f", double(X), double(Y), Z));
        }
    }
    return text;
}

void WriteSurfaceData(const std::string& path, const TMapCoordinates& map, int rows, int cols)
{
    const std::string text = SurfaceDataText(map, rows, cols);
    WriteFileReplacing(path, [&text](FILE* f) {
        return std::fwrite(text.data(), 1, text.size(), f) == text.size();
    });
}

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
