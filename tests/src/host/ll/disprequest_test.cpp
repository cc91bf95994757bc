// The display requests' checks and answers on one display node's state words, the
// zoomed timing of a mode whose blank or sync starts at 0, the desktop driver's layout
// answers, and the cursor RAM filled through its data register.
#include "disprequest.h"
#include "dispops.h"
#include "dispreg.h"
#include "disptest.h"
#include "reqres.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using boardsim::DisplayDriverSpec;
using disptest::DisplayTest;
using disptest::kNode;

namespace {

class DispRequestTest : public DisplayTest {
protected:
    void SetUp() override
    {
        DisplayTest::SetUp();
        disptest::g_nodes = {kNode};
        res_.node = kNode;
        res_.name = "DispInquire";
    }
    int32_t Inquire(uint32_t type)
    {
        int32_t value = 0x5A5A5A5A;
        EXPECT_EQ(mpDispInquire(&res_, nullptr, type, &value), 0) << type;
        return value;
    }
    std::string Message() const { return res_.err.message ? res_.err.message : ""; }
    MP_RESOURCE_ST res_{};
};

TEST_F(DispRequestTest, TheDescriptionTakesItsDisplayStateOnce)
{
    // No ini data: a display node runs single screen.
    int32_t* s = mp_disp_description(kNode);
    ASSERT_EQ(s, state_);
    EXPECT_EQ(s[DISP_STATE_DISPLAY_MODE], static_cast<int32_t>(IM_SINGLE_SCREEN));
    s[DISP_STATE_DISPLAY_MODE] = IM_DUAL_SCREEN;
    EXPECT_EQ(mp_disp_description(kNode)[DISP_STATE_DISPLAY_MODE], static_cast<int32_t>(IM_DUAL_SCREEN));
    // A node without a display chip shows none.
    std::memset(state_, 0, sizeof state_);
    disptest::g_link.isDisplay = 0;
    EXPECT_EQ(mp_disp_description(kNode)[DISP_STATE_DISPLAY_MODE], kDispStateNone);
    EXPECT_EQ(mp_disp_description(0x44), nullptr);
}

TEST_F(DispRequestTest, InquiriesAnswerTheirStateWords)
{
    mp_disp_description(kNode);
    const struct {
        uint32_t type;
        uint32_t word;
    } rows[] = {{IM_DISP_KEY_MODE, 138}, {IM_DISP_KEY_MASK, 139}, {IM_DISP_KEY_VALUE, 140}, {IM_DISP_FORMAT, 141},
                {IM_DISP_PAN_X, 130},    {IM_DISP_PAN_Y, 131},     {IM_DISP_KEY_COLOUR, 144}, {IM_DISP_ZOOM, 133},
                {IM_DISP_WIDTH, 128},    {IM_DISP_HEIGHT, 129},    {IM_DISP_MODE, 143},       {IM_DISP_ENABLE, 142}};
    for (const auto& r : rows) state_[r.word] = static_cast<int32_t>(1000 + r.word);
    for (const auto& r : rows) EXPECT_EQ(Inquire(r.type), static_cast<int32_t>(1000 + r.word)) << r.type;
    EXPECT_EQ(res_.err.code, 0);

    int32_t value = 7;
    EXPECT_EQ(mpDispInquire(&res_, nullptr, IM_DISP_ZOOM_CODE, &value), -1);
    EXPECT_EQ(res_.err.code, -8);
    EXPECT_EQ(value, 7);
}

TEST_F(DispRequestTest, WithoutADisplayNodeOnlyFormatAndModeAnswer)
{
    disptest::g_link.isDisplay = 0;
    EXPECT_EQ(Inquire(IM_DISP_FORMAT), kDispStateNone);
    EXPECT_EQ(Inquire(IM_DISP_MODE), kDispStateNone);
    EXPECT_EQ(res_.err.code, 0);
    int32_t value = 0;
    EXPECT_EQ(mpDispInquire(&res_, nullptr, IM_DISP_WIDTH, &value), -1);
    EXPECT_EQ(res_.err.code, -8);
}

TEST_F(DispRequestTest, PhaseZeroRecordsTheCurrentStateAndRefusesANodeWithoutDisplay)
{
    mp_disp_description(kNode);
    state_[DISP_STATE_PAN_X] = 12;
    state_[DISP_STATE_PAN_Y] = 34;
    state_[DISP_STATE_ZOOM_X] = 2;
    state_[DISP_STATE_ZOOM_Y] = 4;
    _DISP_COM_INFO info{};
    int32_t mask = 99;
    uint32_t node = 0;
    EXPECT_EQ(mpDispControl(&res_, nullptr, nullptr, &info, 0, 0, &mask, &node), 0);
    EXPECT_EQ(mask, 0);   // no control: nothing to apply
    EXPECT_EQ(node, kNode);
    EXPECT_EQ(info.PanX, 12);
    EXPECT_EQ(info.PanY, 34);
    EXPECT_EQ(info.CurrentZoomX, 2);
    EXPECT_EQ(info.CurrentZoomY, 4);

    std::memset(state_, 0, sizeof state_);
    disptest::g_link.isDisplay = 0;
    EXPECT_EQ(mpDispControl(&res_, nullptr, nullptr, &info, 0, 0, &mask, &node), -1);
    EXPECT_EQ(mask, -1);
    EXPECT_EQ(res_.err.code, -8);
    EXPECT_EQ(Message(), kDispTextBadNode);
}

TEST_F(DispRequestTest, LaterPhasesNeedTheDisplayState)
{
    disptest::g_link.state = nullptr;
    uint32_t node = kNode;
    EXPECT_EQ(mpDispControl(&res_, nullptr, nullptr, nullptr, 0, 4, nullptr, &node), -1);
    EXPECT_EQ(res_.err.code, -8);
    EXPECT_EQ(Message(), kDispTextBadParameter);
}

// A mode whose horizontal blank and sync both start at 0 (they have no highest set bit):
// the lengths are the end counters themselves.
TEST(DispZoomStarts, BlankAndSyncStartingAtZeroKeepTheirLengths)
{
    VIDEO_PARAM video{};
    const int32_t crtc[10] = {0xA3, 0x7F, 0x00, 0x07, 0x00, 0x13, 0x24, 0xF5, 0x00, 0x60};
    for (int i = 0; i < 10; ++i) video.Video.Crtc[i] = crtc[i];
    video.Video.Pclk[0] = 48, video.Video.Pclk[1] = 52, video.Video.Pclk[2] = 1;
    _DISP_COM_INFO info{};
    info.ZoomX = info.ZoomY = 2;
    ASSERT_EQ(mp_disp_zoom(kNode, kNode, &video, &info), 0);
    EXPECT_EQ(info.ZoomCrtc[2], 0);
    EXPECT_EQ(info.ZoomCrtc[3], 3);   // E' = 7 / 2
    EXPECT_EQ(info.ZoomCrtc[4], 0);
    EXPECT_EQ(info.ZoomCrtc[5], 9);   // W' = 19 / 2
    EXPECT_EQ(info.ZoomCrtcExt1, 0);
}

TEST_F(DisplayTest, DualHeadNeedsTwoScreensInTheDriversLayout)
{
    DisplayDriverSpec spec;
    spec.privateEscapes = true;
    spec.screenBases = {0xE0000008u, 0xE1000008u};
    const struct {
        uint32_t columns, rows;
        int dualHead;
    } layouts[] = {{1, 1, 0}, {2, 1, 1}, {1, 2, 1}, {0, 0, 0}, {0, 5, 0}, {2, 2, 1}};
    for (const auto& l : layouts) {
        spec.columns = l.columns;
        spec.rows = l.rows;
        sim().setDisplayDriver(spec);
        EXPECT_EQ(IsDualHeadActive(), l.dualHead) << l.columns << " x " << l.rows;
    }
    EXPECT_EQ(sim().openDisplayContexts(), 0u);
}

TEST_F(DisplayTest, CursorRamTakesTenTwentyFourBytesFromAddressZero)
{
    VgaWriteRegisterByByte(kNode, VGA_MISC_READ, 1);
    DacWriteRegisterByByte(kNode, DAC_CURSOR_CONTROL, 0x03);
    PyxWriteRegisterByByte(kNode, PYX_DAC_BASE + DAC_PALETTE_WRITE, 0);
    for (uint32_t i = 0; i < 1024; ++i) PyxWriteRegisterByByte(kNode, PYX_DAC_BASE + DAC_CURSOR_RAM, (i * 7 + i / 256) & 0xFF);
    for (uint32_t i = 0; i < 1024; ++i) ASSERT_EQ(sim().chip(0).cursorRam(i), (i * 7 + i / 256) & 0xFF) << i;
    // The address wrapped back to 0: the control's other bits are kept.
    EXPECT_EQ(sim().chip(0).dac(DAC_CURSOR_CONTROL & 127), 0x03);
    // Reading counts on the same way.
    PyxWriteRegisterByByte(kNode, PYX_DAC_BASE + DAC_PALETTE_READ, 0xFF);
    EXPECT_EQ(PyxReadRegisterByByte(kNode, PYX_DAC_BASE + DAC_CURSOR_RAM), (255u * 7) & 0xFF);
    EXPECT_EQ(PyxReadRegisterByByte(kNode, PYX_DAC_BASE + DAC_CURSOR_RAM), (256u * 7 + 1) & 0xFF);
}

} // namespace
