#include "Projectactions.h"

#include "Apperror.h"
#include "Dialogs.h"
#include "Forms.h"
#include "Main.h"
#include "Mdiimagechild.h"
#include "Phaseshiftmoire.h"
#include "Pleasewait.h"
#include "Quickstart.h"
#include "orb.h"

#include <QFileInfo>
#include <QMdiSubWindow>

#include <cmath>
#include <memory>
#include <vector>

namespace {

const int kResultCodes[3] = {kPhaseCode, kUnwrappedPhaseCode, kConvertResultCode};

TPhaseShiftMoire& RequireProject(TMainForm& f)
{
    if (!f.Project) throw EAppError("No project is open");
    return *f.Project;
}

QString ProjectFileName(const TPhaseShiftMoire& p)
{
    return QFileInfo(QString::fromStdString(p.Name())).fileName();
}

// The project's window for a plane: the one bound to the project (its buffer), else one of
// the title and the project's size; made when there is none.
TMDIImageChildForm* ProjectWindowForShow(TMainForm& f, const QString& title, uint32_t bufferId)
{
    const TPhaseShiftMoire& p = *f.Project;
    if (TMDIImageChildForm* w = FindProjectWindow(f, title, p.Width(), p.Height(), bufferId))
        return w;
    return f.NewImageWindow(title, p.Width(), p.Height());
}

}  // namespace

TMDIImageChildForm* FindProjectWindow(const TMainForm& form, const QString& title, int width, int height,
                                      uint32_t bufferId)
{
    TMDIImageChildForm* sameSize = nullptr;
    for (QMdiSubWindow* child : form.Children()) {
        if (FormTag(child) != kImageWindowTag || child->windowTitle() != title)
            continue;
        auto* image = qobject_cast<TMDIImageChildForm*>(child);
        if (!image || !image->HasBuffer() || image->BytesPerPixel() != 1)
            continue;
        int w = 0, h = 0;
        image->GetImageSize(w, h);
        if (w != width || h != height)
            continue;
        if (bufferId != 0 && image->BufferId == bufferId)
            return image;
        if (!sameSize)
            sameSize = image;
    }
    return sameSize;
}

bool OfferToSaveProject(TMainForm& f)
{
    if (!f.Project || !f.Project->Modified())
        return true;
    const int answer =
        MessageBox("Current file has been modified, Save it ? ", "Confirm", MB_YESNOCANCEL | MB_ICONQUESTION);
    if (answer == mrCancel)
        return false;
    // A save that was cancelled keeps the measurement; one that failed has raised.
    return answer != mrYes || QuickStartSaveActionExecute(f);
}

bool DropProject(TMainForm& f)
{
    if (!f.Project)
        return true;
    if (!OfferToSaveProject(f))
        return false;
    delete f.Project;
    f.Project = nullptr;
    f.RefreshResultViews();
    return true;
}

void QuickStartOpenActionExecute(TMainForm& f)
{
    if (!DropProject(f))
        return;
    f.OpenDialog->FilterIndex = 2;
    if (!f.OpenDialog->Execute())
        return;
    const QString path = f.OpenDialog->FileName;
    TPleaseWaitScope pleaseWait;
    auto project = std::make_unique<TPhaseShiftMoire>("none");
    project->LoadFromFile(path.toStdString());   // the project takes the path as its name
    const QString name = QFileInfo(path).fileName();
    f.NewProjectWindowsOfSize(name, project->Width(), project->Height());
    f.Project = project.release();
    ++f.ProjectCount;
    for (int i = 0; i < kBytePlaneCount; ++i)
        if (const uint8_t* plane = f.Project->BytePlane(i))
            orbBufPut(f.ProjectBufferIds[i], plane);
    f.Project->SetModified(false);
}

void QuickStartCloseActionExecute(TMainForm& f)
{
    DropProject(f);
}

