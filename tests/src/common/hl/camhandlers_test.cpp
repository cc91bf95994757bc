// The camera and digitizer handlers on a simulated host-served node opened with
// imDevAlloc: id checks and their texts, the entry buffer of an allocation, the grab's
// sync object when the grab cannot start, the serial-port string inquiry, the second
// phase of a save, and a node whose module belongs to no family.
#include "camhandlers.h"

#include "../../host/ll/openednode.h"

#include "bufid.h"
#include "camdispatch.h"
#include "cmdserver.h"
#include "imbuf.h"
#include "imcam.h"
#include "imdev.h"
#include "imsys.h"
#include "im_msgio.h"
#include "im_param.h"
#include "nodeinit.h"
#include "nodelist.h"
#include "syncobj.h"

#include <cstring>
#include <string>

namespace {

constexpr uint32_t kNode = 0x11;
constexpr uint32_t kThread = 0x40000010u | (kNode << 16);
constexpr uint32_t kBogusId = (kNode << 16) | 0x0777;

class CamHandlerTest : public openednode::OpenedNodeTest {
protected:
    void SetUp() override
    {
        topology_.boards[0].moduleType = moduleType_;
        IniTest::SetUp();
        im_msg_reset_application();
        imAppControl(1, 2.0);
        OpenNode();
        if (HasFatalFailure()) return;
    }
    // A waiting command: the errors of commands posted before it come back with it.
    void Settle() { imDevInquire(device_, 3, nullptr); }
    // One raw command of word parameters; with `wait` the reply's slot 0.
    static uint32_t Raw(uint32_t opcode, std::initializer_list<uint32_t> words, bool wait = true)
    {
        _MSG_ST msg{};
        im_msg_start(&msg, opcode, static_cast<uint32_t>(words.size()), "raw");
        uint32_t slot = 0;
        for (uint32_t w : words) im_msg_put_long(&msg, slot++, static_cast<int32_t>(w));
        im_msg_send(&msg, 0, kThread, 0, wait ? IM_SYNC_POLL : IM_SYNC_NOWAIT);
        const uint32_t reply = wait ? static_cast<uint32_t>(im_msg_get_long(&msg, 0)) : 0;
        im_msg_end(&msg);
        return reply;
    }
    static bool IsBuffer(uint32_t id)
    {
        _MP_BUF_ST* b = mp_buf_pointer(id);
        return b && mp_buf_valid(b, 0);
    }

