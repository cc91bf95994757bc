// The image dialogs: the buffer dialog, the raw-file options with "&Swap" and "&Guess", and
// the board-selection dialog.

#include "imagewindow_fixture.h"
#include "../fuzz/namedpipe.h"

#include "Apperror.h"
#include "Forms.h"
#include "Imagebuffercontrol.h"
#include "Rawoption.h"
#include "Selectboardtype.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>

namespace {

// A file of the given size in the scratch directory.
QString FileOfSize(const QString& path, qint64 size)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return QString();
    f.write(QByteArray(int(size), '\x5a'));
    return path;
}

QStringList LabelTexts(const QWidget& w)
{
    QStringList out;
    for (const QLabel* l : w.findChildren<QLabel*>())
        out << l->text();
    return out;
}

}  // namespace

// ---- buffer dialog ----------------------------------------------------------------------------

TEST_F(ImageWindowTest, BufferDialogDefaultsAndTexts)
{
    StartWithBoard(btSorvik);
    TImageBufferControlForm f;
    EXPECT_EQ(f.windowTitle(), "ImageBufferControlForm");
    EXPECT_EQ(f.SizeXEdit->text(), "768");
    EXPECT_EQ(f.SizeYEdit->text(), "576");
    EXPECT_EQ(f.SizeBitEdit->text(), "8");
    EXPECT_EQ(f.SizeBandEdit->text(), "1");
    EXPECT_TRUE(f.UnsignedRadioButton->isChecked());
    EXPECT_FALSE(f.SignedRadioButton->isChecked());
    EXPECT_EQ(f.UnsignedRadioButton->text(), "Unsigned");
    EXPECT_EQ(f.ProcCheckBox->text(), "For processing");
    EXPECT_EQ(f.GrabCheckBox->text(), "For grabbing");
    EXPECT_EQ(f.DispCheckBox->text(), "For display");
    EXPECT_TRUE(f.ProcCheckBox->isChecked());
    EXPECT_TRUE(f.DispCheckBox->isChecked());
    EXPECT_TRUE(f.OKButton->isDefault());
    const QStringList labels = LabelTexts(f);
    for (const char* l : {"Size X", "Size Y", "Size ( bit )", "Number of Byte"})
        EXPECT_TRUE(labels.contains(l)) << l;
    const auto* tabs = f.findChild<QTabWidget*>();
    ASSERT_NE(tabs, nullptr);
    EXPECT_EQ(tabs->tabText(0), "Image Buffer");
    // The buttons give the modal results 1 and 2.
    f.OKButton->click();
    EXPECT_EQ(f.result(), mrOk);
    f.CancelButton->click();
    EXPECT_EQ(f.result(), mrCancel);
}

TEST_F(ImageWindowTest, BufferDialogKeepsWhatWasTypedWhenAValueIsNoNumber)
{
    StartWithBoard(btSorvik);
    struct Seen {
        int resultAfterBadOk = -1;
        QString sizeX, sizeY, bits;
        bool boxWhileOpen = false;
    } seen;
    dialogs.AnswerModal([&](QDialog& d) {
        auto& f = dynamic_cast<TImageBufferControlForm&>(d);
        f.SizeXEdit->setText("64");
        f.SizeYEdit->setText("4o");
        f.SizeBitEdit->setText("8");
        f.OKButton->click();
        seen.resultAfterBadOk = f.result();
        seen.sizeX = f.SizeXEdit->text();
        seen.sizeY = f.SizeYEdit->text();
        seen.bits = f.SizeBitEdit->text();
        seen.boxWhileOpen = dialogs.Boxes().size() == 1;
        // Mended, OK closes the dialog.
        f.SizeYEdit->setText("40");
        f.OKButton->click();
        return f.result();
    });
    ASSERT_TRUE(MainForm->NewImageWindowByDialog("Buffer 0"));
    EXPECT_EQ(seen.resultAfterBadOk, 0);   // still open
    EXPECT_EQ(seen.sizeX, "64");
    EXPECT_EQ(seen.sizeY, "4o");
    EXPECT_EQ(seen.bits, "8");
    EXPECT_TRUE(seen.boxWhileOpen);
    ASSERT_EQ(dialogs.Boxes().size(), 1u);
    EXPECT_EQ(dialogs.Boxes()[0].Text, "'4o' is not a valid integer value");
    ASSERT_EQ(Children().size(), 1u);
    int width = 0, height = 0;
    qobject_cast<TMDIImageChildForm*>(Children()[0])->GetImageSize(width, height);
    EXPECT_EQ(width, 64);
    EXPECT_EQ(height, 40);
}

