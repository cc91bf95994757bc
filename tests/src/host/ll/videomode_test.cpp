#include "../../../fuzz/seeds.h"
#include "../../../fuzz/namedpipe.h"
#include "dispreg.h"
#include "disptest.h"
#include "videomode.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

using boardsim::BoardFunction;
using boardsim::DacPll;
using boardsim::HwAccess;
using boardsim::HwOp;
using boardsim::VgaGroup;
using disptest::DisplayTest;
using disptest::kNode;

namespace {

class VcfFile : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (!path_.empty()) std::remove(path_.c_str());
    }
    const char* Write(const std::string& text)
    {
        char name[] = "/tmp/vcfXXXXXX";
        const int fd = mkstemp(name);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
        close(fd);
        path_ = name;
        qsrf_fuzz::SaveFuzzSeed("vcf", path_);
        return path_.c_str();
    }
    int Load(const std::string& text)
    {
        std::memset(&param_, 0x5A, sizeof param_);
        return im_vcf_load_file(Write(text), &param_);
    }
    static int32_t Word(const VIDEO_PARAM& p, int i) { return reinterpret_cast<const int32_t*>(&p)[i]; }

    std::string path_;
    VIDEO_PARAM param_;
};

TEST_F(VcfFile, BlockLinesFillTheirWordsFirstValueWins)
{
    const int rc = Load("/ a comment before the block\n"
                        "junk before the block\n"
                        "[REG_DIGIT]\n"
                        "CRTC_(11) 0x20\n"
                        "/ a comment inside\n"
                        "COLUMN 640\r\n"
                        "INFO_COMMENT 7\n"
                        "CRTC_(22)   017\n"
                        "CRTC_(11) 0x44\n"
                        "TVP_(1E)\t0x3F\n"
                        "PCLK_(02) -1\n"
                        "[EOF]\n"
                        "MISC 9\n");
    EXPECT_EQ(rc, VCF_OK);
    EXPECT_EQ(Word(param_, 32), 0x20);            // CRTC_(11)
    EXPECT_EQ(param_.Video.Crtc[0x11], 0x20);
    EXPECT_EQ(param_.Video.Column, 640);
    EXPECT_EQ(Word(param_, 70), 15);              // CRTC_(22), octal
    EXPECT_EQ(param_.Video.Tvp[7], 0x3F);         // TVP_(1E)
    EXPECT_EQ(param_.Video.Pclk[2], -1);
    EXPECT_EQ(param_.Video.Tvp[0], kTvpNotGiven);
    EXPECT_EQ(param_.Video.Tvp[17], kTvpNotGiven);
    EXPECT_EQ(param_.Video.Misc, 0x5A5A5A5A);     // after the block: untouched
    EXPECT_EQ(param_.InfoXSize, 0x5A5A5A5A);
    EXPECT_EQ(VcfRegTable[im_get_register_map_index("CRTC_(11)")].state, kVcfGiven);
    EXPECT_EQ(VcfRegTable[im_get_register_map_index("MISC")].state, kVcfNotGiven);
}

TEST_F(VcfFile, NameTableOrderAndOffsets)
{
    EXPECT_EQ(im_get_register_map_index("INFO_XSIZE"), 0);
    EXPECT_EQ(im_get_register_map_index("CRTC_(18)"), 39);
    EXPECT_EQ(im_get_register_map_index("CRTC_(22)"), 40);
    EXPECT_EQ(im_get_register_map_index("ATTRIBUTE_(00)"), 45);
    EXPECT_EQ(im_get_register_map_index("TVP_(39)"), 107);
    EXPECT_EQ(im_get_register_map_index("crtc_(11)"), -1);   // case-sensitive
    EXPECT_EQ(im_get_register_map_index("CRTC_(19)"), -1);
    EXPECT_EQ(VcfRegTable[im_get_register_map_index("CRTC_(22)")].offset, 70u * 4);
    EXPECT_EQ(VcfRegTable[im_get_register_map_index("GAPHCTL_(08)")].offset, 69u * 4);
    EXPECT_EQ(VcfRegTable[im_get_register_map_index("LCLK_(00)")].offset, 87u * 4);
    EXPECT_EQ(VcfRegTable[kVcfRegisterRows].name, nullptr);
    for (uint32_t i = 0; i < kVcfRegisterRows; ++i) EXPECT_EQ(VcfRegTable[i].kind, VCF_STORE_LONG) << i;
}

