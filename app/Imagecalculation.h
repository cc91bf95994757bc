#pragma once
// The chooser "Calculations" of image arithmetic: two source windows and an operation.
// The main window fills both source lists with the image windows of the active window's
// size, shows the chooser modally and, on OK, runs the operation (CalculateImages) into a
// new image window "Result".

#include <QDialog>

#include <cstddef>
#include <cstdint>

class QComboBox;
class QPushButton;

class TImageCalculationForm : public QDialog {
    Q_OBJECT
public:
    explicit TImageCalculationForm(QWidget* owner = nullptr);

    QComboBox* Source1ComboBox = nullptr;
    QComboBox* Source2ComboBox = nullptr;
    QComboBox* OperationComboBox = nullptr;   // "Source1 - Source2", "Source1 + Source2", "Source1 * Source2"
    QPushButton* OKButton = nullptr;          // modal result 1
    QPushButton* CancelButton = nullptr;      // modal result 2

    // All three combo boxes to item 0.
    void FormShow();

protected:
    void showEvent(QShowEvent* event) override;
};

// The operations of OperationComboBox.
enum TImageOperation : int {
    ioDifference = 0,   // |a - b|
    ioMean = 1,         // (a + b) >> 1
    ioGeometric = 2,    // trunc(sqrt(a * b))
};
// out[k] := a[k] op b[k] for k < n (out may be a or b).
void CalculateImages(int operation, const uint8_t* a, const uint8_t* b, uint8_t* out, size_t n);
