// The main window's commands on image and notes windows: what each does and when its
// Update rule enables it.

#include "imagewindow_fixture.h"
#include "../fuzz/namedpipe.h"

#include "Apperror.h"
#include "Format.h"
#include "Imagebuffercontrol.h"
#include "Mditextchild.h"
#include "Rawoption.h"
#include "Realtimesubtract.h"

#include <QComboBox>
#include <QLineEdit>
#include <QMdiArea>
#include <QMenu>
#include <QThread>
#include <QToolBar>

namespace {

TAction* Act(const char* caption)
{
    TAction* a = MainForm->MainFormActionList->Find(caption);
    EXPECT_NE(a, nullptr) << caption;
    return a;
}

bool Enabled(const char* caption)
{
    TAction* a = Act(caption);
    if (!a)
        return false;
    a->Update();
    return a->isEnabled();
}

QStringList Texts(const QWidget* w)
{
    QStringList out;
    for (const QAction* a : w->actions())
        out << (a->isSeparator() ? QString("-") : a->text());
    return out;
}

}  // namespace

TEST_F(ImageWindowTest, ActionsHaveTheirCaptionsCategoriesAndShortcuts)
{
    StartWithBoard(btSorvik);
    struct Row {
        const char* caption;
        const char* category;
        QKeySequence shortcut;
    } rows[] = {
        {"&New Image", "File", QKeySequence(Qt::CTRL | Qt::Key_N)},
        {"New Notes", "File", QKeySequence()},
        {"&Open Image", "File", QKeySequence(Qt::CTRL | Qt::Key_O)},
        {"&Load Image", "File", QKeySequence(Qt::CTRL | Qt::Key_L)},
        {"Open Notes", "File", QKeySequence()},
        {"&Save", "File", QKeySequence(Qt::CTRL | Qt::Key_S)},
        {"Save &As...", "File", QKeySequence()},
        {"Zoom +", "View", QKeySequence()},
        {"Zoom -", "View", QKeySequence()},
        {"Original Size", "View", QKeySequence()},
        {"Refresh", "View", QKeySequence()},
        {"Single Grab", "Capture", QKeySequence()},
        {"Display Camera", "Capture", QKeySequence()},
        {"Freeze Camera", "Capture", QKeySequence()},
        {"Image Size", "Image", QKeySequence()},
        {"Invert", "Image", QKeySequence()},
    };
    for (const Row& r : rows) {
        TAction* a = Act(r.caption);
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->Category, r.category) << r.caption;
        EXPECT_EQ(a->shortcut(), r.shortcut) << r.caption;
    }
    const QStringList file = Texts(MainForm->FileMenu);
    const int n = int(file.indexOf("&New Image"));
    ASSERT_GE(n, 0);
    EXPECT_EQ(file.mid(n, 3), (QStringList{"&New Image", "New Notes", "-"}));
    EXPECT_EQ(file.mid(n + 3, 5), (QStringList{"&Open Image", "&Load Image", "Open Notes", "&Save", "Save &As..."}));
    // "&Save" has no handler and stays disabled whatever is open.
    EXPECT_FALSE(Enabled("&Save"));
    MainForm->NewNotesWindow("Notes 0");
    EXPECT_FALSE(Enabled("&Save"));
    EXPECT_EQ(file.last(), "E&xit");
    EXPECT_EQ(Texts(MainForm->ToolBar1).mid(0, 5),
              (QStringList{"&New Image", "New Notes", "&Open Image", "Open Notes", "Save &As..."}));
    const QStringList bar3 = Texts(MainForm->ToolBar3);
    EXPECT_EQ(bar3.mid(bar3.indexOf("Zoom -"), 4), (QStringList{"Zoom -", "Original Size", "Zoom +", "Refresh"}));
}

