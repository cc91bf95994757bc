// Displays and the hardware cursor as a program drives them: a display allocated from a
// VCF file on a board with a display Orlo and display chip, controlled through control
// buffers (buffer selection, pan, zoom, keying, overlay, palette, restart at vertical
// sync), inquired and freed; the cursor loaded, defined, coloured, enabled and placed.
// Through hlclib.h and libhlclib.so only, with the simulated chip and Orlo read back
// through the platform object.
#include "hlclib.h"
#include "libsandbox.h"

#include "boardsim.h"
#include "regmap/display_regs.h"
#include "regmap/orlo_regs.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kNode = 0x11;
constexpr uint32_t kThread = 0x40000010u | (kNode << 16);
constexpr uint32_t kChipCursorPositionOffset = 0x3C0C;   // x + 64 in bits 0-15, y + 64 in 16-31
// The board is the desktop's one screen (display mode 0).
constexpr const char* kDesktopIni = "[Node]\nNodeId=0x11\nSlotNbr=1\nDeviceNbr=0x000d04\nDisplayMode=0\n";

// Control types and inquiry types.
enum : uint32_t {
    kSelect = 13000, kKeyMode = 13001, kKeyMask = 13002, kKeyValue = 13003, kLut = 13004, kFormat = 13005,
    kPanX = 13006, kPanY = 13007, kKeyColour = 13008, kZoom = 13010, kWidth = 13011, kHeight = 13012,
    kMode = 13013, kEnable = 13015,
};

// The built-in arrow as its table gives it: pixel values per row from column 0.
const char* const kArrowRows[21] = {
    "22", "212", "2112", "21112", "211112", "2111112", "21111112", "211111112", "2111111112", "21111111112",
    "211111111112", "2111111222222", "21112112", "21120212", "212002112", "220000212", "2000002112",
    "0000000212", "00000002112", "00000000212", "0000000022",
};

using libsandbox::LastText;

boardsim::BoardSim& Sim()
{
    return boardsim::BoardSim::instance();
}

class DisplayLibTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        box_.write("halcyra.ini", ownScreen_ ? libsandbox::kOwnScreenIni : kDesktopIni);
        box_.write("mode.vcf", libsandbox::Mode640Vcf());
        libsandbox::ConfigureDisplayBoard(ownScreen_);
        uint32_t device = 0;
        ASSERT_NE(imDevAlloc(0, 0, 3, 0, &device), 0u) << LastText();
        device_ = device;
        imAppGetError(1, nullptr);
    }
    void TearDown() override
    {
        if (display_) imDispFree(kThread, display_);
        if (device_) imDevFree(device_);
        Sim().configure();
    }
    static int32_t LastError() { return imAppGetError(0, nullptr); }
    void Allocate(uint32_t mode = 0x10000000u)
    {
        uint32_t display = 0;
        ASSERT_NE(imDispAlloc(kThread, 0, 0, "mode", mode, &display), 0u) << LastText();
        display_ = display;
    }
    static int32_t Inquire(uint32_t display, uint32_t type)
    {
        int32_t out = 0x5A5A5A5A;
        const int32_t value = imDispInquire(kThread, display, type, &out);
        EXPECT_EQ(out, value) << type;
        return value;
    }
    // A control buffer with the given fields, applied with the type; the result.
    int32_t Control(std::initializer_list<std::pair<uint32_t, double>> fields, uint32_t type = 0)
    {
        uint32_t controls = 0;
        EXPECT_NE(imBufAllocControl(kThread, &controls), 0u);
        for (const auto& [key, value] : fields) EXPECT_EQ(imBufPutField(kThread, controls, key, value), 0);
        const int32_t result = imDispControl(kThread, display_, controls, type);
        imBufFree(kThread, controls);
        return result;
    }
    static uint32_t DisplayOrlo(uint32_t offset) { return Sim().orlo(0, true).reg(offset); }
    static uint8_t Crtc(uint8_t index) { return Sim().chip(0).vga(boardsim::VgaGroup::Crtc, index); }

    libsandbox::Sandbox box_{"hlcdisplib"};
    uint32_t device_ = 0;
    uint32_t display_ = 0;
    bool ownScreen_ = true;   // set before SetUp: false, the board is the desktop's screen
};

class DesktopDisplayLibTest : public DisplayLibTest {
protected:
    DesktopDisplayLibTest() { ownScreen_ = false; }
};

