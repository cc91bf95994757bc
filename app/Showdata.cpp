#include "Showdata.h"

#include "Format.h"

#include <QHeaderView>
#include <QTableWidget>

#include <cmath>

TShowDataForm* ShowDataForm = nullptr;

namespace {

const QString kOutside = QStringLiteral(" --- ");
const QString kNoData = QStringLiteral("---");

constexpr int kGridSize = 6;
constexpr int kCellWidth = 50;
constexpr int kCellHeight = 18;

// "%-10.3f" of a coordinate rounded to float32; " --- " when it is not a number (a Zcf of
// 0 gives no coordinate).
QString CoordinateText(double value)
{
    const float rounded = static_cast<float>(value);
    if (!std::isfinite(rounded)) return kOutside;
    return QFormat("%-10.3f", static_cast<double>(rounded));
}

}  // namespace

void NeighbourhoodTexts(const TMapCoordinates& given, int x, int y, QString cells[6][6])
{
    TMapCoordinates map = given;
    if (!map.Heights) {
        for (int c = 0; c < kGridSize; ++c)
            for (int r = 0; r < kGridSize; ++r) cells[c][r] = kNoData;
        map.Width = map.Height = 0;
    }
    for (int k = 1; k <= 5; ++k) {
        const int c = x + k - 3;
        cells[k][0] = map.Valid(c, y)
                          ? CoordinateText(map.WorldX(c, map.Heights[map.Index(c, y)]))
                          : kOutside;
    }
    for (int k = 1; k <= 5; ++k) {
        const int r = y + k - 3;
        cells[0][k] = map.Valid(x, r)
                          ? CoordinateText(map.WorldY(r, map.Heights[map.Index(x, r)]))
                          : kOutside;
    }
    for (int k = 1; k <= 5; ++k)
        for (int j = 1; j <= 5; ++j) {
            const int c = x + k - 3, r = y + j - 3;
            cells[k][j] = map.Valid(c, r)
                              ? QFormat("%-10.3f",
                                        double(map.Heights[map.Index(c, r)]) + map.OriginZ)
                              : kOutside;
        }
}

TShowDataForm::TShowDataForm(QWidget* owner) : QWidget(owner, Qt::Tool | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("ShowDataForm"));
    setWindowTitle(QStringLiteral("Data Show"));
    setFixedSize(313, 119);

    ShowDataStringGrid = new QTableWidget(kGridSize, kGridSize, this);
    ShowDataStringGrid->setObjectName(QStringLiteral("ShowDataStringGrid"));
    ShowDataStringGrid->horizontalHeader()->hide();
    ShowDataStringGrid->verticalHeader()->hide();
    ShowDataStringGrid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ShowDataStringGrid->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ShowDataStringGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ShowDataStringGrid->setSelectionMode(QAbstractItemView::NoSelection);
    ShowDataStringGrid->setFocusPolicy(Qt::NoFocus);
    QFont font = ShowDataStringGrid->font();
    font.setPointSize(7);
    ShowDataStringGrid->setFont(font);
    for (int i = 0; i < kGridSize; ++i) {
        ShowDataStringGrid->setColumnWidth(i, kCellWidth);
        ShowDataStringGrid->setRowHeight(i, kCellHeight);
    }
    // The first row and column are fixed: drawn like headers.
    const QBrush fixed = palette().brush(QPalette::Button);
    for (int c = 0; c < kGridSize; ++c)
        for (int r = 0; r < kGridSize; ++r) {
            auto* item = new QTableWidgetItem;
            if (c == 0 || r == 0) item->setBackground(fixed);
            ShowDataStringGrid->setItem(r, c, item);
        }
    ShowDataStringGrid->setGeometry(3, 3, kGridSize * kCellWidth + 4, kGridSize * kCellHeight + 4);
}

TShowDataForm::~TShowDataForm()
{
    if (ShowDataForm == this) ShowDataForm = nullptr;
}

void TShowDataForm::LoadData(const float* heights, const uint8_t* mask, int32_t width,
                             int32_t height, double zc, double zcf, double x0, double y0,
                             double originX, double originY, double originZ, double pixelX,
                             double pixelY)
{
    const bool usable = heights && width > 0 && height > 0;
    map_.Heights = usable ? heights : nullptr;
    map_.Mask = usable ? mask : nullptr;
    map_.Width = usable ? width : 0;
    map_.Height = usable ? height : 0;
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

void TShowDataForm::ForgetData()
{
    map_.Heights = nullptr;
    map_.Mask = nullptr;
    map_.Width = map_.Height = 0;
}

void TShowDataForm::ShowNeighbourhood(int32_t x, int32_t y)
{
    QString cells[kGridSize][kGridSize];
    for (int c = 0; c < kGridSize; ++c)
        for (int r = 0; r < kGridSize; ++r) cells[c][r] = Cell(c, r);
    NeighbourhoodTexts(map_, x, y, cells);
    for (int c = 0; c < kGridSize; ++c)
        for (int r = 0; r < kGridSize; ++r) ShowDataStringGrid->item(r, c)->setText(cells[c][r]);
}

QString TShowDataForm::Cell(int column, int row) const
{
    const QTableWidgetItem* item = ShowDataStringGrid->item(row, column);
    return item ? item->text() : QString();
}
