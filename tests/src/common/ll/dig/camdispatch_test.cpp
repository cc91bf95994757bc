#include "bufid.h"
#include "camdispatch.h"
#include "camuart.h"
#include "grabfamily.h"
#include "hlc_errors.h"
#include "hlc_wiring.h"
#include "hosthooks.h"
#include "nodelist.h"
#include "reqres.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

constexpr uint32_t kNodeA = 0x11;
constexpr uint32_t kNodeB = 0x12;

// Descriptor memory of the buffer service: one static arena.
constexpr uint32_t kArenaBytes = 1u << 20;
alignas(65536) uint8_t g_arena[kArenaBytes];
int32_t ArenaMemory(uint32_t, uint32_t bytes, _MP_BAND_ST* band)
{
    if (bytes > kArenaBytes) return 0;
    band->id = 9;
    band->mapped = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(g_arena));
    band->physical = 0x10000000;
    return 9;
}

class CamDispatchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        HlcWireLibrary();
        global_ = std::make_unique<_NODE_ST>();
        imNodeSt = global_.get();
        blockA_ = std::make_unique<_NODE_ST>();
        blockB_ = std::make_unique<_NODE_ST>();
        ASSERT_EQ(mp_sys_insert_node(kNodeA, blockA_.get()), 0);
        ASSERT_EQ(mp_sys_insert_node(kNodeB, blockB_.get()), 0);
        res_.node = kNodeA;
        res_.record = mp_sys_node_resource_ptr(kNodeA);
        res_.name = "Dispatch";
        ASSERT_NE(res_.record, nullptr);
        // The camera-allocation dispatcher makes the node's digitizer object first.
        mp_buf_set_descriptor_memory(ArenaMemory);
        ASSERT_EQ(mp_buf_init(kNodeA, 64, 32), 0);
    }
    void TearDown() override
    {
        mp_buf_exit_all();
        mp_buf_set_descriptor_memory(nullptr);
        mp_sys_remove_node(kNodeA);
        mp_sys_remove_node(kNodeB);
        imNodeSt = nullptr;
    }

    uint32_t* InfoA() { return &blockA_->nodeInfo; }
    uint32_t* InfoB() { return &blockB_->nodeInfo; }
    void SetModule(uint32_t* info, uint32_t deviceType, uint32_t moduleType)
    {
        info[kNodeInfoDeviceType] = deviceType;
        info[kNodeInfoModuleType] = moduleType;
    }
    void Link(uint32_t* info, uint32_t* word)
    {
        info[kNodeInfoLinkedNode] = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(word));
    }
    int32_t Code() const { return res_.err.code; }
    std::string Text() const { return res_.err.message ? res_.err.message : ""; }

    std::unique_ptr<_NODE_ST> global_;
    std::unique_ptr<_NODE_ST> blockA_;
    std::unique_ptr<_NODE_ST> blockB_;
    MP_RESOURCE_ST res_{};
};

// ---- family routing --------------------------------------------------------------------------

TEST_F(CamDispatchTest, ModuleTypesSelectTheirFamilies)
{
    const struct {
        uint32_t type;
        int family;
    } cases[] = {{1, 1}, {2, 1}, {34, 1}, {3, 2}, {4, 2}, {5, 2}, {6, 2},
                 {0, 0}, {7, 0}, {33, 0}, {64, 0}, {128, 0}, {0xFFFFFFFFu, 0}};
    for (const auto& c : cases) {
        SetModule(InfoA(), 0, c.type);
        EXPECT_EQ(ForGrabModule(&res_), c.family) << c.type;
        EXPECT_EQ(ForGrabModuleOfNode(kNodeA), c.family) << c.type;
        EXPECT_EQ(ForGrabModule(reinterpret_cast<const void*>(uintptr_t{kNodeA})), c.family) << c.type;
    }
}

