#include "Dataexchange.h"

#include "Apperror.h"
#include "Dialogs.h"
#include "Floatimage.h"
#include "Forms.h"
#include "Phaseshiftmoire.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>

const char* const kSameDimensionsMessage = "Data having the same dimensions can be loaded";

namespace {

// The extension of path (from its last dot after the last slash) in upper case.
std::string UpperExtension(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    std::string ext = path.substr(dot);
    for (char& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return ext;
}

}  // namespace

const char* FloatPlaneName(int code)
{
    switch (code) {
    case kPhaseCode: return "Phase";
    case kUnwrappedPhaseCode: return "Unwrapped Phase";
    case kConvertResultCode: return "Convert Result";
    default: return "unknown";
    }
}

void CombinePlane(float* current, const float* loaded, size_t n, int operation)
{
    switch (operation) {
    case kLoadAssign:
        std::memcpy(current, loaded, n * sizeof(float));
        break;
    case kLoadSubtract:
        for (size_t i = 0; i < n; ++i) current[i] = current[i] - loaded[i];
        break;
    case kLoadAdd:
        for (size_t i = 0; i < n; ++i) current[i] = current[i] + loaded[i];
        break;
    default:
        throw EAppError("Unknown loading operation " + std::to_string(operation));
    }
}

void OutputFloatPlane(const TPhaseShiftMoire& project, int code, const std::string& path)
{
    float* plane = project.FloatPlane(code);
    if (!plane || project.Pixels() == 0)
        throw EAppError(std::string("The current project has no ") + FloatPlaneName(code) +
                        " data to output");
    const TFloatImage map(plane, project.Width(), project.Height());
    map.SaveToFile(path);
}

bool LoadFloatPlane(TPhaseShiftMoire& project, int code, const std::string& path,
                    int operation)
{
    const std::string ext = UpperExtension(path);
    if (ext != ".FLT" && ext != ".PSM") return false;
    if (operation < kLoadAssign || operation > kLoadAdd)
        throw EAppError("Unknown loading operation " + std::to_string(operation));
    float* current = project.FloatPlane(code);
    if (!current || project.Pixels() == 0)
        throw EAppError(std::string("The current project has no ") + FloatPlaneName(code) +
                        " data to combine with");

    std::unique_ptr<TFloatImage> map;
    std::unique_ptr<TPhaseShiftMoire> other;
    const float* loaded = nullptr;
    if (ext == ".FLT") {
        map.reset(new TFloatImage(path));
        if (map->Width() != project.Width() || map->Height() != project.Height())
            throw EAppError(kSameDimensionsMessage);
        loaded = map->Data();
    } else {
        other.reset(new TPhaseShiftMoire(path));
        other->LoadFromFile(path);
        if (other->Width() != project.Width() || other->Height() != project.Height())
            throw EAppError(kSameDimensionsMessage);
        loaded = other->FloatPlane(code);
        if (!loaded)
            throw EAppError("The project file " + path + " holds no " + FloatPlaneName(code) +
                            " data: nothing was loaded");
    }
    CombinePlane(current, loaded, project.Pixels(), operation);
    project.SetModified(true);
    project.UpdatePresenceFlags();
    return true;
}

TDataExchangeForm::TDataExchangeForm(QWidget* owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("DataExchangeForm"));
    setWindowTitle(QStringLiteral("Data Exchange"));

    auto* layout = new QVBoxLayout(this);
    auto* object = new QGroupBox(QStringLiteral("Operating Object"), this);
    auto* objectLayout = new QVBoxLayout(object);
    PhaseRadioButton = new QRadioButton(QStringLiteral("Phase"), object);
    PhaseRadioButton->setObjectName(QStringLiteral("PhaseRadioButton"));
    UnwrappedPhaseRadioButton = new QRadioButton(QStringLiteral("Unwrapped Phase"), object);
    UnwrappedPhaseRadioButton->setObjectName(QStringLiteral("UnwrappedPhaseRadioButton"));
    ConvertResultRadioButton = new QRadioButton(QStringLiteral("Convert Result"), object);
    ConvertResultRadioButton->setObjectName(QStringLiteral("ConvertResultRadioButton"));
    objectLayout->addWidget(PhaseRadioButton);
    objectLayout->addWidget(UnwrappedPhaseRadioButton);
    objectLayout->addWidget(ConvertResultRadioButton);
    PhaseRadioButton->setChecked(true);

