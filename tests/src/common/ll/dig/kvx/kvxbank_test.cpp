#include "kvxbank.h"

#include "../../../../host/ll/openednode.h"

#include "boardsim.h"
#include "bufid.h"
#include "camrec.h"
#include "eeprom.h"
#include "imcam.h"
#include "nodelist.h"
#include "regmap/kvx_regs.h"

#include <fstream>
#include <sstream>
#include <vector>

namespace {

constexpr uint32_t kThread = 0x40000010u | (openednode::kOpenedNode << 16);

// ---- list primitives on host memory -------------------------------------------------------

TEST(KvxListTest, ClearMemFillsTerminatorsFromTheNextEightByteBoundary)
{
    alignas(8) uint32_t words[16];
    std::fill(std::begin(words), std::end(words), 0xAAAAAAAAu);
    clearMem(20, &words[1]);   // starts 4 bytes short of a boundary: 16 bytes, two entries
    EXPECT_EQ(words[0], 0xAAAAAAAAu);
    EXPECT_EQ(words[1], 0xAAAAAAAAu);
    for (int e = 0; e < 2; ++e) {
        EXPECT_EQ(words[2 + 2 * e], 0u);
        EXPECT_EQ(words[3 + 2 * e], kArpControl);
    }
    EXPECT_EQ(words[6], 0xAAAAAAAAu);
    clearMem(17, &words[8]);   // a part entry counts whole: three entries
    EXPECT_EQ(words[13], kArpControl);
    EXPECT_EQ(words[14], 0xAAAAAAAAu);
    clearMem(4, &words[1]);    // nothing left after the alignment
    EXPECT_EQ(words[1], 0xAAAAAAAAu);
}

TEST(KvxListTest, LoadArpStoresValueThenCommandAndAdvances)
{
    ARP_ENTRY list[3] = {};
    ARP_ENTRY* cursor = list;
    loadARP(&cursor, kArpJump, 0x123456);
    loadARP(&cursor, kArpDoorbell, 0x80);
    EXPECT_EQ(cursor, list + 2);
    EXPECT_EQ(list[0].value, 0x123456u);
    EXPECT_EQ(list[0].command, kArpJump);
    EXPECT_EQ(list[1].command, kArpDoorbell);
    EXPECT_EQ(list[2].command, 0u);
}

// ---- banks on an opened node --------------------------------------------------------------

class KvxBankTest : public openednode::OpenedNodeTest {
protected:
    void SetUp() override
    {
        topology_.boards[0].moduleType = 4;
        IniTest::SetUp();
        OpenNode();
    }
    void TearDown() override
    {
        if (camera_) imCamFree(kThread, camera_);
        OpenedNodeTest::TearDown();
    }
    // A second-family camera allocated on the node: its banks are built on the node's task.
    uint32_t Alloc(uint32_t clksel)
    {
        const std::string path = root_ + "/cwd/kvx.dcf";
        std::ofstream(path) << "[CONFIG_FILE]\n50CF\nHALCYRA_GRAB_1\nhand\n\nVDL_AMPL 714\nVDL_PED_AMP 0\n"
                            << "[REG_DIGIT]\nBTC_CLKSEL " << clksel << "\nFAF_DEVPROG 8\n[EOF]\n";
        if (camera_) imCamFree(kThread, camera_);
        camera_ = 0;
        return imCamAlloc(kThread, path.c_str(), 1, &camera_);
    }
    static _NODE_ST* State() { return mp_sys_node_resource_ptr(openednode::kOpenedNode)->nodeState; }

