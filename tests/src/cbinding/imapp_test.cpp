// The application calls (error hook, communication time-out, last-error record in every
// mode) and the ring dump of imSysDiag.
#include "imsys.h"
#include "ringnode.h"

#include "../common/ll/fakeconsole.h"
#include "consolepipe.h"
#include "hlc_errors.h"
#include "nodeinit.h"
#include "nodelist.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

// A thread id whose node is not open: every command to it fails at the sender.
constexpr uint32_t kNoSuchThread = 0x40550010u;

struct HookCall {
    int32_t type, code;
    uint32_t user;
    std::string function, message;
};
std::vector<HookCall> g_hookCalls;

int32_t RecordingHook(int32_t type, int32_t code, uint32_t user)
{
    char function[32] = {}, message[80] = {};
    imAppGetError(8, function);
    imAppGetError(4, message);
    g_hookCalls.push_back({type, code, user, function, message});
    return 0;
}

class AppTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        im_msg_reset_application();
        g_hookCalls.clear();
        savedNodeSt_ = imNodeSt;
        imNodeSt = nullptr;
    }
    void TearDown() override
    {
        imAppCatchError(0, nullptr, 0);
        // The global state the application calls made.
        mp_exit_global();
        imNodeSt = savedNodeSt_;
        im_msg_reset_application();
    }
    // Files -10 "Invalid thread ID" from "imSysClock" into the last-error record.
    static void RaiseError() { imSysClock(kNoSuchThread, 0.0); }
    _NODE_ST* savedNodeSt_ = nullptr;
};

TEST_F(AppTest, HookReceivesTheFunctionAndMessageOfTheFirstError)
{
    imAppCatchError(0x1234, RecordingHook, 0xBEEF);
    RaiseError();
    ASSERT_EQ(g_hookCalls.size(), 1u);
    EXPECT_EQ(g_hookCalls[0].code, HLC_ERR_INVALID_THREAD);
    EXPECT_EQ(g_hookCalls[0].user, 0xBEEFu);
    EXPECT_EQ(g_hookCalls[0].function, "imSysClock");
    EXPECT_EQ(g_hookCalls[0].message, "Invalid thread ID");
    // The record keeps its first error: a second one is not filed and not hooked.
    imSysGetMemoryMap(kNoSuchThread, 0, nullptr);
    EXPECT_EQ(g_hookCalls.size(), 1u);
    // Removed, the hook is not called any more.
    imAppGetError(1, nullptr);
    imAppCatchError(0, nullptr, 0);
    RaiseError();
    EXPECT_EQ(g_hookCalls.size(), 1u);
    EXPECT_EQ(imAppGetError(0, nullptr), HLC_ERR_INVALID_THREAD);
}

TEST_F(AppTest, GetErrorAnswersEachItemAndKeepsTheRecordForEvenModes)
{
    RaiseError();
    int32_t code = 0;
    EXPECT_EQ(imAppGetError(2, &code), HLC_ERR_INVALID_THREAD);
    EXPECT_EQ(code, HLC_ERR_INVALID_THREAD);
    char text[kMsgErrorTextBytes];
    EXPECT_EQ(imAppGetError(4, text), HLC_ERR_INVALID_THREAD);
    EXPECT_STREQ(text, "Invalid thread ID");
    EXPECT_EQ(imAppGetError(8, text), HLC_ERR_INVALID_THREAD);
    EXPECT_STREQ(text, "imSysClock");
    EXPECT_EQ(imAppGetError(12, text), HLC_ERR_INVALID_THREAD);
    EXPECT_STREQ(text, "Error in imSysClock():\n<Invalid thread ID>");
    // Modes that select nothing write nothing.
    std::memset(text, 'x', sizeof text);
    EXPECT_EQ(imAppGetError(0, text), HLC_ERR_INVALID_THREAD);
    EXPECT_EQ(imAppGetError(6, text), HLC_ERR_INVALID_THREAD);
    EXPECT_EQ(text[0], 'x');
    EXPECT_EQ(imAppGetError(0, nullptr), HLC_ERR_INVALID_THREAD);
}