TEST_F(VcfFile, ValuesAreCheckedWhole)
{
    int32_t v = 0;
    EXPECT_EQ(im_verify_register_value("0x7fffffff", &v), VCF_OK);
    EXPECT_EQ(v, 0x7FFFFFFF);
    EXPECT_EQ(im_verify_register_value("0x7FFFFFFF", &v), VCF_OK);
    EXPECT_EQ(im_verify_register_value("2147483647", &v), VCF_BAD_VALUE);
    EXPECT_EQ(im_verify_register_value("12345678901", &v), VCF_BAD_VALUE);   // 11 characters
    EXPECT_EQ(im_verify_register_value("", &v), VCF_BAD_VALUE);
    EXPECT_EQ(im_verify_register_value("0xFFFFFFFF", &v), VCF_BAD_VALUE);    // does not fit
    EXPECT_EQ(im_verify_register_value("12abc", &v), VCF_BAD_VALUE);
    EXPECT_EQ(im_verify_register_value("08", &v), VCF_BAD_VALUE);
    EXPECT_EQ(im_verify_register_value("-2147483648", &v), VCF_BAD_VALUE);  // 11 characters
    EXPECT_EQ(im_verify_register_value("0x10", &v), VCF_OK);
    EXPECT_EQ(v, 16);
}

TEST_F(VcfFile, BadValuesStopTheLoadKeepingEarlierWords)
{
    EXPECT_EQ(Load("[REG_DIGIT]\nROW 480\nCOLUMN 12345678901\nPOINTS 3\n[EOF]\n"), VCF_BAD_VALUE);
    EXPECT_EQ(param_.Video.Row, 480);
    EXPECT_EQ(param_.Video.Points, 0x5A5A5A5A);
    EXPECT_EQ(Load("[REG_DIGIT]\nROW 2147483647\n[EOF]\n"), VCF_BAD_VALUE);
    EXPECT_EQ(Load("[REG_DIGIT]\nROW 0x7FFFFFFF\nPOINTS 0x7fffffff\n[EOF]\n"), VCF_OK);
    EXPECT_EQ(param_.Video.Row, 0x7FFFFFFF);
    EXPECT_EQ(param_.Video.Points, 0x7FFFFFFF);
    // A name without its value.
    EXPECT_EQ(Load("[REG_DIGIT]\nROW\nPOINTS 3\n[EOF]\n"), VCF_BAD_VALUE);
    EXPECT_EQ(Load("[REG_DIGIT]\nROW 1\nPOINTS\n[EOF]\n"), VCF_BAD_VALUE);
    EXPECT_EQ(Load("[REG_DIGIT]\nROW 1\nPOINTS"), VCF_BAD_VALUE);   // truncated file
}

