// The result views in the running program: their commands, their enabled states, and no
// view keeping a plane the project replaced or freed.
#include "main_fixture.h"

#include "Dataexchange.h"
#include "Phaseshiftmoire.h"
#include "Show2d.h"
#include "Show3d.h"
#include "Showdata.h"
#include "Showprofile.h"
#include "Surfacedataoutput.h"

#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

#include <unistd.h>

#include <fstream>
#include <memory>

namespace {

class ResultViews : public FrameTest {
protected:
    void SetUp() override
    {
        FrameTest::SetUp();
        StartWithBoard(7);
    }
    void TearDown() override
    {
        delete MainForm->Project;
        MainForm->Project = nullptr;
        FrameTest::TearDown();
    }
    // A W x H project: Object 200 on the left half, 10 on the right (masked with threshold
    // 100), heights x + 100 y, Origin Z 0.5.
    TPhaseShiftMoire* MakeProject(int w = 64, int h = 48)
    {
        auto* p = new TPhaseShiftMoire("proj");
        p->AllocBytePlanes(w, h);
        uint8_t* object = p->BytePlane(kObjectPlane);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) object[y * w + x] = x < w / 2 ? 200 : 10;
        p->Header().ThresholdAuto = 0;
        p->Header().Threshold = 100;
        p->Header().OriginZ = 0.5;
        p->Header().Zcf = 50;
        p->Header().Zc = 100;
        p->ComputeMask();
        std::unique_ptr<float[]> heights(new float[size_t(w * h)]);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) heights[size_t(y * w + x)] = float(x + 100 * y);
        p->SetFloatPlane(kConvertResultCode, std::move(heights));
        MainForm->Project = p;
        return p;
    }
    static TAction* Action(const char* caption)
    {
        TAction* a = MainForm->MainFormActionList->Find(caption);
        EXPECT_NE(a, nullptr) << caption;
        return a;
    }
    static bool Enabled(const char* caption)
    {
        TAction* a = Action(caption);
        a->Update();
        return a->isEnabled();
    }
    static void Run(const char* caption)
    {
        TAction* a = Action(caption);
        a->Update();
        ASSERT_TRUE(a->isEnabled()) << caption;
        a->Execute();
    }
};

TEST_F(ResultViews, CommandsAreEnabledByTheirPlanesAndTheMapView)
{
    for (const char* c : {"2D Color map", "3D Color map", "Surface Data Output", "Data Exchange",
                          "Display Data", "Profile"})
        EXPECT_FALSE(Enabled(c)) << c;
    TPhaseShiftMoire* p = MakeProject();
    EXPECT_TRUE(Enabled("2D Color map"));
    EXPECT_TRUE(Enabled("3D Color map"));
    EXPECT_TRUE(Enabled("Surface Data Output"));
    EXPECT_FALSE(Enabled("Data Exchange"));   // needs the Phase plane
    EXPECT_FALSE(Enabled("Display Data"));    // needs the 2D view shown
    p->SetFloatPlane(kPhaseCode, std::unique_ptr<float[]>(new float[p->Pixels()]()));
    EXPECT_TRUE(Enabled("Data Exchange"));
    Run("2D Color map");
    EXPECT_TRUE(Show2DForm->isVisible());
    EXPECT_TRUE(Enabled("Display Data"));
    EXPECT_TRUE(Enabled("Profile"));
    Run("Profile");
    EXPECT_TRUE(ShowProfileForm->isVisible());
}

TEST_F(ResultViews, ViewsShowTheProjectMap)
{
    MakeProject();
    Run("2D Color map");
    Run("Display Data");
    Run("3D Color map");
    EXPECT_TRUE(Show2DForm->HasData());
    EXPECT_EQ(Show2DForm->Range().Max, 31.0f + 4700.0f + 0.5f);   // the valid left half
    EXPECT_EQ(Show2DForm->MinColorLabel->text(), "0.500     ");
    EXPECT_EQ(Show2DForm->ColorImage->Picture.pixel(250, 100), qRgb(255, 255, 255));   // masked
    EXPECT_EQ(ShowDataForm->Cell(3, 3), "101.500   ");   // pixel (1, 1): 1 + 100 + 0.5
    EXPECT_EQ(Show3DForm->HoriHighLabel->text(), "64");
    EXPECT_TRUE(Show3DForm->HasData());
}