TEST_F(DisplayLibTest, AllocationPutsTheFilesModeOnTheChipAndStartsTheVideoPath)
{
    Allocate();
    for (uint8_t i = 0; i < 25; ++i) EXPECT_EQ(Crtc(i), libsandbox::kMode640Crtc[i]) << "CRTC " << int(i);
    // N, M and P|0xF0 of the pixel PLL, as PCLK_(01), PCLK_(00) and PCLK_(02) give them.
    EXPECT_EQ(Sim().chip(0).pll(boardsim::DacPll::Pixel, 0), 52);
    EXPECT_EQ(Sim().chip(0).pll(boardsim::DacPll::Pixel, 1), 48);
    EXPECT_EQ(Sim().chip(0).pll(boardsim::DacPll::Pixel, 2), 0xF1);
    // The video path: running, no zoom, width as pitch, white key colour, start 0.
    EXPECT_EQ(DisplayOrlo(kOrloDisplayControl) & 0xC3u, 0x40u);
    EXPECT_EQ(DisplayOrlo(kOrloMemControl) & 0x80000u, 0x80000u);
    EXPECT_EQ(DisplayOrlo(kOrloDisplayPitch) & 0x1FFFFFu, 640u);
    EXPECT_EQ(DisplayOrlo(kOrloDisplayKey), 0xFFFFFFu);
    EXPECT_EQ(DisplayOrlo(kOrloDisplayStart) & 0x1FFFFFu, 0u);
    // Keying mode 3 for a board with its own screen, one band of 2 MB display memory.
    EXPECT_EQ(Sim().displayKey(0, 2), 3u);
    EXPECT_EQ(Sim().chip(0).dac(0x07), 0xFC);
    EXPECT_EQ(LastError(), 0) << LastText();
}

TEST_F(DisplayLibTest, EveryInquiryAnswersFromTheDisplayState)
{
    Allocate();
    EXPECT_EQ(Inquire(display_, kWidth), 640);
    EXPECT_EQ(Inquire(display_, kHeight), 480);
    EXPECT_EQ(Inquire(display_, kMode), 1);
    EXPECT_EQ(Inquire(display_, kFormat), 0x40000020);
    EXPECT_EQ(Inquire(display_, kKeyMode), 3);
    EXPECT_EQ(Inquire(display_, kKeyMask), 0);
    EXPECT_EQ(Inquire(display_, kKeyValue), 0);
    EXPECT_EQ(Inquire(display_, kPanX), 0);
    EXPECT_EQ(Inquire(display_, kPanY), 0);
    EXPECT_EQ(Inquire(display_, kKeyColour), 0xFFFFFF);
    EXPECT_EQ(Inquire(display_, kZoom), 1);
    EXPECT_EQ(Inquire(display_, kEnable), -9997);
    // Display 0 is the system's first display.
    EXPECT_EQ(Inquire(0, kWidth), 640);
    EXPECT_EQ(LastError(), 0) << LastText();
    // 13009 and 13014 are controls only.
    EXPECT_EQ(Inquire(display_, 13009), 0);
    EXPECT_EQ(LastError(), -8);
    imAppGetError(1, nullptr);
    EXPECT_EQ(Inquire(display_ + 1, kWidth), 0);
    EXPECT_EQ(LastError(), -1);
}

TEST_F(DisplayLibTest, TheSameFileAgainReprogramsNothingUnlessForced)
{
    Allocate();
    ASSERT_EQ(imDispFree(kThread, display_), 0);
    display_ = 0;
    Sim().chip(0).setVga(boardsim::VgaGroup::Crtc, 0x13, 0x77);
    Allocate();
    EXPECT_EQ(Crtc(0x13), 0x77);   // the running mode equals the file's: left alone
    ASSERT_EQ(imDispFree(kThread, display_), 0);
    display_ = 0;
    Allocate(2);
    EXPECT_EQ(Crtc(0x13), libsandbox::kMode640Crtc[0x13]);
}

TEST_F(DisplayLibTest, ANamedFileThatIsNotThereFreesTheDisplayOnlyNoNameIsAnError)
{
    uint32_t display = 7;
    EXPECT_EQ(imDispAlloc(kThread, 0, 0, "absent", 0x10000000u, &display), 0u);
    EXPECT_EQ(display, 0u);
    EXPECT_EQ(LastError(), 0) << LastText();
    imAppGetError(1, nullptr);
    // Without a name and without VCFNAME.
    EXPECT_EQ(imDispAlloc(kThread, 0, 0, nullptr, 0x10000000u, &display), 0u);
    EXPECT_EQ(LastError(), -3);
    EXPECT_EQ(LastText(), "Cannot find file in path");
    imAppGetError(1, nullptr);
    // A board that is no display of the system.
    EXPECT_EQ(imDispAlloc(kThread, 0, 1, "mode", 0x10000000u, &display), 0u);
    EXPECT_EQ(LastError(), -8);
}