    LoadingOperationRadioGroup = new TRadioGroup(
        QStringLiteral("Loading Operation"),
        {QStringLiteral("Current = Loading"), QStringLiteral("Current - Loading"),
         QStringLiteral("Current + Loading")},
        1, this);
    LoadingOperationRadioGroup->setObjectName(QStringLiteral("LoadingOperationRadioGroup"));
    LoadingOperationRadioGroup->SetItemIndex(kLoadAssign);

    auto* top = new QHBoxLayout;
    top->addWidget(object);
    top->addWidget(LoadingOperationRadioGroup);
    layout->addLayout(top);

    auto* buttons = new QHBoxLayout;
    OutputBitBtn = new QPushButton(QStringLiteral("Output"), this);
    OutputBitBtn->setObjectName(QStringLiteral("OutputBitBtn"));
    LoadBitBtn = new QPushButton(QStringLiteral("Load"), this);
    LoadBitBtn->setObjectName(QStringLiteral("LoadBitBtn"));
    CloseBitBtn = new QPushButton(QStringLiteral("Close"), this);
    CloseBitBtn->setObjectName(QStringLiteral("CloseBitBtn"));
    buttons->addWidget(OutputBitBtn);
    buttons->addWidget(LoadBitBtn);
    buttons->addWidget(CloseBitBtn);
    layout->addLayout(buttons);

    connect(OutputBitBtn, &QPushButton::clicked, this, [this] { RunGuarded([this] { OutputBitBtnClick(); }); });
    connect(LoadBitBtn, &QPushButton::clicked, this, [this] { RunGuarded([this] { LoadBitBtnClick(); }); });
    connect(CloseBitBtn, &QPushButton::clicked, this, [this] { done(mrCancel); });
}

void TDataExchangeForm::SetProject(TPhaseShiftMoire* project)
{
    project_ = project;
    PhaseRadioButton->setEnabled(project && project->FloatPlane(kPhaseCode));
    UnwrappedPhaseRadioButton->setEnabled(project && project->FloatPlane(kUnwrappedPhaseCode));
    ConvertResultRadioButton->setEnabled(project && project->FloatPlane(kConvertResultCode));
}

int TDataExchangeForm::ChosenCode() const
{
    if (PhaseRadioButton->isChecked()) return kPhaseCode;
    if (UnwrappedPhaseRadioButton->isChecked()) return kUnwrappedPhaseCode;
    return kConvertResultCode;
}

void TDataExchangeForm::OutputBitBtnClick()
{
    if (!project_) throw EAppError("No project is open");
    TFileDialog dialog(true);
    dialog.Filter = QStringLiteral("Float Data File(*.flt)|*.flt|All Files(*.*)|*.*");
    dialog.FilterIndex = 1;
    if (!dialog.Execute()) return;
    OutputFloatPlane(*project_, ChosenCode(), dialog.FileName.toStdString());
}

void TDataExchangeForm::LoadBitBtnClick()
{
    if (!project_) throw EAppError("No project is open");
    TFileDialog dialog(false);
    dialog.Filter = QStringLiteral(
        "PhaseShift File(*.psm)|*.psm|Float Data File(*.flt)|*.flt|All Files(*.*)|*.*");
    dialog.FilterIndex = 2;
    if (!dialog.Execute()) return;
    LoadFloatPlane(*project_, ChosenCode(), dialog.FileName.toStdString(),
                   LoadingOperationRadioGroup->ItemIndex());
}