TEST_F(AppTest, OddModesAnswerAndThenClear)
{
    char text[kMsgErrorTextBytes];
    const struct {
        int32_t mode;
        const char* expected;
    } cases[] = {{5, "Invalid thread ID"}, {9, "imSysClock"}, {13, "Error in imSysClock():\n<Invalid thread ID>"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        RaiseError();
        EXPECT_EQ(imAppGetError(c.mode, text), HLC_ERR_INVALID_THREAD);
        EXPECT_STREQ(text, c.expected);
        EXPECT_EQ(imAppGetError(0, nullptr), 0);
    }
    RaiseError();
    int32_t code = 0;
    EXPECT_EQ(imAppGetError(3, &code), HLC_ERR_INVALID_THREAD);
    EXPECT_EQ(code, HLC_ERR_INVALID_THREAD);
    // Mode 1 without out: the code, and the record is cleared.
    RaiseError();
    EXPECT_EQ(imAppGetError(1, nullptr), HLC_ERR_INVALID_THREAD);
    EXPECT_EQ(imAppGetError(0, nullptr), 0);
    EXPECT_EQ(im_Application.error.node, mp_sys_this_node_id());
    EXPECT_STREQ(im_Application.error.function, "");
    EXPECT_STREQ(im_Application.error.message, "");
    // A cleared record takes the next error again.
    RaiseError();
    EXPECT_EQ(imAppGetError(0, nullptr), HLC_ERR_INVALID_THREAD);
}

TEST_F(AppTest, NoErrorWritesOneZeroWord)
{
    uint8_t out[8];
    for (int32_t mode : {2, 4, 8, 12, 13}) {
        std::memset(out, 0xAB, sizeof out);
        EXPECT_EQ(imAppGetError(mode, out), 0) << mode;
        EXPECT_EQ(out[0] | out[1] | out[2] | out[3], 0) << mode;
        EXPECT_EQ(out[4], 0xAB) << mode;
    }
}

TEST_F(AppTest, TimeoutOfMinusOneOrZeroIs365Days)
{
    for (double v : {-1.0, 0.0}) {
        imAppControl(IM_APP_TIMEOUT, v);
        double d = 0.0;
        EXPECT_EQ(imAppInquire(IM_APP_TIMEOUT, &d), 31536000);
        EXPECT_EQ(d, 3.1536e7);
        ASSERT_NE(imNodeSt, nullptr);
        EXPECT_EQ(imNodeSt->timeouts[3], 3.1536e7);
    }
    imAppControl(IM_APP_TIMEOUT, 2.75);
    double d = 0.0;
    EXPECT_EQ(imAppInquire(IM_APP_TIMEOUT, &d), 2);
    EXPECT_EQ(d, 2.75);
    // A negative time-out other than -1 is refused with -8; the chosen one stays.
    imAppControl(IM_APP_TIMEOUT, -3.0);
    EXPECT_EQ(imAppInquire(IM_APP_TIMEOUT, nullptr), 2);
    char text[kMsgErrorTextBytes];
    EXPECT_EQ(imAppGetError(13, text), HLC_ERR_INVALID_PARAMETER);
    EXPECT_STREQ(text, "Error in imAppControl():\n<Parameter invalid or unacceptable>");
    // Other types do nothing and answer 0.
    imAppControl(2, 99.0);
    d = -5.0;
    EXPECT_EQ(imAppInquire(2, &d), 0);
    EXPECT_EQ(d, -5.0);
    EXPECT_EQ(imAppInquire(IM_APP_TIMEOUT, nullptr), 2);
}

TEST_F(AppTest, ChosenTimeoutGoesIntoTheTableAndEndsWithIt)
{
    double table[11] = {5.0, 5.0, 1.0, 15.0, 15.0, 15.0, 0.0, -1.0, 0.0, 0.0, 5.0};
    _NODE_ST state{};
    state.timeouts = table;
    imNodeSt = &state;
    imAppControl(IM_APP_TIMEOUT, 40.0);
    EXPECT_EQ(table[3], 40.0);
    EXPECT_EQ(imAppInquire(IM_APP_TIMEOUT, nullptr), 40);
    // The last node closes: the next call makes a new table, at the default 15 s.
    imNodeSt = nullptr;
    double d = 0.0;
    EXPECT_EQ(imAppInquire(IM_APP_TIMEOUT, &d), 15);
    EXPECT_EQ(d, 15.0);
    ASSERT_NE(imNodeSt, nullptr);
    imAppControl(IM_APP_TIMEOUT, 12.0);
    EXPECT_EQ(imNodeSt->timeouts[3], 12.0);
    EXPECT_EQ(table[3], 40.0);
}

// ---- the ring dump ----------------------------------------------------------------------------

class SysDiagTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        device_ = ringnode::SetUpRingNode(timeouts_);
        ASSERT_NE(device_, kInvalidDevice);
        backend_ = testing_console::ConsoleRegistry();
        scoped_.emplace(backend_);
        console_.emplace();
        im_open_pipe(0);
        ASSERT_TRUE(im_pipe_is_open());
        char dir[] = "/tmp/hlcdiagXXXXXX";
        dir_ = mkdtemp(dir);
    }
    void TearDown() override
    {
        im_close_pipe();
        console_.reset();
        scoped_.reset();
        std::remove((dir_ + "/dump.bin").c_str());
        rmdir(dir_.c_str());
        ringnode::TearDownRingNode(device_);
    }
    std::string Console()
    {
        std::string all;
        for (const auto& r : console_->Records()) all += r.Text();
        return all;
    }
    double timeouts_[11] = {5.0, 5.0, 0.2, 5.0, 0.05, 0.02, 0.0, -1.0, 0.0, 0.0, 5.0};
    DeviceHandle device_ = kInvalidDevice;
    std::shared_ptr<qsrf::registry::MemoryBackend> backend_;
    std::optional<qsrf::registry::ScopedProcessBackend> scoped_;
    std::optional<testing_console::FakeConsole> console_;
    std::string dir_;
};