TEST_F(ImageWindowTest, NewImageAndNewNotesAreTitledByTheirCounts)
{
    StartWithBoard(btSorvik);
    dialogs.AnswerModal(mrOk);
    Act("&New Image")->Execute();
    dialogs.AnswerModal(mrOk);
    Act("&New Image")->Execute();
    dialogs.AnswerModal(mrCancel);
    Act("&New Image")->Execute();
    Act("New Notes")->Execute();
    const std::vector<QMdiSubWindow*> c = Children();
    ASSERT_EQ(c.size(), 3u);
    EXPECT_EQ(c[0]->windowTitle(), "Buffer 0");
    EXPECT_EQ(c[1]->windowTitle(), "Buffer 1");
    EXPECT_EQ(c[2]->windowTitle(), "Notes 0");
    EXPECT_EQ(MainForm->ImageWindowCount, 2);
    EXPECT_EQ(MainForm->NotesWindowCount, 1);
}

TEST_F(ImageWindowTest, OpenImageMakesAWindowTitledByTheFullPath)
{
    StartWithBoard(btSorvik);
    TMDIImageChildForm* source = Window(40, 30);
    Put(source, Pattern(40, 30));
    source->SaveToFile(Path("img.tif"));
    source->close();

    dialogs.AnswerFile(Path("img.tif"));
    Act("&Open Image")->Execute();
    ASSERT_EQ(dialogs.FileRequests().size(), 1u);
    const TFileDialogRequest r = dialogs.FileRequests()[0];
    EXPECT_FALSE(r.Save);
    EXPECT_EQ(r.Filter, "All support Files(*.bmp, *.tif, *.oim, *.raw)|*.bmp;*.tif;*.oim;*.raw|Bitmaps (*.bmp)|*.bmp|"
                        "Tiff Files(*.tif)|*.tif|Raw Files(*.raw)|*.raw|ORB files(*.oim)|*.oim");
    ASSERT_EQ(Children().size(), 1u);
    auto* w = qobject_cast<TMDIImageChildForm*>(Children()[0]);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->windowTitle(), Path("img.tif"));
    EXPECT_EQ(w->ClientSize(), QSize(40, 30));
    EXPECT_EQ(Pixels(w), Pattern(40, 30));
    EXPECT_EQ(MainForm->ImageWindowCount, 1);

    // Cancelled: nothing.
    dialogs.CancelFile();
    Act("&Open Image")->Execute();
    EXPECT_EQ(Children().size(), 1u);
}

TEST_F(ImageWindowTest, OpenImageOfAFileThatIsNoImageReportsOnlyTheLibrarysError)
{
    StartWithBoard(btSorvik);
    MainForm->EnsureImaging();
    QFile text(Path("notes.tif"));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("These are notes, not a picture.\n");
    text.close();
    const size_t errorsBefore = orbsim::errorCount();
    const size_t buffersBefore = orbsim::bufferCount();

    dialogs.AnswerFile(Path("notes.tif"));
    Act("&Open Image")->Execute();
    ASSERT_EQ(orbsim::errorCount(), errorsBefore + 1);
    const auto error = orbsim::lastError();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->function, "orbBufRestore");
    // One box: the library's own report, and nothing about memory.
    ASSERT_EQ(dialogs.Boxes().size(), 1u);
    EXPECT_EQ(dialogs.Boxes()[0].Text.section('\n', 0, 1),
              QString::fromStdString(error->function + "\n" + error->message));
    EXPECT_FALSE(dialogs.Boxes()[0].Text.contains("memory", Qt::CaseInsensitive));
    EXPECT_TRUE(Children().empty());
    EXPECT_EQ(MainForm->ImageWindowCount, 0);
    EXPECT_EQ(orbsim::bufferCount(), buffersBefore);

    // A real image opens afterwards as usual.
    TMDIImageChildForm* source = Window(6, 4);
    source->SaveToFile(Path("ok.bmp"));
    source->close();
    dialogs.AnswerFile(Path("ok.bmp"));
    Act("&Open Image")->Execute();
    EXPECT_EQ(Children().size(), 1u);
    EXPECT_EQ(dialogs.Boxes().size(), 1u);
}