TEST_F(ImageWindowTest, BufferDialogNamesOnlyTheFirstBadValue)
{
    StartWithBoard(btSorvik);
    TImageBufferControlForm f;
    f.SizeBitEdit->setText("eight");
    f.SizeBandEdit->setText("");
    f.OKButton->click();
    EXPECT_EQ(f.result(), 0);
    ASSERT_EQ(dialogs.Boxes().size(), 1u);
    EXPECT_EQ(dialogs.Boxes()[0].Text, "'eight' is not a valid integer value");
    f.SizeBitEdit->setText("8");
    f.OKButton->click();
    EXPECT_EQ(f.result(), 0);
    ASSERT_EQ(dialogs.Boxes().size(), 2u);
    EXPECT_EQ(dialogs.Boxes()[1].Text, "'' is not a valid integer value");
    // Cancel closes whatever the edits hold.
    f.CancelButton->click();
    EXPECT_EQ(f.result(), mrCancel);
    EXPECT_EQ(dialogs.Boxes().size(), 2u);
}

class GrabBoxRule : public ImageWindowTest, public ::testing::WithParamInterface<int> {};

TEST_P(GrabBoxRule, GrabbingIsOfferedExactlyWithADigitizer)
{
    const int kind = GetParam();
    StartWithBoard(kind);
    const bool digitizer = kind != btNoBoardVGA && kind != btNoBoardHost;
    TImageBufferControlForm f;
    EXPECT_EQ(f.GrabCheckBox->isEnabled(), digitizer);
    EXPECT_EQ(f.GrabCheckBox->isChecked(), digitizer);
    // The other boxes do not depend on the kind.
    EXPECT_TRUE(f.ProcCheckBox->isEnabled() && f.ProcCheckBox->isChecked());
    EXPECT_TRUE(f.DispCheckBox->isEnabled() && f.DispCheckBox->isChecked());
}

INSTANTIATE_TEST_SUITE_P(AllKinds, GrabBoxRule, ::testing::Range(0, 8));

TEST_F(ImageWindowTest, BufferDialogEditsReadAsIntegers)
{
    StartWithBoard(btSorvik);
    TImageBufferControlForm f;
    f.SizeXEdit->setText(" 1024 ");
    f.SizeBitEdit->setText("16");
    f.SizeBandEdit->setText("3");
    EXPECT_EQ(f.SizeX(), 1024);
    EXPECT_EQ(f.Bits(), 16);
    EXPECT_EQ(f.Bands(), 3);
    f.SizeYEdit->setText("4x");
    try {
        f.SizeY();
        FAIL() << "no exception";
    } catch (const EAppError& e) {
        EXPECT_EQ(e.Message(), "'4x' is not a valid integer value");
    }
}

// ---- raw options ------------------------------------------------------------------------------

TEST_F(ImageWindowTest, RawDialogDescribesTheFileAndHasItsDefaults)
{
    const QString path = FileOfSize(Path("frame.raw"), 262144);
    TRawOptionForm f(nullptr, path);
    EXPECT_EQ(f.windowTitle(), "Raw Options");
    EXPECT_EQ(f.FileName, "frame.raw");
    EXPECT_EQ(f.FileSize, 262144);
    EXPECT_EQ(f.DescribeLabel->text(), "Describe: \"frame.raw\"");
    EXPECT_EQ(f.SizeLabel->text(), "( 262144 bytes )");
    EXPECT_EQ(f.WidthEdit->text(), "512");
    EXPECT_EQ(f.HeightEdit->text(), "512");
    EXPECT_EQ(f.ChannelCountEdit->text(), "1");
    EXPECT_EQ(f.HeaderEdit->text(), "0");
    EXPECT_TRUE(f.Bits8RadioButton->isChecked());
    EXPECT_EQ(f.Bits8RadioButton->text(), "8Bits");
    EXPECT_FALSE(f.Bits16RadioButton->isEnabled());
    EXPECT_EQ(f.Bits16RadioButton->text(), "16Bits");
    EXPECT_FALSE(f.RetainCheckBox->isEnabled());
    EXPECT_EQ(f.RetainCheckBox->text(), "Retain When Saving");
    EXPECT_EQ(f.Button3->text(), "&Swap");
    EXPECT_EQ(f.Button4->text(), "&Guess");
    QStringList groups;
    for (const QGroupBox* g : f.findChildren<QGroupBox*>())
        groups << g->title();
    EXPECT_EQ(groups, (QStringList{"   Dimensions   ", "   Channels   ", "   Header   "}));
    f.OKButton->click();
    EXPECT_EQ(f.result(), mrOk);
    f.CancelButton->click();
    EXPECT_EQ(f.result(), mrCancel);
}

TEST_F(ImageWindowTest, GuessGivesTheMostSquareSize)
{
    const QString path = FileOfSize(Path("a.raw"), 262144);
    TRawOptionForm f(nullptr, path);
    f.WidthEdit->setText("1");
    f.HeightEdit->setText("1");
    f.Button4->click();
    EXPECT_EQ(f.WidthEdit->text(), "512");
    EXPECT_EQ(f.HeightEdit->text(), "512");

    // With a header of 262132 bytes n = 12: distances 4, 1, 1; the first 1 wins.
    f.HeaderEdit->setText("262132");
    f.Button4Click();
    EXPECT_EQ(f.WidthEdit->text(), "4");
    EXPECT_EQ(f.HeightEdit->text(), "3");
    f.HeaderEdit->setText("262140");   // n = 4
    f.Button4Click();
    EXPECT_EQ(f.WidthEdit->text(), "2");
    EXPECT_EQ(f.HeightEdit->text(), "2");
}

