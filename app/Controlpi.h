#pragma once
// The motor stage panel: keeps each axis's calibrated position, moves axes by relative
// steps through the stage controller, refuses moves outside each axis's travel limits and
// stores every position change in the settings store. Made at start-up (which homes every
// axis); its destruction at shut-down sends every axis home.

#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QFrame;
class TRadioGroup;

class TControlPIForm : public QDialog {
    Q_OBJECT
public:
    explicit TControlPIForm(QWidget* owner = nullptr);
    ~TControlPIForm() override;

    // Moves axis 1-4 by d micrometres (axis 4: milli-degrees) in whole controller counts.
    // False when refused: the target lies outside Start..End, the axis is not 1-4 or the
    // controller is not open; nothing is then sent or stored and LastMoveError says why.
    bool MoveAxis(int axis, double d, bool execute, bool select);
    // What MoveAxis would do with a move of d micrometres of axis starting at position from
    // (millimetres), without doing it: the same rules, the position reached and the counts
    // to send, or why it is refused.
    struct TMovePlan {
        bool Accepted = false;
        bool OutOfRange = false;   // refused for the counts or the travel limits
        double Target = 0.0;
        int32_t Counts = 0;
        QString Reason;
    };
    TMovePlan PlanMove(int axis, double d, double from) const;
    QString LastMoveError() const { return lastMoveError_; }
    void StepAxis(int axis, bool forward);
    void ShowAxisPosition();
    void SendGoHome(int axis);
    void ReloadAxes();
    bool ControllerOpen() const { return open_; }
    int SelectedAxis() const;

    // Handlers.
    void MotorRadioGroupClick();
    void PI_InSpeedButtonClick();
    void PI_OutSpeedButtonClick();
    void StepEditChange();
    void StepEditExit();
    void AdjustStepBitBtnClick();
    void AdvancedControlButtonClick();
    void SetHomeBitBtnClick();

    int FullHeight = 0;
    double HomePos[5] = {}, Start[5] = {}, End[5] = {}, Step[5] = {}, CountPerUm[5] = {},
           CurrentPos[5] = {};
    bool Direction[5] = {};

    QProgressBar* PositionGauge;
    QLabel* PositionLabel;
    QLabel* StepLabel;
    QLineEdit* StepEdit;
    TRadioGroup* MotorRadioGroup;
    QPushButton* PI_InSpeedButton;
    QPushButton* PI_OutSpeedButton;
    QPushButton* AdvancedControlButton;
    QPushButton* AdjustStepBitBtn;
    QPushButton* SetHomeBitBtn;
    QFrame* SpaceBevel;
    QLabel *MicroMLabel, *MicroMLabel2, *MicroMLabel3, *MicroULabel, *MicroULabel2;

private:
    void InitStageController();
    void ReadAxes();
    void ShowStep(int axis);
    void CheckStepText(bool emptyAllowed);
    // Runs the step entry's change (leaving false) or exit handler for the field's signals,
    // its error shown once.
    void RunStepEntry(bool leaving);
    bool open_ = false;
    bool stepMessageUp_ = false;     // a step entry handler runs (its message may be up)
    bool stepExitPending_ = false;   // the field was left meanwhile
    QString lastMoveError_;
};

extern TControlPIForm* ControlPIForm;
