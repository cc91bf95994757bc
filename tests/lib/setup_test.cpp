// The set-up a program starts from, through hlclib.h and libhlclib.so only, on the machine
// the library simulates when nobody configures one: the shipped example files open the
// board with its FPGA loaded and no error, every named init mode gives an id that closes,
// and a missing ini file is the open's error.
#include "hlclib.h"
#include "hlclib_board.h"
#include "libsandbox.h"

#include "boardsim.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kNode = IM_NODE(0, 0);
const std::filesystem::path kExamples = std::filesystem::path(__FILE__).parent_path() / "../../examples";

std::string ReadExample(const std::string& name)
{
    std::ifstream in(kExamples / name, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_FALSE(text.str().empty()) << name;
    return text.str();
}

class SetupTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* name : {"FPGANAME", "FPGAPATH", "COFFLOADOPTION", "COFFPATH"}) unsetenv(name);
        // Console messages go to a pipe that nobody serves (and HALCYRA names no console
        // program), never to a console of the user's.
        setenv("HLCCOUT_PIPE", box_.path("console").c_str(), 1);
        // The shipped ini file as the installation writes it: its FpgaPath is its own
        // directory, which holds the shipped FPGA file.
        std::string ini = ReadExample("halcyra.ini.in");
        const std::string placeholder = "@HLC_EXAMPLES_DIR@";
        ASSERT_NE(ini.find(placeholder), std::string::npos);
        ini.replace(ini.find(placeholder), placeholder.size(), box_.root());
        box_.write("halcyra.ini", ini);
        box_.write("hlcgrab1.res", ReadExample("hlcgrab1.res"));
        boardsim::BoardSim::instance().configure();
    }
    void TearDown() override
    {
        for (int i = 0; i < 16 && mp_sys_node_resource_ptr(kNode); ++i) imDevFree(kNode << 16);
        unsetenv("HLCCOUT_PIPE");
        boardsim::BoardSim::instance().configure();
    }
    libsandbox::Sandbox box_{"hlcsetup"};
};

TEST_F(SetupTest, TheShippedFilesOpenTheBoardWithItsFpgaLoadedAndNoError)
{
    uint32_t device = 0;
    ASSERT_NE(imDevAlloc(0, 0, IM_DEV_INIT_HOST, IM_DEV_FPGA_LOAD, &device), 0u) << libsandbox::LastText();
    libsandbox::ExpectNoError();
    const boardsim::FpgaView fpga = boardsim::BoardSim::instance().fpga(0);
    EXPECT_TRUE(fpga.done());
    EXPECT_EQ(fpga.pulses(), 1u);
    // 61 bits of eight lanes and each lane's trailer 1, 0, 1: the first bits of the lanes are
    // 0, 1, 1, 1, 1, 0, 0, 0.
    const std::vector<uint8_t> data = fpga.data();
    ASSERT_EQ(data.size(), 64u);
    EXPECT_EQ(data[0], 0x1E);
    EXPECT_EQ(std::vector<uint8_t>(data.begin() + 61, data.end()), (std::vector<uint8_t>{0xFF, 0x00, 0xFF}));
    EXPECT_EQ(imDevFree(device), 0);
    libsandbox::ExpectNoError();
}

// Every named init mode: the id it gives is closed by imDevFree with 0, which shuts the node
// down, and the same open works again.
class InitModeTest : public SetupTest, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(InitModeTest, GivesAnIdThatClosesAndOpensAgain)
{
    const uint32_t mode = GetParam();
    const bool registersOnly = (mode & ~IM_DEV_INIT_NO_WINDOWS) == IM_DEV_INIT_REGISTERS;
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        uint32_t device = 0;
        imDevAlloc(0, 0, mode, IM_DEV_FPGA_LOAD, &device);
        if (registersOnly) {
            EXPECT_EQ(device, kNode << 16);
            libsandbox::ExpectError(IM_ERR_RESTRICTED, "DSP is ignored", "imDevAlloc");
        } else {
            EXPECT_EQ(IM_NODE_OF(device), kNode) << libsandbox::LastText();
            EXPECT_EQ(imDevInquire(device, IM_DEV_SYSTEM, nullptr), 0u);
            libsandbox::ExpectNoError();
        }
        ASSERT_NE(mp_sys_node_resource_ptr(kNode), nullptr);
        EXPECT_EQ(imDevFree(device), 0);
        EXPECT_EQ(imNodeSt, nullptr);
        libsandbox::ExpectNoError();
        EXPECT_EQ(mp_sys_node_resource_ptr(kNode), nullptr);
    }
}

INSTANTIATE_TEST_SUITE_P(Named, InitModeTest,
                         ::testing::Values(IM_DEV_INIT_HOST, IM_DEV_INIT_REGISTERS, IM_DEV_INIT_DOWNLOAD,
                                           IM_DEV_INIT_REUSE, IM_DEV_INIT_HOST | IM_DEV_INIT_NO_WINDOWS,
                                           IM_DEV_INIT_REGISTERS | IM_DEV_INIT_NO_WINDOWS));

TEST_F(SetupTest, AnIniFileFoundNowhereIsTheOpensError)
{
    // HLCINIPATH names a directory that does not exist, and neither the current directory,
    // HALCYRA's shell directory nor the PATH holds the file.
    const std::string empty = box_.path("empty");
    std::filesystem::create_directory(empty);
    char cwd[PATH_MAX];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(empty.c_str()), 0);
    const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", empty.c_str(), 1);
    setenv("HLCINIPATH", box_.path("missing").c_str(), 1);
    uint32_t device = 7;
    EXPECT_EQ(imDevAlloc(0, 0, IM_DEV_INIT_HOST, IM_DEV_FPGA_LOAD, &device), 0u);
    EXPECT_EQ(device, 0u);
    EXPECT_EQ(imNodeSt, nullptr);
    libsandbox::ExpectError(IM_ERR_NO_SYSTEM, "HlcLib was unable to locate Ini file", "imDevAlloc");
    setenv("PATH", path.c_str(), 1);
    ASSERT_EQ(chdir(cwd), 0);
}

}  // namespace
