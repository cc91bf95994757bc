// The camera and digitizer exports on a simulated host-served node opened with
// imDevAlloc: what each puts into its command message, what the caller gets back, the
// camera-file side of allocation and save, and the errors found on the caller's side.
//
// Stand-in handlers record each command; those with results answer with fixed values
// (the node's own handlers are tested with the node).
#include "imcam.h"
#include "imbuf.h"
#include "imdev.h"
#include "imsys.h"

#include "../host/ll/openednode.h"

#include "bufid.h"
#include "camfile.h"
#include "camhandlers.h"
#include "cmdserver.h"
#include "im_msgio.h"
#include "nodeinit.h"
#include "nodelist.h"
#include "reqres.h"
#include "syncobj.h"

#include <unistd.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kNode = 0x11;
constexpr uint32_t kThread = 0x40000010u | (kNode << 16);
constexpr uint32_t kCameraId = 0x00110042u;

struct Command {
    uint32_t opcode = 0, sent = 0, control = 0, replyMode = 0;
    uint8_t param[kMsgMaxParams][8] = {};
    std::vector<_DCF_ENTRY> entries;   // opcode 49: the entry buffer's contents
    uint32_t Word(uint32_t slot) const
    {
        uint32_t w;
        std::memcpy(&w, param[slot], 4);
        return w;
    }
    double Double(uint32_t slot) const
    {
        double d;
        std::memcpy(&d, param[slot], 8);
        return d;
    }
};

std::mutex g_lock;
std::vector<Command> g_commands;
// Fixed answers of the stand-ins.
double g_inquired = 0.0;
uint32_t g_savedList = 0;
int32_t g_savedCount = 0;

std::vector<Command> Commands()
{
    std::lock_guard<std::mutex> hold(g_lock);
    return g_commands;
}

void Record(_MSG_BODY_ST* m, Command c = {})
{
    c.opcode = m->opcode;
    c.sent = m->counts & 0xFFFF;
    c.control = m->control;
    c.replyMode = m->replyMode & 0xFFFF;
    std::memcpy(c.param, m->param, sizeof c.param);
    std::lock_guard<std::mutex> hold(g_lock);
    g_commands.push_back(c);
}

void StandIn(_MSG_BODY_ST* m)
{
    MP_RESOURCE_ST* res = mp_res_alloc(m, kResReplySize, "StandIn");
    if (mp_res_ok(res)) {
        Command c;
        switch (m->opcode) {
        case kOpCamAlloc: {
            _MP_BUF_ST* b = mp_buf_pointer(mp_msg_param(m, 0));
            if (b && mp_buf_valid(b, 0)) {
                const auto* list = static_cast<const _DCF_ENTRY*>(mp_buf_address_band_internal(b, 0));
                c.entries.assign(list, list + mp_msg_param(m, 1));
            }
            Record(m, c);
            mp_msg_put_reply(m, 0, kCameraId);
            break;
        }
        case kOpCamClone:
        case kOpDigAlloc:
            Record(m);
            mp_msg_put_reply(m, 0, kCameraId + 1);
            break;
        case kOpCamInquire:
        case kOpDigInquire:
            Record(m);
            std::memcpy(m->param[0], &g_inquired, 8);
            m->counts = (m->counts & 0xFFFF) | (1u << 16);
            break;
        case kOpCamSave:
            Record(m);
            if (mp_msg_param(m, 1) == 0) {
                mp_msg_put_reply(m, 0, g_savedList);
                mp_msg_put_reply(m, 1, static_cast<uint32_t>(g_savedCount));
            } else if (_MP_BUF_ST* b = mp_buf_pointer(mp_msg_param(m, 0))) {
                if (mp_buf_valid(b, 0)) mp_buf_free(b);
            }
            break;
        default:
            Record(m);
        }
    }
    mp_res_free(res);
}

