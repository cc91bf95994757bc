#include "hlc_wiring.h"
#include "boardsim.h"
#include "qvlservice.h"

#include "../../testwait.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

using boardsim::BoardSim;
using boardsim::RequestRecord;
using boardsim::Topology;

namespace {

std::vector<uint8_t> Words(std::initializer_list<uint32_t> words)
{
    std::vector<uint8_t> bytes;
    for (uint32_t w : words)
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(w >> (8 * i)));
    return bytes;
}

uint32_t WordAt(const std::vector<uint8_t>& b, size_t offset)
{
    uint32_t v = 0;
    std::memcpy(&v, b.data() + offset, 4);
    return v;
}

class ServiceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        HlcWireLibrary();
        BoardSim::instance().configure();
        BoardSim::instance().clearRequests();
    }
    RequestRecord Last()
    {
        const auto all = BoardSim::instance().requests();
        return all.empty() ? RequestRecord{} : all.back();
    }
    void ExpectImage(uint32_t code, const std::vector<uint8_t>& input, uint32_t outSize)
    {
        const RequestRecord r = Last();
        EXPECT_EQ(r.device, "\\\\.\\QVLSERVICE0");
        EXPECT_EQ(r.code, code);
        EXPECT_EQ(r.input, input) << std::hex << code;
        EXPECT_EQ(r.outSize, outSize) << std::hex << code;
    }
    // The newest request of that code.
    void ExpectImageOf(uint32_t code, const std::vector<uint8_t>& input, uint32_t outSize)
    {
        const auto all = BoardSim::instance().requests();
        for (auto it = all.rbegin(); it != all.rend(); ++it)
            if (it->code == code) {
                EXPECT_EQ(it->input, input);
                EXPECT_EQ(it->outSize, outSize);
                return;
            }
        ADD_FAILURE() << "no request " << std::hex << code;
    }
    uint32_t guid() const { return BoardSim::instance().topology().service.guid; }
    uint32_t process() const { return DeviceOpenOwnProcess(); }
    uint32_t pid() const { return DeviceProcessId(); }
};

TEST_F(ServiceTest, TheLoadTimeInstanceIsValidAndKnowsTheServiceGuid)
{
    EXPECT_TRUE(QvlSerManager.Valid());
    CQvlService local;
    EXPECT_TRUE(local.Valid());
    uint32_t g = 0;
    EXPECT_TRUE(local.GetGUID(&g));
    ExpectImage(QVL_GET_GUID, Words({0xFFFE0000u, 0}), 8);
    EXPECT_EQ(g, guid());
}

TEST_F(ServiceTest, GetRevisionSendsTheDefaultDeviceAndRevision3)
{
    uint32_t revision = 0, a = 0, last = 99;
    EXPECT_TRUE(QvlSerManager.GetRevision(&revision, &a, &last));
    ExpectImage(QVL_GET_REVISION, Words({0xFFFE0000u, 3, 0, 0}), 16);
    EXPECT_EQ(revision, 3u);
    EXPECT_EQ(a, 1u);
    EXPECT_EQ(last, 0u); // one reserved region
}

TEST_F(ServiceTest, AnotherRevisionOrNoServiceMakesTheClientInvalid)
{
    Topology t;
    t.service.revision = 2;
    BoardSim::instance().configure(t);
    CQvlService old;
    EXPECT_FALSE(old.Valid());
    t.service.present = false;
    BoardSim::instance().configure(t);
    CQvlService none;
    EXPECT_FALSE(none.Valid());
    uint32_t revision = 7;
    EXPECT_FALSE(none.GetRevision(&revision, nullptr, nullptr));
    EXPECT_EQ(revision, 7u);
}

TEST_F(ServiceTest, DeviceWordFollowsTheBoardToTalkTo)
{
    CQvlService s;
    s.SetDeviceToTalkTo(2);
    uint32_t a = 0, b = 0, c = 0;
    EXPECT_TRUE(s.DmaGetStat(&a, &b, &c));
    ExpectImage(QVL_DMA_GET_STAT, Words({0x30000, 0, 0, 0}), 16);
    EXPECT_EQ(a, 0u);
    EXPECT_EQ(c, 0x400000u); // all of the region free
    EXPECT_TRUE(s.GetDriverInfo(0, &a, &b));
    ExpectImage(QVL_GET_DRIVER_INFO, Words({0x10000, 0, 0, 0}), 16);
    EXPECT_EQ(a, BoardSim::instance().dmaRegionPhysical(0));
    EXPECT_EQ(b, 0x400000u);
    EXPECT_FALSE(s.GetDriverInfo(1, &a, &b));
}

