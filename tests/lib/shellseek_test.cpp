// A processor board whose shell file names section data past the file's end, opened
// through hlclib.h and libhlclib.so: the shell loader's seek fails with its message on the
// console, the shell counts as invalid and the node does not open.
#include "hlclib.h"
#include "hlclib_board.h"
#include "libsandbox.h"
#include "processornode.h"

#include "../src/common/ll/fakeconsole.h"
#include "../src/host/ll/shellfile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

class ShellSeekTest : public processornode::ProcessorBoardTest {};

TEST_F(ShellSeekTest, ASeekPastTheFileEndIsReportedAndTheNodeStaysClosed)
{
    testing_console::FakeConsole console;
    box_.write("halcyra.ini", std::string("[GlobalSetting]\nApplicationMessaging=2\n") + libsandbox::kOneBoard);
    std::vector<uint8_t> shell = shellfile::ShellFile(processornode::kShellValue);
    // The data offset of ".text": behind the 22-byte file header, the 28-byte optional
    // header and the section header's first 20 bytes.
    const uint32_t past = 0x100000;
    std::memcpy(&shell[22 + 28 + 20], &past, 4);
    FILE* f = std::fopen(box_.path("shell.out").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(shell.data(), 1, shell.size(), f);
    std::fclose(f);

    EXPECT_EQ(Open(), 0u);
    EXPECT_NE(imAppGetError(0, nullptr), 0);
    std::string text;
    for (const hlccon::Record& r : console.Records()) text += r.Text();
    EXPECT_NE(text.find("\nHalcyra: Data seek failure\n"), std::string::npos) << text;
    EXPECT_NE(text.find("is invalid, no download performed.\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("Data read failure"), std::string::npos) << text;
    EXPECT_FALSE(boardsim::BoardSim::instance().cpu(0).running());
    imAppGetError(1, nullptr);
}

} // namespace