TEST_F(ImageWindowTest, OpenImageOfARawFileCancelledMakesNoWindow)
{
    StartWithBoard(btSorvik);
    QFile raw(Path("r.raw"));
    ASSERT_TRUE(raw.open(QIODevice::WriteOnly));
    raw.write(QByteArray(12, '\2'));
    raw.close();
    dialogs.AnswerFile(Path("r.raw"));
    dialogs.AnswerModal(mrCancel);
    Act("&Open Image")->Execute();
    EXPECT_TRUE(Children().empty());
    EXPECT_EQ(MainForm->ImageWindowCount, 0);

    dialogs.AnswerFile(Path("r.raw"));
    dialogs.AnswerModal([](QDialog& d) {
        auto& f = dynamic_cast<TRawOptionForm&>(d);
        f.Button4Click();   // 12 bytes: 4 x 3
        return int(mrOk);
    });
    Act("&Open Image")->Execute();
    ASSERT_EQ(Children().size(), 1u);
    auto* w = qobject_cast<TMDIImageChildForm*>(Children()[0]);
    int width = 0, height = 0;
    w->GetImageSize(width, height);
    EXPECT_EQ(width, 4);
    EXPECT_EQ(height, 3);
    EXPECT_EQ(Pixels(w), std::vector<uint8_t>(12, 2));
}

TEST_F(ImageWindowTest, LoadImageWithoutChildrenOpensAndOtherwiseLoadsIntoTheActiveWindow)
{
    StartWithBoard(btSorvik);
    TMDIImageChildForm* source = Window(8, 6);
    Put(source, Pattern(8, 6));
    source->SaveToFile(Path("p.bmp"));
    source->close();

    dialogs.AnswerFile(Path("p.bmp"));
    Act("&Load Image")->Execute();
    ASSERT_EQ(Children().size(), 1u);   // as "&Open Image"
    auto* w = qobject_cast<TMDIImageChildForm*>(Children()[0]);
    Put(w, std::vector<uint8_t>(48, 0));

    dialogs.AnswerFile(Path("p.bmp"));
    Act("&Load Image")->Execute();
    EXPECT_EQ(Children().size(), 1u);
    EXPECT_EQ(Pixels(w), Pattern(8, 6));

    // With a notes window active nothing is loaded.
    MainForm->show();
    TMDITextChildForm* notes = MainForm->NewNotesWindow("Notes 0");
    MainForm->MdiArea->setActiveSubWindow(notes);
    dialogs.Clear();
    Act("&Load Image")->Execute();
    EXPECT_TRUE(dialogs.FileRequests().empty());
}

TEST_F(ImageWindowTest, SaveAsSavesTheActiveWindowUnderItsName)
{
    StartWithBoard(btSorvik);
    MainForm->show();
    EXPECT_FALSE(Enabled("Save &As..."));
    TMDIImageChildForm* w = Window(8, 6);
    w->setWindowTitle("/somewhere/else/shot.tif");
    MainForm->MdiArea->setActiveSubWindow(w);
    EXPECT_TRUE(Enabled("Save &As..."));
    Put(w, Pattern(8, 6));
    dialogs.AnswerFile(Path("out.raw"));
    Act("Save &As...")->Execute();
    ASSERT_EQ(dialogs.FileRequests().size(), 1u);
    const TFileDialogRequest r = dialogs.FileRequests()[0];
    EXPECT_TRUE(r.Save);
    EXPECT_EQ(r.FileName, "shot.tif");
    EXPECT_EQ(r.DefaultExt, "BMP");
    EXPECT_TRUE(r.OverwritePrompt);
    EXPECT_EQ(ReadAllBytes(Path("out.raw")), QByteArray(reinterpret_cast<const char*>(Pattern(8, 6).data()), 48));

    TMDITextChildForm* notes = MainForm->NewNotesWindow("Notes 0");
    notes->SetLines({"a", "b"});
    MainForm->MdiArea->setActiveSubWindow(notes);
    dialogs.AnswerFile(Path("n.dat"));
    Act("Save &As...")->Execute();
    ASSERT_EQ(dialogs.FileRequests().size(), 2u);
    EXPECT_EQ(dialogs.FileRequests()[1].FileName, "Notes 0");
    EXPECT_EQ(dialogs.FileRequests()[1].Filter,
              "Notes Files(*.dat)|*.dat|PhaseShift File(*.psm)|*.psm|Float Data File(*.flt)|*.flt|All Files(*.*)|*.*");
    EXPECT_EQ(ReadAllBytes(Path("n.dat")), QByteArray("a\nb\n"));
}