TEST_F(ImageWindowTest, GuessGoldens)
{
    struct Case {
        int64_t n, width, height;
    } cases[] = {{262144, 512, 512}, {12, 4, 3}, {4, 2, 2}, {6, 3, 2}, {24, 6, 4}, {442368, 768, 576},
                 {1000000, 1000, 1000}, {18, 6, 3}, {9, 3, 3}};
    for (const Case& c : cases) {
        int64_t w = 0, h = 0;
        ASSERT_TRUE(TRawOptionForm::GuessSize(c.n, w, h)) << c.n;
        EXPECT_EQ(w, c.width) << c.n;
        EXPECT_EQ(h, c.height) << c.n;
    }
    for (int64_t n : {int64_t(13), int64_t(3), int64_t(2), int64_t(1), int64_t(0), int64_t(-5), int64_t(7919)}) {
        int64_t w = -1, h = -1;
        EXPECT_FALSE(TRawOptionForm::GuessSize(n, w, h)) << n;
        EXPECT_EQ(w, -1);
    }
}

TEST_F(ImageWindowTest, GuessWithoutADivisorLeavesTheEdits)
{
    const QString path = FileOfSize(Path("p.raw"), 13);
    TRawOptionForm f(nullptr, path);
    f.Button4Click();   // 13 is prime
    EXPECT_EQ(f.WidthEdit->text(), "512");
    EXPECT_EQ(f.HeightEdit->text(), "512");
    f.HeaderEdit->setText("13");   // header as large as the file
    f.Button4Click();
    f.HeaderEdit->setText("100");  // larger
    f.Button4Click();
    EXPECT_EQ(f.WidthEdit->text(), "512");
    EXPECT_EQ(f.HeightEdit->text(), "512");
    f.HeaderEdit->setText("x");
    try {
        f.Button4Click();
        FAIL() << "no exception";
    } catch (const EAppError& e) {
        EXPECT_EQ(e.Message(), "'x' is not a valid integer value");
    }
}

TEST_F(ImageWindowTest, SwapExchangesWidthAndHeight)
{
    const QString path = FileOfSize(Path("s.raw"), 10);
    TRawOptionForm f(nullptr, path);
    f.WidthEdit->setText("640");
    f.HeightEdit->setText("480");
    f.Button3Click();
    EXPECT_EQ(f.WidthEdit->text(), "480");
    EXPECT_EQ(f.HeightEdit->text(), "640");
    f.Button3->click();
    EXPECT_EQ(f.WidthEdit->text(), "640");
    EXPECT_EQ(f.HeightEdit->text(), "480");
    // Rewritten in decimal.
    f.WidthEdit->setText(" 0640");
    f.Button3Click();
    EXPECT_EQ(f.HeightEdit->text(), "640");
}

TEST_F(ImageWindowTest, RawDialogOnAFileThatCannotBeOpenedRaises)
{
    try {
        TRawOptionForm f(nullptr, Path("none.raw"));
        FAIL() << "no exception";
    } catch (const EAppError& e) {
        EXPECT_EQ(e.Message().rfind("Cannot open file \"" + Path("none.raw").toStdString() + "\".", 0), 0u)
            << e.Message();
    }
}

TEST_F(ImageWindowTest, RawDialogOnANamedPipeIsRefusedAtOnce)
{
    const QString pipe = Path("pipe.raw");
    ASSERT_TRUE(qsrf_test::MakeNamedPipe(pipe.toStdString()));
    const std::string message = ReadPipeOnGuiThread(pipe.toStdString(), [&]() -> std::string {
        try {
            TRawOptionForm f(nullptr, pipe);
            return "accepted";
        } catch (const EAppError& e) {
            return e.Message();
        }
    });
    EXPECT_EQ(message, "Cannot open file \"" + pipe.toStdString() + "\". It is a named pipe, not a regular file.");
}

// ---- board selection --------------------------------------------------------------------------

TEST_F(ImageWindowTest, BoardSelectionDialogListsTheEightKinds)
{
    TSelectBoardTypeForm f;
    EXPECT_EQ(f.windowTitle(), "Choose Your Image Board");
    EXPECT_EQ(f.BoardInfoRadioGroup->title(), "  Board Info  ");
    const char* items[8] = {"Sorvik", "Sorvik II", "Drevan (Single  Screen Mode)", "Drevan (Double Screen Mode)",
                            "Lumbra", "Halcyra", "No Board (VGA)", "No Board (Host)"};
    ASSERT_EQ(f.BoardInfoRadioGroup->Count(), 8);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(f.BoardInfoRadioGroup->Button(i)->text(), items[i]);
    EXPECT_EQ(f.BoardInfoRadioGroup->ItemIndex(), 2);
}

int main(int argc, char** argv) { return RunGuiTests(argc, argv); }
