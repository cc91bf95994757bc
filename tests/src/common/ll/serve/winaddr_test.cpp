// Window arithmetic: frame and tag addresses, burst lengths and the counting mode.
#include "hlc_wiring.h"
#include "bufid.h"
#include "hlc_errors.h"
#include "intserver.h"
#include "reqres.h"
#include "sysdma.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

constexpr uint32_t kBase = 0x100000;
constexpr uint32_t kPitch = 1024;

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        HlcWireLibrary();
        bands_[0] = {-1, 0, 0, kBase};
        bands_[1] = {-1, 0, 0, kBase + 0x80000};
        bands_[2] = {-1, 0, 0, kBase + 0x100000};
        buffer_.node = 0x11;
        buffer_.bits = 8;
        buffer_.type = 8;
        buffer_.bands = 1;
        buffer_.pitch = kPitch;
        buffer_.sizeX = 640;
        buffer_.sizeY = 480;
        buffer_.location = kLocSdram;
        buffer_.bandTable = bands_;
        window_.lastColumn = 639;
        window_.lastLine = 479;
        window_.decimationX = window_.decimationY = 1;
        window_.replicationX = window_.replicationY = 1;
    }
    int Frame(uint32_t frames, uint32_t fields, uint32_t tag = 0, uint32_t bandsWanted = 1)
    {
        return mpPrvFrameAddr(&resource_, &buffer_, &window_, frames, fields, 1, 0, bandsWanted, 8, tag, 0, 0);
    }
    _MP_BAND_ST bands_[3]{};
    _MP_BUF_ST buffer_{};
    WININFO_ST window_{};
    MP_RESOURCE_ST resource_{};
};

// ---- frame addresses ------------------------------------------------------------------------

TEST_F(WindowTest, OneFrameTakesTheBandAndThePitch)
{
    EXPECT_EQ(Frame(1, 1), 0);
    EXPECT_EQ(window_.address[0], kBase);
    EXPECT_EQ(window_.pitch, static_cast<int32_t>(kPitch));
}

TEST_F(WindowTest, FlipsMoveTheStartToTheLastLineAndColumn)
{
    window_.flipY = 2;
    EXPECT_EQ(Frame(1, 1), 0);
    EXPECT_EQ(window_.address[0], kBase + 480 * kPitch - kPitch);
    EXPECT_EQ(window_.pitch, -static_cast<int32_t>(kPitch));
    window_.flipY = 0;
    window_.flipX = 2;
    EXPECT_EQ(Frame(1, 1), 0);
    EXPECT_EQ(window_.address[0], kBase + 639);
    EXPECT_EQ(window_.pitch, static_cast<int32_t>(kPitch));
}

TEST_F(WindowTest, TwoFramesOfTwoFieldsAddressFieldsAndFrames)
{
    EXPECT_EQ(Frame(2, 2), 0);
    EXPECT_EQ(window_.address[0], kBase);
    // Offsets from the first address: the second frame a row on, the second field a frame on.
    EXPECT_EQ(window_.address[1], 640u);
    EXPECT_EQ(window_.address[2], 480 * kPitch);
    EXPECT_EQ(window_.address[3], 480 * kPitch + 640);
}

TEST_F(WindowTest, OneFrameOfTwoPlanesStepsByLinesAndWidensThePitch)
{
    EXPECT_EQ(mpPrvFrameAddr(&resource_, &buffer_, &window_, 1, 1, 2, 0, 1, 8, 0, 0, 0), 0);
    EXPECT_EQ(window_.pitch, static_cast<int32_t>(2 * kPitch));
    EXPECT_EQ(window_.address[1], kPitch) << "the second plane a line on";
}