TEST_F(CamDispatchTest, ANodeWithoutRecordOrStateHasNoFamily)
{
    EXPECT_EQ(ForGrabModuleOfNode(0x33), kGrabModuleNone) << "not in the node list";
    MP_RESOURCE_ST bare{};
    bare.node = 0x33;
    EXPECT_EQ(ForGrabModule(&bare), kGrabModuleNone) << "a resource without its node record";
}

TEST_F(CamDispatchTest, AModuleOnAnotherNodeTakesThatNodesFamily)
{
    uint32_t linked = kNodeB;
    SetModule(InfoB(), 1, 5);
    for (uint32_t device : {2u, 4u}) {
        SetModule(InfoA(), device, 1);
        Link(InfoA(), &linked);
        EXPECT_EQ(ForGrabModule(&res_), kGrabModuleAsync) << device;
    }
    // Device type 1 looks at the link only without a module of its own.
    SetModule(InfoA(), 1, 0);
    EXPECT_EQ(ForGrabModule(&res_), kGrabModuleAsync);
    SetModule(InfoA(), 1, 3);
    SetModule(InfoB(), 1, 1);
    EXPECT_EQ(ForGrabModule(&res_), kGrabModuleAsync) << "its own module";
    SetModule(InfoA(), 3, 0);
    EXPECT_EQ(ForGrabModule(&res_), kGrabModuleNone) << "device type 3 never follows the link";
}

TEST_F(CamDispatchTest, AMissingLinkCountsAsStandard)
{
    SetModule(InfoA(), 4, 0);
    Link(InfoA(), nullptr);
    EXPECT_EQ(ForGrabModule(&res_), kGrabModuleStd);
    uint32_t absent = 0x44;
    Link(InfoA(), &absent);
    EXPECT_EQ(ForGrabModule(&res_), kGrabModuleStd) << "the linked node is not open";
}

TEST_F(CamDispatchTest, TheGrabEventRuleUsesTheSameFamilies)
{
    SetModule(InfoA(), 0, 34);
    EXPECT_EQ(mpPrvGrabFamilyOfNode(kNodeA), kGrabFamilyStd);
    SetModule(InfoA(), 0, 6);
    EXPECT_EQ(mpPrvGrabFamilyOfNode(kNodeA), kGrabFamilyAsync);
    SetModule(InfoA(), 0, 7);
    EXPECT_EQ(mpPrvGrabFamilyOfNode(kNodeA), kGrabFamilyNone);
    // The wiring installed the rule: the core's event dispatch sees the family.
    SERVINFO_ST state{};
    state.node = kNodeA;
    SetModule(InfoA(), 0, 1);
    EXPECT_EQ(mpPrvGrabFamily(&state), kGrabFamilyStd);
    mpPrvUpdateSoG(&state, 0);
    mpPrvUpdateEoG(&state, 0);
}

// ---- a node without a family -------------------------------------------------------------

TEST_F(CamDispatchTest, ModuleTypeSevenGetsNothingAndNoLog)
{
    SetModule(InfoA(), 0, 7);
    _DCF_ENTRY entry{};
    std::strcpy(entry.name, "HALCYRA_GRAB_0");
    EXPECT_EQ(mpCamAlloc(&res_, &entry, 1, 0), 0u);
    EXPECT_EQ(mpCamClone(&res_, nullptr, 0), nullptr);
    mpCamControl(&res_, nullptr, 1, 1.0);
    double out = 7.5;
    mpCamInquire(&res_, nullptr, 1, &out);
    uint32_t id = 99;
    int32_t count = 99;
    mpCamSave(&res_, nullptr, &id, &count);
    mpDigCapture(&res_, nullptr, nullptr, -9997);
    mpDigControl(&res_, nullptr, 1, 1.0);
    mpDigInquire(&res_, nullptr, 1, &out);
    EXPECT_EQ(mpDigGrab(&res_, nullptr, nullptr, nullptr, 1, nullptr, nullptr, 0), 0);
    mpDigLutGet(&res_, nullptr, nullptr, nullptr, 7, 0, 256);
    EXPECT_EQ(mpDigLutSet(&res_, nullptr, nullptr, nullptr, 7, 0, 256, 0), 0);
    EXPECT_EQ(mpDigSerAccess(&res_, 0, 1, 2, 0x1234), 0x1234u) << "the register comes back";
    EXPECT_EQ(out, 7.5);
    EXPECT_EQ(id, 99u) << "the save outputs are not touched";
    EXPECT_EQ(count, 99);
    EXPECT_EQ(Code(), 0) << Text();
}

