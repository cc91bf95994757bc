// Every file reader of the library against a named pipe swapped in for its file: while a
// thread exchanges the file and a pipe for a second, the reader reads the path again and
// again. A reader that looked at the path and then opened it would, now and then, open the
// pipe and wait in open() for a writer for ever; each read must return at once instead.
#include "camfile.h"
#include "fpgaload.h"
#include "halcyraini.h"
#include "hlc_wiring.h"
#include "im_msgio.h"
#include "imjpeg.h"
#include "impat.h"
#include "shellload.h"
#include "videomode.h"

#include "../common/ll/fakeconsole.h"
#include "boardsim.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <future>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Reader {
    const char* name;
    const char* file;
    std::string content;
    void (*read)(const char* path);
};

const std::vector<Reader>& Readers()
{
    static const std::vector<Reader> readers{
        {"Ini", "halcyra.ini", "[Node]\nNodeId=0x11\nDeviceNbr=0x000d04\n",
         [](const char* path) {
             HalcyraIniLoad(path, nullptr, 1);
             HalcyraIniFree(nullptr);
         }},
        {"VideoConfiguration", "mode.vcf", "[REG_DIGIT]\nCOLUMN 640\n[EOF]\n",
         [](const char* path) {
             VIDEO_PARAM param{};
             im_vcf_load_file(path, &param);
         }},
        {"Camera", "camera.dcf", "[CONFIG_FILE]\n50CF\nHALCYRA_GRAB_0\n[REG_DIGIT]\nDIG_HTOTAL 7\n[EOF]\n",
         [](const char* path) {
             _MSG_ST msg{};
             im_msg_start(&msg, 49, 3, "imCamAlloc");
             _DCF_ENTRY* entries = nullptr;
             int32_t count = 0;
             im_cam_load(&msg, &entries, &count, path, 1);
             std::free(entries);
         }},
        {"Fpga", "module.res", "Generic=0110\n",
         [](const char* path) {
             FILE* file = nullptr;
             PrFpgaSeekGeneric(0x11, path, &file, nullptr, nullptr);
             if (file) std::fclose(file);
         }},
        {"Shell", "shell.out", std::string(64, 'x'),
         [](const char* path) {
             std::string name = path;
             char* p = name.data();
             LdShellToLocalCpu(0x11, &p, 0x60, 0, 0, nullptr);   // check only, no messages
         }},
        {"Jpeg", "image.jpg", "not a jpeg",
         [](const char* path) {
             uint32_t id = 0;
             imJpegRestore(0, path, &id);
         }},
        {"PatternModel", "model.pat", "not a model",
         [](const char* path) {
             uint32_t model = 0;
             imPatRestore(0, path, &model);
         }},
    };
    return readers;
}

class ReaderSwapTest : public ::testing::TestWithParam<size_t> {
protected:
    void SetUp() override
    {
        HlcWireLibrary();
        boardsim::BoardSim::instance().configure();
        char dir[] = "/tmp/hlcswapXXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        dir_ = dir;
    }
    void TearDown() override
    {
        HalcyraIniFree(nullptr);
        LdShellToLocalCpu(0x11, nullptr, 0, 0, 0, nullptr);
        boardsim::BoardSim::instance().configure();
        testing_console::RemoveTree(dir_);
    }

    testing_console::FakeConsole console_;
    std::string dir_;
};

TEST_P(ReaderSwapTest, APipeSwappedInForTheFileNeverHoldsTheReader)
{
    const Reader& reader = Readers()[GetParam()];
    const std::string file = dir_ + "/" + reader.file;
    const std::string pipe = dir_ + "/pipe";
    std::ofstream(file, std::ios::binary) << reader.content;
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    if (renameat2(AT_FDCWD, file.c_str(), AT_FDCWD, pipe.c_str(), RENAME_EXCHANGE) != 0)
        GTEST_SKIP() << "no exchanging rename here";

    std::atomic<bool> swapping{true};
    std::atomic<int> swaps{0};
    std::thread swapper([&] {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        while (std::chrono::steady_clock::now() < end)
            if (renameat2(AT_FDCWD, file.c_str(), AT_FDCWD, pipe.c_str(), RENAME_EXCHANGE) == 0) ++swaps;
        swapping = false;
    });
    std::future<int> reads = std::async(std::launch::async, [&] {
        int n = 0;
        do {
            reader.read(file.c_str());
            ++n;
        } while (swapping);
        return n;
    });
    swapper.join();
    if (reads.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
        ADD_FAILURE() << reader.name << " reader blocked on the pipe";
        // A writer that opens and closes the pipe, under either name, lets it go.
        while (reads.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready)
            for (const std::string& path : {file, pipe}) {
                const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                if (fd >= 0) ::close(fd);
            }
    }
    EXPECT_GT(reads.get(), 1);
    EXPECT_GT(swaps.load(), 1);
}

INSTANTIATE_TEST_SUITE_P(EveryReader, ReaderSwapTest, ::testing::Range<size_t>(0, 7),
                         [](const ::testing::TestParamInfo<size_t>& info) { return Readers()[info.param].name; });

}  // namespace
