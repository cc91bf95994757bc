#include "Quickstart.h"

#include <QMdiSubWindow>
#include <QThread>

#include <cstdio>
#include <vector>

#include "Accessregistry.h"
#include "Apperror.h"
#include "Computepara.h"
#include "Configpi.h"
#include "Coordtransfer.h"
#include "Projectinfo.h"
#include "Controlpi.h"
#include "Converttoz.h"
#include "Dialogs.h"
#include "Forms.h"
#include "Main.h"
#include "Mdiimagechild.h"
#include "Numconv.h"
#include "Phaseshiftmoire.h"
#include "Pleasewait.h"
#include "Projectactions.h"
#include "Quickstartcontrolpara.h"
#include "Quickstartnewtype.h"
#include "orb.h"

namespace {

std::function<void(int)>& SettlingSleep()
{
    static std::function<void(int)> sleep;
    return sleep;
}

void Wait(int ms)
{
    if (SettlingSleep())
        SettlingSleep()(ms);
    else if (ms > 0)
        QThread::msleep(static_cast<unsigned long>(ms));
}

// One stage move of the capture. A refused move stops the measurement: the images would
// otherwise be grabbed at the wrong place.
void Move(int axis, double d, bool select)
{
    if (!ControlPIForm) throw EAppError("The stage panel is not available: the measurement is stopped!");
    if (!ControlPIForm->MoveAxis(axis, d, true, select)) {
        const int a = axis >= 1 && axis <= 4 ? axis : 1;
        throw EAppError(ControlPIForm->LastMoveError().toStdString() +
                        "\nThe measurement is stopped; axis " + std::to_string(a) + " stands at" +
                        FormatFixed14(ControlPIForm->CurrentPos[a]).toStdString() + " mm.");
    }
}

}  // namespace

void SetSettlingSleep(std::function<void(int)> sleep) { SettlingSleep() = std::move(sleep); }

bool QuickStartSaveActionExecute(TMainForm& f)
{
    if (!f.Project) return false;
    // The main save dialog on its .psm filter; the project keeps its name.
    TFileDialog& d = *f.SaveDialog;
    d.FilterIndex = 2;
    d.FileName = QString::fromStdString(f.Project->Name());
    if (!d.Execute()) return false;
    f.Project->SaveToFile(d.FileName.toStdString());
    return true;
}

void QuickStartNewActionExecute(TMainForm& f)
{
    // 1. The open project, offered for saving when modified.
    if (!DropProject(f)) return;
    // 2. The type of the new project.
    if (!QuickStartNewTypeForm) throw EAppError("The new-project dialog is not available");
    QuickStartNewTypeForm->NewTypeRadioGroupClick();
    if (ShowModal(*QuickStartNewTypeForm) == mrCancel) return;
    const bool capture = QuickStartNewTypeForm->NewTypeRadioGroup->ItemIndex() == 1;

    // 3-4. The six windows.
    const QString name = "PhaseShiftMoire - " + QString::number(f.ProjectCount);
    int width = 0, height = 0;
    if (!f.NewProjectWindows(name, width, height)) return;

    TPleaseWaitScope pleaseWait;

    // 6. The project.
    auto* project = new TPhaseShiftMoire(name.toStdString());
    f.Project = project;
    project->AllocBytePlanes(width, height);
    ++f.ProjectCount;

    const OrbId* ids = f.ProjectBufferIds;
    if (capture) {
        f.ControlPara = ReadControlPara();
        const TControlPara& c = f.ControlPara;
        if (c.PhaseShiftingMethod != kEqual4Step && c.PhaseShiftingMethod != kConst4Step)
            throw EAppError("Unknown phase shift method " + std::to_string(c.PhaseShiftingMethod) +
                            ": choose \"Equal 4 Step\" or \"Const 4 Step\"!");
        if (!(c.ProjectGratingFrequency > 0))
            throw EAppError("The project grating frequency must be above 0!");
        const double step = c.PhaseShiftingMethod == kEqual4Step
                                ? double(c.PhaseShiftingAngle) * 1000.0 / c.ProjectGratingFrequency
                                : 250.0 / c.ProjectGratingFrequency;
        const int axis = c.PhaseShiftAxis;
        const bool same = c.PhaseShiftMoireChannel == c.ViewObjectChannel;

        Move(axis, -(4 * step + c.PreMoveDisplace), true);
        if (same) {
            ShowPleaseWait(false);
            ShowMessage(" Push OK to Grab the object Image");
        }
        orbDigSelectInput(f.DigitizerId, uint32_t(c.ViewObjectChannel));
        orbDigGrab(f.DigitizerId, ids[kObjectPlane]);
        if (same) {
            ShowMessage(" Push OK to Grab the phase shifting Image");
            ShowPleaseWait(true);
        }
        Move(axis, c.PreMoveDisplace, true);
        Wait(c.WaitingTime);
        orbDigSelectInput(f.DigitizerId, uint32_t(c.PhaseShiftMoireChannel));
        for (int k = 0; k < 4; ++k) {
            Move(axis, step, false);
            if (ControlPIForm) ControlPIForm->repaint();
            Wait(c.WaitingTime);
            orbDigGrab(f.DigitizerId, ids[kStep1Plane + k]);
        }
    }
    // 8-9. The planes from the windows, and the mask.
    for (int i = 0; i < 5; ++i) orbBufGet(ids[i], project->BytePlane(i));
    project->ComputeMask();
    orbBufPut(ids[kMaskPlane], project->BytePlane(kMaskPlane));
    if (capture && f.ControlPara.PhaseShiftMoireChannel == f.ControlPara.ViewObjectChannel) {
        for (int i = 0; i < 5; ++i)
            if (TMDIImageChildForm* w = f.FindImageWindow(name + kBytePlaneSuffix[i])) w->repaint();
    }
    project->SetModified(true);
    project->UpdatePresenceFlags();
}

