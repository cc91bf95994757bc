#include "Imageactions.h"

#include "Apperror.h"
#include "Dialogs.h"
#include "Format.h"
#include "Main.h"
#include "Mdiimagechild.h"
#include "Mditextchild.h"
#include "Realtimemultiply.h"
#include "Realtimesubtract.h"

#include <QFileInfo>
#include <QMdiArea>
#include <QMdiSubWindow>

namespace {

bool NoWorker()
{
    return !(RealTimeSubtractControlSSForm && RealTimeSubtractControlSSForm->ThreadActive()) &&
           !(RealTimeMultiplyControlSSForm && RealTimeMultiplyControlSSForm->ThreadActive());
}

// The image window made from a file and counted; none when its raw dialog was cancelled.
TMDIImageChildForm* OpenImageFile(TMainForm& f, const QString& path)
{
    TMDIImageChildForm* w = TMDIImageChildForm::CreateFromFile(nullptr, path);
    if (!w)
        return nullptr;
    w->setWindowTitle(path);
    w->FitClientToImage();
    w->show();
    ++f.ImageWindowCount;
    return w;
}

void OpenImage(TMainForm& f)
{
    f.EnsureImaging();
    if (!f.OpenPictureDialog->Execute())
        return;
    OpenImageFile(f, f.OpenPictureDialog->FileName);
}

// Clears the live flag of every image window.
void ClearLiveFlags(TMainForm& f)
{
    for (QMdiSubWindow* w : f.Children())
        if (FormTag(w) == kImageWindowTag)
            if (auto* image = qobject_cast<TMDIImageChildForm*>(w))
                image->Live = false;
}

}  // namespace

