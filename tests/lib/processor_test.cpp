// A board with its own processor as a program sees it: the shell is downloaded and
// started, the node opens once the firmware answers the handshake, and buffer commands go
// through the ring in board memory to the firmware; all through hlclib.h and
// libhlclib.so, the simulated board driven through the platform object.
#include "hlclib.h"
#include "hlclib_board.h"
#include "libsandbox.h"
#include "processornode.h"

#include "boardsim.h"

#include "../src/host/ll/shellfile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

using processornode::kNode;

// Buffer inquiry types.
constexpr uint32_t kSizeX = 3, kSizeY = 4, kBands = 6, kType = 8, kParent = 30, kOffsetX = 32, kOffsetY = 33,
                   kPitch = 202;

class ProcessorTest : public processornode::ProcessorBoardTest {
protected:
    static int32_t LastError() { return imAppGetError(0, nullptr); }
    static std::string LastText() { return libsandbox::LastText(); }
};

TEST_F(ProcessorTest, TheNodeOpensWhenItsFirmwareAnswersAndClosesAgain)
{
    const uint32_t id = Open();
    ASSERT_NE(id, 0u) << LastText();
    EXPECT_EQ((id >> 16) & 0xFF, kNode);
    EXPECT_EQ(LastError(), 0) << LastText();
    EXPECT_TRUE(boardsim::BoardSim::instance().cpu(0).running());
    // Answered by the firmware: its processor serves the ring.
    EXPECT_EQ(imDevInquire(id, 1, nullptr), 1u);
    // The ring in board memory, as the firmware laid it out: 16 slots.
    EXPECT_EQ(imDevInquire(id, 11, nullptr), 16u);
    EXPECT_EQ(imDevFree(id), 0);
    EXPECT_EQ(mp_sys_node_resource_ptr(kNode), nullptr);
    EXPECT_EQ(imNodeSt, nullptr);
}

TEST_F(ProcessorTest, AShellWithoutAnInformationBlockOpensNothing)
{
    // The shell's value points past the end of board memory: the processor starts, but
    // the host finds no ring and no state of it, and nothing answers the handshake.
    ASSERT_TRUE(shellfile::WriteShellFile(box_.path("shell.out"), 5));
    imAppControl(1, 1.0);
    EXPECT_EQ(Open(), 0u);
    EXPECT_EQ(LastError(), -9);
    EXPECT_EQ(LastText(), "Could not open communication with device");
    EXPECT_EQ(mp_sys_node_resource_ptr(kNode), nullptr);
    // The global state went with the open: the application calls since made a new one,
    // whose time-out is the default again.
    EXPECT_EQ(imAppInquire(1, nullptr), 15);
}

TEST_F(ProcessorTest, BuffersAreAllocatedInquiredChildedAndFreedOnTheBoard)
{
    const uint32_t device = Open();
    ASSERT_NE(device, 0u) << LastText();

    uint32_t id = 0;
    const uint32_t buffer = imBufAlloc(device, 100, 30, 3, 8, 1, &id);
    ASSERT_NE(buffer, 0u) << LastText();
    EXPECT_EQ(id, buffer);
    EXPECT_EQ((buffer >> 16) & 0xFF, kNode);
    // No memory-kind bits: the buffer lies in board memory.
    EXPECT_EQ(buffer & 0xFF000000u, 0u);
    EXPECT_EQ(imBufInquire(device, buffer, kSizeX, nullptr), 100);
    EXPECT_EQ(imBufInquire(device, buffer, kSizeY, nullptr), 30);
    EXPECT_EQ(imBufInquire(device, buffer, kBands, nullptr), 3);
    EXPECT_EQ(imBufInquire(device, buffer, kType, nullptr), 8);
    EXPECT_EQ(imBufInquire(device, buffer, kPitch, nullptr), 100);   // 100 bytes, a multiple of 4

    uint32_t childId = 0;
    const uint32_t child = imBufChild(device, buffer, 10, 5, 20, 8, &childId);
    ASSERT_NE(child, 0u) << LastText();
    EXPECT_EQ(childId, child);
    EXPECT_NE(child, buffer);
    EXPECT_EQ(imBufInquire(device, child, kSizeX, nullptr), 20);
    EXPECT_EQ(imBufInquire(device, child, kSizeY, nullptr), 8);
    EXPECT_EQ(imBufInquire(device, child, kOffsetX, nullptr), 10);
    EXPECT_EQ(imBufInquire(device, child, kOffsetY, nullptr), 5);
    EXPECT_EQ(static_cast<uint32_t>(imBufInquire(device, child, kParent, nullptr)), buffer);
    EXPECT_EQ(LastError(), 0) << LastText();

    // A child reaching past its parent is refused with the firmware's text.
    EXPECT_EQ(imBufChild(device, buffer, 90, 0, 20, 8, nullptr), 0u);
    EXPECT_EQ(LastError(), -8);
    EXPECT_EQ(LastText(), "Parameter invalid or unacceptable");
    imAppGetError(1, nullptr);

    // The parent goes with its child: neither answers afterwards.
    EXPECT_EQ(imBufFree(device, buffer), 0);
    EXPECT_EQ(imBufInquire(device, child, kSizeX, nullptr), 0);
    EXPECT_EQ(LastError(), -1);
    EXPECT_EQ(LastText(), "Invalid buffer ID");
    imAppGetError(1, nullptr);
    EXPECT_EQ(imBufInquire(device, buffer, kSizeX, nullptr), 0);
    EXPECT_EQ(LastError(), -1);
    imAppGetError(1, nullptr);
    EXPECT_EQ(imDevFree(device), 0);
}