class CamExportTest : public openednode::OpenedNodeTest {
protected:
    void SetUp() override
    {
        IniTest::SetUp();
        im_msg_reset_application();
        imAppControl(1, 2.0);
        {
            std::lock_guard<std::mutex> hold(g_lock);
            g_commands.clear();
        }
        g_inquired = 0.0;
        g_savedList = 0;
        g_savedCount = 0;
        for (uint32_t op : {kOpCamAlloc, kOpCamClone, kOpCamControl, kOpCamFree, kOpCamInquire, kOpCamSave,
                            kOpDigAlloc, kOpDigControl, kOpDigFree, kOpDigGrab, kOpDigInquire, kOpDigCapture,
                            kOpDigLutGet, kOpDigLutSet, kOpThrNop})
            mp_server_set_handler(op, StandIn);
        OpenNode();
        if (HasFatalFailure()) return;
        dcfDir_ = root_ + "/dcf";
        ASSERT_EQ(mkdir(dcfDir_.c_str(), 0755), 0);
        saved_.push_back(Save("DCFPATH"));
        saved_.push_back(Save("DCFNAME"));
        setenv("DCFPATH", dcfDir_.c_str(), 1);
        unsetenv("DCFNAME");
    }
    // Every command posted before it has been served when it returns.
    void Settle() { imDevInquire(device_, 3, nullptr); }
    std::string WriteDcf(const std::string& name, const std::string& text)
    {
        const std::string path = dcfDir_ + "/" + name;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    static std::string Read(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    static Command Last(uint32_t opcode)
    {
        const auto all = Commands();
        for (auto it = all.rbegin(); it != all.rend(); ++it)
            if (it->opcode == opcode) return *it;
        return Command{};
    }
    static int Count(uint32_t opcode)
    {
        int n = 0;
        for (const Command& c : Commands()) n += c.opcode == opcode ? 1 : 0;
        return n;
    }
    static bool IsBuffer(uint32_t id)
    {
        _MP_BUF_ST* b = mp_buf_pointer(id);
        return b && mp_buf_valid(b, 0);
    }

    std::string dcfDir_;
};

constexpr const char* kCameraFile =
    "[CONFIG_FILE]\n50CF\nHALCYRA_GRAB_0\n\n[REG_DIGIT]\nDIG_HTOTAL 0x35a\nDIG_VTOTAL 525\n[EOF]\n";

// ---------------------------------------------------------------- allocation

TEST_F(CamExportTest, ACameraFileFoundAlongTheSearchPathGoesToTheNodeAsEntries)
{
    WriteDcf("ntsc.dcf", kCameraFile);
    uint32_t camera = 0;
    EXPECT_EQ(imCamAlloc(kThread, "ntsc", 1, &camera), kCameraId);
    EXPECT_EQ(camera, kCameraId);
    EXPECT_EQ(LastError(), 0) << LastText();

    const Command c = Last(kOpCamAlloc);
    EXPECT_EQ(c.sent, 3u);
    EXPECT_EQ(c.replyMode, IM_REPLY_POLL);
    EXPECT_EQ(c.Word(1), 200u);
    EXPECT_EQ(c.Word(2), 1u);
    ASSERT_EQ(c.entries.size(), 200u);
    EXPECT_STREQ(c.entries[0].name, "HALCYRA_GRAB_0");
    EXPECT_STREQ(c.entries[1].name, "VDL_AMPL");
    EXPECT_EQ(c.entries[1].value, 700u);
    EXPECT_STREQ(c.entries[2].name, "VDL_PED_AMP");
    EXPECT_STREQ(c.entries[3].name, "DIG_HTOTAL");
    EXPECT_EQ(c.entries[3].value, 858u);
    EXPECT_STREQ(c.entries[4].name, "DIG_VTOTAL");
    EXPECT_EQ(c.entries[4].value, 525u);
    EXPECT_EQ(c.entries[5].name[0], 0);
    // The entry buffer is gone once the node has answered.
    Settle();
    EXPECT_FALSE(IsBuffer(c.Word(0)));
}

TEST_F(CamExportTest, WithoutANameTheSettingNamesTheCameraFile)
{
    WriteDcf("fromenv.dcf", kCameraFile);
    setenv("DCFNAME", "fromenv", 1);
    EXPECT_EQ(imCamAlloc(kThread, nullptr, 1, nullptr), kCameraId);
    EXPECT_EQ(Count(kOpCamAlloc), 1);
}

TEST_F(CamExportTest, CameraTextInMemoryGoesWithFileFlagZero)
{
    EXPECT_EQ(imCamAlloc(kThread, "[REG_DIGIT]\nDIG_HTOTAL 100\n[EOF]\n", 0, nullptr), kCameraId);
    const Command c = Last(kOpCamAlloc);
    EXPECT_EQ(c.Word(2), 0u);
    ASSERT_EQ(c.entries.size(), 200u);
    EXPECT_STREQ(c.entries[3].name, "DIG_HTOTAL");
    EXPECT_EQ(c.entries[3].value, 100u);
}

TEST_F(CamExportTest, AllocationFailuresOnTheCallersSideAskNothingOfTheNode)
{
    uint32_t camera = 9;
    EXPECT_EQ(imCamAlloc(kThread, "absent", 1, &camera), 0u);
    EXPECT_EQ(camera, 0u);
    ExpectError(-3, "Cannot find file in path", "imCamAlloc");
    // The console shows where the file was looked for, and without a name which setting
    // is missing.
    EXPECT_EQ(imCamAlloc(kThread, nullptr, 1, &camera), 0u);
    ExpectError(-3, "Cannot find file in path", "imCamAlloc");
    char* cwd = getcwd(nullptr, 0);
    const std::string console = ConsoleOutput();
    EXPECT_NE(console.find("\nHlcLib was unable to locate camera file 'absent' in any of the following path(s):\n" +
                           std::string(cwd) + "\nDCFPATH=" + dcfDir_ + "\n"),
              std::string::npos)
        << console;
    EXPECT_NE(console.find("\nHlcLib has no camera file name: DCFNAME is not set\n"), std::string::npos) << console;
    std::free(cwd);

    WriteDcf("other.dcf", "[CONFIG_FILE]\n50CF\nOTHER_GRAB\n[REG_DIGIT]\n[EOF]\n");
    camera = 9;
    EXPECT_EQ(imCamAlloc(kThread, "other", 1, &camera), 0u);
    EXPECT_EQ(camera, 0u);
    ExpectError(-3, "Non-Halcyra DCF", "imCamAlloc");

    EXPECT_EQ(imCamAlloc(kThread, "no section\n", 0, &camera), 0u);
    ExpectError(-3, "Reading DCF", "imCamAlloc");
    EXPECT_EQ(Count(kOpCamAlloc), 0);
}

// The node's one-dimensional buffer allocation, refused.
void NoBuffer(_MSG_BODY_ST* m)
{
    MP_RESOURCE_ST* res = mp_res_alloc(m, kResReplySize, "BufAlloc1d");
    if (mp_res_ok(res)) mp_msg_put_reply(m, 0, 0);
    mp_res_free(res);
}

TEST_F(CamExportTest, AnEntryBufferTheNodeCannotGiveIsAShortageOfResources)
{
    WriteDcf("ntsc.dcf", kCameraFile);
    mp_server_set_handler(kOpBufAlloc1d, NoBuffer);
    uint32_t camera = 9;
    EXPECT_EQ(imCamAlloc(kThread, "ntsc", 1, &camera), 0u);
    EXPECT_EQ(camera, 0u);
    ExpectError(-4, "Invalid buffer ID", "imCamAlloc");
    EXPECT_EQ(Count(kOpCamAlloc), 0);
}

// ---------------------------------------------------------------- save

// An entry buffer on the node holding a saved list, as the node's save makes it.
uint32_t SavedList(uint32_t device, const std::vector<_DCF_ENTRY>& list)
{
    const uint32_t id = imBufAlloc1d(device, static_cast<int32_t>(list.size() * sizeof(_DCF_ENTRY)), 0x10000008u,
                                     kLocInline, nullptr);
    if (id) imBufPut(device, id, list.data());
    return id;
}

std::vector<_DCF_ENTRY> Entries(std::initializer_list<std::pair<const char*, uint32_t>> lines)
{
    std::vector<_DCF_ENTRY> list;
    for (const auto& l : lines) {
        _DCF_ENTRY e{};
        std::strncpy(e.name, l.first, sizeof e.name - 1);
        e.value = l.second;
        list.push_back(e);
    }
    return list;
}

TEST_F(CamExportTest, ASaveWritesTheNodesEntriesAndFreesTheEntryBuffer)
{
    g_savedList = SavedList(device_, Entries({{"HALCYRA_GRAB_0", 0}, {"DIG_HTOTAL", 858}, {"VDL_PED_AMP", 0}}));
    ASSERT_NE(g_savedList, 0u);
    g_savedCount = 3;
    EXPECT_EQ(imCamSave(kThread, "saved.dcf", kCameraId), 0) << LastText();
    Settle();
    const std::string text = Read(root_ + "/cwd/saved.dcf");
    EXPECT_EQ(text.rfind("[CONFIG_FILE]\n50CF\nHALCYRA_GRAB_0\n", 0), 0u) << text;
    EXPECT_NE(text.find("[REG_DIGIT]\nDIG_HTOTAL" + std::string(38, ' ') + "0x35a\nVDL_PED_AMP" +
                        std::string(37, ' ') + "0x0\nVDL_PEDEST" + std::string(38, ' ') +
                        "0x0\n\n[REG_MODIF_STATE]\n\n[EOF]\n"),
              std::string::npos)
        << text;
    // First (camera, 0) waited for, then (entry buffer, 1) posted.
    std::vector<Command> saves;
    for (const Command& c : Commands())
        if (c.opcode == kOpCamSave) saves.push_back(c);
    ASSERT_EQ(saves.size(), 2u);
    const Command first = saves[0];
    EXPECT_EQ(first.Word(0), kCameraId);
    EXPECT_EQ(first.Word(1), 0u);
    EXPECT_EQ(first.replyMode, IM_REPLY_POLL);
    const Command second = saves[1];
    EXPECT_EQ(second.Word(0), g_savedList);
    EXPECT_EQ(second.Word(1), 1u);
    EXPECT_EQ(second.replyMode, IM_REPLY_NOWAIT);
    EXPECT_FALSE(IsBuffer(g_savedList));
}

TEST_F(CamExportTest, ASaveTheNodeCannotServeLeavesTheOldFileAlone)
{
    const std::string path = root_ + "/cwd/keep.dcf";
    std::ofstream(path) << "previous camera\n";
    EXPECT_EQ(imCamSave(kThread, "keep.dcf", kCameraId), -9);
    ExpectError(-9, "Error in execution", "imCamSave");
    EXPECT_EQ(Read(path), "previous camera\n");

    // A count without entry buffer is no answer either.
    g_savedCount = 200;
    EXPECT_EQ(imCamSave(kThread, "keep.dcf", kCameraId), -9);
    EXPECT_EQ(Read(path), "previous camera\n");
    im_msg_reset_application();
}

TEST_F(CamExportTest, ASaveReadsNoMoreThanTheEntryBufferHolds)
{
    // The node claims more entries than its buffer holds: nothing is written, the buffer
    // is still freed.
    g_savedList = SavedList(device_, Entries({{"HALCYRA_GRAB_0", 0}, {"DIG_HTOTAL", 858}}));
    g_savedCount = 200;
    EXPECT_EQ(imCamSave(kThread, "short.dcf", kCameraId), -9);
    ExpectError(-9, "Error in execution", "imCamSave");
    Settle();
    EXPECT_FALSE(IsBuffer(g_savedList));
    EXPECT_EQ(Read(root_ + "/cwd/short.dcf"), "");
}

TEST_F(CamExportTest, ASaveWithoutNameIsRefused)
{
    EXPECT_EQ(imCamSave(kThread, nullptr, kCameraId), -8);
    ExpectError(-8, "Invalid file name", "imCamSave");
    EXPECT_EQ(imCamSave(kThread, "", kCameraId), -8);
    im_msg_reset_application();
    EXPECT_EQ(Count(kOpCamSave), 0);
}

// ---------------------------------------------------------------- inquiries

TEST_F(CamExportTest, CameraInquiriesStoreADoubleOrATruncatedInteger)
{
    g_inquired = 13.75;
    double d = 0.0;
    EXPECT_EQ(imCamInquire(kThread, kCameraId, 30032, &d), 13);
    EXPECT_EQ(d, 13.75);
    // The selector bits do not change the kind of result.
    d = 0.0;
    EXPECT_EQ(imCamInquire(kThread, kCameraId, 0x20000 | 30008, &d), 13);
    EXPECT_EQ(d, 13.75);

    g_inquired = -2.9;
    int32_t words[2] = {77, 77};
    EXPECT_EQ(imCamInquire(kThread, kCameraId, 30005, words), -2);
    EXPECT_EQ(words[0], -2);
    EXPECT_EQ(words[1], 77);   // four bytes only
    const Command c = Last(kOpCamInquire);
    EXPECT_EQ(c.sent, 2u);
    EXPECT_EQ(c.Word(0), kCameraId);
    EXPECT_EQ(c.Word(1), 30005u);

    g_inquired = 1e12;   // beyond 32 bits: clamped, not undefined
    EXPECT_EQ(imCamInquire(kThread, kCameraId, 30005, nullptr), 2147483647);
}

TEST_F(CamExportTest, DigitizerInquiriesSendTheStringAddressOnlyForTheStringRead)
{
    g_inquired = 4.5;
    double d = 0.0;
    EXPECT_EQ(imDigInquire(kThread, 0, 30035, &d), 4);
    EXPECT_EQ(d, 4.5);
    EXPECT_EQ(Last(kOpDigInquire).sent, 2u);
    int32_t w = 0;
    EXPECT_EQ(imDigInquire(kThread, 0, 30032, &w), 4);   // an integer type here
    EXPECT_EQ(w, 4);

    char text[32];
    EXPECT_EQ(imDigInquire(kThread, 0, 0x10000 | 30050, text), 4);
    const Command c = Last(kOpDigInquire);
    EXPECT_EQ(c.sent, 3u);
    EXPECT_EQ(c.Word(2), static_cast<uint32_t>(reinterpret_cast<uintptr_t>(text)));
}

// ---------------------------------------------------------------- commands

TEST_F(CamExportTest, EachCommandCarriesItsParametersInSlotOrder)
{
    uint32_t id = 0;
    EXPECT_EQ(imCamClone(kThread, kCameraId, 3, &id), kCameraId + 1);
    EXPECT_EQ(id, kCameraId + 1);
    EXPECT_EQ(imDigAlloc(kThread, 0, 1, 2, &id), kCameraId + 1);
    EXPECT_EQ(imCamControl(kThread, kCameraId, 30002, 2.25), 0);
    EXPECT_EQ(imCamFree(kThread, kCameraId), 0);
    EXPECT_EQ(imDigControl(kThread, 5, 30010, -9997.0), 0);
    EXPECT_EQ(imDigFree(kThread, 5), 0);
    EXPECT_EQ(imDigGrab(kThread, 5, 6, 7, 8, 9, 0), 0);
    EXPECT_EQ(imDigCapture(kThread, 5, kCameraId, -9997), 0);
    EXPECT_EQ(imDigLutSet(kThread, 5, kCameraId, 12, 7, 16, 256, 1), 0);
    EXPECT_EQ(imDigLutGet(kThread, 5, kCameraId, 12, 7, 16, 256), 0);
    Settle();

    const Command clone = Last(kOpCamClone);
    EXPECT_EQ(clone.sent, 2u);
    EXPECT_EQ(clone.Word(1), 3u);
    const Command dig = Last(kOpDigAlloc);
    EXPECT_EQ(dig.sent, 3u);
    EXPECT_EQ(dig.Word(1), 1u);
    EXPECT_EQ(dig.Word(2), 2u);
    const Command camControl = Last(kOpCamControl);
    EXPECT_EQ(camControl.sent, 3u);
    EXPECT_EQ(camControl.replyMode, IM_REPLY_NOWAIT);
    EXPECT_EQ(camControl.Word(1), 30002u);
    EXPECT_EQ(camControl.Double(2), 2.25);
    EXPECT_EQ(Last(kOpCamFree).Word(0), kCameraId);
    const Command digControl = Last(kOpDigControl);
    EXPECT_EQ(digControl.Word(0), 5u);
    EXPECT_EQ(digControl.Double(2), -9997.0);
    EXPECT_EQ(Last(kOpDigFree).Word(0), 5u);
    const Command grab = Last(kOpDigGrab);
    EXPECT_EQ(grab.sent, 5u);
    EXPECT_EQ(grab.replyMode, IM_REPLY_NOWAIT);
    for (uint32_t s = 0; s < 5; ++s) EXPECT_EQ(grab.Word(s), 5u + s);
    const Command capture = Last(kOpDigCapture);
    EXPECT_EQ(capture.sent, 3u);
    EXPECT_EQ(static_cast<int32_t>(capture.Word(2)), -9997);
    const Command set = Last(kOpDigLutSet);
    EXPECT_EQ(set.sent, 7u);
    EXPECT_EQ(set.Word(6), 1u);
    const Command get = Last(kOpDigLutGet);
    EXPECT_EQ(get.sent, 6u);
    EXPECT_EQ(get.Word(3), 7u);
    EXPECT_EQ(get.Word(5), 256u);
    // The lookup-table read is followed by a command that the thread object serves after it.
    const auto all = Commands();
    ASSERT_GE(all.size(), 2u);
    EXPECT_EQ(all[all.size() - 2].opcode, kOpDigLutGet);
    EXPECT_EQ(all.back().opcode, kOpThrNop);
    EXPECT_EQ(LastError(), 0) << LastText();
}

TEST_F(CamExportTest, AGrabCarriesItsSyncObjectInTheControlWord)
{
    uint32_t sync = 0;
    ASSERT_NE(imSyncAlloc(kThread, &sync), 0u);
    EXPECT_EQ(imDigGrab(kThread, 1, 2, 3, 4, 5, sync), 0);
    Settle();
    EXPECT_EQ(Last(kOpDigGrab).control, sync);
    imSyncFree(kThread, sync);
}

TEST_F(CamExportTest, TheConvertCommandIsServedOnlyByABoardProcessor)
{
    EXPECT_EQ(imDigConvert(kThread, 1, 2, 3, 4, 0), 0);
    Settle();
    ExpectError(-6, "Invalid opcode received", "Command decoder");
}

}  // namespace