TEST_F(DisplayLibTest, ABufferOfDisplayMemorySelectedSetsTheDisplayStart)
{
    Allocate();
    uint32_t frame = 0, child = 0, sdram = 0;
    ASSERT_NE(imBufAlloc(kThread, 640, 480, 1, 8, 0x40000020u, &frame), 0u) << LastText();
    ASSERT_NE(imBufChild(kThread, frame, 16, 4, 320, 240, &child), 0u) << LastText();
    EXPECT_EQ(Control({{kSelect, static_cast<double>(child)}}), 0) << LastText();
    EXPECT_EQ(DisplayOrlo(kOrloDisplayStart) & 0x1FFFFFu, 640u * 4 + 16);
    EXPECT_EQ(Control({{kSelect, static_cast<double>(frame)}}), 0) << LastText();
    EXPECT_EQ(DisplayOrlo(kOrloDisplayStart) & 0x1FFFFFu, 0u);
    // Board memory cannot be shown.
    ASSERT_NE(imBufAlloc(kThread, 64, 64, 1, 8, 1, &sdram), 0u) << LastText();
    EXPECT_EQ(Control({{kSelect, static_cast<double>(sdram)}}), -14);
    imBufFree(kThread, sdram);
    imBufFree(kThread, child);
    imBufFree(kThread, frame);
}

TEST_F(DisplayLibTest, AChildOfTheShownBufferFollowsTheDisplayFormat)
{
    uint32_t child = 0;
    // No display set up yet: nothing is shown.
    EXPECT_EQ(imBufChild(kThread, 2, 0, 0, 64, 32, &child), 0u);
    EXPECT_EQ(LastError(), -1);
    EXPECT_EQ(LastText(), "Display not initialized");
    imAppGetError(1, nullptr);
    Allocate();
    ASSERT_NE(imBufChild(kThread, 2, 8, 4, 64, 32, &child), 0u) << LastText();
    EXPECT_EQ(imBufInquire(kThread, child, 3, nullptr), 64);
    EXPECT_EQ(imBufInquire(kThread, child, 32, nullptr), 8);
    EXPECT_EQ(imBufInquire(kThread, child, 33, nullptr), 4);
    imBufFree(kThread, child);
    // The three-band buffer is not the one shown.
    EXPECT_EQ(imBufChild(kThread, 0x40000030u, 0, 0, 64, 32, &child), 0u);
    EXPECT_EQ(LastError(), -14);
}

TEST_F(DisplayLibTest, PanMovesTheOrloStartAndTheCrtcStart)
{
    Allocate();
    EXPECT_EQ(Control({{kPanX, 32}, {kPanY, 8}}), 0) << LastText();
    EXPECT_EQ(DisplayOrlo(kOrloDisplayStart), 640u * 8 + 32);
    // CRTC start = 640 / 4 x 8 + 32 / 4 = 1288 = 0x508
    EXPECT_EQ(Crtc(0x0C), 0x05);
    EXPECT_EQ(Crtc(0x0D), 0x08);
    EXPECT_EQ(Inquire(display_, kPanX), 32);
    EXPECT_EQ(Inquire(display_, kPanY), 8);
}

TEST_F(DisplayLibTest, ZoomTwoAndFourDivideTheTimingAndSetTheZoomCode)
{
    Allocate();
    EXPECT_EQ(Control({{kZoom, 2}}), 0) << LastText();
    // T' = (0x5F + 5) / 2 = 50, CRTC 0 = 45; D' = 0x50 / 2 - 1 = 39.
    EXPECT_EQ(Crtc(0), 45);
    EXPECT_EQ(Crtc(1), 39);
    EXPECT_EQ(DisplayOrlo(kOrloDisplayControl) & 0x43u, 0x41u);
    EXPECT_EQ(DisplayOrlo(kOrloMemControl) & 0x80000u, 0x80000u);
    EXPECT_EQ(Inquire(display_, kZoom), 2);
    EXPECT_EQ(Control({{kZoom, 4}}), 0) << LastText();
    EXPECT_EQ(Crtc(0), 20);   // 100 / 4 - 5
    EXPECT_EQ(Crtc(1), 19);   // 80 / 4 - 1
    EXPECT_EQ(DisplayOrlo(kOrloDisplayControl) & 0x43u, 0x43u);
    EXPECT_EQ(Inquire(display_, kZoom), 4);
    EXPECT_EQ(Control({{kZoom, 3}}), -8);
    EXPECT_EQ(Inquire(display_, kZoom), 4);
}

