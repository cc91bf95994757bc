#include "Liveactions.h"

#include "Apperror.h"
#include "Controldrevan.h"
#include "Controlhalcyra.h"
#include "Controllumbra.h"
#include "Controlsorvik.h"
#include "Controlsorvik2.h"
#include "Dialogs.h"
#include "Format.h"
#include "Histogram.h"
#include "Imagecalculation.h"
#include "Main.h"
#include "Mdiimagechild.h"
#include "Modifyimage.h"
#include "Realtimemultiply.h"
#include "Realtimesubtract.h"

#include <QComboBox>
#include <QMdiSubWindow>
#include <QPointer>

#include <memory>
#include <vector>

TDigitizerPanelForm* DigitizerPanelOfKind(int boardKind)
{
    switch (boardKind) {
    case btSorvik: return ControlSorvikForm;
    case btSorvik2: return ControlSorvik2Form;
    case btDrevanSingle:
    case btDrevanDouble: return ControlDrevanForm;
    case btLumbra: return ControlLumbraForm;
    case btHalcyra: return ControlHalcyraForm;
    default: return nullptr;
    }
}

namespace {

bool AnyPanelVisible()
{
    for (QWidget* panel : std::initializer_list<QWidget*>{ControlSorvikForm, ControlSorvik2Form, ControlDrevanForm,
                                                          ControlLumbraForm, ControlHalcyraForm})
        if (panel && panel->isVisible())
            return true;
    return false;
}

void Require8Bit(TMDIImageChildForm& w)
{
    if (w.BytesPerPixel() != 1)
        throw EAppError(Format("The calculation works on 8-bit images only: \"%s\" has %u bits per pixel",
                               w.windowTitle().toLocal8Bit().constData(), w.ImageType() & ~ORB_SIGNED));
}

}  // namespace

void ImageCalculationExecute(TMainForm& main)
{
    TMDIImageChildForm* active = main.ActiveImageWindow();
    if (!active)
        return;
    int width = 0, height = 0;
    active->GetImageSize(width, height);
    std::unique_ptr<TImageCalculationForm> form(new TImageCalculationForm(&main));
    // The windows behind the list items, in child order: an item chooses its own window
    // even where two windows share a caption.
    std::vector<QPointer<TMDIImageChildForm>> sources;
    for (QMdiSubWindow* child : main.Children()) {
        if (FormTag(child) != kImageWindowTag)
            continue;
        auto* image = qobject_cast<TMDIImageChildForm*>(child);
        if (!image || !image->HasBuffer())
            continue;
        int w = 0, h = 0;
        image->GetImageSize(w, h);
        if (w != width || h != height)
            continue;
        form->Source1ComboBox->addItem(image->windowTitle());
        form->Source2ComboBox->addItem(image->windowTitle());
        sources.push_back(image);
    }
    if (ShowModal(*form) != mrOk)
        return;
    const int i1 = form->Source1ComboBox->currentIndex();
    const int i2 = form->Source2ComboBox->currentIndex();
    const int operation = form->OperationComboBox->currentIndex();
    form.reset();
    if (i1 < 0 || i2 < 0 || i1 >= int(sources.size()) || i2 >= int(sources.size()))
        return;
    TMDIImageChildForm* a = sources[size_t(i1)];
    TMDIImageChildForm* b = sources[size_t(i2)];
    if (!a || !b || width <= 0 || height <= 0)
        return;
    Require8Bit(*a);
    Require8Bit(*b);
    const size_t n = size_t(width) * size_t(height);
    std::vector<uint8_t> pa(n), pb(n);
    orbBufGet(a->BufferId, pa.data());
    orbBufGet(b->BufferId, pb.data());
    CalculateImages(operation, pa.data(), pb.data(), pa.data(), n);
    TMDIImageChildForm* result = main.NewImageWindow("Result", width, height);
    orbBufPut(result->BufferId, pa.data());
    result->Repaint();
}

void HistogramExecute(TMainForm& main)
{
    TMDIImageChildForm* active = main.ActiveImageWindow();
    if (!active)
        return;
    int32_t bins[256] = {};
    active->CountHistogram(bins);
    std::unique_ptr<THistogramForm> form(new THistogramForm(&main, bins, bins, bins, bins));
    ShowModal(*form);
}

TLiveActions AddLiveActions(TMainForm& main)
{
    TActionList* list = main.MainFormActionList;
    TMainForm* m = &main;
    TLiveActions out;

    out.RealTimeSubtract = list->Add(
        "Capture", "Real Time Subtract", QKeySequence(),
        [m] {
            m->EnsureImaging();
            if (RealTimeMultiplyControlSSForm)
                RealTimeMultiplyControlSSForm->hide();
            if (RealTimeSubtractControlSSForm)
                RealTimeSubtractControlSSForm->show();
        },
        [m](TAction& a) {
            a.setEnabled(RealTimeSubtractControlSSForm && RealTimeSubtractControlSSForm->isHidden() &&
                         m->BoardHasDigitizer());
        });
    out.RealTimeMultiply = list->Add(
        "Capture", "Real Time Multiply", QKeySequence(),
        [m] {
            m->EnsureImaging();
            if (RealTimeSubtractControlSSForm)
                RealTimeSubtractControlSSForm->hide();
            if (RealTimeMultiplyControlSSForm)
                RealTimeMultiplyControlSSForm->show();
        },
        [m](TAction& a) {
            a.setEnabled(RealTimeMultiplyControlSSForm && RealTimeMultiplyControlSSForm->isHidden() &&
                         m->BoardHasDigitizer());
        });
    out.Control = list->Add(
        "Capture", "Control", QKeySequence(),
        [m] {
            if (TDigitizerPanelForm* panel = DigitizerPanelOfKind(m->BoardType))
                panel->show();
        },
        [m](TAction& a) {
            const bool imageOrNone = m->Children().empty() || m->ActiveImageWindow();
            a.setEnabled(!AnyPanelVisible() && imageOrNone && m->BoardHasDigitizer());
        });

    auto imageActive = [m](TAction& a) { a.setEnabled(m->ActiveImageWindow() != nullptr); };
    out.Calculation =
        list->Add("Image", "Calculation...", QKeySequence(), [m] { ImageCalculationExecute(*m); }, imageActive);
    out.Histogram = list->Add("Image", "Histogram", QKeySequence(), [m] { HistogramExecute(*m); }, imageActive);
    out.ModifyImage = list->Add(
        "Image", "Modify Image", QKeySequence(),
        [] {
            if (ModifyImageForm)
                ModifyImageForm->show();
        },
        [m](TAction& a) {
            a.setEnabled(m->ActiveImageWindow() != nullptr && ModifyImageForm && ModifyImageForm->isHidden());
        });

    for (TAction* a : {out.RealTimeSubtract, out.RealTimeMultiply, out.Control, out.Calculation, out.Histogram,
                       out.ModifyImage})
        a->Update();
    return out;
}
