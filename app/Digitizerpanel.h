#pragma once
// The digitizer panels: one family of stay-on-top dialogs, one per board kind with a
// digitizer, that set the digitizer's input, scaling, grab mode and reference levels
// through the imaging library. The panels keep no state beyond their controls, never
// read the digitizer back and send nothing until the operator changes a control.
//
// Every handler does nothing while the imaging library is not open
// (TMainForm::ImagingOpened), except the "VCR Signal" box, which does nothing while the
// main window has no digitizer id. The edits beside the track bars only display.
//
// Members: TControlSorvikForm (kind 0), TControlSorvik2Form (1), TControlDrevanForm (2
// and 3), TControlLumbraForm (4), TControlHalcyraForm (5). The Drevan panel couples its
// scaling: a quarter is only ever set on both directions together.

#include "orb.h"

#include <QDialog>
#include <QString>
#include <QStringList>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSlider;
class QSpinBox;
class QTabWidget;

// Scaling factor of a scaling item: "1/4" 0.25, "1/2" 0.5, "1" 1.0 (1.0 for any other).
double ScalingFactor(int itemIndex);

class TDigitizerPanelForm : public QDialog {
    Q_OBJECT
public:
    // One reference track bar: its caption, level type and design position.
    struct Level {
        const char* Caption;
        OrbInt Type;
        int Default;
    };
    struct Spec {
        const char* BoardWord;     // "Lumbra": caption and board tab
        Level First, Second;       // the reference track bars
        const char* ResetCaption;  // "Reset"
        QStringList Inputs;        // input items
        int FirstInput;            // the item shown at start
        bool BoardTab;             // the board tab with "VCR Signal"
        bool Coupled;              // the Drevan scaling
    };
    TDigitizerPanelForm(QWidget* owner, const Spec& spec);
    ~TDigitizerPanelForm() override;

    // ---- components ----
    QTabWidget* PageControl = nullptr;
    QComboBox* InputChannelComboBox = nullptr;   // read by TMainForm::CurrentInputChannel
    QComboBox* ScaleXComboBox = nullptr;
    QComboBox* ScaleYComboBox = nullptr;
    QRadioButton* OddRadioButton = nullptr;
    QRadioButton* EvenRadioButton = nullptr;       // checked
    QRadioButton* NextfieldRadioButton = nullptr;
    QRadioButton* SyncRadioButton = nullptr;       // checked
    QRadioButton* AsyncRadioButton = nullptr;
    QSpinBox* FieldFrameCSpinEdit = nullptr;       // 1..100, 1
    QRadioButton* FieldsRadioButton = nullptr;
    QRadioButton* FramesRadioButton = nullptr;     // checked
    QCheckBox* VCRSignalCheckBox = nullptr;        // null on the Drevan panel
    QSlider* FirstLevelTrackBar = nullptr;
    QSlider* SecondLevelTrackBar = nullptr;
    QLineEdit* FirstLevelEdit = nullptr;
    QLineEdit* SecondLevelEdit = nullptr;
    QPushButton* LevelResetButton = nullptr;

    const Spec& PanelSpec() const { return spec_; }

    // ---- handlers ----
    void FirstLevelTrackBarChange();
    void SecondLevelTrackBarChange();
    // Both bars to their design positions; the first level, then the second, is sent.
    void LevelResetButtonClick();
    void SyncRadioButtonClick();
    void ScaleXComboBoxChange();
    void ScaleYComboBoxChange();
    void FieldFrameCSpinEditChange();
    void OddRadioButtonClick();
    void InputChannelComboBoxChange();
    void VCRSignalCheckBoxClick();
    void FormCreate();

protected:
    // The digitizer, when the imaging library is open; 0 otherwise.
    static OrbId OpenDigitizer(bool& opened);

private:
    void BuildChannelTab();
    void BuildControlTab();
    void BuildReferenceTab();
    void BuildBoardTab();
    void SendScale(bool x);

    Spec spec_;
};

// The panels with contrast (4009, 160) and brightness (4008, 148): Sorvik and Lumbra.
class TContrastPanelForm : public TDigitizerPanelForm {
    Q_OBJECT
public:
    TContrastPanelForm(QWidget* owner, const char* boardWord);

    QSlider* ContrastTrackBar = nullptr;
    QSlider* BrightnessTrackBar = nullptr;
    QLineEdit* ContrastEdit = nullptr;
    QLineEdit* BrightnessEdit = nullptr;
    QPushButton* ResetButton = nullptr;

    void ContrastTrackBarChange() { FirstLevelTrackBarChange(); }
    void BrightnessTrackBarChange() { SecondLevelTrackBarChange(); }
    void ResetButtonClick() { LevelResetButtonClick(); }
};

// The panels with black (4003, 0) and white (4005, 255): Sorvik II, Drevan, Halcyra.
class TBlackWhitePanelForm : public TDigitizerPanelForm {
    Q_OBJECT
public:
    TBlackWhitePanelForm(QWidget* owner, const char* boardWord, const QStringList& inputs, int firstInput,
                         bool boardTab, bool coupled);

    QSlider* BlackTrackBar = nullptr;
    QSlider* WhiteTrackBar = nullptr;
    QLineEdit* BlackEdit = nullptr;
    QLineEdit* WhiteEdit = nullptr;
    QPushButton* Button1 = nullptr;

    void BlackTrackBarChange() { FirstLevelTrackBarChange(); }
    void WhiteTrackBarChange() { SecondLevelTrackBarChange(); }
    void Button1Click() { LevelResetButtonClick(); }
};

// The input items "0" ... "7".
QStringList EightInputs();
