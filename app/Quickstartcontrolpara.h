#pragma once
// The capture-parameter dialog "Quick Start Control Parameters": phase-shift axis, grating
// frequency, pre-move, waiting time, the two channels, method and phase-shift angle, read
// from and written to the settings store.

#include <QDialog>

class QComboBox;
class QLineEdit;

class TQuickStartControlParaForm : public QDialog {
    Q_OBJECT
public:
    explicit TQuickStartControlParaForm(QWidget* owner = nullptr);

    QComboBox* PhaseShiftAxisComboBox;
    QLineEdit* ProjectGratingFrequencyEdit;
    QLineEdit* PreMoveDisplaceEdit;
    QLineEdit* WaitingTimeEdit;
    QComboBox* PhaseShiftMoireChannelComboBox;
    QComboBox* ViewObjectChannelComboBox;
    QComboBox* PhaseShiftingMethodComboBox;
    QLineEdit* PhaseShiftingAngleEdit;

    void PhaseShiftingMethodComboBoxChange();
    // Shows the dialog modally; unless it was cancelled, FormClose. Returns the result.
    int Execute();
    // Parses every field first and writes them all, or raises EAppError and writes nothing.
    void FormClose(int modalResult);
};

// The channel codes of the combo items 0-3, and back (-1 for another code).
int32_t ChannelCodeOfItem(int item);
int ChannelItemOfCode(int32_t code);