TEST_F(DisplayLibTest, KeyingAndOverlay)
{
    Allocate();
    EXPECT_EQ(Control({{kKeyMode, 4}, {kKeyMask, 0x0F}, {kKeyValue, 0x80}}), 0) << LastText();
    EXPECT_EQ(Sim().displayKey(0, 0), 0x80u);
    EXPECT_EQ(Sim().displayKey(0, 1), 0x0Fu);
    EXPECT_EQ(Sim().displayKey(0, 2), 4u);
    EXPECT_EQ(Inquire(display_, kKeyMode), 4);
    EXPECT_EQ(Inquire(display_, kKeyMask), 0x0F);
    EXPECT_EQ(Inquire(display_, kKeyValue), 0x80);
    EXPECT_EQ(Control({{kKeyMode, 4}, {kKeyMask, 0x0F}, {kKeyValue, 256}}), -8);
    EXPECT_EQ(Inquire(display_, kKeyValue), 0x80);
    imAppGetError(1, nullptr);

    EXPECT_EQ(Control({{kEnable, -9999}}), 0) << LastText();
    EXPECT_EQ(Sim().chip(0).dac(0x1E) & 0x20, 0);
    EXPECT_EQ(Sim().chip(0).dac(0x18), 0x47);
    EXPECT_EQ(Inquire(display_, kEnable), -9999);
    EXPECT_EQ(Control({{kEnable, -9997}}), 0) << LastText();
    EXPECT_EQ(Sim().chip(0).dac(0x1E) & 0x20, 0x20);
    EXPECT_EQ(Sim().chip(0).dac(0x18), 0x07);
    EXPECT_EQ(Control({{kEnable, 1}}), -8);

    EXPECT_EQ(Control({{kKeyColour, 0x123456}}), 0) << LastText();
    EXPECT_EQ(DisplayOrlo(kOrloDisplayKey), 0x123456u);
    EXPECT_EQ(Inquire(display_, kKeyColour), 0x123456);
    EXPECT_EQ(Control({{kFormat, 0x40000030}}), 0) << LastText();
    EXPECT_EQ(Sim().chip(0).dac(0x07), 0xE4);
    EXPECT_EQ(Inquire(display_, kFormat), 0x40000030);
    EXPECT_EQ(Control({{kFormat, 0x40000002}}), -8);   // only beside the desktop's screen
}

TEST_F(DisplayLibTest, PaletteFromABufferAndTheGreyRamp)
{
    Allocate();
    uint32_t lut = 0;
    ASSERT_NE(imBufAlloc(kThread, 16, 1, 1, 32, 1, &lut), 0u) << LastText();
    std::vector<uint32_t> entries(16);
    for (uint32_t i = 0; i < 16; ++i) entries[i] = (i * 16) | (255 - i) << 8 | (i * 3) << 16;   // bytes R, G, B
    ASSERT_EQ(imBufPut(kThread, lut, entries.data()), 0);
    Sim().chip(0).setPalette(16, 0xABCDEF);
    EXPECT_EQ(Control({{kLut, static_cast<double>(lut)}}), 0) << LastText();
    for (uint32_t i = 0; i < 16; ++i)
        EXPECT_EQ(Sim().chip(0).palette(static_cast<uint8_t>(i)), (i * 16) << 16 | (255 - i) << 8 | (i * 3)) << i;
    EXPECT_EQ(Sim().chip(0).palette(16), 0xABCDEFu);   // beyond the buffer's 16 entries
    EXPECT_EQ(Control({{kLut, 0}}), 0) << LastText();
    for (uint32_t i = 0; i < 256; i += 17) EXPECT_EQ(Sim().chip(0).palette(static_cast<uint8_t>(i)), i * 0x010101u);
    // A two-band buffer is no palette.
    uint32_t two = 0;
    ASSERT_NE(imBufAlloc(kThread, 16, 1, 2, 8, 1, &two), 0u);
    EXPECT_EQ(Control({{kLut, static_cast<double>(two)}}), -8);
    imBufFree(kThread, two);
    imBufFree(kThread, lut);
}