TEST_F(VcfFile, UnknownNamesMissingBlocksAndFiles)
{
    EXPECT_EQ(Load("[REG_DIGIT]\nROW 1\nBOGUS 2\nPOINTS 3\n[EOF]\n"), VCF_NOT_READ);
    EXPECT_EQ(param_.Video.Row, 1);
    EXPECT_EQ(param_.Video.Points, 0x5A5A5A5A);
    EXPECT_EQ(Load("[EOF]\n[REG_DIGIT]\nROW 1\n"), VCF_NOT_READ);
    EXPECT_EQ(param_.Video.Row, 0x5A5A5A5A);
    EXPECT_EQ(param_.Video.Tvp[3], kTvpNotGiven);   // reset even so
    EXPECT_EQ(Load("ROW 1\n[OTHER]\nPOINTS 2\n"), VCF_NOT_READ);
    EXPECT_EQ(Load(""), VCF_NOT_READ);
    EXPECT_EQ(im_vcf_load_file("/nonexistent/dir/mode.vcf", &param_), VCF_NOT_READ);
    EXPECT_EQ(im_vcf_load_file(nullptr, &param_), VCF_NOT_READ);
    EXPECT_EQ(im_vcf_read_file_to_buf("/nonexistent/dir/mode.vcf"), nullptr);
    // An empty block loads nothing and succeeds.
    EXPECT_EQ(Load("[REG_DIGIT]\n[EOF]\n"), VCF_OK);
}

TEST_F(VcfFile, OnlyAnOpeningCloseEndsTheFileBeforeItsBlock)
{
    EXPECT_EQ(Load("/ display mode\n[EOF]\n[REG_DIGIT]\nROW 1\n"), VCF_NOT_READ);
    EXPECT_EQ(param_.Video.Row, 0x5A5A5A5A);
    EXPECT_EQ(Load("/ display mode\n[HEADER]\n[EOF]\n[REG_DIGIT]\nROW 480\nPOINTS 2\n[EOF]\n"), VCF_OK);
    EXPECT_EQ(param_.Video.Row, 480);
    EXPECT_EQ(param_.Video.Points, 2);
    char* text = im_vcf_read_file_to_buf(Write("title\n[EOF]\n[REG_DIGIT]\nCOLUMN 7\n"));
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "[REG_DIGIT]\nCOLUMN 7\n[EOF]\n");
    std::free(text);
}

TEST_F(VcfFile, NamedPipeIsRefusedAtOnce)
{
    char dir[] = "/tmp/vcfpipeXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string pipe = std::string(dir) + "/mode.vcf";
    ASSERT_TRUE(qsrf_test::MakeNamedPipe(pipe));
    std::memset(&param_, 0x5A, sizeof param_);
    int status = VCF_OK;
    EXPECT_TRUE(qsrf_test::ReadWithDeadline(pipe, [&] {
        status = im_vcf_load_file(pipe.c_str(), &param_);
        return std::string();
    }).has_value());
    EXPECT_EQ(status, VCF_NOT_READ);
    EXPECT_EQ(param_.Video.Row, 0x5A5A5A5A);
    char* text = reinterpret_cast<char*>(1);
    EXPECT_TRUE(qsrf_test::ReadWithDeadline(pipe, [&] {
        text = im_vcf_read_file_to_buf(pipe.c_str());
        return std::string();
    }).has_value());
    EXPECT_EQ(text, nullptr);
    std::remove(pipe.c_str());
    rmdir(dir);
}

TEST_F(VcfFile, CollectedBufferAndOverLongInput)
{
    std::string longComment = "/" + std::string(400, 'x') + " ROW 5\n";
    char* text = im_vcf_read_file_to_buf(Write("[REG_DIGIT]\r\n" + longComment + "ROW 1\n\nPOINTS 2\n[NEXT]\nX 1\n"));
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "[REG_DIGIT]\nROW 1\n\nPOINTS 2\n[EOF]\n");
    std::free(text);

    // A register line longer than 255 characters is cut there; its tail is not a new line.
    const std::string longLine = "ROW 3" + std::string(300, ' ') + "POINTS 4\n";
    EXPECT_EQ(Load("[REG_DIGIT]\n" + longLine + "[EOF]\n"), VCF_OK);
    EXPECT_EQ(param_.Video.Row, 3);
    EXPECT_EQ(param_.Video.Points, 0x5A5A5A5A);

    // A block that does not fit the buffer is refused.
    std::string big = "[REG_DIGIT]\n";
    for (int i = 0; i < 200; ++i) big += "ROW 1" + std::string(200, ' ') + "\n";
    EXPECT_EQ(im_vcf_read_file_to_buf(Write(big)), nullptr);
    EXPECT_EQ(Load(big), VCF_NOT_READ);

    // A file beyond the limit (sparse, after a good block) is refused unread; at the
    // limit it is read.
    Write("[REG_DIGIT]\nROW 480\n[EOF]\n");
    ASSERT_EQ(truncate(path_.c_str(), static_cast<off_t>(kVcfMaxFileBytes) + 1), 0);
    EXPECT_EQ(im_vcf_load_file(path_.c_str(), &param_), VCF_NOT_READ);
    ASSERT_EQ(truncate(path_.c_str(), static_cast<off_t>(kVcfMaxFileBytes)), 0);
    EXPECT_EQ(im_vcf_load_file(path_.c_str(), &param_), VCF_OK);
    EXPECT_EQ(param_.Video.Row, 480);
}

