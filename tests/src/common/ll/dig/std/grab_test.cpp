// Grab requests of the standard family: channel masks, capture flags, the composite rule,
// the takeover of the loaded camera, and the taking and giving back of grab channels.
#include "grab.h"

#include "../../fakeconsole.h"
#include "bufchild.h"
#include "consolepipe.h"
#include "../camerafixture.h"
#include "grabfamily.h"
#include "grabpatch.h"
#include "../../../hl/servednode.h"
#include "digitizers.h"
#include "hosthooks.h"
#include "hwlock.h"
#include "regaccess.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>

namespace {

using camerafixture::CameraNodeTest;
using chipsfixture::Get;
using chipsfixture::kNode;
using chipsfixture::Set;

constexpr uint32_t kDigId = 0x00110042;

class GrabRequestTest : public CameraNodeTest {
protected:
    void SetUp() override
    {
        CameraNodeTest::SetUp();
        if (HasFatalFailure()) return;
        // A global node state whose grab-channel time-out ends a busy wait at once.
        savedGlobal_ = imNodeSt;
        global_ = std::make_unique<_NODE_ST>();
        timeouts_.fill(15.0);
        timeouts_[7] = 0.0;
        global_->timeouts = timeouts_.data();
        imNodeSt = global_.get();
        digInfo_.fill(0);
        digInfo_[kDigWordNode] = kNode;
        p_.node = kNode;
        p_.res = &res_;
        p_.record = &chipsfixture::Record();
        p_.digInfo = digInfo_.data();
        p_.digId = kDigId;
        p_.thread = &thread_;
        p_.thrGrab = &grab_;
    }
    void TearDown() override
    {
        if (console_) {
            im_close_pipe();
            console_.reset();
        }
        for (uint32_t bits : {0x1000u, 0x2000u, 0x4000u, 0x8000u, kGrabEngineSection})
            mp_sys_section_unlock(kNode, bits);
        imNodeSt = savedGlobal_;
        CameraNodeTest::TearDown();
    }

    // A console that gives `answer` to the host's question whether to stop waiting: a
    // channel wait past its time-out ends only through it (or a free channel).
    void Console(const char* answer)
    {
        console_ = std::make_unique<testing_console::FakeConsole>();
        console_->SetAbortAnswer(answer);
        ASSERT_EQ(im_open_pipe(2), 0);
    }
    // Everything the console received, and the number of prompts among it.
    std::string ConsoleText(int* prompts)
    {
        std::string text;
        *prompts = 0;
        for (const hlccon::Record& r : console_->Records()) {
            if (r.command == hlccon::kCommandPrompt) ++*prompts;
            else if (r.command != hlccon::kCommandAbortQuery) text += r.Text();
        }
        return text;
    }

    // True when another holder has the section (its bit is set in the section word).
    static bool Busy(uint32_t bits)
    {
        const int r = mp_sys_section_check(kNode, bits);
        if (r == 0) mp_sys_section_unlock(kNode, bits);
        return r == 1;
    }
    uint32_t Users(uint32_t channel) const { return digInfo_[kDigWordUsers + channel]; }

    // A standard camera buffer on the node made for the module type.
    static _MP_BUF_ST* CameraBuffer(int32_t moduleType)
    {
        _MP_BUF_ST* b = mp_buf_alloc_on_node(kNode, static_cast<int32_t>(cam0::kRecordBytes), 1, 1, kCamBufferType,
                                             kLocInline);
        if (!b || !mp_buf_alloc_id(b)) return nullptr;
        b->kind = kBufKindCamera;
        mp_buf_put_field(b, kCamModuleTypeField, moduleType);
        std::memset(mp_buf_address_band_internal(b, 0), 0, cam0::kRecordBytes);
        return b;
    }
    static _MP_CAM_ST_0* Record(_MP_BUF_ST* b) { return static_cast<_MP_CAM_ST_0*>(mp_buf_address_band_internal(b, 0)); }
    static _MP_BUF_ST* Image(int32_t w, int32_t h, uint32_t bands, uint32_t bits, uint32_t location)
    {
        _MP_BUF_ST* b = mp_buf_alloc_on_node(kNode, w, h, bands, bits, kLocInline);
        if (!b) return nullptr;
        b->kind = kBufKindImage;
        b->location = location;
        return b;
    }