QString RawPlaneWindowTitle(const TMainForm& f, int index)
{
    if (!f.Project || index < 0 || index >= kBytePlaneCount)
        return QString();
    return ProjectFileName(*f.Project) + kBytePlaneSuffix[index];
}

void RawDataShowExecute(TMainForm& f)
{
    TPhaseShiftMoire& p = RequireProject(f);
    const int i = f.RawDataRadioGroup ? f.RawDataRadioGroup->ItemIndex() : -1;
    if (i < 0 || i >= kBytePlaneCount)
        return;
    const uint8_t* plane = p.BytePlane(i);
    if (!plane)
        throw EAppError(QString("The project holds no%1 image").arg(kBytePlaneSuffix[i] + 2).toStdString());
    TMDIImageChildForm* w = ProjectWindowForShow(f, RawPlaneWindowTitle(f, i), f.ProjectBufferIds[i]);
    orbBufPut(w->BufferId, plane);
    w->Repaint();
}

void RawDataUpdateExecute(TMainForm& f)
{
    TPhaseShiftMoire& p = RequireProject(f);
    const int i = f.RawDataRadioGroup ? f.RawDataRadioGroup->ItemIndex() : -1;
    if (i < 0 || i >= kBytePlaneCount)
        return;
    const QString title = RawPlaneWindowTitle(f, i);
    TMDIImageChildForm* w = FindProjectWindow(f, title, p.Width(), p.Height(), f.ProjectBufferIds[i]);
    if (!w) {
        // A window of that title holding another image would overrun or corrupt the plane.
        if (TMDIImageChildForm* other = f.FindImageWindow(title)) {
            int ow = 0, oh = 0;
            other->GetImageSize(ow, oh);
            throw EAppError(QString("The window \"%1\" holds a %2 x %3 image of %4 bits; the project's images are "
                                    "%5 x %6 of 8 bits: nothing was taken.")
                                .arg(title)
                                .arg(ow)
                                .arg(oh)
                                .arg(other->ImageType() & ~ORB_SIGNED)
                                .arg(p.Width())
                                .arg(p.Height())
                                .toStdString());
        }
        return;
    }
    orbBufGet(w->BufferId, p.EnsureBytePlane(i));
    if (i == kObjectPlane)
        p.ComputeMask();
    p.SetModified(true);
    p.UpdatePresenceFlags();
}

int ResultPlaneCode(int item)
{
    return item >= 0 && item < 3 ? kResultCodes[item] : 0;
}

void GreyBytesOfPlane(const float* values, size_t n, uint8_t* out)
{
    double maximum = -1e20, minimum = 1e20;
    for (size_t k = 0; k < n; ++k) {
        const double v = values[k];
        if (!std::isfinite(v)) continue;
        if (v > maximum) maximum = v;
        if (v < minimum) minimum = v;
    }
    double range = maximum - minimum;
    if (range < 0.00001)
        range = 1;
    for (size_t k = 0; k < n; ++k) {
        const double v = values[k];
        if (!std::isfinite(v)) {
            out[k] = 0;
            continue;
        }
        const double g = (v - minimum) * 255.0 / range + 0.5;
        out[k] = static_cast<uint8_t>(g < 0 ? 0 : g > 255 ? 255 : g);
    }
}

void ResultShowExecute(TMainForm& f)
{
    TPhaseShiftMoire& p = RequireProject(f);
    const int code = ResultPlaneCode(f.ResultRadioGroup ? f.ResultRadioGroup->ItemIndex() : -1);
    const float* plane = code ? p.FloatPlane(code) : nullptr;
    if (!plane)
        return;
    const QString title = ProjectFileName(p) + FloatPlaneSuffix(code);
    TMDIImageChildForm* w = ProjectWindowForShow(f, title, 0);
    std::vector<uint8_t> bytes(p.Pixels());
    GreyBytesOfPlane(plane, bytes.size(), bytes.data());
    orbBufPut(w->BufferId, bytes.data());
    w->Repaint();
}