    uint32_t camera_ = 0;
};

TEST_F(KvxBankTest, OneOrloGetsBankZeroWithItsRegisterCopies)
{
    ASSERT_NE(Alloc(5), 0u) << LastText();
    KVX_INFO* info = mpPrvKvxInfo(openednode::kOpenedNode);
    ASSERT_NE(info, nullptr);
    for (uint32_t e = 0; e < 5; ++e) {
        ASSERT_NE(info->bank[0][e].buffer, nullptr) << e;
        EXPECT_EQ(info->bank[0][e].buffer->sizeX, static_cast<int32_t>(kKvxEntryBytes[e]));
        EXPECT_EQ(info->bank[1][e].buffer, nullptr) << "no display Orlo, no second bank";
    }
    for (uint32_t e : {1u, 3u}) {
        const auto host = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(info->bank[0][e].address));
        EXPECT_EQ(mp_util_virtual_to_pci(openednode::kOpenedNode, host) % 65536, 0u) << "64 KB aligned on the bus: " << e;
    }
    for (uint32_t c = 1; c < 4; ++c) EXPECT_EQ(info->regs[c] - info->regs[0], static_cast<ptrdiff_t>(c * cam1::kRecordBytes));
    EXPECT_EQ(CamSlotAt(info->regs[0], cam1::BTC_CLKSEL)->value, 5u);
    EXPECT_EQ(CamSlotAt(info->regs[0], cam1::BTC_AIDCYC)->value, 17u);
    EXPECT_EQ(State()->moduleLoaded, 1u);
}

TEST_F(KvxBankTest, ASecondAllocationReusesTheBanks)
{
    ASSERT_NE(Alloc(0), 0u) << LastText();
    KVX_INFO* info = mpPrvKvxInfo(openednode::kOpenedNode);
    ASSERT_NE(info, nullptr);
    _MP_BUF_ST* before[5];
    for (uint32_t e = 0; e < 5; ++e) before[e] = info->bank[0][e].buffer;
    // Forget the load, so the next camera builds the banks again.
    State()->moduleLoaded = 0;
    ASSERT_NE(Alloc(0), 0u) << LastText();
    EXPECT_EQ(mpPrvKvxInfo(openednode::kOpenedNode), info) << "one record per node";
    for (uint32_t e = 0; e < 5; ++e) EXPECT_EQ(info->bank[0][e].buffer, before[e]) << "kept, not lost: " << e;
    EXPECT_EQ(CamSlotAt(info->regs[0], cam1::BTC_CLKSEL)->value, 9u);
    EXPECT_EQ(boardsim::BoardSim::instance().kvx(0).reg(kvxregs::BTC_CLKSEL), 9);
}

TEST_F(KvxBankTest, ClosingTheNodeFreesItsRecord)
{
    ASSERT_NE(Alloc(0), 0u) << LastText();
    ASSERT_NE(mpPrvKvxInfo(openednode::kOpenedNode), nullptr);
    ASSERT_EQ(imCamFree(kThread, camera_), 0);
    camera_ = 0;
    ASSERT_EQ(imDevFree(device_), 0);
    device_ = 0;
    EXPECT_EQ(mpPrvKvxInfo(openednode::kOpenedNode), nullptr) << "no bank outlives its node's memory";
    // A node opened again builds its banks anew.
    OpenNode();
    ASSERT_NE(Alloc(0), 0u) << LastText();
    KVX_INFO* info = mpPrvKvxInfo(openednode::kOpenedNode);
    ASSERT_NE(info, nullptr);
    EXPECT_NE(info->bank[0][0].buffer, nullptr);
}

TEST_F(KvxBankTest, FindSizeStopsDoublingBeforeTheSizeWraps)
{
    // Buffers without band memory always fit: only the cap ends the doubling.
    const uint32_t size = findSize(openednode::kOpenedNode, kLocNoBands);
    EXPECT_GE(size, 0x40000000u);
    EXPECT_LT(size, 0x80000000u);
    EXPECT_EQ(size % 8, 0u);
}

TEST_F(KvxBankTest, FindSizeOfAMissingMemoryIsZero)
{
    EXPECT_EQ(findSize(openednode::kOpenedNode, kLocDisplay0), 0u);
    heapInit(openednode::kOpenedNode);   // skips every memory it cannot have
}

TEST_F(KvxBankTest, FindSizeRefinesToTheLargestBlock)
{
    const uint32_t size = findSize(openednode::kOpenedNode, kLocSdram);
    ASSERT_GT(size, 1024u);
    _MP_BUF_ST* fits = mp_buf_alloc_on_node(openednode::kOpenedNode, static_cast<int32_t>(size), 1, 1, 8, kLocSdram);
    ASSERT_NE(fits, nullptr);
    mp_buf_free(fits);
    EXPECT_EQ(mp_buf_alloc_on_node(openednode::kOpenedNode, static_cast<int32_t>(size + 8), 1, 1, 8, kLocSdram), nullptr);
}

} // namespace
