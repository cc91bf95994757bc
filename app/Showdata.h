#pragma once
// The data grid "Data Show": the heights of a 5 x 5 neighbourhood of one map pixel with the
// X and Y coordinates of its columns and rows, and the pixel-to-world rule it shares with
// the surface export.

#include <QString>
#include <QWidget>

#include <cstddef>
#include <cstdint>
#include <string>

class QTableWidget;

// A measured map and the header values that turn its pixels into world coordinates. The
// arrays are borrowed: heights W x H row-major, mask 255 = invalid (none: every pixel valid).
struct TMapCoordinates {
    const float* Heights = nullptr;
    const uint8_t* Mask = nullptr;
    int32_t Width = 0;
    int32_t Height = 0;
    double Zc = 0, Zcf = 0, X0 = 0, Y0 = 0;
    double OriginX = 0, OriginY = 0, OriginZ = 0;
    double PixelX = 0, PixelY = 0;

    bool Inside(int c, int r) const { return c >= 0 && c < Width && r >= 0 && r < Height; }
    size_t Index(int c, int r) const { return size_t(r) * size_t(Width) + size_t(c); }
    // Inside the map, and not masked.
    bool Valid(int c, int r) const
    {
        return Heights && Inside(c, r) && (!Mask || Mask[Index(c, r)] != 255);
    }
    // X = (z + Zc) (c - X0) Pixel X / Zcf + Origin X, Y likewise with r, Y0 and Pixel Y, in
    // double precision.
    double WorldX(int c, double z) const { return (z + Zc) * (c - X0) * PixelX / Zcf + OriginX; }
    double WorldY(int r, double z) const { return (z + Zc) * (r - Y0) * PixelY / Zcf + OriginY; }
};

// Cell texts of the grid for centre pixel (x, y): cells[column][row], 6 x 6. Row 0 holds
// the X of the columns x - 2 .. x + 2, column 0 the Y of the rows y - 2 .. y + 2, the
// others the height plus Origin Z, each "%-10.3f", or " --- " outside the map or masked.
// Without a map every cell is "---" and then, the map being 0 x 0, " --- " but the corner.
// The corner cell (0, 0) is left as it is otherwise.
void NeighbourhoodTexts(const TMapCoordinates& map, int x, int y, QString cells[6][6]);

class TShowDataForm : public QWidget {
    Q_OBJECT
public:
    explicit TShowDataForm(QWidget* owner = nullptr);
    ~TShowDataForm() override;

    // Stores the map (borrowed) and its coordinate values.
    void LoadData(const float* heights, const uint8_t* mask, int32_t width, int32_t height,
                  double zc, double zcf, double x0, double y0, double originX, double originY,
                  double originZ, double pixelX, double pixelY);
    // Drops the borrowed map (the project is replacing or freeing it).
    void ForgetData();
    bool HasData() const { return map_.Heights != nullptr; }
    // Fills the grid for the centre pixel (x, y) in map coordinates.
    void ShowNeighbourhood(int32_t x, int32_t y);

    // The grid's text at column, row.
    QString Cell(int column, int row) const;
    QTableWidget* ShowDataStringGrid = nullptr;

private:
    TMapCoordinates map_;
};

extern TShowDataForm* ShowDataForm;