TEST_F(ServiceTest, DmaRequestImagesAndTheirRoundTrip)
{
    uint32_t id = 0, extra = 5;
    // 130 bytes ask for 130 + 130 mod 8 = 132.
    ASSERT_TRUE(QvlSerManager.DmaBufferAlloc(130, 1, 8, &id, 0x11, 1, 2, 3, 4, &extra, 0));
    ExpectImage(QVL_DMA_BUFFER_ALLOC, Words({0xFFFE0000u, 0, 132, process(), pid(), 0x11, 1, 2, 3, 4, 0}), 44);
    EXPECT_NE(id, 0u);
    EXPECT_EQ(extra, 0u);

    uint32_t physical = 0, size = 0, address = 0;
    ASSERT_TRUE(QvlSerManager.DmaBufferGetPhysAddress(id, &physical, &size, 0));
    ExpectImage(QVL_DMA_BUFFER_GET_PHYS, Words({id, pid(), 0, 0}), 16);
    EXPECT_EQ(size, 132u);
    EXPECT_EQ(physical, BoardSim::instance().dmaRegionPhysical(0));
    ASSERT_TRUE(QvlSerManager.DmaBufferGetPtr(id, &address, 77));
    ExpectImage(QVL_DMA_BUFFER_GET_PTR, Words({id, 77, 0}), 12);
    ASSERT_NE(address, 0u);
    std::memcpy(reinterpret_cast<void*>(static_cast<uintptr_t>(address)), "board", 6);
    char seen[6] = {};
    ASSERT_TRUE(BoardSim::instance().readPhysical(physical, seen, 6));
    EXPECT_STREQ(seen, "board");

    uint32_t a = 0, used = 0, free = 0;
    EXPECT_TRUE(QvlSerManager.DmaGetStat(&a, &used, &free));
    EXPECT_EQ(a, 1u);
    EXPECT_EQ(used, 0x1000u);

    EXPECT_TRUE(QvlSerManager.DmaBufferFree(id, 9, 0, 0));
    ExpectImage(QVL_DMA_BUFFER_FREE, Words({id, pid(), 9, guid()}), 0);
    EXPECT_TRUE(BoardSim::instance().dmaBuffers().empty());
    EXPECT_FALSE(QvlSerManager.DmaBufferFree(id, 0, 0, 0));
}

TEST_F(ServiceTest, RequestedBytesAreTheBlockBytesPlusTheirRemainderModEight)
{
    struct Case {
        uint32_t x, y, bits, bytes;
    };
    const Case cases[] = {
        {16, 1, 8, 16},     // a multiple of 8 stays
        {5, 1, 8, 10},      // 5 + 5
        {9, 1, 8, 10},      // 9 + 1
        {100, 10, 1, 130},  // 125 whole bytes + 5
        {3, 1, 12, 8},      // 4 whole bytes (36 bits) + 4
        {7, 3, 16, 44},     // 42 + 2
    };
    for (const Case& c : cases) {
        uint32_t id = 0;
        ASSERT_TRUE(QvlSerManager.DmaBufferAlloc(c.x, c.y, c.bits, &id, 0x11, 0, 0, 0, 0, nullptr, 0)) << c.x;
        ExpectImage(QVL_DMA_BUFFER_ALLOC, Words({0xFFFE0000u, 0, c.bytes, process(), pid(), 0x11, 0, 0, 0, 0, 0}), 44);
        uint32_t physical = 0, size = 0;
        ASSERT_TRUE(QvlSerManager.DmaBufferGetPhysAddress(id, &physical, &size, 0));
        EXPECT_EQ(size, c.bytes) << c.x << "x" << c.y << "x" << c.bits;
        EXPECT_GE(size, static_cast<uint32_t>(uint64_t(c.x) * c.y * c.bits / 8));
        EXPECT_TRUE(QvlSerManager.DmaBufferFree(id, 0, 0, 0));
    }
    // A size beyond 32 bits is refused before any request.
    uint32_t id = 0;
    EXPECT_FALSE(QvlSerManager.DmaBufferAlloc(0xFFFFFFFFu, 1, 8, &id, 0x11, 0, 0, 0, 0, nullptr, 0));
    EXPECT_TRUE(BoardSim::instance().dmaBuffers().empty());
}

