// Host grabs of three-channel cameras, packed or in three bands, and dual grabs into two
// host buffers at once, through hlclib.h and libhlclib.so only; every pixel is checked
// against the simulated camera's pattern.
#include "hostgrabfixture.h"

namespace {

// ---------------------------------------------------------------- colour

TEST_F(HostGrabTest, ThreeChannelsArriveAsPackedPixelsOrAsThreeBands)
{
    UseCamera(CameraSpec{kRed | kGreen | kBlue, 1, 1, 1, 1, 0});
    struct Form {
        const char* name;
        uint32_t bands, type, unit;
    };
    // Packed pixels of 3 bytes, 32-bit pixels of 4 (the fourth byte unused), three 8-bit bands.
    // A grab into host memory gives the pixels a grab into board memory gives (checked for
    // the packed form: board-memory grabs of colour are slow in the simulation).
    for (const Form& f : {Form{"packed", 1, kRgbPacked, 3}, Form{"32-bit", 1, 32, 4}, Form{"three bands", 3, 8, 1}}) {
        SCOPED_TRACE(f.name);
        const bool packed = f.type == kRgbPacked;
        for (const uint32_t location : {kHostDma, kBoardMemory}) {
            if (location == kBoardMemory && !packed) continue;
            SCOPED_TRACE(location == kHostDma ? "host memory" : "board memory");
            const uint32_t id = Buffer(kWidth, kHeight, f.bands, f.type, location);
            ASSERT_NE(id, 0u);
            ASSERT_EQ(Grab(id, 1), static_cast<int32_t>(kDone)) << LastText();
            const std::vector<uint8_t> pixels = Read(id, size_t{kWidth} * kHeight * (f.bands == 3 ? 3 : f.unit));
            for (uint32_t c = 0; c < 3; ++c) {
                const uint8_t* plane = f.bands == 3 ? pixels.data() + size_t{kWidth} * kHeight * c : pixels.data();
                EXPECT_EQ(Mismatches(plane, kWidth, kHeight, f.unit, f.bands == 3 ? 0 : c, LastFrame(), Rows(c), c),
                          0);
            }
            ExpectIdle();
            imBufFree(device_, id);
            buffers_.erase(std::find(buffers_.begin(), buffers_.end(), id));
        }
    }
}

// ---------------------------------------------------------------- dual, continuous

TEST_F(HostGrabTest, ADualGrabFillsBothBuffers)
{
    UseCamera({});
    const uint32_t first = Buffer(kWidth, kHeight, 1, 8, kHostDma);
    const uint32_t second = Buffer(kWidth, kHeight, 1, 8, kBoardMemory);
    const uint32_t options = Options({{kFieldSecondBuffer, static_cast<double>(second)}});
    ASSERT_EQ(Grab(first, 1, options), static_cast<int32_t>(kDone)) << LastText();
    const uint64_t frame = LastFrame();
    const std::vector<uint8_t> host = Read(first, kWidth * kHeight);
    const std::vector<uint8_t> board = Read(second, kWidth * kHeight);
    EXPECT_EQ(Mismatches(host.data(), kWidth, kHeight, 1, 0, frame, Rows()), 0);
    EXPECT_EQ(Mismatches(board.data(), kWidth, kHeight, 1, 0, frame, Rows()), 0);
    ExpectIdle();
}

// The halt stops the looping list in the middle of a frame; the frame the list was placing
// goes with it, so the grab ends at once whatever part of the frame the halt met.

}  // namespace