TEST_F(ProcessorTest, TheFreedMemoryServesTheNextAllocation)
{
    const uint32_t device = Open();
    ASSERT_NE(device, 0u) << LastText();
    // More than half of the board's 4 MB: two at once do not fit, one after the other do.
    const uint32_t first = imBufAlloc(device, 1024, 1024, 3, 8, 1, nullptr);
    ASSERT_NE(first, 0u) << LastText();
    EXPECT_EQ(imBufAlloc(device, 1024, 1024, 3, 8, 1, nullptr), 0u);
    EXPECT_EQ(LastError(), -4);
    EXPECT_EQ(LastText(), "Insufficient resources to carry out the operation");
    imAppGetError(1, nullptr);
    EXPECT_EQ(imBufFree(device, first), 0);
    const uint32_t second = imBufAlloc(device, 1024, 1024, 3, 8, 1, nullptr);
    EXPECT_NE(second, 0u) << LastText();
    EXPECT_EQ(imBufFree(device, second), 0);
    EXPECT_EQ(imDevFree(device), 0);
}

TEST_F(ProcessorTest, PixelsGoToBoardBuffersAndComeBackThroughTheirDescriptors)
{
    const uint32_t device = Open();
    ASSERT_NE(device, 0u) << LastText();
    // Two bands of 30 x 5 pixels: lines of 32 bytes in board memory, 30 in the caller's.
    const uint32_t buffer = imBufAlloc(device, 30, 5, 2, 8, 1, nullptr);
    ASSERT_NE(buffer, 0u) << LastText();
    EXPECT_EQ(imBufInquire(device, buffer, kPitch, nullptr), 32);
    std::vector<uint8_t> pixels(30 * 5 * 2);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 7 + 1);
    EXPECT_EQ(imBufPut(device, buffer, pixels.data()), 0);
    std::vector<uint8_t> back(pixels.size() + 4, 0xCC);
    EXPECT_EQ(imBufGet(device, buffer, back.data()), 0);
    EXPECT_EQ(std::vector<uint8_t>(back.begin(), back.end() - 4), pixels);
    EXPECT_EQ(back[pixels.size()], 0xCC);

    // A child sees its parent's pixels from its origin on.
    const uint32_t child = imBufChild(device, buffer, 4, 2, 10, 3, nullptr);
    ASSERT_NE(child, 0u) << LastText();
    std::vector<uint8_t> region(10 * 3 * 2, 0);
    EXPECT_EQ(imBufGet(device, child, region.data()), 0);
    for (uint32_t band = 0; band < 2; ++band)
        for (uint32_t y = 0; y < 3; ++y)
            for (uint32_t x = 0; x < 10; ++x)
                EXPECT_EQ(region[band * 30 + y * 10 + x], pixels[band * 150 + (y + 2) * 30 + x + 4]);
    // One- and two-dimensional buffers are board buffers as well.
    const uint32_t line = imBufAlloc1d(device, 13, 8, 1, nullptr);
    ASSERT_NE(line, 0u) << LastText();
    EXPECT_EQ(imBufInquire(device, line, kSizeY, nullptr), 1);
    EXPECT_EQ(imBufPut(device, line, pixels.data()), 0);
    std::vector<uint8_t> lineBack(13, 0);
    EXPECT_EQ(imBufGet(device, line, lineBack.data()), 0);
    EXPECT_EQ(lineBack, std::vector<uint8_t>(pixels.begin(), pixels.begin() + 13));
    const uint32_t plane = imBufAlloc2d(device, 7, 9, 16, 1, nullptr);
    ASSERT_NE(plane, 0u) << LastText();
    EXPECT_EQ(imBufInquire(device, plane, kPitch, nullptr), 16);
    EXPECT_EQ(LastError(), 0) << LastText();
    for (uint32_t id : {child, buffer, line, plane}) EXPECT_EQ(imBufFree(device, id), 0);
    EXPECT_EQ(imDevFree(device), 0);
}

TEST_F(ProcessorTest, AnOpcodeTheFirmwareDoesNotServeIsAnsweredAsInvalid)
{
    const uint32_t device = Open();
    ASSERT_NE(device, 0u) << LastText();
    const uint32_t buffer = imBufAlloc(device, 16, 16, 1, 8, 1, nullptr);
    ASSERT_NE(buffer, 0u) << LastText();
    // A band child (opcode 22) is not among the commands the firmware serves.
    EXPECT_EQ(imBufChildBand(device, buffer, 0, nullptr), 0u);
    EXPECT_EQ(LastError(), -6);
    EXPECT_EQ(LastText(), "Invalid opcode received");
    imAppGetError(1, nullptr);
    // The ring goes on serving.
    EXPECT_EQ(imBufInquire(device, buffer, kSizeX, nullptr), 16);
    EXPECT_EQ(imBufFree(device, buffer), 0);
    EXPECT_EQ(imDevFree(device), 0);
}

} // namespace