TEST_F(ServiceTest, CreateIdAddToPoolAndCleanupImages)
{
    const uint32_t start = BoardSim::instance().dmaRegionPhysical(0);
    uint32_t record = 0, extra = 1;
    EXPECT_TRUE(QvlSerManager.DmaBufferCreateId(start + 0x1000, 0x2000, 1, 8, &record, 0, 0, 0, 0, 0, &extra, 0));
    ExpectImage(QVL_DMA_BUFFER_CREATE_ID,
                Words({0xFFFE0000u, 0, start + 0x1000, 0x2000, process(), pid(), guid(), 0, 0, 0, 0, 0}), 48);
    EXPECT_NE(record, 0u);
    EXPECT_FALSE(QvlSerManager.DmaBufferCreateId(start + 0x3FF000, 0x2000, 1, 8, &record, 0, 0, 0, 0, 0, nullptr, 0));

    uint32_t copy = 0;
    EXPECT_TRUE(QvlSerManager.DmaBufferCreateIdFromHandle(record, &copy, 5, 0));
    EXPECT_NE(copy, record);
    const auto buffers = BoardSim::instance().dmaBuffers();
    ASSERT_EQ(buffers.size(), 2u);
    EXPECT_EQ(buffers[1].physical, start + 0x1000);
    EXPECT_EQ(buffers[1].size, 0x2000u);
    EXPECT_TRUE(buffers[1].created);

    uint32_t pooled = 0;
    EXPECT_TRUE(QvlSerManager.DmaAddToPool(0x7A, 64, 2, 8, &pooled, 0x22, 0));
    ExpectImage(QVL_DMA_ADD_TO_POOL, Words({0xFFFE0000u, 0, 0x7A, 128, process(), pid(), 0x22}), 28);
    EXPECT_NE(pooled, 0u);

    EXPECT_TRUE(QvlSerManager.DmaBufferCleanup(0x22, 0));
    ExpectImage(QVL_DMA_BUFFER_CLEANUP, Words({0xFFFE0000u, 0, 0x22, 0, 0, 0}), 0);
    EXPECT_EQ(BoardSim::instance().dmaBuffers().size(), 2u);
    EXPECT_FALSE(QvlSerManager.DmaBufferAlloc(0x10000, 0x10000, 32, &pooled, 0, 0, 0, 0, 0, nullptr, 0));
}

TEST_F(ServiceTest, DmaOverviewAndItsWaits)
{
    CQvlService s;
    uint32_t id = 0;
    ASSERT_TRUE(s.DmaBufferAlloc(16, 1, 8, &id, 0x11, 0, 0, 0, 0, nullptr, 0));
    std::vector<uint8_t> text(100, 0xEE);
    uint32_t length = 99;
    ASSERT_TRUE(s.GetDmaOverview(0x11, 1, 2, 3, text.data(), &length));
    const RequestRecord r = Last();
    EXPECT_EQ(r.code, QVL_GET_DMA_OVERVIEW);
    ASSERT_EQ(r.input.size(), 99u + 29u);
    EXPECT_EQ(std::vector<uint8_t>(r.input.begin(), r.input.begin() + 28), Words({0x120000, 1, 2, 3, 0, 0, 99}));
    EXPECT_EQ(r.outSize, 128u);
    const std::string overview(reinterpret_cast<const char*>(text.data()));
    EXPECT_NE(overview.find("id=1 "), std::string::npos);
    EXPECT_EQ(length, overview.size());
    EXPECT_EQ(text[99], 0xEE); // nothing beyond what was asked

    // Nothing changed since the overview: a wait ends only by the caller's event.
    s.SetWaitLimit(5000);
    DeviceEvent stop(true, true);
    EXPECT_FALSE(s.WaitForDmaOverview(0x11, &stop));
    ExpectImage(QVL_WAIT_DMA_OVERVIEW, Words({0x120000}), 0);
    EXPECT_EQ(BoardSim::instance().pendingRequests(), 0);

    // A change completes the wait.
    testwait::Thread changer([] {
        if (!testwait::WaitUntil([] { return BoardSim::instance().pendingRequests() != 0; })) {
            ADD_FAILURE() << "the poll never reached the service";
            return;
        }
        uint32_t other = 0;
        QvlSerManager.DmaBufferAlloc(8, 1, 8, &other, 0x11, 0, 0, 0, 0, nullptr, 0);
    });
    EXPECT_TRUE(s.PollForDmaOverview(0x11));
    changer.Join();
    ExpectImageOf(QVL_WAIT_DMA_OVERVIEW, Words({0x120000}), 0);
}