void AddImageWindowActions(TMainForm& form)
{
    TMainForm* f = &form;
    TActionList* list = f->MainFormActionList;
    auto always = [](TAction& a) { a.setEnabled(true); };
    auto hasChildren = [f](TAction& a) { a.setEnabled(!f->Children().empty()); };
    auto imageActive = [f] { return f->ActiveImageWindow() != nullptr; };

    // ---- File ----
    list->Add("File", "&New Image", QKeySequence(Qt::CTRL | Qt::Key_N), [f] {
        f->NewImageWindowByDialog("Buffer " + QString::number(f->ImageWindowCount));
    }, always);
    list->Add("File", "New Notes", QKeySequence(), [f] {
        f->NewNotesWindow("Notes " + QString::number(f->NotesWindowCount));
    }, always);
    list->Add("File", "&Open Image", QKeySequence(Qt::CTRL | Qt::Key_O), [f] { OpenImage(*f); },
                                   always);
    list->Add("File", "&Load Image", QKeySequence(Qt::CTRL | Qt::Key_L), [f] {
        if (f->Children().empty()) {
            OpenImage(*f);
            return;
        }
        TMDIImageChildForm* w = f->ActiveImageWindow();
        if (!w)
            return;
        if (!f->OpenPictureDialog->Execute())
            return;
        w->LoadFromFile(f->OpenPictureDialog->FileName);
        w->Repaint();
    }, always);
    list->Add("File", "Open Notes", QKeySequence(), [f] {
        f->OpenDialog->FilterIndex = 1;
        if (!f->OpenDialog->Execute())
            return;
        const QString path = f->OpenDialog->FileName;
        // A file that cannot be read makes no window.
        const QStringList lines = ReadNoteLines(path);
        TMDITextChildForm* notes = f->NewNotesWindow("Notes " + QString::number(f->NotesWindowCount));
        notes->SetLines(lines);
        notes->setWindowTitle(path);
    }, always);
    // "&Save" has no handler of its own and is never enabled.
    list->Add("File", "&Save", QKeySequence(Qt::CTRL | Qt::Key_S), {});
    list->Add("File", "Save &As...", QKeySequence(), [f] {
        if (TMDITextChildForm* notes = f->ActiveNotesWindow()) {
            f->SaveDialog->FileName = QFileInfo(notes->windowTitle()).fileName();
            if (f->SaveDialog->Execute())
                notes->SaveToFile(f->SaveDialog->FileName);
        } else if (TMDIImageChildForm* image = f->ActiveImageWindow()) {
            f->SavePictureDialog->FileName = QFileInfo(image->windowTitle()).fileName();
            if (f->SavePictureDialog->Execute())
                image->SaveToFile(f->SavePictureDialog->FileName);
        }
    }, hasChildren);

    // ---- View ----
    list->Add("View", "Zoom +", QKeySequence(), [f] {
        if (TMDIImageChildForm* w = f->ActiveImageWindow())
            w->ZoomIn();
    }, [f](TAction& a) {
        TMDIImageChildForm* w = f->ActiveImageWindow();
        a.setEnabled(w && w->CanZoomIn());
    });
    list->Add("View", "Zoom -", QKeySequence(), [f] {
        if (TMDIImageChildForm* w = f->ActiveImageWindow())
            w->ZoomOut();
    }, [f](TAction& a) {
        TMDIImageChildForm* w = f->ActiveImageWindow();
        a.setEnabled(w && w->CanZoomOut());
    });
    list->Add("View", "Original Size", QKeySequence(), [f] {
        if (TMDIImageChildForm* w = f->ActiveImageWindow())
            w->SetZoom(1, 1);
    }, [f](TAction& a) {
        TMDIImageChildForm* w = f->ActiveImageWindow();
        a.setEnabled(w && !w->IsOriginalSize());
    });
    list->Add("View", "Refresh", QKeySequence(), [f] {
        if (TMDIImageChildForm* w = f->ActiveImageWindow())
            w->Repaint();
    }, [f, imageActive](TAction& a) { a.setEnabled(imageActive() && f->BoardType == btDrevanDouble); });

    // ---- Capture ----
    list->Add("Capture", "Single Grab", QKeySequence(), [f] {
        if (f->Children().empty() && !f->NewImageWindowByDialog("Buffer " + QString::number(f->ImageWindowCount)))
            return;
        TMDIImageChildForm* w = f->ActiveImageWindow();
        if (!w || !w->HasBuffer())
            return;
        orbDigSelectInput(f->DigitizerId, f->CurrentInputChannel());
        orbDigStopGrab(f->DigitizerId);
        orbDigGrab(f->DigitizerId, w->BufferId);
        ClearLiveFlags(*f);
        if (f->BoardType == btDrevanDouble)
            w->Repaint();
    }, [f, imageActive](TAction& a) {
        a.setEnabled((f->Children().empty() || imageActive()) && NoWorker() && f->BoardHasDigitizer());
    });
    list->Add("Capture", "Display Camera", QKeySequence(), [f] {
        if (f->Children().empty() && !f->NewImageWindowByDialog("Buffer " + QString::number(f->ImageWindowCount)))
            return;
        TMDIImageChildForm* w = f->ActiveImageWindow();
        if (!w || !w->HasBuffer())
            return;
        ClearLiveFlags(*f);
        w->Live = true;
        orbDigStopGrab(f->DigitizerId);
        orbDigSelectInput(f->DigitizerId, f->CurrentInputChannel());
        orbDigGrabLive(f->DigitizerId, w->BufferId);
    }, [f](TAction& a) {
        TMDIImageChildForm* w = f->ActiveImageWindow();
        a.setEnabled((f->Children().empty() || (w && NoWorker() && !w->Live)) && f->BoardHasDigitizer());
    });
    list->Add("Capture", "Freeze Camera", QKeySequence(), [f] {
        TMDIImageChildForm* w = f->ActiveImageWindow();
        if (!w || !w->Live)
            return;
        orbDigStopGrab(f->DigitizerId);
        w->Live = false;
        if (f->BoardType == btDrevanDouble)
            w->Repaint();
    }, [f](TAction& a) {
        TMDIImageChildForm* w = f->ActiveImageWindow();
        a.setEnabled(w && NoWorker() && w->Live && f->BoardHasDigitizer());
    });

    // ---- Image ----
    list->Add("Image", "Image Size", QKeySequence(), [f] {
        TMDIImageChildForm* w = f->ActiveImageWindow();
        if (!w)
            return;
        int width = 0, height = 0;
        w->GetImageSize(width, height);
        ShowMessage(QString("Image Size is ") + '\n' + QFormat(" Width: %d, Height: %d", width, height));
    }, [imageActive](TAction& a) { a.setEnabled(imageActive()); });
    list->Add("Image", "Invert", QKeySequence(), [f] {
        if (TMDIImageChildForm* w = f->ActiveImageWindow())
            w->InvertImage();
    }, [imageActive](TAction& a) { a.setEnabled(imageActive()); });
}