    uint8_t moduleType_ = 1;
};

TEST_F(CamHandlerTest, CameraCommandsRefuseAnIdThatIsNoCamera)
{
    const uint32_t image = imBufAlloc1d(device_, 64, 8, kLocInline, nullptr);
    ASSERT_NE(image, 0u);
    for (uint32_t id : {0u, kBogusId, image}) {
        uint32_t clone = 5;
        EXPECT_EQ(imCamClone(kThread, id, 0, &clone), 0u);
        EXPECT_EQ(clone, 0u);
        ExpectError(-1, "Invalid buffer ID", "CamClone");

        double out = 7.0;
        EXPECT_EQ(imCamInquire(kThread, id, 30002, &out), 0);
        EXPECT_EQ(out, 0.0);
        ExpectError(-1, "Invalid buffer ID", "CamInquire");

        imCamControl(kThread, id, 30002, 1.0);
        Settle();
        ExpectError(-1, "Invalid buffer ID", "CamControl");

        imCamFree(kThread, id);
        Settle();
        ExpectError(-1, "Invalid buffer ID", "CamFree");
        EXPECT_EQ(Raw(kOpCamSave, {id, 0}), 0u);
        ExpectError(-1, "Invalid buffer ID", "CamSave");
    }
    EXPECT_TRUE(IsBuffer(image));   // not freed as a camera
    imBufFree(device_, image);
}

TEST_F(CamHandlerTest, DigitizerCommandsRefuseAnIdThatIsNoDigitizer)
{
    imDigControl(kThread, kBogusId, 30002, 1.0);
    Settle();
    ExpectError(-1, "Invalid buffer ID", "DigControl");

    double out = 3.0;
    EXPECT_EQ(imDigInquire(kThread, kBogusId, 30002, &out), 0);
    ExpectError(-1, "Invalid buffer ID", "DigInquire");

    imDigCapture(kThread, kBogusId, 0, 0);
    Settle();
    ExpectError(-1, "Invalid buffer ID", "DigCapture");

    imDigLutSet(kThread, 0, kBogusId, 0, 7, 0, 256, 0);
    Settle();
    ExpectError(-1, "Invalid buffer ID", "DigLutSet");
}

TEST_F(CamHandlerTest, AnAllocationWithoutEntryBufferIsAnAttributeError)
{
    EXPECT_EQ(Raw(kOpCamAlloc, {kBogusId, 200, 0}), 0u);
    ExpectError(-14, "Unacceptable buffer attribute (size, type, etc.)", "CamAlloc");
}

TEST_F(CamHandlerTest, AnAllocationReadsNoMoreEntriesThanItsBufferHolds)
{
    // Two entries, but the message claims a thousand: the two make the camera.
    _DCF_ENTRY list[2] = {};
    std::strcpy(list[0].name, "HALCYRA_GRAB_0");
    std::strcpy(list[1].name, "DIG_HTOTAL");
    list[1].value = 858;
    const uint32_t entries = imBufAlloc1d(device_, sizeof list, 0x10000008u, kLocInline, nullptr);
    ASSERT_NE(entries, 0u);
    ASSERT_EQ(imBufPut(device_, entries, list), 0);
    const uint32_t camera = Raw(kOpCamAlloc, {entries, 1000, 0});
    im_msg_reset_application();   // what the load reported is not looked at here
    ASSERT_NE(camera, 0u) << LastText();
    // The saved list carries the one value.
    const uint32_t saved = Raw(kOpCamSave, {camera, 0});
    ASSERT_NE(saved, 0u) << LastText();
    _MP_BUF_ST* b = mp_buf_pointer(saved);
    ASSERT_TRUE(b && mp_buf_valid(b, 0));
    const auto* savedList = static_cast<const _DCF_ENTRY*>(mp_buf_address_band_internal(b, 0));
    bool found = false;
    for (int i = 1; i < 200; ++i)
        if (std::strcmp(savedList[i].name, "DIG_HTOTAL") == 0) {
            found = true;
            EXPECT_EQ(savedList[i].value, 858u);
        }
    EXPECT_TRUE(found);
    // The second phase of a save frees the entry buffer it names.
    Raw(kOpCamSave, {saved, 1}, false);
    Settle();
    EXPECT_FALSE(IsBuffer(saved));
    EXPECT_EQ(LastError(), 0) << LastText();
    imCamFree(kThread, camera);
    imBufFree(device_, entries);
    Settle();
    EXPECT_FALSE(IsBuffer(camera));
}

TEST_F(CamHandlerTest, AGrabThatCannotStartCompletesItsSyncObject)
{
    uint32_t sync = 0;
    ASSERT_NE(imSyncAlloc(kThread, &sync), 0u);
    ASSERT_EQ(imSyncControl(kThread, sync, kSyncControlMode, kSyncModeKeep), 0);
    // The camera slot names nothing: the grab ends at once, and a waiter on the sync
    // object is released (instead of running into the time-out) with the grab's error.
    imDigGrab(kThread, 0, kBogusId, 0, 1, 0, sync);
    EXPECT_EQ(imSyncHost(kThread, sync, 50), 50);
    ExpectError(-1, "Invalid buffer ID", "DigGrab");
    imSyncFree(kThread, sync);
}

TEST_F(CamHandlerTest, TheSerialStringInquiryWritesOnlyTheStringAndItsZero)
{
    char out[16];
    std::memset(out, 'x', sizeof out);
    // No camera port on this node: an empty string.
    EXPECT_EQ(imDigInquire(kThread, 0, kDigInquireUartString, out), 0);
    EXPECT_EQ(out[0], '\0');
    EXPECT_EQ(out[1], 'x');
    im_msg_reset_application();

    // No address to write to: refused.
    EXPECT_EQ(imDigInquire(kThread, 0, kDigInquireUartString, nullptr), 0);
    ExpectError(-8, "Parameter invalid or unacceptable", "imDigInquire");
    EXPECT_EQ(Raw(kOpDigInquire, {0, kDigInquireUartString, 0}), 0u);
    ExpectError(-8, "Parameter invalid or unacceptable", "DigInquire");
}

TEST_F(CamHandlerTest, ADigitizerObjectIsAllocatedAndFreed)
{
    uint32_t digitizer = 0;
    ASSERT_NE(imDigAlloc(kThread, -1, -1, 0, &digitizer), 0u) << LastText();
    const uint32_t expectedNode = (digitizer & kIdPredefined) ? 0u : kNode;
    EXPECT_EQ((digitizer >> 16) & 0xFF, expectedNode);
    imDigFree(kThread, digitizer);
    Settle();
    EXPECT_EQ(LastError(), 0) << LastText();
}

class NoFamilyTest : public CamHandlerTest {
protected:
    NoFamilyTest() { moduleType_ = 7; }
};

TEST_F(NoFamilyTest, AModuleOfNoFamilyGivesNoCameraAndNoError)
{
    _DCF_ENTRY list[1] = {};
    std::strcpy(list[0].name, "HALCYRA_GRAB_0");
    const uint32_t entries = imBufAlloc1d(device_, sizeof list, 0x10000008u, kLocInline, nullptr);
    ASSERT_NE(entries, 0u);
    ASSERT_EQ(imBufPut(device_, entries, list), 0);
    EXPECT_EQ(Raw(kOpCamAlloc, {entries, 1, 0}), 0u);
    EXPECT_EQ(LastError(), 0) << LastText();
    imBufFree(device_, entries);
}

}  // namespace
