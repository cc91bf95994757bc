// The imaging-library binding's tables, C-locale number texts and the dialogs door.

#include "main_fixture.h"

#include "Apperror.h"
#include "Format.h"
#include "Orbbinding.h"

#include <QDialog>

#include <clocale>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

// Switches the C library's numeric locale to one with a decimal comma for the test's
// lifetime, building it when the system has none installed. Ok() is false when that fails.
class CommaLocale {
public:
    CommaLocale()
    {
        previous_ = std::setlocale(LC_NUMERIC, nullptr);
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8"})
            if (std::setlocale(LC_NUMERIC, name)) {
                ok_ = true;
                return;
            }
        const std::string dir = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") +
                                "/qsrf-test-locales";
        const std::string built = dir + "/de_DE.UTF-8";
        const std::string command = "mkdir -p '" + dir + "' && { test -d '" + built +
                                    "' || localedef -i de_DE -f UTF-8 '" + built + "'; } >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0)
            return;
        setenv("LOCPATH", dir.c_str(), 1);
        ok_ = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
    }
    ~CommaLocale() { std::setlocale(LC_NUMERIC, previous_.c_str()); }
    bool Ok() const { return ok_; }

private:
    std::string previous_;
    bool ok_ = false;
};

std::string Raised(const std::function<void()>& f)
{
    try {
        f();
    } catch (const EAppError& e) {
        return e.Message();
    }
    return "(nothing raised)";
}

}  // namespace

// ---- binding ----------------------------------------------------------------------------------

TEST(OrbBinding, DriverEntryByBoardKind)
{
    EXPECT_EQ(BoardDriverEntry(0), &ORBSVK_orbBoardDriverEntry);
    EXPECT_EQ(BoardDriverEntry(1), &ORBSVK2_orbBoardDriverEntry);
    EXPECT_EQ(BoardDriverEntry(2), &ORBDRV_orbBoardDriverEntry);
    EXPECT_EQ(BoardDriverEntry(3), &ORBDRV_orbBoardDriverEntry);
    EXPECT_EQ(BoardDriverEntry(4), &ORBLMB_orbBoardDriverEntry);
    EXPECT_EQ(BoardDriverEntry(5), &ORBHLC_orbBoardDriverEntry);
    EXPECT_EQ(BoardDriverEntry(6), &ORBVGA_orbBoardDriverEntry);
    EXPECT_EQ(BoardDriverEntry(7), nullptr);
    EXPECT_EQ(BoardDriverEntry(8), nullptr);
    EXPECT_EQ(BoardDriverEntry(-1), nullptr);
}

TEST(OrbBinding, InputChannelCodes)
{
    const uint32_t codes[8] = {0x20000000u, 0x40000000u, 0x80000000u, 0x1000000u,
                               0x2000000u,  0x4000000u,  0x8000000u,  0x200000u};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(InputChannelCode(i), codes[i]) << i;
    EXPECT_EQ(InputChannelCode(8), 0u);
    EXPECT_EQ(InputChannelCode(-1), 0u);
}

TEST(OrbBinding, ErrorTextsOfARecord)
{
    orbsim::reset();
    orbAppSetErrorHook(0x12345, nullptr, nullptr);   // unknown hook type: one sub-message
    const auto e = orbsim::lastError();
    ASSERT_TRUE(e);
    EXPECT_EQ(OrbErrorText(e->id, ORB_ERR_FUNCTION), "orbAppSetErrorHook");
    EXPECT_EQ(OrbErrorText(e->id, ORB_ERR_MESSAGE), e->message);
    EXPECT_EQ(OrbErrorSubMessageCount(e->id), 1);
    EXPECT_EQ(OrbErrorText(e->id, ORB_ERR_SUBMESSAGE1), e->subMessages.at(0));
    // An unknown record gives nothing.
    EXPECT_EQ(OrbErrorText(0x7777, ORB_ERR_MESSAGE), "");
    EXPECT_EQ(OrbErrorSubMessageCount(0x7777), 0);
    orbsim::reset();
}

// ---- numbers ----------------------------------------------------------------------------------