void QuickStartComputeActionExecute(TMainForm& f)
{
    if (!f.Project) throw EAppError("No project is open");
    if (f.Project->FloatPlane(kPhaseCode) &&
        MessageBox("Phase already exist, Re-Compute it? ", "Confirm", MB_YESNO | MB_ICONQUESTION) == mrNo)
        return;
    f.Project->ComputePhase();
    f.Project->SetModified(true);
    f.Project->UpdatePresenceFlags();
}

void QuickStartUnwrapActionExecute(TMainForm& f)
{
    if (!f.Project) throw EAppError("No project is open");
    if (f.Project->FloatPlane(kUnwrappedPhaseCode) &&
        MessageBox("Phase already unwrapped, Re-Unwrap it? ", "Confirm", MB_YESNO | MB_ICONQUESTION) == mrNo)
        return;
    TPleaseWaitScope pleaseWait;
    const uint8_t* maskBefore = f.Project->BytePlane(kMaskPlane);
    f.Project->UnwrapPhase();
    // The unwrapping marks the pixels it could not measure in a new mask plane: the mask
    // window shows that mask, so that taking the window back keeps the marks.
    const TPhaseShiftMoire& p = *f.Project;
    if (const uint8_t* mask = p.BytePlane(kMaskPlane); mask && mask != maskBefore)
        if (TMDIImageChildForm* w = FindProjectWindow(f, RawPlaneWindowTitle(f, kMaskPlane), p.Width(), p.Height(),
                                                      f.ProjectBufferIds[kMaskPlane])) {
            orbBufPut(w->BufferId, mask);
            w->Repaint();
        }
    f.Project->SetModified(true);
    f.Project->UpdatePresenceFlags();
}

void QuickStartConvertActionExecute(TMainForm& f)
{
    if (!f.Project) throw EAppError("No project is open");
    if (f.Project->FloatPlane(kUnwrappedPhaseCode) &&
        MessageBox("Are you sure to Convert ? ", "Confirm", MB_YESNO | MB_ICONQUESTION) == mrNo)
        return;
    ConvertToZ(*f.Project);
    f.Project->SetModified(true);
    f.Project->UpdatePresenceFlags();
    f.RefreshResultViews();
}

void AddQuickStartActions(TMainForm& f)
{
    TActionList* list = f.MainFormActionList;
    TMainForm* form = &f;
    auto always = [](TAction& a) { a.setEnabled(true); };
    list->Add("QuickStart", "Convert to Z", QKeySequence(), [form] { QuickStartConvertActionExecute(*form); },
                     [form](TAction& a) { a.setEnabled(form->Project && form->Project->FloatPlane(kUnwrappedPhaseCode)); });
    list->Add("QuickStart", "Unwrap", QKeySequence(), [form] { QuickStartUnwrapActionExecute(*form); },
                     [form](TAction& a) { a.setEnabled(form->Project && form->Project->FloatPlane(kPhaseCode)); });
    list->Add("QuickStart", "Compute", QKeySequence(), [form] { QuickStartComputeActionExecute(*form); },
                     [form](TAction& a) { a.setEnabled(form->Project != nullptr); });
    list->Add("QuickStart", "Save", QKeySequence(), [form] { QuickStartSaveActionExecute(*form); },
                     [form](TAction& a) { a.setEnabled(form->Project && form->Project->Modified()); });
    list->Add("QuickStart", "New", QKeySequence(), [form] { QuickStartNewActionExecute(*form); }, always);

    list->Add("Option", "Motor Control", QKeySequence(), [] {
        if (ControlPIForm) ControlPIForm->show();
    }, [](TAction& a) { a.setEnabled(ControlPIForm && !ControlPIForm->isVisible()); });
    list->Add("Option", "PI Config", QKeySequence(), [form] {
        TConfigPIForm dialog(form);
        ShowModal(dialog);
    }, always);
    list->Add("Config", "Control Parameters", QKeySequence(), [form] {
        TQuickStartControlParaForm dialog(form);
        dialog.Execute();
    }, always);
    list->Add("Config", "Compute Parameters", QKeySequence(), [form] {
        TQuickStartComputeParaForm dialog(form->Project, form);
        dialog.Execute();
    }, always);
    list->Add("Config", "Convert Parameters", QKeySequence(), [form] {
        TQuickStartConvertParaForm dialog(form);
        dialog.Execute();
    }, always);
    list->Add("Config", "Coord. Transfer Parameters", QKeySequence(), [form] {
        TCoordTransferForm dialog(form);
        dialog.Execute();
    }, always);
    list->Add("Config", "Lens Parameters", QKeySequence(), [form] {
        TLensParametersForm dialog(form);
        dialog.Execute();
    }, always);
    list->Add("QuickStart", "Current Project File Info", QKeySequence(), [form] {
        if (!form->Project) throw EAppError("No project is open");
        TPhaseShiftMoire& p = *form->Project;
        TCurrentPsmInfoForm dialog(form);
        dialog.ShowHeader(&p.Header(), QString::fromStdString(p.Name()) + "(" + QString::number(p.Width()) + "," +
                                           QString::number(p.Height()) + ")");
        ShowModal(dialog);
        if (dialog.Modified()) {
            p.SetModified(true);
            p.UpdatePresenceFlags();
            form->RefreshResultViews();
        }
    }, [form](TAction& a) { a.setEnabled(form->Project != nullptr); });

    // The long project computations show the please-wait box.
    TPhaseShiftMoire::SetPleaseWait([](bool visible) { ShowPleaseWait(visible); });
}