// ---- both families' rows reach their own functions ---------------------------------------------

TEST_F(CamDispatchTest, SecondFamilyRowsReachTheirOwnFunctions)
{
    // The standard family's controls exist: a node whose module is not present ignores them.
    SetModule(InfoA(), 0, 1);
    mpDigControl(&res_, nullptr, 1, 1.0);
    EXPECT_EQ(Code(), 0) << Text();

    // The standard family's grab exists: a grab without a destination is refused by it.
    res_.err = _MSG_ERR_ST{};
    EXPECT_EQ(mpDigGrab(&res_, nullptr, nullptr, nullptr, 1, nullptr, nullptr, 0), -1)
        << "a failed grab lets the handler complete the sync object";
    EXPECT_EQ(Code(), HLC_ERR_INVALID_BUFFER);

    // The second family's grab refuses a missing destination the same way.
    SetModule(InfoA(), 0, 4);
    res_.err = _MSG_ERR_ST{};
    EXPECT_EQ(mpDigGrab(&res_, nullptr, nullptr, nullptr, 1, nullptr, nullptr, 0), -1);
    EXPECT_EQ(Code(), HLC_ERR_INVALID_BUFFER);

    // Its camera allocation checks the type string first.
    res_.err = _MSG_ERR_ST{};
    _DCF_ENTRY entry{};
    std::strcpy(entry.name, "HALCYRA_GRAB_0");
    EXPECT_EQ(mpCamAlloc(&res_, &entry, 1, 0), 0u);
    EXPECT_EQ(Code(), HLC_ERR_INVALID_BUFFER);
    EXPECT_EQ(Text(), "Unrecognized digitizer type");

    // An operation the serial access does not know does nothing and answers 0.
    res_.err = _MSG_ERR_ST{};
    EXPECT_EQ(mpDigSerAccess(&res_, 0x300, 0, 0, 0x55), 0u);
    EXPECT_EQ(Code(), 0);

    // LUT get, set and capture have no hardware behind them on this family.
    res_.err = _MSG_ERR_ST{};
    mpDigLutGet(&res_, nullptr, nullptr, nullptr, 1, 0, 256);
    EXPECT_EQ(Code(), HLC_ERR_RESTRICTED);
    res_.err = _MSG_ERR_ST{};
    EXPECT_EQ(mpDigLutSet(&res_, nullptr, nullptr, nullptr, 1, 0, 256, 0), 0);
    EXPECT_EQ(Code(), HLC_ERR_RESTRICTED);
    res_.err = _MSG_ERR_ST{};
    mpDigCapture(&res_, nullptr, nullptr, -9997);
    EXPECT_EQ(Code(), HLC_ERR_RESTRICTED);
}

