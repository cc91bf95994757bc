#pragma once
// The data grid "Data Show": the heights of a 5 x 5 neighbourhood of one map pixel with the
// X and Y coordinates of its columns and rows, by the pixel-to-world rule it shares with
// the surface export (TMapCoordinates).

#include "Surfacewriter.h"

#include <QString>
#include <QWidget>

#include <cstdint>

class QTableWidget;

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
