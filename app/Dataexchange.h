#pragma once
// Data exchange: one float plane of the current project out to a .flt file, or a plane read
// from a .flt file or from another project file (.psm) combined into the current project's
// plane of the same kind.

#include <QDialog>

#include <cstddef>
#include <cstdint>
#include <string>

class QPushButton;
class QRadioButton;
class TPhaseShiftMoire;
class TRadioGroup;

// "Loading Operation" items.
constexpr int kLoadAssign = 0;     // "Current = Loading"
constexpr int kLoadSubtract = 1;   // "Current - Loading"
constexpr int kLoadAdd = 2;        // "Current + Loading"

extern const char* const kSameDimensionsMessage;   // "Data having the same dimensions can be loaded"

// current[i] := loaded[i] (a bit copy), current[i] - loaded[i] or current[i] + loaded[i]
// for the n values, in single precision.
void CombinePlane(float* current, const float* loaded, size_t n, int operation);

// Writes float plane code of project to path as a .flt file. Raises EAppError when the
// project lacks the plane or the file cannot be written.
void OutputFloatPlane(const TPhaseShiftMoire& project, int code, const std::string& path);

// Loads the file at path into float plane code of project by operation: ".FLT" (any case)
// a float map, ".PSM" the same plane of another project file. Returns false, changing
// nothing, for any other extension. Raises EAppError, changing nothing, when the file cannot
// be read, when its size differs from the project's (kSameDimensionsMessage), or when the
// project or the source lacks the plane. On success the project is modified and its
// presence flags are updated.
bool LoadFloatPlane(TPhaseShiftMoire& project, int code, const std::string& path,
                    int operation);

// The plane's name as the dialog shows it: "Phase", "Unwrapped Phase", "Convert Result".
const char* FloatPlaneName(int code);

// The "Data Exchange" dialog on the current project.
class TDataExchangeForm : public QDialog {
    Q_OBJECT
public:
    explicit TDataExchangeForm(QWidget* owner = nullptr);

    // Remembers the project (borrowed) and disables the button of each float plane it lacks.
    void SetProject(TPhaseShiftMoire* project);
    // The plane chosen: 111 with "Phase" checked, else 222 with "Unwrapped Phase", else 333.
    int ChosenCode() const;

    // "Output": the save dialog, then the chosen plane into the chosen .flt file.
    void OutputBitBtnClick();
    // "Load": the open dialog, then a .flt file or a .psm project's plane combined into the
    // chosen plane by the "Loading Operation" item. Raises EAppError, changing nothing,
    // when the file is refused.
    void LoadBitBtnClick();

    QRadioButton* PhaseRadioButton = nullptr;
    QRadioButton* UnwrappedPhaseRadioButton = nullptr;
    QRadioButton* ConvertResultRadioButton = nullptr;
    TRadioGroup* LoadingOperationRadioGroup = nullptr;
    QPushButton* OutputBitBtn = nullptr;
    QPushButton* LoadBitBtn = nullptr;
    QPushButton* CloseBitBtn = nullptr;

private:
    TPhaseShiftMoire* project_ = nullptr;
};