TEST_F(SysDiagTest, DumpHoldsTheRingHeaderAndEverySlot)
{
    using ringnode::g_header;
    using ringnode::g_ring;
    g_header[kRingHead] = 2;
    g_header[kRingSequence] = 0x1234;
    for (uint32_t i = 0; i < ringnode::kRingNodeSlots; ++i) {
        ringnode::Slot(i)->opcode = 100 + i;
        ringnode::Slot(i)->status = kMsgDone;
    }
    const std::string path = dir_ + "/dump.bin";
    imSysDiag(0, 0, 0, path.c_str());
    std::ifstream in(path, std::ios::binary);
    const std::string dump((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(dump.size(), 64u + 256u * ringnode::kRingNodeSlots);
    EXPECT_EQ(std::memcmp(dump.data(), g_header, 64), 0);
    EXPECT_EQ(std::memcmp(dump.data() + 64, g_ring + 64, 256 * ringnode::kRingNodeSlots), 0);
    EXPECT_NE(Console().find("Communication state just dump in file '" + path + "'\n"), std::string::npos);
}

TEST_F(SysDiagTest, ASlotCountNoIndexCanNameDumpsOnlyTheHeader)
{
    ringnode::g_header[kRingSlots] = 0x10000;
    const std::string path = dir_ + "/dump.bin";
    imSysDiag(0, 0, 0, path.c_str());
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 64);
    ringnode::g_header[kRingSlots] = ringnode::kRingNodeSlots;
}

TEST_F(SysDiagTest, MessagesForNoRingAndAnUnwritablePath)
{
    imSysDiag(3, 3, 0, (dir_ + "/dump.bin").c_str());
    EXPECT_NE(Console().find("Unable to retrieve communication buffer information\n"), std::string::npos);
    imSysDiag(0, 0, 0, (dir_ + "/missing/dump.bin").c_str());
    EXPECT_NE(Console().find("Error opening dump file\n"), std::string::npos);
    struct stat st {};
    EXPECT_NE(stat((dir_ + "/dump.bin").c_str(), &st), 0);
}

TEST_F(SysDiagTest, OtherModesAndNoPathWriteNothing)
{
    const std::string path = dir_ + "/dump.bin";
    imSysDiag(0, 0, 1, path.c_str());
    imSysDiag(0, 0, 0, nullptr);
    struct stat st {};
    EXPECT_NE(stat(path.c_str(), &st), 0);
    EXPECT_EQ(Console().find("Communication state"), std::string::npos);
    EXPECT_EQ(Console().find("Error opening"), std::string::npos);
}

}  // namespace