TEST(Format, FixedFormats)
{
    EXPECT_EQ(Format("%10.7f", 3.14159265358979), " 3.1415927");
    EXPECT_EQ(Format("%8.3f", -2.5), "  -2.500");
    EXPECT_EQ(Format("%-10.3f", 1.0), "1.000     ");
    EXPECT_EQ(Format("%14.11f", 0.5), " 0.50000000000");
    EXPECT_EQ(Format("(%3d, %3d)", 7, 42), "(  7,  42)");
    EXPECT_EQ(QFormat("%d x %d", 768, 576), "768 x 576");
    const std::string longText(1000, 'a');
    EXPECT_EQ(Format("%s|%d", longText.c_str(), 5), longText + "|5");
}

TEST(Format, PointWhateverTheLocale)
{
    CommaLocale comma;
    if (!comma.Ok())
        GTEST_SKIP() << "no locale with a decimal comma available";
    char plain[32];
    std::snprintf(plain, sizeof plain, "%.1f", 1.5);
    ASSERT_STREQ(plain, "1,5");   // the C library itself now writes a comma
    EXPECT_EQ(Format("%10.7f", 0.25), " 0.2500000");
    EXPECT_EQ(QFormat("%8.3f", 12.0), "  12.000");
    EXPECT_DOUBLE_EQ(StrToFloat("0.25"), 0.25);
    EXPECT_EQ(Raised([] { StrToFloat("0,25"); }), "'0,25' is not a valid floating point value");
}

TEST(StrToInt, AcceptsDecimalIntegersWithBlanksAround)
{
    EXPECT_EQ(StrToInt("768"), 768);
    EXPECT_EQ(StrToInt("  -12 "), -12);
    EXPECT_EQ(StrToInt("+7"), 7);
    EXPECT_EQ(StrToInt("2147483647"), 2147483647);
    EXPECT_EQ(StrToInt("-2147483648"), -2147483647 - 1);
    EXPECT_EQ(StrToInt(QString(" 576")), 576);
}

TEST(StrToInt, RefusesEverythingElse)
{
    EXPECT_EQ(Raised([] { StrToInt("abc"); }), "'abc' is not a valid integer value");
    EXPECT_EQ(Raised([] { StrToInt(""); }), "'' is not a valid integer value");
    EXPECT_EQ(Raised([] { StrToInt("12a"); }), "'12a' is not a valid integer value");
    EXPECT_EQ(Raised([] { StrToInt("1 2"); }), "'1 2' is not a valid integer value");
    EXPECT_EQ(Raised([] { StrToInt("1.5"); }), "'1.5' is not a valid integer value");
    EXPECT_EQ(Raised([] { StrToInt("-"); }), "'-' is not a valid integer value");
    EXPECT_EQ(Raised([] { StrToInt("2147483648"); }), "'2147483648' is not a valid integer value");
}

TEST(StrToFloat, AcceptsDecimalNumbers)
{
    EXPECT_DOUBLE_EQ(StrToFloat("0.5"), 0.5);
    EXPECT_DOUBLE_EQ(StrToFloat(" -1.25e3 "), -1250.0);
    EXPECT_DOUBLE_EQ(StrToFloat("5."), 5.0);
    EXPECT_DOUBLE_EQ(StrToFloat(".5"), 0.5);
    EXPECT_DOUBLE_EQ(StrToFloat("1E-2"), 0.01);
    EXPECT_DOUBLE_EQ(StrToFloat(Format("%-10.3f", 16.891)), 16.891);   // as an edit shows it
    EXPECT_DOUBLE_EQ(StrToFloat(QString("200")), 200.0);
}

TEST(StrToFloat, RefusesEverythingElse)
{
    for (const char* bad : {"", ".", "e5", "1e", "1e+", "abc", "1,5", "nan", "inf", "0x10", "1e400", "--1"})
        EXPECT_EQ(Raised([bad] { StrToFloat(bad); }),
                  std::string("'") + bad + "' is not a valid floating point value");
}

// ---- dialogs ----------------------------------------------------------------------------------