// ---------------------------------------------------------------- the chip

VIDEO_PARAM SampleMode()
{
    VIDEO_PARAM p{};
    p.InfoXSize = 1024;
    p.InfoYSize = 768;
    TVIDEO_PARAM& v = p.Video;
    const int32_t seq[5] = {0x03, 0x01, 0x0F, 0x00, 0x0E};
    for (int i = 0; i < 5; ++i) v.Sequencer[i] = seq[i];
    v.Misc = 0x1EF;   // only the low byte reaches the chip
    for (int i = 0; i < 25; ++i) v.Crtc[i] = 0x30 + i;
    v.Crtc[0x11] = 0x0E;
    for (int i = 0; i < 21; ++i) v.Attribute[i] = 0x60 + i;
    for (int i = 0; i < 9; ++i) v.Graphics[i] = 0x70 + i;
    for (int i = 0; i < 5; ++i) v.CrtcHigh[i] = 0x80 + i;
    for (int i = 0; i < 6; ++i) v.CrtcExt[i] = 0x90 + i;
    v.Pclk[0] = 48, v.Pclk[1] = 52 | 0xC0, v.Pclk[2] = 1;
    v.Mclk[0] = 35, v.Mclk[1] = 48 | 0x80, v.Mclk[2] = 3;
    v.Lclk[0] = 0x3D, v.Lclk[1] = 0xF1, v.Lclk[2] = 2;
    for (int i = 0; i < 18; ++i) v.Tvp[i] = kTvpNotGiven;
    v.Tvp[1] = 0x4C;   // TVP_(07)
    v.Tvp[8] = 0x11;   // TVP_(30)
    return p;
}

class VideoModeTest : public DisplayTest {
protected:
    void SetUp() override
    {
        DisplayTest::SetUp();
        uint8_t bus = 0, device = 0, function = 0;
        ASSERT_TRUE(sim().functionLocation(0, BoardFunction::ChipFunction1, &bus, &device, &function));
        disptest::g_link.chipPci = 1;
        disptest::g_link.chipBus = bus;
        disptest::g_link.chipDevice = device;
        disptest::g_link.chipFunction = function;
    }
    // Data bytes written to one port, in order.
    static std::vector<uint32_t> Written(const std::vector<HwAccess>& trace, uint32_t offset)
    {
        std::vector<uint32_t> values;
        for (const auto& a : trace)
            if (a.op == HwOp::Write && a.offset == offset) values.push_back(a.value);
        return values;
    }
};