TEST_F(WindowTest, TagWordsPlaceTheTagLinesByTheirSelector)
{
    // Three frames give three addresses a row apart; a tag of 5 lines moves two of them.
    const uint32_t row = 640, a = 5 * kPitch, c = 10 * kPitch;
    const uint32_t expected[6][3] = {{row + a, 2 * row + c, 0},     {row + c, 2 * row + a, 0},
                                     {row - a, 2 * row + c - a, a}, {row - c, 2 * row + a - c, c},
                                     {row + a - c, 2 * row - c, c}, {row + c - a, 2 * row - a, a}};
    for (uint32_t choice = 0; choice < 6; ++choice) {
        const uint32_t tag = (choice << 28) | 5;
        ASSERT_EQ(Frame(3, 1, tag), 0) << choice;
        EXPECT_EQ(window_.address[1], expected[choice][0] & 0x3FFFFFF) << choice;
        EXPECT_EQ(window_.address[2], expected[choice][1] & 0x3FFFFFF) << choice;
        EXPECT_EQ(window_.address[0], kBase + expected[choice][2]) << choice;
    }
    for (uint32_t choice : {6u, 7u}) {
        MP_RESOURCE_ST fresh{};
        resource_ = fresh;
        EXPECT_EQ(Frame(3, 1, (choice << 28) | 5), -1);
        EXPECT_EQ(resource_.err.code, HLC_ERR_RESTRICTED);
    }
    // A given second count is kept.
    ASSERT_EQ(Frame(3, 1, (3u << 14) | 2), 0);
    EXPECT_EQ(window_.address[1], row + 2 * kPitch);
    EXPECT_EQ(window_.address[2], 2 * row + 5 * kPitch);
}

TEST_F(WindowTest, TagNeedsThreeAddressesAndReplicationNeedsBytes)
{
    EXPECT_EQ(Frame(1, 1, 5), -1);
    EXPECT_EQ(resource_.err.code, HLC_ERR_RESTRICTED);
    MP_RESOURCE_ST fresh{};
    resource_ = fresh;
    buffer_.bits = 16;
    window_.replicationX = 2;
    EXPECT_EQ(Frame(1, 1), -1);
    EXPECT_EQ(resource_.err.code, HLC_ERR_RESTRICTED);
}

TEST_F(WindowTest, WantedBandsLimitTheAddressedBands)
{
    buffer_.bands = 3;
    EXPECT_EQ(Frame(1, 1, 0, 3), 0);
    EXPECT_EQ(window_.address[1], 0x80000u);
    EXPECT_EQ(window_.address[2], 0x100000u);
    WININFO_ST before = window_;
    before.address[1] = before.address[2] = 0xABCD;
    window_ = before;
    EXPECT_EQ(Frame(1, 1, 0, 1), 0);
    EXPECT_EQ(window_.address[1], 0xABCDu) << "one band wanted: one address";
}

// ---- tag addresses --------------------------------------------------------------------------

TEST_F(WindowTest, TagBufferAddressesAndRefusals)
{
    _MP_BAND_ST tagBand{-1, 0, 0, 0x200000};
    _MP_BUF_ST tag{};
    tag.node = 0x11;
    tag.type = 0x40000001;
    tag.bands = 1;
    tag.sizeX = 640;
    tag.sizeY = 480;
    tag.pitch = 80;
    tag.location = kLocSdram;
    tag.bandTable = &tagBand;
    window_.flipX = 2;
    window_.flipY = 2;
    EXPECT_EQ(mpPrvTagAddr(&resource_, &buffer_, &tag, &window_, 0), 0);
    EXPECT_EQ(window_.address[0], 0x200000u + 479 * 80 + 640 / 8 - 1);
    EXPECT_EQ(window_.pitch, -80);

    tag.sizeX = 320;
    EXPECT_EQ(mpPrvTagAddr(&resource_, &buffer_, &tag, &window_, 0), -1) << "narrower than the window";
    EXPECT_EQ(resource_.err.code, HLC_ERR_RESTRICTED);
    EXPECT_EQ(mpPrvTagAddr(nullptr, &buffer_, &tag, &window_, 1), 0) << "the flag skips the size checks";
    tag.location = kLocHostDma;
    EXPECT_EQ(mpPrvTagAddr(nullptr, &buffer_, &tag, &window_, 1), -1);
    tag.location = kLocSdram;
    tag.type = 1;
    EXPECT_EQ(mpPrvTagAddr(nullptr, &buffer_, &tag, &window_, 1), -1);
}