TEST_F(ServiceTest, PciConfigRecordsAre14Bytes)
{
    uint32_t value = 0;
    ASSERT_TRUE(QvlSerManager.PciConfigRead(4, 1, 0, 0, 0x08, &value));
    ExpectImage(QVL_PCI_CONFIG_READ, {0x00, 0x00, 0xFE, 0xFF, 4, 1, 0, 0, 0x08, 4, 0, 0, 0, 0}, 14);
    EXPECT_EQ(value >> 8, 0x048000u);
    EXPECT_TRUE(QvlSerManager.PciConfigRead(4, 0, 3, 0, 0x00, &value));
    EXPECT_EQ(value, 0xFFFFFFFFu); // absent function
    EXPECT_TRUE(QvlSerManager.PciConfigWrite(2, 1, 0, 0, 0x40, 0xA1B2C3D4u));
    ExpectImage(QVL_PCI_CONFIG_WRITE, {0x00, 0x00, 0xFE, 0xFF, 2, 1, 0, 0, 0x40, 4, 0xD4, 0xC3, 0xB2, 0xA1}, 0);
    EXPECT_EQ(BoardSim::instance().configRead(1, 0, 0, 0x40), 0xA1B2C3D4u);
}

TEST_F(ServiceTest, PciBlockAccessFindBiosAndInterruptRouting)
{
    uint32_t data[64] = {};
    ASSERT_TRUE(QvlSerManager.PciConfigAccess(0x100, 1, 0, 0, 0, 1, 9, 4, data));
    const RequestRecord r = Last();
    EXPECT_EQ(r.code, QVL_PCI_CONFIG_ACCESS);
    ASSERT_EQ(r.input.size(), 296u);
    std::vector<uint8_t> image = Words({0xFFFE0000u, 0, 1, 0, 0, 0, 1, 9, 4});
    image.resize(296, 0); // 64 data words and the status word
    EXPECT_EQ(r.input, image);
    EXPECT_EQ(r.outSize, 296u);
    EXPECT_EQ(data[0], 0x3E911F3Au);
    EXPECT_EQ(data[2] >> 8, 0x048000u);
    data[0] = 0x01020304u;
    ASSERT_TRUE(QvlSerManager.PciConfigAccess(0, 1, 0, 0, 0x48, 2, 0, 1, data));
    EXPECT_EQ(WordAt(Last().input, 36), 0x01020304u);
    EXPECT_EQ(BoardSim::instance().configRead(1, 0, 0, 0x48), 0x01020304u);
    EXPECT_FALSE(QvlSerManager.PciConfigAccess(0, 9, 0, 0, 0, 1, 0, 1, data)); // absent: status set
    const size_t before = BoardSim::instance().requests().size();
    EXPECT_FALSE(QvlSerManager.PciConfigAccess(0, 1, 0, 0, 0, 1, 0, 65, data));
    EXPECT_EQ(BoardSim::instance().requests().size(), before); // refused before sending

    uint32_t bus = 0, device = 0, function = 0;
    ASSERT_TRUE(QvlSerManager.PciFindDevice(0, 0x1F3A, 0x3E91, 0, &bus, &device, &function));
    ExpectImage(QVL_PCI_FIND_DEVICE, Words({0xFFFE0000u, 0x1F3A, 0x3E91, 0, 0, 0, 0, 0}), 32);
    EXPECT_EQ(bus, 1u);
    bus = 42;
    EXPECT_FALSE(QvlSerManager.PciFindDevice(0, 0x1F3A, 0x3E91, 1, &bus, &device, &function));
    EXPECT_EQ(bus, 42u);

    uint32_t mechanism = 0, level = 0, last = 0;
    ASSERT_TRUE(QvlSerManager.PciBiosSupport(&mechanism, &level, &last));
    ExpectImage(QVL_PCI_BIOS_SUPPORT, Words({0xFFFE0000u, 0, 0, 0}), 16);
    EXPECT_EQ(mechanism, 1u);
    EXPECT_EQ(level, 0x0210u);
    EXPECT_EQ(last, 1u);

    uint8_t table[256];
    std::memset(table, 0xEE, sizeof table);
    uint16_t mask = 0;
    ASSERT_TRUE(QvlSerManager.PciGetIntOption(0, table, &mask));
    const RequestRecord io = Last();
    EXPECT_EQ(io.code, QVL_PCI_GET_INT_OPTION);
    ASSERT_EQ(io.input.size(), 265u);
    EXPECT_EQ(std::vector<uint8_t>(io.input.begin(), io.input.begin() + 9), std::vector<uint8_t>({0, 0, 0xFE, 0xFF, 0, 0, 0, 0, 0}));
    EXPECT_EQ(io.outSize, 265u);
    EXPECT_EQ(mask, 0x0E20);
    EXPECT_EQ(table[1], 0x0D << 3);
    EXPECT_EQ(table[14], 1);

    EXPECT_TRUE(QvlSerManager.PciBridgeConfigAll(3));
    ExpectImage(QVL_PCI_BRIDGE_CONFIG_ALL, Words({0xFFFE0000u, 3}), 0);
}