TEST_F(VideoModeTest, SettingAModeProgramsEveryGroupInOrder)
{
    VIDEO_PARAM mode = SampleMode();
    sim().chip(0).setDac(0x1D, 0x99);   // TVP_(1D) not given: left alone
    sim().chip(0).setDac(0x1E, 0x01);
    sim().setTracing(true);
    EXPECT_EQ(im_disp_set_pyx_mode(kNode, &mode), 0);
    const auto trace = ChipTrace();

    // First the memory clock: misc read, then the pixel PLL's values saved.
    ASSERT_GT(trace.size(), 1000u);
    EXPECT_EQ(trace[0].offset, VGA_MISC_READ);
    EXPECT_EQ(trace[1], W8(PYX_DAC_INDEX, 0x2C));
    EXPECT_EQ(trace[2], W8(PYX_DAC_DATA, 0xFC));

    // Sequencer data: memory init 03 01 0F 00 0E (after screen off's read-modify-write),
    // screen bits, the mode's own five, and the final screen on.
    const std::vector<uint32_t> seq = Written(trace, VGA_SEQUENCER + 1);
    const std::vector<uint32_t> expectedSeq = {0x20, 0x03, 0x01, 0x0F, 0x00, 0x0E, 0x03, 0x01, 0x0F, 0x00, 0x0E, 0x01};
    EXPECT_EQ(seq, expectedSeq);

    // CRTC data: memory init 0x00-0x26 with the protection lifted before 0-7, then the mode.
    const std::vector<uint32_t> crtc = Written(trace, VGA_CRTC + 1);
    ASSERT_FALSE(crtc.empty());
    // The mode's CRTC 0x00-0x18 and 0x22-0x26 are the last 30 index writes.
    std::vector<uint32_t> indexWrites, dataWrites;
    for (size_t i = 0; i + 1 < trace.size(); ++i)
        if (trace[i].op == HwOp::Write && trace[i].offset == VGA_CRTC && trace[i + 1].op == HwOp::Write &&
            trace[i + 1].offset == VGA_CRTC + 1) {
            indexWrites.push_back(trace[i].value);
            dataWrites.push_back(trace[i + 1].value);
        }
    ASSERT_GE(indexWrites.size(), 30u);
    for (int i = 0; i < 30; ++i) {
        const size_t k = indexWrites.size() - 30 + i;
        const uint32_t index = i < 25 ? i : 0x22 + (i - 25);
        EXPECT_EQ(indexWrites[k], index);
        EXPECT_EQ(dataWrites[k], static_cast<uint32_t>(i < 25 ? mode.Video.Crtc[i] : mode.Video.CrtcHigh[i - 25]));
    }

    // Final state of the chip.
    for (int i = 0; i < 25; ++i) EXPECT_EQ(sim().chip(0).vga(VgaGroup::Crtc, i), mode.Video.Crtc[i]) << i;
    for (int i = 0; i < 5; ++i) EXPECT_EQ(sim().chip(0).vga(VgaGroup::Crtc, 0x22 + i), 0x80 + i);
    for (int i = 0; i < 21; ++i) EXPECT_EQ(sim().chip(0).vga(VgaGroup::Attribute, i), 0x60 + i) << i;
    for (int i = 0; i < 9; ++i) EXPECT_EQ(sim().chip(0).vga(VgaGroup::Graphics, i), 0x70 + i) << i;
    for (int i = 0; i < 6; ++i) EXPECT_EQ(sim().chip(0).vga(VgaGroup::CrtcExt, i), 0x90 + i) << i;
    EXPECT_EQ(sim().chip(0).vga(VgaGroup::Misc, 0), 0xEF);
    EXPECT_EQ(sim().chip(0).vga(VgaGroup::Sequencer, 1) & 0x20, 0);   // screen on
    EXPECT_EQ(sim().chip(0).pll(DacPll::Pixel, 0), 52 | 0xC0);
    EXPECT_EQ(sim().chip(0).pll(DacPll::Pixel, 1), 48);
    EXPECT_EQ(sim().chip(0).pll(DacPll::Pixel, 2), 0xF1);
    EXPECT_EQ(sim().chip(0).pll(DacPll::Memory, 0), 48 | 0x80);
    EXPECT_EQ(sim().chip(0).pll(DacPll::Memory, 1), 35);
    EXPECT_EQ(sim().chip(0).pll(DacPll::Memory, 2), 0xB3);
    EXPECT_EQ(sim().chip(0).pll(DacPll::Loop, 2), 0xB2);
    EXPECT_EQ(sim().chip(0).dac(0x07), 0x4C);   // given TVP words
    EXPECT_EQ(sim().chip(0).dac(0x30), 0x11);
    EXPECT_EQ(sim().chip(0).dac(0x1D), 0x99);   // not given
    EXPECT_EQ(sim().chip(0).dac(0x39), 0x38);   // TVP_(39) not given
    EXPECT_EQ(sim().chip(0).dac(0x18), 0x07);
    EXPECT_EQ(sim().chip(0).dac(0x19), 0x5D);
    EXPECT_EQ(sim().chip(0).dac(0x1A), 0x25);
    EXPECT_EQ(sim().chip(0).dac(0x1E), 0x09);
    for (int i : {0, 1, 128, 255}) EXPECT_EQ(sim().chip(0).palette(i), static_cast<uint32_t>(i << 16 | i << 8 | i));
    const uint32_t pci = sim().functionConfig(0, BoardFunction::ChipFunction1, 0x40);
    EXPECT_EQ(pci & 0x2F0000u, 0x290000u);   // bit 21 set, bits 17-18 cleared, 0x90000 set
    EXPECT_EQ(sim().strayAccesses(), 0u);
}