TEST_F(CamDispatchTest, EveryRowOfBothFamiliesReachesARealFunction)
{
    // Each of the fifteen dispatchers on a node of each family, with arguments that every
    // family function refuses or answers at once: no row may end in a stand-in.
    for (uint32_t type : {1u, 4u}) {
        SetModule(InfoA(), 0, type);
        auto noStandIn = [&](const char* row) {
            EXPECT_EQ(Text().find("not built"), std::string::npos) << row << " on type " << type;
            res_.err = _MSG_ERR_ST{};
        };
        _DCF_ENTRY entry{};
        std::strcpy(entry.name, type == 1 ? "HALCYRA_GRAB_0" : "HALCYRA_GRAB_1");
        const uint32_t id = mpCamAlloc(&res_, &entry, 1, 0);
        EXPECT_NE(id, 0u) << "a record is made while the module is absent";
        noStandIn("mpCamAlloc");
        _MP_BUF_ST* cam = mp_buf_pointer(id);
        _MP_BUF_ST* copy = mpCamClone(&res_, cam, 0);
        EXPECT_NE(copy, nullptr);
        if (copy) mp_buf_free(copy);
        noStandIn("mpCamClone");
        mpCamControl(&res_, cam, 30016, 320.0);
        noStandIn("mpCamControl");
        double out = 0.0;
        mpCamInquire(&res_, cam, 30016, &out);
        if (type == 4) {
            EXPECT_EQ(out, 320.0) << "the second family keeps the width in the record";
        }
        noStandIn("mpCamInquire");
        uint32_t saved = 0;
        int32_t rows = 0;
        mpCamSave(&res_, cam, &saved, &rows);
        noStandIn("mpCamSave");
        mpDigControl(&res_, nullptr, 30016, 1.0);
        noStandIn("mpDigControl");
        mpDigInquire(&res_, nullptr, 30016, &out);
        noStandIn("mpDigInquire");
        EXPECT_EQ(mpDigGrab(&res_, nullptr, cam, nullptr, 1, nullptr, nullptr, 0), -1);
        noStandIn("mpDigGrab");
        mpDigCapture(&res_, nullptr, nullptr, -9997);
        noStandIn("mpDigCapture");
        mpDigLutGet(&res_, nullptr, cam, nullptr, 1, 0, 256);
        noStandIn("mpDigLutGet");
        mpDigLutSet(&res_, nullptr, cam, nullptr, 1, 0, 256, 0);
        noStandIn("mpDigLutSet");
        mpDigSerAccess(&res_, 0x300, 0, 0, 0);
        noStandIn("mpDigSerAccess");
        mpPrvHalt(nullptr, 1);
        noStandIn("mpPrvHalt");
        EXPECT_EQ(mpPrvGrabFamilyOfNode(kNodeA), type == 1 ? kGrabFamilyStd : kGrabFamilyAsync);
        if (cam) mp_buf_free(cam);
    }
}

TEST_F(CamDispatchTest, NodeShutDownFreesTheCameraPortState)
{
    SetModule(InfoA(), 0, 2);
    void* area = std::calloc(1, kUartAreaBytes);
    InfoA()[kNodeInfoUartArea] = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(area));
    ASSERT_EQ(HlcGetBoardHooks().exitNodeRuntime, HlcExitNodeRuntime);
    HlcGetBoardHooks().exitNodeRuntime(kNodeA);
    EXPECT_EQ(InfoA()[kNodeInfoUartArea], 0u);
}

TEST_F(CamDispatchTest, TheDeviceControlsSerialAccessTakesItsArgumentsFromTypeAndValue)
{
    // Low word 0x00127F34: channel 0x12, register 0x34 (bits 0-7 only); high word the data.
    const uint64_t bits = (uint64_t{0x40000000} << 32) | 0x00127F34u;
    double value;
    std::memcpy(&value, &bits, sizeof value);
    SetModule(InfoA(), 0, 7);
    EXPECT_EQ(mpDigSerAccessOfDevControl(&res_, 19 | 0x400, value), 0x34u) << "no family: the register back";
    SetModule(InfoA(), 0, 1);
    EXPECT_EQ(mpDigSerAccessOfDevControl(&res_, 19 | 0x400, value), 0u);
    EXPECT_EQ(Code(), 0);
    // The second family's access answers a write with 0 (a node without a family would
    // give the register back); channel 0x12 names no channel of the module, so nothing is
    // written and nothing fails.
    SetModule(InfoA(), 0, 5);
    EXPECT_EQ(mpDigSerAccessOfDevControl(&res_, 19 | 0x800, value), 0u);
    EXPECT_EQ(Code(), 0);
}

TEST_F(CamDispatchTest, StandardSerialAccessDoesNothing)
{
    SetModule(InfoA(), 0, 2);
    EXPECT_EQ(mpDigSerAccess(&res_, 256, 1, 2, 0x77), 0u);
    EXPECT_EQ(Code(), 0);
}

}  // namespace
