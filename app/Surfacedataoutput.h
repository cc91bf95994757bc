#pragma once
// The "Surface Data Output" dialog: asks for the file name and the sample rows and
// columns, and writes the project's height map as a surface text file (Surfacewriter.h).

#include "Surfacewriter.h"

#include <QDialog>

#include <cstdint>

class QLineEdit;
class QPushButton;
class QToolButton;

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