TEST_F(DisplayLibTest, RestartAtVerticalSyncWaitsForTheLineInterruptAndIsBounded)
{
    Allocate();
    const uint32_t before = Sim().displayLineInterrupts(0);
    EXPECT_EQ(Control({{kPanX, 4}}, 2), 0) << LastText();
    EXPECT_EQ(Sim().displayLineInterrupts(0), before + 1);
    EXPECT_EQ(DisplayOrlo(kOrloDisplayLine) & 0xFFFu, 480u);
    EXPECT_EQ(DisplayOrlo(kOrloDisplayControl) & 0x0Cu, 0u);
    EXPECT_EQ(DisplayOrlo(kOrloDisplayControl) & 0x40u, 0x40u);   // the screen stays on
    // A display whose line interrupt never comes: the wait ends, with an error.
    Sim().setDisplayLineSilent(0, true);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Control({{kPanX, 8}}, 2), -11);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
    EXPECT_EQ(LastText(), "Vertical sync did not come");
    EXPECT_EQ(DisplayOrlo(kOrloDisplayControl) & 0x0Cu, 0u);
}

TEST_F(DisplayLibTest, TheBuiltInArrowFillsTheCursorRamRowByRow)
{
    Allocate();
    void* record = nullptr;
    ASSERT_EQ(imCurAlloc(kThread, 0x10000000u, &record), 0);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(imCurSelect(kThread, nullptr), 0);
    for (uint32_t row = 0; row < 64; ++row) {
        uint8_t plane0[8] = {}, plane1[8] = {};
        if (row < 21)
            for (uint32_t x = 0; kArrowRows[row][x]; ++x) {
                const uint32_t v = static_cast<uint32_t>(kArrowRows[row][x] - '0');
                if (v & 1) plane0[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
                if (v & 2) plane1[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
            }
        for (uint32_t b = 0; b < 8; ++b) {
            ASSERT_EQ(Sim().chip(0).cursorRam(row * 8 + b), plane0[b]) << "plane 0 row " << row << " byte " << b;
            ASSERT_EQ(Sim().chip(0).cursorRam(512 + row * 8 + b), plane1[b]) << "plane 1 row " << row << " byte " << b;
        }
    }
    EXPECT_EQ(Sim().chip(0).cursorColour(1), 0xFFFFFFu);
    EXPECT_EQ(Sim().chip(0).cursorColour(2), 0u);
    EXPECT_EQ(Sim().chip(0).cursorColour(3), 0u);
    EXPECT_EQ(Sim().chip(0).dac(0x32), 0);   // hot spot
    EXPECT_EQ(Sim().chip(0).dac(0x33), 0);
    EXPECT_EQ(Sim().chip(0).dac(0x06) & 0x10, 0);   // not wider than 1280
    EXPECT_EQ(imCurFree(kThread, record), 0);
}

TEST_F(DisplayLibTest, DefineTakesUpToSixtyFourSquareAndRefusesMore)
{
    Allocate();
    void* record = nullptr;
    ASSERT_EQ(imCurAlloc(kThread, 2, &record), 0);
    std::vector<uint8_t> pixels(64 * 64);
    for (uint32_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>((i / 64 + i % 64) & 3);
    ASSERT_EQ(imCurDefine(kThread, record, 64, 64, 5, 6, pixels.data()), 0);
    ASSERT_EQ(imCurSetColor(kThread, record, 2, 0x11, 0x22, 0x33), 0);
    ASSERT_EQ(imCurSelect(kThread, record), 0);
    const auto expectImage = [&](uint32_t width, uint32_t height, uint8_t outside) {
        for (uint32_t y = 0; y < 64; ++y)
            for (uint32_t x = 0; x < 64; ++x) {
                const uint8_t v = x < width && y < height ? pixels[y * width + x] & 3 : outside;
                const uint32_t byte = y * 8 + x / 8, bit = 0x80u >> (x % 8);
                ASSERT_EQ((Sim().chip(0).cursorRam(byte) & bit) != 0, (v & 1) != 0) << x << "," << y;
                ASSERT_EQ((Sim().chip(0).cursorRam(512 + byte) & bit) != 0, (v & 2) != 0) << x << "," << y;
            }
    };
    expectImage(64, 64, 0);
    EXPECT_EQ(Sim().chip(0).cursorColour(2), 0x112233u);
    EXPECT_EQ(Sim().chip(0).dac(0x32), 5);
    EXPECT_EQ(Sim().chip(0).dac(0x33), 6);

    std::vector<uint8_t> wide(65 * 64, 3);
    EXPECT_EQ(imCurDefine(kThread, record, 65, 64, 0, 0, wide.data()), -8);
    EXPECT_EQ(LastError(), -8);
    EXPECT_EQ(imCurDefine(kThread, record, 64, 65, 0, 0, wide.data()), -8);
    ASSERT_EQ(imCurSelect(kThread, record), 0);
    expectImage(64, 64, 0);   // the refused image changed nothing

    // A 16 x 16 image in a mode-2 record: the rest takes value 2.
    pixels.assign(16 * 16, 1);
    ASSERT_EQ(imCurDefine(kThread, record, 16, 16, 0, 0, pixels.data()), 0);
    ASSERT_EQ(imCurSelect(kThread, record), 0);
    expectImage(16, 16, 2);
    EXPECT_EQ(imCurFree(kThread, record), 0);
}

TEST_F(DisplayLibTest, PositionRoundTripsWithPanAndZoom)
{
    // Before the display is set up its zoom is 0: reading a position divides by nothing.
    int32_t x = -1, y = -1;
    EXPECT_EQ(imCurGetPosition(kThread, &x, &y), y);
    Allocate();
    EXPECT_EQ(imCurSetPosition(kThread, 0, 0), 0);
    EXPECT_EQ(Sim().chip(0).reg(kChipCursorPositionOffset), 64u << 16 | 64u);
    EXPECT_EQ(imCurGetPosition(kThread, &x, &y), 0);
    EXPECT_EQ(x, 0);
    ASSERT_EQ(Control({{kZoom, 2}, {kPanX, 8}, {kPanY, 10}}), 0) << LastText();
    EXPECT_EQ(imCurSetPosition(kThread, 100, 50), 0);
    // low 100 - 0 - 8 + 64 = 156; high (50 - 10) x 2 - 0 + 64 = 144
    EXPECT_EQ(Sim().chip(0).reg(kChipCursorPositionOffset), 144u << 16 | 156u);
    EXPECT_EQ(imCurGetPosition(kThread, &x, &y), 50);
    EXPECT_EQ(x, 100);
    EXPECT_EQ(y, 50);
}

TEST_F(DisplayLibTest, EnableAndColoursWithoutARecord)
{
    Allocate();
    Sim().chip(0).setDac(0x06, 0xFF);
    EXPECT_EQ(imCurEnable(kThread, -9997), 0);
    EXPECT_EQ(Sim().chip(0).dac(0x06), 0xDC | 1);   // bit 5 follows the Orlo's interlace bit (clear)
    EXPECT_EQ(imCurEnable(kThread, -9999), 0);
    EXPECT_EQ(Sim().chip(0).dac(0x06) & 3, 0);
    Sim().orlo(0, true).setReg(kOrloDisplayControl, DisplayOrlo(kOrloDisplayControl) | 0x10);
    EXPECT_EQ(imCurEnable(kThread, 6), 0);
    EXPECT_EQ(Sim().chip(0).dac(0x06), 0xDC | 0x20 | 2);
    EXPECT_EQ(imCurSetColor(kThread, nullptr, 3, 1, 2, 3), 0);
    EXPECT_EQ(Sim().chip(0).cursorColour(3), 0x010203u);
}

TEST_F(DesktopDisplayLibTest, TheOpenSetsUpADisplayThatNeedsNoFile)
{
    // The open's own trial set the controller up: keying 2 for the desktop's screen, one
    // band, the size the chip runs.
    EXPECT_EQ(Inquire(0, kMode), 0);
    EXPECT_EQ(Inquire(0, kKeyMode), 2);
    EXPECT_EQ(Inquire(0, kFormat), 0x40000020);
    EXPECT_EQ(Inquire(0, kZoom), 1);
    EXPECT_EQ(Sim().displayKey(0, 2), 2u);
    EXPECT_EQ(LastError(), 0) << LastText();
    // Allocating now programs nothing: no file is needed, even one that is not there.
    Sim().chip(0).setVga(boardsim::VgaGroup::Crtc, 0x13, 0x77);
    uint32_t display = 0;
    ASSERT_NE(imDispAlloc(kThread, 0, 0, nullptr, 0x10000000u, &display), 0u) << LastText();
    display_ = display;
    EXPECT_EQ(Crtc(0x13), 0x77);
    EXPECT_EQ(Inquire(display_, kWidth), Inquire(0, kWidth));
    EXPECT_EQ(LastError(), 0) << LastText();
}

} // namespace