TEST_F(ServiceTest, GetPagesSendsCountWordsAndTheTerminator)
{
    std::vector<uint8_t> memory(0x4000);
    const auto address = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(memory.data()));
    const uint32_t start = (address + 0xFFF) & ~0xFFFu;
    uint32_t pages[4] = {1, 2, 3, 4};
    uint32_t result = 0;
    ASSERT_TRUE(QvlSerManager.GetPages(start + 0x800, 0x1000, pages, 4, &result));
    const RequestRecord r = Last();
    EXPECT_EQ(r.code, QVL_GET_PAGES);
    EXPECT_EQ(r.input, Words({0xFFFE0000u, 44, start + 0x800, 0x1000, 4, 0, 1, 2, 3, 4, 0xAE0BAE0Bu}));
    EXPECT_EQ(r.outSize, 44u);
    EXPECT_EQ(result, 2u);
    EXPECT_EQ(pages[0], BoardSim::instance().pagePhysical(reinterpret_cast<void*>(static_cast<uintptr_t>(start))));
    EXPECT_EQ(pages[1], BoardSim::instance().pagePhysical(reinterpret_cast<void*>(static_cast<uintptr_t>(start + 0x1000))));
    EXPECT_EQ(pages[2], 3u); // untouched by the service
    EXPECT_NE(pages[0], pages[1]);
    // The reverse map reaches the memory.
    memory[start - address + 0x900] = 0x5C;
    uint8_t seen = 0;
    ASSERT_TRUE(BoardSim::instance().readPhysical(pages[0] + 0x900, &seen, 1));
    EXPECT_EQ(seen, 0x5C);
    // Too few page words: refused, outputs kept.
    result = 77;
    EXPECT_FALSE(QvlSerManager.GetPages(start + 0x800, 0x1001, pages, 1, &result));
    EXPECT_EQ(result, 77u);
    EXPECT_FALSE(QvlSerManager.GetPages(start, 0, nullptr, 0, &result));
}