TEST(Dialogs, FilterPairsBecomeNameFilters)
{
    EXPECT_EQ(QtNameFilters("Notes Files(*.dat)|*.dat|All Files(*.*)|*.*"),
              (QStringList{"Notes Files(*.dat) (*.dat)", "All Files(*.*) (*.*)"}));
    EXPECT_EQ(QtNameFilters("All support Files(*.bmp, *.tif)|*.bmp;*.tif"),
              QStringList{"All support Files(*.bmp, *.tif) (*.bmp *.tif)"});
    EXPECT_TRUE(QtNameFilters("").isEmpty());
    EXPECT_TRUE(QtNameFilters("lonely").isEmpty());
}

TEST_F(FrameTest, FileDialogStartsInTheCurrentDirectoryAndReportsTheChoice)
{
    TFileDialog d(true);
    d.Filter = "A(*.a)|*.a|B(*.b)|*.b";
    d.FilterIndex = 2;
    d.FileName = "proposed.b";
    d.DefaultExt = "b";
    d.OverwritePrompt = true;
    dialogs.AnswerFile("/x/chosen.a", 1);
    ASSERT_TRUE(d.Execute());
    EXPECT_EQ(d.FileName, "/x/chosen.a");
    EXPECT_EQ(d.FilterIndex, 1);
    const auto requests = dialogs.FileRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_TRUE(requests[0].Save);
    EXPECT_EQ(requests[0].InitialDir, QDir::currentPath());
    EXPECT_EQ(requests[0].FilterIndex, 2);
    EXPECT_EQ(requests[0].FileName, "proposed.b");
    EXPECT_EQ(requests[0].DefaultExt, "b");
    EXPECT_TRUE(requests[0].OverwritePrompt);

    // Cancelled: false, and the component keeps its name.
    dialogs.CancelFile();
    EXPECT_FALSE(d.Execute());
    EXPECT_EQ(d.FileName, "/x/chosen.a");
    // Without an answer the dialog is cancelled too.
    EXPECT_FALSE(d.Execute());
}

TEST_F(FrameTest, ScriptedBoxesAnswerInOrderThenWithTheFirstButton)
{
    dialogs.AnswerBox(mrNo);
    EXPECT_EQ(MessageBox("q", "c", MB_YESNO), mrNo);
    EXPECT_EQ(MessageBox("q", "c", MB_YESNO), mrYes);
    EXPECT_EQ(MessageBox("q", "c", MB_OKCANCEL), mrOk);
    ShowMessage("Done");
    const auto boxes = dialogs.Boxes();
    ASSERT_EQ(boxes.size(), 4u);
    EXPECT_EQ(boxes[3].Text, "Done");
    EXPECT_EQ(boxes[3].Caption, "Vistrel 2.0");
    EXPECT_EQ(boxes[3].Flags, MB_OK);
}

TEST_F(FrameTest, ModalFormsAreAnsweredAndRecorded)
{
    QDialog form;
    form.setWindowTitle("Some Dialog");
    dialogs.AnswerModal([](QDialog& d) {
        d.setWindowTitle("changed");
        return int(mrOk);
    });
    EXPECT_EQ(ShowModal(form), mrOk);
    EXPECT_EQ(form.windowTitle(), "changed");
    EXPECT_EQ(ShowModal(form), mrCancel);   // no answer left
    const auto modals = dialogs.Modals();
    ASSERT_EQ(modals.size(), 2u);
    EXPECT_EQ(modals[0].ClassName, "QDialog");
    EXPECT_EQ(modals[0].Title, "Some Dialog");
}

TEST_F(FrameTest, BoxAskedOffTheGuiThreadIsPostedToIt)
{
    int result = -1;
    std::thread t([&] { result = MessageBox("from a worker", "c", MB_OK); });
    t.join();
    EXPECT_EQ(result, mrNone);
    EXPECT_TRUE(dialogs.Boxes().empty());
    QCoreApplication::processEvents();
    const auto boxes = dialogs.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].Text, "from a worker");
    EXPECT_TRUE(boxes[0].OnGuiThread);
}

int main(int argc, char** argv) { return RunGuiTests(argc, argv); }
