#pragma once
// The automatic adjustment "Automatic Adjust System Parameters": one grating-ruler reading
// (on the projecting or on the view arm, the other following from Theta) gives with the
// thin-lens equation the new projecting distances Lp, Lpf and viewing distances Zc, Zcf,
// and the stage positions of the projecting and the view axis that realise them. "Apply"
// saves the rulers and moves the two axes through the stage panel.
//
// Lengths in millimetres, Theta in radians; stage moves are passed in micrometres.
//
// Refusals (EAppError, nothing changed, written or moved): a reading that is not a number;
// a Theta whose tangent is 0 or not finite; a distance shorter than four focal lengths,
// which has no real solution; in "Apply", a target of either axis outside its travel
// (both are checked before the rulers are written or anything moves).

#include <QDialog>
#include <QString>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QShowEvent;
class TControlPIForm;
class TRadioGroup;

// The refusal texts of "Apply".
extern const char* const kPiViewOutOfRange;      // "Check carefully, PI-V moving distance is out of range!"
extern const char* const kPiProjectOutOfRange;   // "Check carefully, PI-P moving distance is out of range!"


class TAutoAdjustForm : public QDialog {
    Q_OBJECT
public:
    explicit TAutoAdjustForm(QWidget* owner = nullptr);
    ~TAutoAdjustForm() override;

    // Loads the values from the settings store and shows them (run when the form is shown).
    void FormShow();
    // Focus into the edit of the chosen reading.
    void InputRadioGroupClick();
    // "Compute": the new geometry from the reading.
    void ComputeBitBtnClick();
    // "Apply": "Compute", then the rulers saved and both axes moved.
    void ApplyBitBtnClick();
    // "Close": hides the form.
    void CloseBitBtnClick();

    // The values (see the settings store for their meaning).
    double Rv = 0.0, Rp = 0.0;
    int ViewAxis = 3, ProjectAxis = 2;
    double Zc0 = 10.0, Zcf0 = 1.0, Lp0 = 10.0, Lpf0 = 1.0, Theta = 0.7854;
    double BeforePI_V = 0.0, BeforePI_P = 0.0;
    double ProjectingLensF = 10.0, ViewingLensF = 10.0;
    double GratingThickness = 0.1;
    double NewLp = 0.0, NewLpf = 0.0, NewPI_P = 0.0, NewZc = 0.0, NewZcf = 0.0, NewPI_V = 0.0;

    TRadioGroup* InputRadioGroup;
    QLineEdit* RpEdit;
    QLineEdit* RvEdit;
    QLabel* UnitLabel;
    QLineEdit *BeforeLpEdit, *BeforePI_PEdit, *BeforeLpfEdit, *BeforeZcEdit, *BeforePI_VEdit, *BeforeZcfEdit;
    QLineEdit *AfterLpEdit, *AfterPI_PEdit, *AfterLpfEdit, *AfterZcEdit, *AfterPI_VEdit, *AfterZcfEdit;
    QLineEdit* ProjectGratingThicknessEdit;
    QCheckBox* AdjustCheckBox;
    QPushButton* ComputeBitBtn;
    QPushButton* ApplyBitBtn;
    QPushButton* CloseBitBtn;

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Stores the new geometry and shows it in the "After" edits.
    void ShowAfter(double lp, double piP, double lpf, double zc, double piV, double zcf);
};

extern TAutoAdjustForm* AutoAdjustForm;