TEST_F(VideoModeTest, ReadingTheModeBackKeepsTheDacWords)
{
    VIDEO_PARAM mode = SampleMode();
    mode.Video.Misc = 0xEF;
    im_disp_set_pyx_mode(kNode, &mode);
    TVIDEO_PARAM back{};
    for (int i = 0; i < 18; ++i) back.Tvp[i] = 1000 + i;
    HlcPyxGetVideoParam(kNode, &back);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(back.Sequencer[i], mode.Video.Sequencer[i]);
    EXPECT_EQ(back.Misc, 0xEF);
    for (int i = 0; i < 25; ++i) EXPECT_EQ(back.Crtc[i], mode.Video.Crtc[i]) << i;
    for (int i = 0; i < 5; ++i) EXPECT_EQ(back.CrtcHigh[i], mode.Video.CrtcHigh[i]);
    for (int i = 0; i < 21; ++i) EXPECT_EQ(back.Attribute[i], mode.Video.Attribute[i]);
    for (int i = 0; i < 9; ++i) EXPECT_EQ(back.Graphics[i], mode.Video.Graphics[i]);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(back.CrtcExt[i], mode.Video.CrtcExt[i]);
    EXPECT_EQ(back.Pclk[0], 48);
    EXPECT_EQ(back.Pclk[1], 52 | 0xC0);
    EXPECT_EQ(back.Pclk[2], 0xF1);
    EXPECT_EQ(back.Mclk[1], 48 | 0x80);
    EXPECT_EQ(back.Lclk[0], 0x3D);
    for (int i = 0; i < 18; ++i) EXPECT_EQ(back.Tvp[i], 1000 + i);
}