TEST_F(ImageWindowTest, OpenNotesLoadsIntoANewCountedWindow)
{
    StartWithBoard(btSorvik);
    QFile f(Path("n.dat"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("first\nsecond\n");
    f.close();
    dialogs.AnswerFile(Path("n.dat"));
    Act("Open Notes")->Execute();
    ASSERT_EQ(dialogs.FileRequests().size(), 1u);
    EXPECT_EQ(dialogs.FileRequests()[0].FilterIndex, 1);
    EXPECT_EQ(dialogs.FileRequests()[0].Filter,
              "Notes Files(*.dat)|*.dat|Phase Shift Moire File(*.psm)|*.psm|All Files(*.*)|*.*");
    ASSERT_EQ(Children().size(), 1u);
    auto* n = qobject_cast<TMDITextChildForm*>(Children()[0]);
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(n->windowTitle(), Path("n.dat"));
    EXPECT_EQ(n->Lines(), (QStringList{"first", "second"}));
    EXPECT_EQ(MainForm->NotesWindowCount, 1);

    // A file that cannot be read makes no window.
    dialogs.AnswerFile(Path("gone.dat"));
    try {
        Act("Open Notes")->OnExecute();
        FAIL() << "no exception";
    } catch (const EAppError& e) {
        EXPECT_EQ(e.Message().rfind("Cannot open file", 0), 0u);
    }
    EXPECT_EQ(Children().size(), 1u);
    EXPECT_EQ(MainForm->NotesWindowCount, 1);
}

TEST_F(ImageWindowTest, OpenNotesOfANamedPipeIsRefusedAtOnceAndMakesNoWindow)
{
    StartWithBoard(btSorvik);
    const QString pipe = Path("pipe.dat");
    ASSERT_TRUE(qsrf_test::MakeNamedPipe(pipe.toStdString()));
    dialogs.AnswerFile(pipe);
    const std::string message = ReadPipeOnGuiThread(pipe.toStdString(), [&]() -> std::string {
        try {
            Act("Open Notes")->OnExecute();
            return "accepted";
        } catch (const EAppError& e) {
            return e.Message();
        }
    });
    EXPECT_EQ(message, "Cannot open file \"" + pipe.toStdString() + "\". It is a named pipe, not a regular file.");
    EXPECT_TRUE(Children().empty());
    EXPECT_EQ(MainForm->NotesWindowCount, 0);
}

TEST_F(ImageWindowTest, OpenImageOfANamedPipeIsRefusedAtOnceAndMakesNoWindow)
{
    StartWithBoard(btSorvik);
    const QString pipe = Path("pipe.raw");
    ASSERT_TRUE(qsrf_test::MakeNamedPipe(pipe.toStdString()));
    dialogs.AnswerFile(pipe);
    const std::string message = ReadPipeOnGuiThread(pipe.toStdString(), [&]() -> std::string {
        try {
            Act("&Open Image")->OnExecute();
            return "accepted";
        } catch (const EAppError& e) {
            return e.Message();
        }
    });
    EXPECT_EQ(message, "Cannot open file \"" + pipe.toStdString() + "\". It is a named pipe, not a regular file.");
    EXPECT_TRUE(dialogs.Modals().empty()) << "the raw dialog was shown";
    EXPECT_TRUE(Children().empty());

    // Any other extension goes to the library, which refuses the pipe with its own report,
    // and nothing is claimed about memory.
    const QString tif = Path("pipe.tif");
    ASSERT_TRUE(qsrf_test::MakeNamedPipe(tif.toStdString()));
    dialogs.AnswerFile(tif);
    const size_t errorsBefore = orbsim::errorCount();
    EXPECT_EQ(ReadPipeOnGuiThread(tif.toStdString(), [&]() -> std::string {
                  Act("&Open Image")->OnExecute();
                  return "returned";
              }),
              "returned");
    ASSERT_EQ(orbsim::errorCount(), errorsBefore + 1);
    EXPECT_EQ(orbsim::lastError()->function, "orbBufRestore");
    EXPECT_EQ(orbsim::lastError()->message, "File access error");
    ASSERT_EQ(dialogs.Boxes().size(), 1u);
    EXPECT_TRUE(dialogs.Boxes()[0].Text.contains("named pipe")) << dialogs.Boxes()[0].Text.toStdString();
    EXPECT_FALSE(dialogs.Boxes()[0].Text.contains("memory", Qt::CaseInsensitive));
    EXPECT_TRUE(Children().empty());
    EXPECT_EQ(MainForm->ImageWindowCount, 0);
}

TEST_F(ImageWindowTest, ZoomActionsFollowTheActiveImageWindow)
{
    StartWithBoard(btSorvik);
    MainForm->show();
    EXPECT_FALSE(Enabled("Zoom +"));
    EXPECT_FALSE(Enabled("Zoom -"));
    EXPECT_FALSE(Enabled("Original Size"));
    EXPECT_FALSE(Enabled("Invert"));
    EXPECT_FALSE(Enabled("Image Size"));
    TMDIImageChildForm* w = Window(64, 48);
    MainForm->MdiArea->setActiveSubWindow(w);
    EXPECT_TRUE(Enabled("Zoom +"));
    EXPECT_TRUE(Enabled("Zoom -"));
    EXPECT_FALSE(Enabled("Original Size"));   // already 1:1
    Act("Zoom +")->Execute();
    EXPECT_EQ(w->ZoomX, 2);
    EXPECT_TRUE(Enabled("Original Size"));
    Act("Original Size")->Execute();
    EXPECT_EQ(w->ZoomX, 1);
    EXPECT_EQ(w->ZoomY, 1);
    w->SetZoom(16, 16);
    EXPECT_FALSE(Enabled("Zoom +"));
    Act("Zoom -")->Execute();
    EXPECT_EQ(w->ZoomX, 15);
    w->SetZoom(-16, -16);
    EXPECT_FALSE(Enabled("Zoom -"));
    EXPECT_TRUE(Enabled("Zoom +"));
    // A notes window active: no image command.
    TMDITextChildForm* notes = MainForm->NewNotesWindow("Notes 0");
    MainForm->MdiArea->setActiveSubWindow(notes);
    EXPECT_FALSE(Enabled("Zoom +"));
    EXPECT_FALSE(Enabled("Invert"));
}

TEST_F(ImageWindowTest, RefreshIsOnlyForTheDoubleScreenKind)
{
    StartWithBoard(btDrevanSingle);
    MainForm->show();
    MainForm->MdiArea->setActiveSubWindow(Window(8, 8));
    EXPECT_FALSE(Enabled("Refresh"));
    MainForm->BoardTypeComboBox->setCurrentIndex(btDrevanDouble);
    MainForm->BoardTypeComboBoxChange();
    EXPECT_FALSE(Enabled("Refresh"));   // no image window any more
    TMDIImageChildForm* w = Window(2, 1);
    MainForm->MdiArea->setActiveSubWindow(w);
    EXPECT_TRUE(Enabled("Refresh"));
    Put(w, {9, 8});
    Act("Refresh")->Execute();
    EXPECT_EQ(qRed(w->DrevanImage->Picture.pixel(1, 0)), 8);
}

TEST_F(ImageWindowTest, InvertAndImageSizeWorkOnTheActiveWindow)
{
    StartWithBoard(btSorvik);
    MainForm->show();
    TMDIImageChildForm* w = Window(64, 48);
    MainForm->MdiArea->setActiveSubWindow(w);
    Act("Invert")->Execute();
    EXPECT_EQ(Pixels(w), std::vector<uint8_t>(64 * 48, 255));
    Act("Image Size")->Execute();
    ASSERT_EQ(dialogs.Boxes().size(), 1u);
    EXPECT_EQ(dialogs.Boxes()[0].Text, "Image Size is \n Width: 64, Height: 48");
}

TEST_F(ImageWindowTest, GrabActionsRunTheCameraIntoTheActiveWindow)
{
    StartWithBoard(btSorvik);
    MainForm->show();
    EXPECT_TRUE(Enabled("Single Grab"));      // no children: makes one
    EXPECT_TRUE(Enabled("Display Camera"));
    EXPECT_FALSE(Enabled("Freeze Camera"));

    dialogs.AnswerModal([](QDialog& d) {
        auto& f = dynamic_cast<TImageBufferControlForm&>(d);
        f.SizeXEdit->setText("64");
        f.SizeYEdit->setText("48");
        return int(mrOk);
    });
    Act("Single Grab")->Execute();
    ASSERT_EQ(Children().size(), 1u);
    auto* w = qobject_cast<TMDIImageChildForm*>(Children()[0]);
    EXPECT_EQ(w->windowTitle(), "Buffer 0");
    MainForm->MdiArea->setActiveSubWindow(w);
    EXPECT_EQ(orbsim::digitizerState(MainForm->DigitizerId)->framesGrabbed, 1u);
    const std::vector<uint8_t> grabbed = Pixels(w);
    EXPECT_NE(grabbed, std::vector<uint8_t>(grabbed.size(), 0));   // the camera's picture

    orbsim::clearCallLog();
    Act("Display Camera")->Execute();
    EXPECT_TRUE(w->Live);
    EXPECT_TRUE(orbsim::digitizerState(MainForm->DigitizerId)->live);
    EXPECT_FALSE(Enabled("Display Camera"));
    EXPECT_TRUE(Enabled("Freeze Camera"));
    const std::string d = Format("0x%x", MainForm->DigitizerId);
    EXPECT_EQ(LogOf("orbDig"), (std::vector<std::string>{"orbDigStopGrab(" + d + ")",
                                                          "orbDigSelectInput(" + d + ", 0x20000000)",
                                                          "orbDigGrabLive(" + d + ", " + Format("0x%x", w->BufferId) + ")"}));
    Act("Freeze Camera")->Execute();
    EXPECT_FALSE(w->Live);
    EXPECT_FALSE(orbsim::digitizerState(MainForm->DigitizerId)->live);
    EXPECT_FALSE(Enabled("Freeze Camera"));

    // A live worker disables the grabs into image windows.
    QThread* idle = QThread::create([] {
        while (!QThread::currentThread()->isInterruptionRequested())
            QThread::msleep(1);
    });
    RealTimeSubtractControlSSForm->Worker = idle;
    idle->start();
    EXPECT_FALSE(Enabled("Single Grab"));
    EXPECT_FALSE(Enabled("Display Camera"));
    idle->requestInterruption();
    idle->wait();
    delete idle;
    RealTimeSubtractControlSSForm->Worker = nullptr;
    EXPECT_TRUE(Enabled("Single Grab"));
    EXPECT_EQ(orbsim::errorCount(), 0u);
}

TEST_F(ImageWindowTest, GrabActionsNeedADigitizer)
{
    StartWithBoard(btNoBoardVGA);
    EXPECT_FALSE(Enabled("Single Grab"));
    EXPECT_FALSE(Enabled("Display Camera"));
    EXPECT_FALSE(Enabled("Freeze Camera"));
}

int main(int argc, char** argv) { return RunGuiTests(argc, argv); }