TEST_F(ResultViews, ViewsAreRefreshedAfterTheMaskIsRecomputed)
{
    TPhaseShiftMoire* p = MakeProject();
    Run("2D Color map");
    Run("Display Data");
    Run("3D Color map");
    Run("Profile");

    // Everything valid now: the old mask array is freed by ComputeMask.
    std::fill(p->BytePlane(kObjectPlane), p->BytePlane(kObjectPlane) + p->Pixels(), uint8_t(200));
    p->ComputeMask();
    EXPECT_FALSE(Show2DForm->HasData());
    EXPECT_FALSE(Show3DForm->HasData());
    EXPECT_FALSE(ShowDataForm->HasData());
    // Reading out and dragging before the views are reloaded touch no freed plane.
    Show2DForm->ColorImageMouseMove(250, 100);
    EXPECT_EQ(ShowDataForm->Cell(3, 3), " --- ");
    Show2DForm->UpImageMouseDown(Qt::LeftButton, 5, 5);
    Show2DForm->UpImageMouseMove(9, 5);
    Show2DForm->UpImageMouseUp(5, 5);
    Show3DForm->SpeedButton1Click();

    QCoreApplication::processEvents();
    EXPECT_TRUE(Show2DForm->HasData());
    EXPECT_TRUE(Show3DForm->HasData());
    EXPECT_TRUE(ShowDataForm->HasData());
    EXPECT_EQ(Show2DForm->Range().Max, 63.0f + 4700.0f + 0.5f);
    EXPECT_NE(Show2DForm->ColorImage->Picture.pixel(250, 100), qRgb(255, 255, 255));
    Show2DForm->ColorImageMouseMove(250, 100);
    EXPECT_EQ(ShowDataForm->Cell(3, 3), "1649.500  ");   // (49, 16): 49 + 1600 + 0.5
    EXPECT_TRUE(dialogs.Boxes().empty());
}

TEST_F(ResultViews, ViewsFollowANewHeightMap)
{
    TPhaseShiftMoire* p = MakeProject(32, 16);
    Run("2D Color map");
    Run("3D Color map");
    std::unique_ptr<float[]> flat(new float[p->Pixels()]);
    std::fill(flat.get(), flat.get() + p->Pixels(), 7.0f);
    p->SetFloatPlane(kConvertResultCode, std::move(flat));
    EXPECT_FALSE(Show2DForm->HasData());
    QCoreApplication::processEvents();
    EXPECT_EQ(Show2DForm->Range().Max, 7.5f);
    EXPECT_EQ(Show2DForm->Range().Min, 7.5f);
    EXPECT_EQ(Show3DForm->Range().Max, 7.5f);

    // A plane dropped: the views keep no pointer and show nothing new.
    p->SetFloatPlane(kConvertResultCode, nullptr);
    QCoreApplication::processEvents();
    EXPECT_FALSE(Show2DForm->HasData());
    EXPECT_FALSE(Show3DForm->HasData());
    Show2DForm->ColorImageMouseMove(10, 10);
}

TEST_F(ResultViews, ClosingTheProjectHidesTheViews)
{
    MakeProject();
    Run("2D Color map");
    Run("Display Data");
    Run("Profile");
    Run("3D Color map");
    delete MainForm->Project;
    MainForm->Project = nullptr;
    EXPECT_FALSE(Show2DForm->HasData());
    EXPECT_FALSE(ShowDataForm->HasData());
    QCoreApplication::processEvents();
    EXPECT_FALSE(Show2DForm->isVisible());
    EXPECT_FALSE(Show3DForm->isVisible());
    EXPECT_FALSE(ShowDataForm->isVisible());
    EXPECT_FALSE(ShowProfileForm->isVisible());
}

TEST_F(ResultViews, DataExchangeRefreshesTheViews)
{
    TPhaseShiftMoire* p = MakeProject(8, 4);
    p->SetFloatPlane(kPhaseCode, std::unique_ptr<float[]>(new float[p->Pixels()]()));
    Run("2D Color map");
    QCoreApplication::processEvents();
    char tmpl[] = "/tmp/views_refresh.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string file = std::string(tmpl) + "/map.flt";
    OutputFloatPlane(*p, kConvertResultCode, file);

    // The operator loads the map onto itself with "+": every height doubles.
    dialogs.AnswerModal([&](QDialog& d) {
        auto& form = dynamic_cast<TDataExchangeForm&>(d);
        form.ConvertResultRadioButton->setChecked(true);
        form.LoadingOperationRadioGroup->SetItemIndex(kLoadAdd);
        dialogs.AnswerFile(QString::fromStdString(file));
        form.LoadBitBtnClick();
        return int(mrCancel);
    });
    Run("Data Exchange");
    EXPECT_EQ(p->FloatPlane(kConvertResultCode)[3 * 8 + 3], 2.0f * (3 + 300));
    EXPECT_TRUE(p->Modified());
    EXPECT_EQ(Show2DForm->Range().Max, 2.0f * (3 + 300) + 0.5f);
    std::remove(file.c_str());
    rmdir(tmpl);
}

TEST_F(ResultViews, SurfaceDataOutputWritesTheProjectMap)
{
    MakeProject(4, 3);
    char tmpl[] = "/tmp/views_surface.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    QDir::setCurrent(tmpl);
    dialogs.AnswerModal([](QDialog& d) {
        auto& form = dynamic_cast<TSurfaceDataOutputForm&>(d);
        form.FileNameEdit->setText("out.sur");
        form.SampleRowEdit->setText("3");
        form.SampleColEdit->setText("2");
        form.BitBtn1Click();
        return form.result();
    });
    Run("Surface Data Output");
    const std::string path = std::string(tmpl) + "/out.sur";
    std::ifstream in(path, std::ios::binary);
    std::string first;
    std::getline(in, first);
    EXPECT_EQ(first, "  3   2\r");
    ASSERT_EQ(dialogs.Modals().size(), 1u);
    EXPECT_EQ(dialogs.Modals()[0].Title, "Surface Data Output");
    std::remove(path.c_str());
    rmdir(tmpl);
}

}  // namespace

int main(int argc, char** argv) { return RunGuiTests(argc, argv); }