// ---- burst length ---------------------------------------------------------------------------

TEST_F(WindowTest, BurstExponentIsLoweredToFitTheLimit)
{
    int32_t exponent = 8;
    EXPECT_EQ(mpPrvBlength(&resource_, &window_, 1, 1, nullptr, 0, &exponent), 0);
    EXPECT_EQ(exponent, 7) << "512 bytes for one band";
    exponent = 8;
    EXPECT_EQ(mpPrvBlength(&resource_, &window_, 1, 3, nullptr, 0, &exponent), 0);
    EXPECT_EQ(exponent, 5) << "128 bytes for three bands";
    exponent = 8;
    buffer_.bands = 2;
    EXPECT_EQ(mpPrvBlength(&resource_, &window_, 1, 0, &buffer_, 0, &exponent), 0);
    EXPECT_EQ(exponent, 5) << "256 bytes over two bands";
    exponent = 8;
    EXPECT_EQ(mpPrvBlength(&resource_, &window_, 1, 1, nullptr, 2, &exponent), 0);
    EXPECT_EQ(exponent, 5) << "transfer kind 2: 128 bytes";
    EXPECT_EQ(resource_.err.code, 0);
}

TEST_F(WindowTest, BurstBelowExponentThreeFailsWithMinus8)
{
    int32_t exponent = 8;
    window_.replicationX = 64;
    EXPECT_EQ(mpPrvBlength(&resource_, &window_, 1, 1, nullptr, 0, &exponent), -1);
    EXPECT_EQ(resource_.err.code, HLC_ERR_INVALID_PARAMETER);
}

TEST_F(WindowTest, BurstOfExponentThreeWithoutReplicationNeedsMode1)
{
    int32_t exponent = 8;
    buffer_.bands = 3;
    EXPECT_EQ(mpPrvBlength(&resource_, &window_, 0, 0, &buffer_, 0, &exponent), -1);
    EXPECT_EQ(exponent, 3);
    EXPECT_EQ(resource_.err.code, HLC_ERR_BUFFER_ATTRIBUTE);
    exponent = 8;
    EXPECT_EQ(mpPrvBlength(nullptr, &window_, 1, 0, &buffer_, 0, &exponent), 0);
}

// ---- counting mode --------------------------------------------------------------------------

TEST(CountMode, CodesByFieldModeAndCount)
{
    uint32_t code = 99;
    int32_t field = 1;
    mpPrvCountMode(3, 0, 0, &field, &code);
    EXPECT_EQ(code, 6u) << "not single";
    for (int32_t count = 0; count < 3; ++count) {
        field = 1;
        mpPrvCountMode(3, 1, count, &field, &code);
        EXPECT_EQ(code, 3u + static_cast<uint32_t>(count));
        EXPECT_EQ(field, 1);
        field = 6;
        mpPrvCountMode(3, 1, count, &field, &code);
        EXPECT_EQ(code, static_cast<uint32_t>(count));
        EXPECT_EQ(field, 3) << "halved";
    }
    code = 99;
    field = 1;
    mpPrvCountMode(3, 1, 3, &field, &code);
    EXPECT_EQ(code, 99u) << "other counts leave the code";
    field = -1;
    mpPrvCountMode(3, 1, 1, &field, &code);
    EXPECT_EQ(field, -1);
    EXPECT_EQ(code, 1u);
    field = -7;
    mpPrvCountMode(3, 1, 2, &field, &code);
    EXPECT_EQ(field, -4) << "an arithmetic shift";
    field = 6;
    mpPrvCountMode(1, 1, 2, &field, &code);
    EXPECT_EQ(field, 6);
    EXPECT_EQ(code, 2u);
}

}  // namespace