TEST_F(ServiceTest, FailedRequestsLeaveOutputsUntouched)
{
    BoardSim::instance().failRequests(QVL_GET_REVISION);
    BoardSim::instance().failRequests(QVL_PCI_CONFIG_READ);
    BoardSim::instance().failRequests(QVL_DMA_BUFFER_ALLOC);
    BoardSim::instance().failRequests(QVL_DMA_BUFFER_GET_PHYS);
    uint32_t revision = 11, a = 12, last = 13, value = 14, id = 15, extra = 16, physical = 17, size = 18;
    EXPECT_FALSE(QvlSerManager.GetRevision(&revision, &a, &last));
    EXPECT_EQ(revision, 11u);
    EXPECT_EQ(a, 12u);
    EXPECT_EQ(last, 13u);
    EXPECT_FALSE(QvlSerManager.PciConfigRead(4, 0, 0, 0, 0, &value));
    EXPECT_EQ(value, 14u);
    EXPECT_FALSE(QvlSerManager.DmaBufferAlloc(8, 1, 8, &id, 0, 0, 0, 0, 0, &extra, 0));
    EXPECT_EQ(id, 15u);
    EXPECT_EQ(extra, 16u);
    EXPECT_FALSE(QvlSerManager.DmaBufferGetPhysAddress(1, &physical, &size, 0));
    EXPECT_EQ(physical, 17u);
    EXPECT_EQ(size, 18u);
}

TEST_F(ServiceTest, AWaitThatRunsOutIsCancelledBeforeReturning)
{
    CQvlService s;
    s.SetWaitLimit(30);
    BoardSim::instance().holdRequests(QVL_PCI_CONFIG_READ, true);
    uint32_t value = 0x600DF00Du;
    EXPECT_FALSE(s.PciConfigRead(4, 0, 0, 0, 0, &value));
    EXPECT_EQ(value, 0x600DF00Du);
    EXPECT_EQ(BoardSim::instance().pendingRequests(), 0);
    BoardSim::instance().holdRequests(QVL_PCI_CONFIG_READ, false);
    EXPECT_TRUE(s.PciConfigRead(4, 0, 0, 0, 0, &value));
}

TEST_F(ServiceTest, SizesThatDoNotFitAreRefusedWithoutARequest)
{
    const size_t before = BoardSim::instance().requests().size();
    uint32_t id = 3;
    EXPECT_FALSE(QvlSerManager.DmaBufferAlloc(0x10000, 0x10000, 16, &id, 0, 0, 0, 0, 0, nullptr, 0));
    EXPECT_FALSE(QvlSerManager.DmaBufferCreateId(0, 0xFFFFFFFFu, 0xFFFFFFFFu, 32, &id, 0, 0, 0, 0, 0, nullptr, 0));
    EXPECT_EQ(id, 3u);
    EXPECT_EQ(BoardSim::instance().requests().size(), before);
}

TEST_F(ServiceTest, PagedBufferLockRaisesTheWorkingSetBySize)
{
    std::vector<uint8_t> buffer(0x3000);
    uint32_t min0 = 0, max0 = 0, min1 = 0, max1 = 0;
    DeviceGetWorkingSet(&min0, &max0);
    ASSERT_TRUE(QvlSerManager.PagedBufferLock(buffer.data(), 0x3000));
    DeviceGetWorkingSet(&min1, &max1);
    EXPECT_EQ(min1, min0 + 0x3000);
    EXPECT_EQ(max1, max0 + 0x3000);
    EXPECT_EQ(BoardSim::instance().lockedRanges().size(), 1u);
    ASSERT_TRUE(QvlSerManager.PagedBufferUnlock(buffer.data(), 0x3000));
    DeviceGetWorkingSet(&min1, &max1);
    EXPECT_EQ(min1, min0);
    EXPECT_EQ(max1, max0);
    EXPECT_FALSE(QvlSerManager.PagedBufferUnlock(buffer.data(), 0x3000));
}

TEST_F(ServiceTest, FileVersionOnlyOfTheServicesOwnDriverFile)
{
    uint32_t ms = 0, ls = 0;
    EXPECT_TRUE(QvlSerManager.GetFileVersion(&ms, &ls, nullptr));
    EXPECT_EQ(ms, 0x00030002u);
    EXPECT_EQ(ls, 7u);
    ms = 1;
    EXPECT_FALSE(QvlSerManager.GetFileVersion(&ms, &ls, "other.sys"));
    EXPECT_EQ(ms, 1u);
}

} // namespace
