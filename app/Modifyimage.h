#pragma once
// The modify-image tool "Modify Image": shows the rubber band's corners and size while the
// operator drags in an image window, chooses the band's shape (rectangle or ellipse), and
// fills the last selection of the active image window white or black. Made at start-up by
// the program's entry point; while it exists it is the image windows' selection tool.

#include "Mdiimagechild.h"

#include <QDialog>

class QLabel;
class QPushButton;
class QToolBar;
class QToolButton;

class TModifyImageForm : public QDialog, public TSelectionTool {
    Q_OBJECT
public:
    explicit TModifyImageForm(QWidget* owner = nullptr);
    ~TModifyImageForm() override;

    QToolBar* ToolBar1 = nullptr;
    QToolButton* RectToolButton = nullptr;     // down
    QToolButton* CircleToolButton = nullptr;
    QToolButton* WhiteToolButton = nullptr;    // down
    QToolButton* BlackToolButton = nullptr;
    QLabel* UpCornerLabel = nullptr;           // "(0, 0)"
    QLabel* DownCornerLabel = nullptr;         // "(0, 0)"
    QLabel* WidthLabel = nullptr;
    QLabel* HeightLabel = nullptr;
    QPushButton* BitBtn1 = nullptr;            // "Fill"

    // The drag's start and the current point in image coordinates: "(%3d, %3d)" of each,
    // "Width =%3d" of x1 - x0 and "Height=%3d" of y1 - y0 (signed).
    void ShowSelection(int x0, int y0, int x1, int y1) override;
    bool SelectsRectangle() const override;

    // "Fill": 255 with the white button down, else 0; the ellipse unless the rectangle
    // button is down; into the active image window, which is then repainted.
    void BitBtn1Click();
};

extern TModifyImageForm* ModifyImageForm;
