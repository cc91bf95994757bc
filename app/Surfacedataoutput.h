#pragma once
// Surface export: the height map sampled on a coarse grid over the bounding box of its
// valid pixels, written as a surface text file (.sur, "Surface Data").
//
// .sur file, plain text, every line ending in CR LF: "%3d %3d" of the requested rows and
// columns, then one line "%8.3f   %8.3f   %8.3f" of X, Y, Z per sample point, row by row
// from the box's top row, left to right from its left column. A masked sample writes its
// X and Y with z = 0 and Z = 10000.000.

#include "Showdata.h"

#include <QDialog>

#include <string>

class QLineEdit;
class QPushButton;
class QToolButton;

// The file's text for map sampled by rows x cols. Raises EAppError, for a refused export,
// when there is no map, rows or cols is not above 0, Zcf is 0, or a sample step would be
// below half a pixel (it would never advance). Steps from half a pixel up to 1.5 pixels
// advance one pixel. A map without any valid pixel gives the first line only.
std::string SurfaceDataText(const TMapCoordinates& map, int rows, int cols);

// Writes SurfaceDataText to path (replacing a file only with a complete one).
void WriteSurfaceData(const std::string& path, const TMapCoordinates& map, int rows, int cols);

class TSurfaceDataOutputForm : public QDialog {
    Q_OBJECT
public:
    explicit TSurfaceDataOutputForm(QWidget* parent = nullptr);

    void LoadData(const float* heights, const uint8_t* mask, int32_t width, int32_t height,
                  double zc, double zcf, double x0, double y0, double originX, double originY,
                  double originZ, double pixelX, double pixelY);

    // "...": the save dialog; puts the file name into FileNameEdit and makes its directory
    // the current directory.
    void SpeedButton1Click();
    // "Output": writes the file named by FileNameEdit and closes the form. Raises EAppError,
    // writing nothing and keeping the form open, when the export is refused.
    void BitBtn1Click();

    QLineEdit* FileNameEdit = nullptr;
    QLineEdit* SampleRowEdit = nullptr;
    QLineEdit* SampleColEdit = nullptr;
    QToolButton* SpeedButton1 = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* CancelBitBtn = nullptr;

private:
    TMapCoordinates map_;
};