    _NODE_ST* savedGlobal_ = nullptr;
    std::unique_ptr<_NODE_ST> global_;
    std::array<double, 11> timeouts_{};
    std::array<uint32_t, 32> digInfo_{};
    MP_THREAD_ST thread_{};
    MP_THR_GRAB_ST grab_{};
    DIGPARAM p_{};
    std::unique_ptr<testing_console::FakeConsole> console_;
};

// ---- channel masks ------------------------------------------------------------------------

TEST_F(GrabRequestTest, ChannelMaskFollowsDestinationAndCamera)
{
    auto cam = lutfixture::EightBitCamera();
    p_.cam = cam.get();
    _MP_BUF_ST* mono = Image(64, 8, 1, 8, kLocSdram);
    _MP_BUF_ST* wide = Image(64, 8, 1, 16, kLocSdram);
    _MP_BUF_ST* rgb = Image(64, 8, 3, 8, kLocSdram);
    ASSERT_TRUE(mono && wide && rgb);

    p_.destination = mono;
    byteL(&p_, 0x10000);
    EXPECT_EQ(p_.grabMask, 0x10000u);

    // 16-bit pixels of an 8-bit camera take every channel.
    p_.destination = wide;
    byteL(&p_, 0x10000);
    EXPECT_EQ(p_.grabMask, 0xF0000u);

    // One channel into three bands of board memory fills red, green and blue.
    p_.destination = rgb;
    byteL(&p_, 0x10000);
    EXPECT_EQ(p_.grabMask, 0x70000u);

    // More channels than bands: the first channels only.
    p_.destination = mono;
    byteL(&p_, 0x30000);
    EXPECT_EQ(p_.grabMask, 0x10000u);
}

// ---- capture flags and LUT preset ---------------------------------------------------------

TEST_F(GrabRequestTest, CaptureFlagsMarkTimersThatDifferFromTheLiveRegisters)
{
    auto cam = lutfixture::EightBitCamera();
    p_.cam = cam.get();
    Live(cam0::DIG_EXP1S)->value = 100;
    Live(cam0::DIG_T1SCNT)->value = 7;
    Live(cam0::DIG_EXP2S)->value = 200;
    Live(cam0::DIG_T2SCNT)->value = 9;
    Set(p_.cam, cam0::DIG_EXP1S, 100);
    Set(p_.cam, cam0::DIG_T1SCNT, 7);
    Set(p_.cam, cam0::DIG_EXP2S, 201);
    Set(p_.cam, cam0::DIG_T2SCNT, 9);

    // A timer without a trigger source never counts.
    Set(p_.cam, cam0::INFO_T1TRGSRC, 0x20000000);
    Set(p_.cam, cam0::INFO_T2TRGSRC, 0x20000000);
    presetCamExposure(&p_, 0);
    EXPECT_EQ(p_.captureFlags, 0u);

    Set(p_.cam, cam0::INFO_T1TRGSRC, 1);
    Set(p_.cam, cam0::INFO_T2TRGSRC, 1);
    presetCamExposure(&p_, 0);
    EXPECT_EQ(p_.captureFlags, 2u);

    Set(p_.cam, cam0::DIG_T1SCNT, 8);
    presetCamExposure(&p_, 0);
    EXPECT_EQ(p_.captureFlags, 3u);
}

TEST_F(GrabRequestTest, LutPresetTakesTheLivePsgBitOnTheStandardModuleOnly)
{
    auto cam = lutfixture::EightBitCamera();
    p_.cam = cam.get();
    Live(cam0::DIG_PSGCFG)->value = 0x8000;
    Set(p_.cam, cam0::DIG_PSGCFG, 0x0001);
    presetCamLut(&p_, 2);
    EXPECT_EQ(Get(p_.cam, cam0::DIG_PSGCFG), 0x0001u);
    presetCamLut(&p_, 0);
    EXPECT_EQ(Get(p_.cam, cam0::DIG_PSGCFG), 0x8001u);
}

// ---- refusals -------------------------------------------------------------------------------

TEST_F(GrabRequestTest, CompositeCameraIsRefusedWithItsText)
{
    EXPECT_EQ(grbComposite(&p_), -1);
    EXPECT_EQ(Code(), -12);
    EXPECT_EQ(Text(), "Can not digitize a composite signal");
}

TEST_F(GrabRequestTest, CompositeCameraIntoAnythingButOneBand704x480FailsTheRequest)
{
    _MP_BUF_ST* camera = CameraBuffer(1);
    _MP_BUF_ST* dest = Image(64, 48, 1, 8, kLocSdram);
    ASSERT_TRUE(camera && dest);
    Set(Record(camera), cam0::INFO_TYPE, 0x8);
    EXPECT_EQ(mpDigGrab_Std(&res_, nullptr, camera, dest, 1, nullptr, nullptr, 2), -1);
    EXPECT_EQ(Code(), -12);
    EXPECT_EQ(Text(), "Can not digitize a composite signal");
}

TEST_F(GrabRequestTest, ADigitizerOfTheWrongKindIsAnInvalidBuffer)
{
    _MP_BUF_ST* notDigitizer = Image(128, 1, 1, 8, kLocInline);
    ASSERT_TRUE(notDigitizer);
    p_.digitizer = notDigitizer;
    EXPECT_EQ(getDigInfo(&p_), nullptr);
    EXPECT_EQ(Code(), -1);
    EXPECT_EQ(Text(), "Invalid buffer ID");
}

TEST_F(GrabRequestTest, ASyncObjectOfTheWrongKindIsAnInvalidBuffer)
{
    _MP_BUF_ST* dest = Image(64, 48, 1, 8, kLocSdram);
    _MP_BUF_ST* notSync = Image(28, 1, 1, 8, kLocInline);
    ASSERT_TRUE(dest && notSync);
    // The command handler hands the sync object on as its record.
    auto* record = static_cast<_MP_BUF_ST*>(mp_buf_address_band_internal(notSync, 0));
    EXPECT_EQ(mpDigGrab_Std(&res_, nullptr, nullptr, dest, 1, nullptr, record, 2), -1);
    EXPECT_EQ(Code(), -1);
    EXPECT_EQ(Text(), "Invalid buffer ID");
}

// Grabs into another location on the thread may run for long (a counted grab of many
// frames): the wait behind them has no time limit, a halt ends it.
TEST_F(GrabRequestTest, TheWaitBehindGrabsElsewhereOutlastsAnyTimeoutAndEndsWithAHalt)
{
    _MP_BUF_ST* dest = Image(64, 48, 1, 8, kLocSdram);
    ASSERT_TRUE(dest);
    p_.destination = dest;
    grab_.count = 1;
    grab_.location = kLocHostDma;
    grab_.waitMode = 1;
    const double start = boardsim::BoardSim::instance().now();
    boardsim::BoardSim::instance().after(40.0, "halt", [this] { __atomic_store_n(&thread_.pendingHalt, 1, __ATOMIC_RELEASE); });
    EXPECT_EQ(mpPrvWaitForOtherGrabs(&p_), -1);
    EXPECT_GE(boardsim::BoardSim::instance().now() - start, 40.0);
    EXPECT_EQ(Code(), HLC_ERR_HALTED) << Text();
    thread_.pendingHalt = 0;

    // The wait ends as soon as the other grabs have, or with another wait mode.
    ClearError();
    boardsim::BoardSim::instance().after(1.0, "end", [this] { __atomic_store_n(&grab_.count, 0, __ATOMIC_RELEASE); });
    EXPECT_EQ(mpPrvWaitForOtherGrabs(&p_), 0);
    grab_.count = 1;
    boardsim::BoardSim::instance().after(1.0, "mode", [this] { __atomic_store_n(&grab_.waitMode, 2u, __ATOMIC_RELEASE); });
    EXPECT_EQ(mpPrvWaitForOtherGrabs(&p_), 0);
    EXPECT_EQ(Code(), 0);
}

TEST_F(GrabRequestTest, SerialAccessOfTheStandardFamilyDoesNothing)
{
    EXPECT_EQ(mpDigSerAccess_Std(&res_, 256, 1, 0x55, 7), 0u);
    EXPECT_EQ(AllWrites(), 0u);
}

// ---- forwarded phases ------------------------------------------------------------------------

// A phase sent to a node the message layer cannot reach (its digitizer is listed with a
// module): its error reaches the request; the sync object waits for this node's grab, unless the failed phase
// was the Orlo's, whose end of grab never comes.
struct ForwardCase {
    int32_t phase;
    bool remoteDestination;   // else the digitizer is on the other node
    uint32_t syncState;
};
class ForwardedPhaseTest : public GrabRequestTest, public ::testing::WithParamInterface<ForwardCase> {
protected:
    static constexpr uint32_t kOther = 0x22;
    void SetUp() override
    {
        GrabRequestTest::SetUp();
        if (HasFatalFailure()) return;
        other_.modulePresent = 1;
        ASSERT_EQ(mp_sys_insert_node(kOther, &other_), 0);
        mp_sys_node_resource_ptr(kOther)->nodeState = &other_;
    }
    void TearDown() override
    {
        mp_sys_remove_node(kOther);
        GrabRequestTest::TearDown();
    }
    static _MP_BUF_ST* Object(uint32_t kind)
    {
        _MP_BUF_ST* b = Image(64, 1, 1, 8, kLocInline);
        if (!b || !mp_buf_alloc_id(b)) return nullptr;
        b->kind = kind;
        std::memset(mp_buf_address_band_internal(b, 0), 0, 64);
        return b;
    }
    _NODE_ST other_{};
};

TEST_P(ForwardedPhaseTest, TheSyncObjectEndsAtOnceOnlyWhenTheOrloPhaseFailed)
{
    const ForwardCase& c = GetParam();
    _MP_BUF_ST* camera = CameraBuffer(1);
    _MP_BUF_ST* dest = Image(64, 48, 1, 8, kLocSdram);
    _MP_BUF_ST* digitizer = Object(kBufKindDigitizer);
    _MP_BUF_ST* sync = Object(kBufKindSync);
    ASSERT_TRUE(camera && dest && digitizer && sync);
    auto* dig = static_cast<uint32_t*>(mp_buf_address_band_internal(digitizer, 0));
    dig[kDigWordId] = digitizer->id;
    dig[kDigWordNode] = c.remoteDestination ? kNode : kOther;
    if (c.remoteDestination) dest->node = kOther;
    auto* record = static_cast<MP_SYNC_ST*>(mp_buf_address_band_internal(sync, 0));
    record->state = kGrabSyncArmed;

    EXPECT_EQ(mpDigGrab_Std(&res_, digitizer, c.remoteDestination ? nullptr : camera, dest, 1, nullptr,
                            reinterpret_cast<_MP_BUF_ST*>(record), c.phase),
              0);
    EXPECT_EQ(Text(), "Invalid device ID");
    EXPECT_EQ(record->state, c.syncState);
    EXPECT_EQ(grab_.count, 0);
}

INSTANTIATE_TEST_SUITE_P(Phases, ForwardedPhaseTest,
                         ::testing::Values(ForwardCase{kGrabPhaseDigitizer, false, kGrabSyncArmed},
                                           ForwardCase{kGrabPhaseCapture, false, kGrabSyncArmed},
                                           ForwardCase{kGrabPhaseOrlo, true, kGrabSyncEnded}));

// ---- the loaded camera's takeover -----------------------------------------------------------

TEST_F(GrabRequestTest, ANeverLoadedRecordTakesOverTheLoadedRecordWhole)
{
    _MP_BUF_ST* loaded = CameraBuffer(1);
    _MP_BUF_ST* mine = CameraBuffer(1);
    ASSERT_TRUE(loaded && mine);
    // The loaded record in the calibrated mode: the module's red coarse level holds the
    // value its load computed (77), not the camera file's (40).
    _MP_CAM_ST_0* source = Record(loaded);
    for (uint32_t slot = 0; slot < 254; ++slot) Set(source, slot * 8, Live(slot * 8)->value);
    Set(source, cam0::INFO_MISC, 0x2);
    Set(source, cam0::DAC8800LVL_REDC, 40);
    Set(source, cam0::LOADED_ONCE, 1);
    Set(source, cam0::SORVIK2_FLAG, 34);
    Set(source, cam0::COMPARED_ONCE, 1);
    source->bytes[cam0::REF_DAC_BYTES + cam0::RefDacIndex(0, 1)] = 77;
    source->bytes[cam0::CAL_DATA] = 0xAA;
    source->bytes[cam0::kTakeOverBytes] = 0x5A;   // past the part taken over
    Live(cam0::INFO_MISC)->value = 0x2;
    Live(cam0::DAC8800LVL_REDC)->value = 77;
    digInfo_[kDigWordCamera] = loaded->id;
    p_.camera = mine;
    p_.cam = Record(mine);

    mpPrvTakeLoadedCamera(&p_);
    EXPECT_EQ(std::memcmp(p_.cam->bytes, source->bytes, cam0::kTakeOverBytes), 0);
    EXPECT_EQ(p_.cam->bytes[cam0::kTakeOverBytes], 0);
    EXPECT_EQ(Get(p_.cam, cam0::LOADED_ONCE), 1u);
    EXPECT_EQ(Get(p_.cam, cam0::SORVIK2_FLAG), 34u);
    // The comparison before the load finds the module as the loaded record left it, even
    // after another digitizer: nothing to reload.
    EXPECT_EQ(mpPrvCamCompare(p_.cam, true, false, kChanRed), 0);
}

TEST_F(GrabRequestTest, TheTakeoverCopiesNothingFromAForeignOrMissingRecord)
{
    _MP_BUF_ST* other = CameraBuffer(3);   // made for the second family
    _MP_BUF_ST* mine = CameraBuffer(1);
    ASSERT_TRUE(other && mine);
    Set(Record(other), cam0::DIG_HTOTAL, 999);
    p_.camera = mine;
    p_.cam = Record(mine);

    digInfo_[kDigWordCamera] = other->id;
    mpPrvTakeLoadedCamera(&p_);
    EXPECT_EQ(Get(p_.cam, cam0::DIG_HTOTAL), 0u);

    // The loaded camera is this record itself.
    Set(p_.cam, cam0::DIG_HTOTAL, 5);
    digInfo_[kDigWordCamera] = mine->id;
    mpPrvTakeLoadedCamera(&p_);
    EXPECT_EQ(Get(p_.cam, cam0::DIG_HTOTAL), 5u);

    // A loaded camera that was freed.
    const uint32_t gone = other->id;
    mp_buf_free(other);
    digInfo_[kDigWordCamera] = gone;
    mpPrvTakeLoadedCamera(&p_);
    EXPECT_EQ(Get(p_.cam, cam0::DIG_HTOTAL), 5u);

    // A record that was loaded once keeps everything.
    _MP_BUF_ST* loaded = CameraBuffer(1);
    ASSERT_TRUE(loaded);
    Set(Record(loaded), cam0::DIG_HTOTAL, 77);
    digInfo_[kDigWordCamera] = loaded->id;
    Set(p_.cam, cam0::LOADED_ONCE, 1);
    mpPrvTakeLoadedCamera(&p_);
    EXPECT_EQ(Get(p_.cam, cam0::DIG_HTOTAL), 5u);
}

// ---- grab channels ----------------------------------------------------------------------------

TEST_F(GrabRequestTest, ChannelsOfAnotherDigitizerAreAllTakenAndTheUnusedGivenBack)
{
    p_.grabMask = 0x10000;
    ASSERT_EQ(grbSetDig(&p_, 0x10000, 1, 0), 0);
    EXPECT_EQ(p_.newChannels, 0x10000u);
    EXPECT_EQ(digInfo_[kDigWordChannelsInUse], 0x10000u);
    EXPECT_EQ(digInfo_[kDigWordLastLoaded], kDigId);
    EXPECT_EQ(Users(0), 1u);
    EXPECT_TRUE(Busy(GrabChannelSection(0)));
    EXPECT_FALSE(Busy(GrabChannelSection(1)));
    EXPECT_FALSE(Busy(GrabChannelSection(3)));
    EXPECT_FALSE(Busy(kGrabEngineSection));
    EXPECT_EQ(CurrentProtectSemaId, nullptr);

    // A second grab on the same digitizer adds green only.
    DIGPARAM q = p_;
    q.newChannels = q.heldChannels = 0;
    q.grabMask = 0x30000;
    ASSERT_EQ(grbSetDig(&q, 0x30000, 1, 0), 0);
    EXPECT_EQ(q.newChannels, 0x20000u);
    EXPECT_EQ(digInfo_[kDigWordChannelsInUse], 0x30000u);
    EXPECT_EQ(Users(0), 2u);
    EXPECT_EQ(Users(1), 1u);

    // Undone in the other order: red stays taken while the first grab still uses it.
    cleanGrab(&p_);
    EXPECT_EQ(Users(0), 1u);
    EXPECT_TRUE(Busy(GrabChannelSection(0)));
    EXPECT_EQ(digInfo_[kDigWordChannelsInUse], 0x30000u);
    cleanGrab(&q);
    EXPECT_EQ(Users(0), 0u);
    EXPECT_EQ(Users(1), 0u);
    EXPECT_FALSE(Busy(GrabChannelSection(1)));
    EXPECT_FALSE(Busy(GrabChannelSection(0))) << "the last user gives red back";
    EXPECT_EQ(digInfo_[kDigWordChannelsInUse], 0u) << "no channel has a user left";
}

TEST_F(GrabRequestTest, ABusyChannelFailsWithItsTextAndGivesEverythingBack)
{
    // Red is held by another grab; the time-out of the channel wait is 0 and the user
    // gives up at the first question.
    Console("Abort");
    ASSERT_EQ(mp_sys_section_check(kNode, GrabChannelSection(0)), 0);
    digInfo_[kDigWordLastLoaded] = kDigId;
    p_.grabMask = 0x10000;
    EXPECT_EQ(grbSetDig(&p_, 0x10000, 1, 0), -1);
    EXPECT_EQ(Code(), -9);
    EXPECT_EQ(Text(), "Unable to alloc channel");
    EXPECT_EQ(digInfo_[kDigWordChannelsInUse], 0u);
    EXPECT_EQ(Users(0), 0u);
    EXPECT_EQ(p_.newChannels, 0u);
    EXPECT_FALSE(Busy(kGrabEngineSection));
    EXPECT_EQ(CurrentProtectSemaId, nullptr);
    // The other holder keeps its channel.
    EXPECT_TRUE(Busy(GrabChannelSection(0)));
}

TEST_F(GrabRequestTest, AFullReloadThatFindsABusyChannelReleasesOnlyWhatItTook)
{
    Console("Abort");
    ASSERT_EQ(mp_sys_section_check(kNode, GrabChannelSection(2)), 0);
    p_.grabMask = 0x10000;
    EXPECT_EQ(grbSetDig(&p_, 0x10000, 1, 0), -1);
    EXPECT_EQ(Text(), "Unable to alloc channel");
    EXPECT_FALSE(Busy(GrabChannelSection(0)));
    EXPECT_FALSE(Busy(GrabChannelSection(1)));
    EXPECT_FALSE(Busy(GrabChannelSection(3)));
    EXPECT_TRUE(Busy(GrabChannelSection(2)));
    EXPECT_EQ(digInfo_[kDigWordLastLoaded], 0u);
    EXPECT_EQ(Users(0), 0u);
}

TEST_F(GrabRequestTest, AFailedReloadGivesBackChannelsUsersAndTheInUseMask)
{
    // Calibrated levels on a module whose EEPROM is erased: the load stops at once.
    auto cam = lutfixture::EightBitCamera();
    Set(cam.get(), cam0::INFO_MISC, 0x2);
    p_.cam = cam.get();
    p_.grabMask = 0x10000;
    EXPECT_EQ(grbSetDig(&p_, 0x10000, 0, 0), -1);
    EXPECT_EQ(Text(), "Error programming grab module references");
    EXPECT_EQ(digInfo_[kDigWordChannelsInUse], 0u);
    EXPECT_EQ(digInfo_[kDigWordLastLoaded], 0u);
    EXPECT_EQ(Users(0), 0u);
    EXPECT_EQ(p_.newChannels, 0u);
    for (uint32_t n = 0; n < 4; ++n) EXPECT_FALSE(Busy(GrabChannelSection(n))) << "channel " << n;
    EXPECT_FALSE(Busy(kGrabEngineSection));
    EXPECT_EQ(CurrentProtectSemaId, nullptr);
}

TEST_F(GrabRequestTest, APendingHaltEndsAnEndlessChannelWait)
{
    timeouts_[7] = -1.0;
    ASSERT_EQ(mp_sys_section_check(kNode, GrabChannelSection(1)), 0);
    thread_.pendingHalt = 1;
    EXPECT_EQ(grbChannelWait(&p_, kNode, GrabChannelSection(1)), -1);
    EXPECT_EQ(Code(), -13);
    EXPECT_EQ(Text(), "Function halted by imThrHalt()");
}

TEST_F(GrabRequestTest, AFreeChannelIsTakenAtOnce)
{
    EXPECT_EQ(grbChannelWait(&p_, kNode, GrabChannelSection(3)), 0);
    EXPECT_TRUE(Busy(GrabChannelSection(3)));
}

// Past a short time-out the host keeps testing and asks the user; a user who gives up
// gets the lock error at the node's "CommunicationDebugMode" level (1: with a prompt).
class ChannelTimeoutTest : public GrabRequestTest, public ::testing::WithParamInterface<int32_t> {
protected:
    static int32_t debugMode_;
    static int ReadIni(uint32_t, const char* key, int32_t* value)
    {
        if (std::string(key) != "CommunicationDebugMode") return -1;
        *value = debugMode_;
        return 0;
    }
};
int32_t ChannelTimeoutTest::debugMode_ = 0;

TEST_P(ChannelTimeoutTest, AUserWhoGivesUpGetsTheLockErrorAtTheDebugModeLevel)
{
    debugMode_ = GetParam();
    HlcHostHookOverride host;
    host.table.iniReadInt = ReadIni;
    ASSERT_EQ(host.Install(), 0);
    timeouts_[7] = 0.05;
    Console("Abort");
    ASSERT_EQ(mp_sys_section_check(kNode, GrabChannelSection(2)), 0);
    ASSERT_EQ(mp_sys_section_wait(kNode, kGrabEngineSection), 0);
    p_.sectionHeld = 1;

    EXPECT_EQ(grbChannelWait(&p_, kNode, GrabChannelSection(2)), -1);
    int prompts = 0;
    EXPECT_EQ(ConsoleText(&prompts), "\n\nTimeout in grbChannelWait()\n\n"
                                     "WARNING: Host is waiting for a local resource.\n"
                                     "\nWAIT LOCK ERROR IN grbChannelWait()!\n");
    EXPECT_EQ(prompts, debugMode_);
    // The engine section is held again as before the wait; the channel stays its holder's.
    EXPECT_EQ(p_.sectionHeld, 1u);
    EXPECT_TRUE(Busy(kGrabEngineSection));
    EXPECT_TRUE(Busy(GrabChannelSection(2)));
}

INSTANTIATE_TEST_SUITE_P(DebugModes, ChannelTimeoutTest, ::testing::Values(0, 1));

void FreeChannelTwo(double)
{
    mp_sys_section_unlock(kNode, GrabChannelSection(2));
}

TEST_F(GrabRequestTest, AChannelFreedWhileTheHostWaitsIsTaken)
{
    timeouts_[7] = 0.05;
    Console("Continue");
    ASSERT_EQ(mp_sys_section_check(kNode, GrabChannelSection(2)), 0);
    im_set_spin_sleep(FreeChannelTwo);   // the holder lets go during the first pause
    const int32_t result = grbChannelWait(&p_, kNode, GrabChannelSection(2));
    im_set_spin_sleep(mp_time_sleep);
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(Busy(GrabChannelSection(2)));
    int prompts = 0;
    EXPECT_EQ(ConsoleText(&prompts).find("WAIT LOCK ERROR"), std::string::npos);
}

// ---- clean-up ----------------------------------------------------------------------------------

TEST_F(GrabRequestTest, CleanUpTakesOffOnlyTheGrabThisRequestCounted)
{
    grab_.count = 2;
    grab_.location = kLocSdram;
    cleanGrab(&p_);
    EXPECT_EQ(grab_.count, 2);

    p_.countAdded = 1;
    cleanGrab(&p_);
    EXPECT_EQ(grab_.count, 1);
    EXPECT_EQ(grab_.location, kLocSdram);
    EXPECT_EQ(p_.countAdded, 0u);
    cleanGrab(&p_);
    EXPECT_EQ(grab_.count, 1);

    p_.countAdded = 1;
    cleanGrab(&p_);
    EXPECT_EQ(grab_.count, 0);
    EXPECT_EQ(grab_.location, 0u);
}

TEST_F(GrabRequestTest, UserCountsFollowTheGrabMaskAndNeverGoBelowZero)
{
    p_.grabMask = 0x50000;
    incrCh(&p_, &digInfo_[kDigWordUsers]);
    EXPECT_EQ(Users(0), 1u);
    EXPECT_EQ(Users(1), 0u);
    EXPECT_EQ(Users(2), 1u);
    decrCh(&p_, &digInfo_[kDigWordUsers]);
    decrCh(&p_, &digInfo_[kDigWordUsers]);
    EXPECT_EQ(Users(0), 0u);
    EXPECT_EQ(Users(2), 0u);
}

// ---- thread grab records --------------------------------------------------------------------

class ThreadGrabRecordTest : public servednode::ServedNodeTest {};

TEST_F(ThreadGrabRecordTest, EveryThreadObjectCarriesAGrabRecordFoundByThreadAndDescriptor)
{
    MP_THR_GRAB_ST* g = mp_thr_grab_record(&main_->server);
    ASSERT_EQ(g, &main_->grab);
    EXPECT_EQ(g->count, 0);
    EXPECT_EQ(g->location, 0u);
    EXPECT_NE(g->haltSema, -1) << "the halt semaphore is made with the object";

    _MP_BUF_ST* descriptor = mp_buf_pointer(main_->server.id);
    ASSERT_NE(descriptor, nullptr);
    const uint32_t word = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(descriptor));
    EXPECT_EQ(mp_thr_grab_record_of_buffer(word), g);

    // The interrupt servers read the grab location through the installed lookup.
    g->location = kLocHostDma;
    EXPECT_EQ(mpPrvThreadGrabLocation(word), kLocHostDma);
    g->location = 0;
    EXPECT_EQ(mpPrvThreadGrabLocation(word), 0u);
}

TEST_F(ThreadGrabRecordTest, NoRecordForWhatIsNoLiveThreadObject)
{
    MP_THREAD_ST loose{};
    loose.id = main_->server.id;   // same id, but not the object's own state
    EXPECT_EQ(mp_thr_grab_record(&loose), nullptr);
    EXPECT_EQ(mp_thr_grab_record(nullptr), nullptr);
    EXPECT_EQ(mp_thr_grab_record_of_buffer(0), nullptr);

    _MP_BUF_ST* image = mp_buf_alloc_on_node(servednode::kNode, 16, 1, 1, 8, kLocInline);
    ASSERT_NE(image, nullptr);
    image->kind = kBufKindImage;
    EXPECT_EQ(mp_thr_grab_record_of_buffer(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(image))), nullptr);
    EXPECT_EQ(mpPrvThreadGrabLocation(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(image))), 0u);
    mp_buf_free(image);
}

}  // namespace