TEST_F(VideoModeTest, ResolutionScreenAndPowerGraph)
{
    VgaWriteRegisterByByte(kNode, VGA_MISC_READ, 1);
    VgaWriteRegisterByByteIndex(kNode, VGA_CRTC, 1, 0x7F);
    VgaWriteRegisterByByteIndex(kNode, VGA_CRTC, 0x12, 0xFF);
    VgaWriteRegisterByByteIndex(kNode, VGA_CRTC, 7, 0x02);
    VgaWriteRegisterByByteIndex(kNode, VGA_CRTC_EXT, 2, 0x00);
    VgaWriteRegisterByByteIndex(kNode, VGA_CRTC_EXT, 0, 0x00);
    uint32_t w = 0, h = 0;
    GetDispResolution(kNode, &w, &h);
    EXPECT_EQ(w, 1024u);
    EXPECT_EQ(h, 512u);
    VgaWriteRegisterByByteIndex(kNode, VGA_CRTC, 7, 0x42);   // bit 9
    VgaWriteRegisterByByteIndex(kNode, VGA_CRTC_EXT, 2, 0x04); // bit 10
    VgaWriteRegisterByByteIndex(kNode, VGA_CRTC_EXT, 0, 0x80); // doubled
    GetDispResolution(kNode, &w, &h);
    EXPECT_EQ(h, 2u * (0x7FF + 1));
    VgaWriteRegisterByByteIndex(kNode, VGA_CRTC, 1, 0);
    VgaWriteRegisterByByteIndex(kNode, VGA_CRTC, 0x12, 0);
    VgaWriteRegisterByByteIndex(kNode, VGA_CRTC, 7, 0);
    VgaWriteRegisterByByteIndex(kNode, VGA_CRTC_EXT, 2, 0);
    GetDispResolution(kNode, &w, &h);
    EXPECT_EQ(w, 0u);
    EXPECT_EQ(h, 0u);

    EXPECT_EQ(PowerGraphEnabled(kNode), 0u);
    VgaWriteRegisterByByteIndex(kNode, VGA_CRTC_EXT, 3, 0x81);
    EXPECT_EQ(PowerGraphEnabled(kNode), 1u);

    sim().chip(0).setVga(VgaGroup::Sequencer, 1, 0x01);
    HlcPyxScreenOff(kNode);
    EXPECT_EQ(sim().chip(0).vga(VgaGroup::Sequencer, 1), 0x21);
    HlcPyxScreenOn(kNode);
    EXPECT_EQ(sim().chip(0).vga(VgaGroup::Sequencer, 1), 0x01);
}

TEST_F(VideoModeTest, ChipPciConfigurationReadAndWritten)
{
    const uint32_t id = sim().functionConfig(0, BoardFunction::ChipFunction1, 0);
    EXPECT_NE(id, 0xFFFFFFFFu);
    EXPECT_EQ(HlcPyxRdPciConfig(kNode, 0), id);
    HlcPyxWrPciConfig(kNode, 0x40, 0x00120034u);
    EXPECT_EQ(sim().functionConfig(0, BoardFunction::ChipFunction1, 0x40), 0x00120034u);
    EXPECT_EQ(HlcPyxRdPciConfig(kNode, 0x40), 0x00120034u);
    // Not open, or the chip's place unknown: nothing answers and nothing is written.
    EXPECT_EQ(HlcPyxRdPciConfig(0x33, 0), 0xFFFFFFFFu);
    disptest::g_link.chipPci = 0;
    EXPECT_EQ(HlcPyxRdPciConfig(kNode, 0), 0xFFFFFFFFu);
    HlcPyxWrPciConfig(kNode, 0x40, 0x5u);
    EXPECT_EQ(sim().functionConfig(0, BoardFunction::ChipFunction1, 0x40), 0x00120034u);
}

TEST_F(VideoModeTest, MemoryInitReportsAClockThatDoesNotLock)
{
    EXPECT_EQ(HlcWramInit(kNode), 0u);
    sim().chip(0).setPllLocks(DacPll::Memory, false);
    EXPECT_EQ(HlcWramInit(kNode), 1u);
    // The memory is initialised all the same.
    EXPECT_EQ(sim().chip(0).vga(VgaGroup::Graphics, 8), 0xFF);
    EXPECT_EQ(sim().functionConfig(0, BoardFunction::ChipFunction1, 0x40) & 0x2F0000u, 0x290000u);
}

TEST_F(VideoModeTest, UnknownNodeSetsNothing)
{
    VIDEO_PARAM mode = SampleMode();
    sim().setTracing(true);
    EXPECT_EQ(im_disp_set_pyx_mode(0x33, &mode), 0);
    EXPECT_TRUE(sim().trace().empty());
}

} // namespace
