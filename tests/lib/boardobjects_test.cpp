// JPEG objects, pattern models and blob results as a program sees them on a host-served
// node, through hlclib.h and libhlclib.so only: the board-processor opcodes fail as
// invalid opcodes with their texts, the file exports refuse bad files and paths before
// anything is sent, and a model read into a node that cannot keep it leaves no buffer
// behind.
#include "hlclib.h"
#include "hlclib_board.h"

#include "boardsim.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kNode = 0x11;
constexpr uint32_t kSystemThread = 0x40000010u | (kNode << 16);
constexpr const char* kOneBoard = "[Node]\nNodeId=0x11\nSlotNbr=1\nDeviceNbr=0x000d04\n";

class BoardObjectsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char dir[] = "/tmp/hlcobjXXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        root_ = dir;
        std::ofstream(root_ + "/halcyra.ini") << kOneBoard;
        setenv("HLCINIPATH", root_.c_str(), 1);
        setenv("HALCYRA", (root_ + "/noinstall").c_str(), 1);
        boardsim::BoardSim::instance().configure();
        imAppCatchError(0, nullptr, 0);
        imAppGetError(1, nullptr);
        ASSERT_NE(imDevAlloc(0, 0, 3, 0, &device_), 0u);
        imAppGetError(1, nullptr);
    }
    void TearDown() override
    {
        if (device_) {
            EXPECT_EQ(imDevFree(device_), 0);
        }
        for (int i = 0; i < 256 && mp_sys_node_resource_ptr(kNode); ++i) imDevFree(kNode << 16);
        EXPECT_EQ(mp_sys_node_resource_ptr(kNode), nullptr);
        imAppGetError(1, nullptr);
        std::string cmd = "rm -rf '" + root_ + "'";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
        boardsim::BoardSim::instance().configure();
    }
    static void ExpectError(int32_t code, const std::string& text)
    {
        char message[80] = {};
        EXPECT_EQ(imAppGetError(0, nullptr), code);
        imAppGetError(4, message);
        EXPECT_EQ(std::string(message), text);
        imAppGetError(1, nullptr);
    }
    std::string Write(const char* name, const std::vector<uint8_t>& bytes)
    {
        const std::string path = root_ + "/" + name;
        FILE* f = std::fopen(path.c_str(), "wb");
        EXPECT_NE(f, nullptr);
        if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
        return path;
    }
    uint32_t FreeBoardBytes() { return static_cast<uint32_t>(imDevInquire(device_, 13, nullptr)); }

    std::string root_;
    uint32_t device_ = 0;
};

// A pattern model of the first magic with one 8 x 4 level.
std::vector<uint8_t> Model()
{
    std::vector<uint8_t> m(712 + 32, 0x3C);
    const uint8_t head[6] = {0x63, 0x19, 0x08, 0x26, 1, 0};
    std::memcpy(m.data(), head, 6);
    m[308] = 1;
    m[309] = 0;
    m[312] = 8;
    m[313] = 0;
    m[314] = 4;
    m[315] = 0;
    return m;
}

TEST_F(BoardObjectsTest, JpegObjectsExistOnlyOnABoardProcessor)
{
    uint32_t id = 0x55;
    EXPECT_EQ(imJpegAlloc(kSystemThread, 0, &id), 0u);
    EXPECT_EQ(id, 0u);
    ExpectError(-6, "Invalid opcode received");
    int32_t value = 9;
    EXPECT_EQ(imJpegInquire(kSystemThread, 1, 2, &value), 0);
    ExpectError(-6, "Invalid opcode received");
}

TEST_F(BoardObjectsTest, AJpegRestoreOfADirectoryOpensNothing)
{
    uint32_t id = 0x55;
    EXPECT_EQ(imJpegRestore(kSystemThread, root_.c_str(), &id), 0u);
    EXPECT_EQ(id, 0x55u);
    // The object's allocation failed first on this node; its error is the one kept.
    ExpectError(-6, "Invalid opcode received");
}

TEST_F(BoardObjectsTest, AJpegSaveThatCannotCreateItsFileSaysSo)
{
    EXPECT_NE(imJpegSave(kSystemThread, (root_ + "/absent/x.jpg").c_str(), 7), 0);
    ExpectError(-4, "Can not Open Output file");
}

TEST_F(BoardObjectsTest, PatternModelFilesAreRefusedBeforeAnythingIsSent)
{
    std::vector<uint8_t> v2 = Model();
    v2[4] = 2;
    uint32_t model = 0x77;
    EXPECT_NE(imPatRestore(kSystemThread, Write("v2.pat", v2).c_str(), &model), 0);
    EXPECT_EQ(model, 0u);
    ExpectError(-3, "File does not contain valid model");

    // Nine levels: the level table holds eight.
    std::vector<uint8_t> nine = Model();
    nine[308] = 9;
    model = 0x77;
    EXPECT_NE(imPatRestore(kSystemThread, Write("nine.pat", nine).c_str(), &model), 0);
    EXPECT_EQ(model, 0u);
    ExpectError(-3, "File does not contain valid model");

    // A file shorter than the model its header names.
    std::vector<uint8_t> shortModel = Model();
    shortModel.resize(720);
    EXPECT_NE(imPatRestore(kSystemThread, Write("short.pat", shortModel).c_str(), &model), 0);
    ExpectError(-3, "File does not contain valid model");

    EXPECT_NE(imPatRestore(kSystemThread, root_.c_str(), &model), 0);
    ExpectError(-3, "Can't open file for reading");
    EXPECT_NE(imPatSave(kSystemThread, (root_ + "/absent/x.pat").c_str(), 5), 0);
    ExpectError(-3, "Can't open file for writing");
}

TEST_F(BoardObjectsTest, AModelTheNodeCannotKeepLeavesNoBufferBehind)
{
    const uint32_t before = FreeBoardBytes();
    ASSERT_GT(before, 0u);
    uint32_t model = 0x77;
    EXPECT_NE(imPatRestore(kSystemThread, Write("m.pat", Model()).c_str(), &model), 0);
    EXPECT_EQ(model, 0u);
    ExpectError(-6, "Invalid opcode received");
    // The temporary buffer went back: a synchronous inquiry follows the free.
    EXPECT_EQ(FreeBoardBytes(), before);
}

TEST_F(BoardObjectsTest, ASaveThatFailsLeavesTheExistingFileAsItWas)
{
    const std::string path = Write("kept.pat", {1, 2, 3, 4});
    EXPECT_NE(imPatSave(kSystemThread, path.c_str(), 0x00110005u), 0);
    ExpectError(-6, "Invalid opcode received");
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes, (std::vector<uint8_t>{1, 2, 3, 4}));
    // No temporary file is left beside it.
    int entries = 0;
    const std::string cmd = "ls -A '" + root_ + "' | wc -l";
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(std::fscanf(p, "%d", &entries), 1);
    pclose(p);
    EXPECT_EQ(entries, 2);   // halcyra.ini and kept.pat
}

TEST_F(BoardObjectsTest, BlobResultsOnAHostNodeCopyNothing)
{
    std::vector<uint8_t> array(16, 0xCC);
    EXPECT_NE(imBlobGetResult(kSystemThread, 1, 2, 3, array.data(), 16), 0);
    ExpectError(-6, "Invalid opcode received");
    EXPECT_EQ(array[0], 0xCC);
    uint32_t ids[14] = {};
    EXPECT_EQ(imPatAllocAutoModel(kSystemThread, 0, 0, 0, 0, 0, 0, 0, ids), 0);
    ExpectError(-6, "Invalid opcode received");
}

}  // namespace
