// The buffer commands end to end on a served node: every handler through the real sender
// and command server, its results and reply slots, and each error with its code and text.
#include "servednode.h"
#include "bufhandlers.h"

#include "bufchild.h"
#include "heap.h"
#include "hlc_errors.h"
#include "imbuf.h"
#include "im_param.h"
#include "regmap/orlo_regs.h"

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>

using servednode::ServedNodeTest;
using servednode::kMain;
using ringnode::g_record;
using ringnode::g_nodeState;
using ringnode::kNode;

namespace {

constexpr uint32_t kBoardBytes = 0x400000;
constexpr uint32_t kHeapBytes = 0x100000;

uint32_t Word(const void* p)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

// One parameter: a 32-bit word or a double.
struct Arg {
    Arg(int32_t v) : word(static_cast<uint32_t>(v)) {}
    Arg(uint32_t v) : word(v) {}
    Arg(double v) : isDouble(true), real(v) {}
    bool isDouble = false;
    uint32_t word = 0;
    double real = 0;
};

// A command sent and answered; the reply slots are read as they came back.
class Command {
public:
    Command(uint32_t opcode, const char* name, std::initializer_list<Arg> args)
    {
        im_msg_start(&msg_, opcode, static_cast<uint32_t>(args.size()), name);
        uint32_t slot = 0;
        for (const Arg& a : args) {
            if (a.isDouble)
                im_msg_put_double(&msg_, slot++, a.real);
            else
                im_msg_put_long(&msg_, slot++, static_cast<int32_t>(a.word));
        }
        im_msg_send(&msg_, 0, kMain, 0, IM_SYNC_POLL);
    }
    ~Command()
    {
        im_msg_reset_application();
        im_msg_end(&msg_);
        im_msg_reset_application();
    }
    uint32_t Word(uint32_t slot) const
    {
        uint32_t v = 0;
        std::memcpy(&v, msg_.body.param[slot], 4);
        return v;
    }
    int32_t Long(uint32_t slot) const { return static_cast<int32_t>(Word(slot)); }
    double Double(uint32_t slot) const
    {
        double v = 0;
        std::memcpy(&v, msg_.body.param[slot], 8);
        return v;
    }
    uint32_t Replies() const { return msg_.body.counts >> 16; }
    int32_t Code() const { return msg_.body.err.code; }
    std::string Message() const { return msg_.body.err.message ? msg_.body.err.message : ""; }
    std::string Function() const { return msg_.body.err.function ? msg_.body.err.function : ""; }

private:
    _MSG_ST msg_{};
};

class BufCommandTest : public ServedNodeTest {
protected:
    void InstallHandlers() override { mp_buf_install(); }
    void SetUp() override
    {
        ServedNodeTest::SetUp();
        ASSERT_TRUE(HlcDrvMap(device_, nullptr, kNode, HLC_REGION_PRIMARY, kBoardBytes, kPrimaryMemoryTop - kBoardBytes,
                              &g_record.primaryMemory));
        g_nodeState.orlo[0].memorySize = kBoardBytes;
        g_record.heaps[0] = mp_mem_new_heap(nullptr, g_record.primaryMemory, kHeapBytes, 0);
        ASSERT_NE(g_record.heaps[0], nullptr);
    }
    void TearDown() override
    {
        if (g_record.heaps[0]) mp_mem_delete_heap(g_record.heaps[0]);
        g_record.heaps[0] = nullptr;
        ServedNodeTest::TearDown();
    }
    // Allocates through the command and checks that an id came back.
    uint32_t Alloc(int32_t x, int32_t y, uint32_t bands, uint32_t type, uint32_t location)
    {
        Command c(kOpBufAlloc, "imBufAlloc", {x, y, bands, type, location, 0u});
        EXPECT_EQ(c.Code(), 0) << c.Message();
        EXPECT_EQ(c.Replies(), 1u);
        EXPECT_NE(c.Word(0), 0u);
        return c.Word(0);
    }
    int32_t Inquire(uint32_t id, uint32_t type)
    {
        Command c(kOpBufInquire, "imBufInquire", {id, type});
        EXPECT_EQ(c.Code(), 0) << c.Message();
        return c.Long(0);
    }
    static void ExpectError(const Command& c, int32_t code, const std::string& text, const char* function)
    {
        EXPECT_EQ(c.Code(), code);
        EXPECT_EQ(c.Message(), text);
        EXPECT_EQ(c.Function(), function);
    }
};

TEST_F(BufCommandTest, FourAllocationFormsGiveBuffersOfTheirShape)
{
    const uint32_t a = Alloc(16, 4, 3, 8, kLocInline);
    EXPECT_EQ(Inquire(a, kBufInqSizeX), 16);
    EXPECT_EQ(Inquire(a, kBufInqSizeY), 4);
    EXPECT_EQ(Inquire(a, kBufInqBands), 3);
    EXPECT_EQ(Inquire(a, kBufInqPitch), 16);
    EXPECT_EQ(Inquire(a, kBufInqLocation), static_cast<int32_t>(kLocInline));

    Command two(kOpBufAlloc2d, "imBufAlloc2d", {10, 5, 16u, kLocInline, 0u});
    ASSERT_EQ(two.Code(), 0);
    EXPECT_EQ(Inquire(two.Word(0), kBufInqBands), 1);
    EXPECT_EQ(Inquire(two.Word(0), kBufInqBits), 16);
    EXPECT_EQ(Inquire(two.Word(0), kBufInqPitch), 20);

    Command one(kOpBufAlloc1d, "imBufAlloc1d", {7, 0x10000020u, kLocInline, 0u});
    ASSERT_EQ(one.Code(), 0);
    EXPECT_EQ(Inquire(one.Word(0), kBufInqSizeY), 1);
    EXPECT_EQ(Inquire(one.Word(0), kBufInqTypeClass), static_cast<int32_t>(kBufTypeSigned));

    Command control(kOpBufAllocControl, "imBufAllocControl", {});
    ASSERT_EQ(control.Code(), 0);
    ASSERT_NE(control.Word(0), 0u);
    EXPECT_EQ(Inquire(control.Word(0), kBufInqBands), 0);

    const uint32_t board = Alloc(64, 8, 1, 8, kLocSdram);
    EXPECT_EQ(Inquire(board, kBufInqLocation), static_cast<int32_t>(kLocSdram));
}

TEST_F(BufCommandTest, AllocationWithoutMemoryAnswersZeroAndNoResources)
{
    Command c(kOpBufAlloc, "imBufAlloc", {4096, 4096, 1u, 8u, kLocSdram, 0u});
    ExpectError(c, HLC_ERR_NO_RESOURCES, "Insufficient resources to carry out the operation", "BufAlloc");
    EXPECT_EQ(c.Word(0), 0u);
    EXPECT_EQ(c.Replies(), 1u);
}

TEST_F(BufCommandTest, HostDmaBandsComeFromTheInformationBufferAndMustFitInIt)
{
    // Two band entries of 16 bytes in band 0 of the information buffer.
    const uint32_t info = Alloc(32, 1, 1, 8, kLocInline);
    auto* words = static_cast<uint32_t*>(mp_buf_address_band_internal(mp_buf_pointer(info), 0));
    ASSERT_NE(words, nullptr);
    for (uint32_t i = 0; i < 8; ++i) words[i] = 0x1000 + i;
    Command ok(kOpBufAlloc, "imBufAlloc", {8, 2, 2u, 8u, kLocHostDma, info});
    ASSERT_EQ(ok.Code(), 0) << ok.Message();
    const _MP_BUF_ST* b = mp_buf_pointer(ok.Word(0));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->bandTable[1].physical, 0x1007u);
    EXPECT_EQ(b->bandTable[0].mapped, 0x1001u);

    // Three bands need 48 bytes: the 32-byte description is refused, not read past.
    Command shortInfo(kOpBufAlloc, "imBufAlloc", {8, 2, 3u, 8u, kLocHostDma, info});
    ExpectError(shortInfo, HLC_ERR_INVALID_PARAMETER, "Parameter invalid or unacceptable", "BufAlloc");
    EXPECT_EQ(shortInfo.Word(0), 0u);
    Command noInfo(kOpBufAlloc2d, "imBufAlloc2d", {8, 2, 8u, kLocHostDma, 0x7777u});
    ExpectError(noInfo, HLC_ERR_INVALID_PARAMETER, "Parameter invalid or unacceptable", "BufAlloc2d");
}

TEST_F(BufCommandTest, CreateTakesAddressesFromTheMessageOrFromABuffer)
{
    Command two(kOpBufCreate, "imBufCreate", {4, 2, 2u, 8u, 5u, 4u, 0x2000u, 0x3000u});
    ASSERT_EQ(two.Code(), 0) << two.Message();
    EXPECT_EQ(two.Word(0) & kIdGivenMemory, kIdGivenMemory);
    const _MP_BUF_ST* b = mp_buf_pointer(two.Word(0));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->id, two.Word(0));
    EXPECT_EQ(b->bandTable[1].physical, 0x3000u);

    const uint32_t list = Alloc(9, 1, 1, 32, kLocInline);
    auto* words = static_cast<uint32_t*>(mp_buf_address_band_internal(mp_buf_pointer(list), 0));
    for (uint32_t i = 0; i < 9; ++i) words[i] = 0x10000 * (i + 1);
    Command nine(kOpBufCreate, "imBufCreate", {4, 2, 9u, 8u, 7u, 4u, list});
    ASSERT_EQ(nine.Code(), 0) << nine.Message();
    EXPECT_EQ(nine.Word(0) & kIdLibraryMemory, kIdLibraryMemory);
    // Memory the library allocated is paged host memory named by its host address.
    EXPECT_EQ(mp_buf_pointer(nine.Word(0))->bandTable[8].third, 0x90000u);
    Command freed(kOpBufFree, "imBufFree", {nine.Word(0)});
    EXPECT_EQ(freed.Code(), 0);

    // Ten addresses are more than the nine words the buffer holds.
    Command ten(kOpBufCreate, "imBufCreate", {4, 2, 10u, 8u, 5u, 4u, list});
    ExpectError(ten, HLC_ERR_INVALID_PARAMETER, "Parameter invalid or unacceptable", "BufCreate");
    EXPECT_EQ(ten.Word(0), 0u);
    Command none(kOpBufCreate, "imBufCreate", {4, 2, 9u, 8u, 5u, 4u, 0x7777u});
    ExpectError(none, HLC_ERR_INVALID_PARAMETER, "Parameter invalid or unacceptable", "BufCreate");
}

TEST_F(BufCommandTest, ChildIsClampedToItsParent)
{
    const uint32_t parent = Alloc(640, 480, 1, 8, kLocSdram);
    Command corner(kOpBufChild, "imBufChild", {parent, 600, 400, 0, 0});
    ASSERT_EQ(corner.Code(), 0) << corner.Message();
    EXPECT_EQ(Inquire(corner.Word(0), kBufInqSizeX), 40);
    EXPECT_EQ(Inquire(corner.Word(0), kBufInqSizeY), 80);
    EXPECT_EQ(Inquire(corner.Word(0), kBufInqOffsetX), 600);
    EXPECT_EQ(static_cast<uint32_t>(Inquire(corner.Word(0), kBufInqParent)), parent);
    EXPECT_EQ(Inquire(parent, kBufInqParent), 0);

    Command negative(kOpBufChild, "imBufChild", {parent, -5, -7, 700, 10});
    ASSERT_EQ(negative.Code(), 0);
    EXPECT_EQ(Inquire(negative.Word(0), kBufInqOffsetX), 0);
    EXPECT_EQ(Inquire(negative.Word(0), kBufInqOffsetY), 0);
    EXPECT_EQ(Inquire(negative.Word(0), kBufInqSizeX), 640);

    Command edge(kOpBufChild, "imBufChild", {parent, 640, 0, 0, 0});
    ExpectError(edge, HLC_ERR_INVALID_PARAMETER, "Parameter invalid or unacceptable", "BufChild");
    EXPECT_EQ(edge.Word(0), 0u);
    Command bad(kOpBufChild, "imBufChild", {0x7777u, 0, 0, 0, 0});
    ExpectError(bad, HLC_ERR_INVALID_BUFFER, "Invalid buffer ID", "BufChild");
    Command display(kOpBufChild, "imBufChild", {2u, 0, 0, 0, 0});
    ExpectError(display, HLC_ERR_INVALID_BUFFER, "Display not initialized", "BufChild");
}

TEST_F(BufCommandTest, ChildBandAndChildMove)
{
    const uint32_t parent = Alloc(8, 4, 3, 8, kLocInline);
    Command band(kOpBufChildBand, "imBufChildBand", {parent, 2});
    ASSERT_EQ(band.Code(), 0) << band.Message();
    EXPECT_EQ(mp_buf_address_band_internal(mp_buf_pointer(band.Word(0)), 0),
              mp_buf_address_band_internal(mp_buf_pointer(parent), 2));
    Command beyond(kOpBufChildBand, "imBufChildBand", {parent, 3});
    ExpectError(beyond, HLC_ERR_INVALID_PARAMETER, "Parameter invalid or unacceptable", "BufChildBand");

    Command child(kOpBufChild, "imBufChild", {parent, 2, 1, 4, 2});
    ASSERT_EQ(child.Code(), 0);
    Command absolute(kOpBufChildMove, "imBufChildMove", {child.Word(0), 0x40000000 + 3, 0, kBufKeep, kBufKeep});
    EXPECT_EQ(absolute.Code(), 0);
    EXPECT_EQ(Inquire(child.Word(0), kBufInqOffsetX), 3);
    EXPECT_EQ(Inquire(child.Word(0), kBufInqOffsetY), 1);
    EXPECT_EQ(Inquire(child.Word(0), kBufInqSizeX), 4);
    Command out(kOpBufChildMove, "imBufChildMove", {child.Word(0), 2, 0, kBufKeep, kBufKeep});
    ExpectError(out, HLC_ERR_INVALID_PARAMETER, "Parameter invalid or unacceptable", "BufChildMove");
    EXPECT_EQ(Inquire(child.Word(0), kBufInqOffsetX), 3);
    Command root(kOpBufChildMove, "imBufChildMove", {parent, 1, 0, kBufKeep, kBufKeep});
    ExpectError(root, HLC_ERR_BUFFER_ATTRIBUTE, "Unacceptable buffer attribute (size, type, etc.)", "BufChildMove");
}

TEST_F(BufCommandTest, ClearFillsEveryBandInHostAndBoardMemory)
{
    const uint32_t host = Alloc(5, 3, 3, 16, kLocInline);
    boardsim::BoardSim::instance().setTracing(true);
    boardsim::BoardSim::instance().clearTrace();
    Command c(kOpBufClear, "imBufClear", {host, 4660.0});
    ASSERT_EQ(c.Code(), 0);
    for (const auto& a : boardsim::BoardSim::instance().trace())
        EXPECT_NE(a.area, boardsim::HwArea::PrimaryMemory) << "host memory went through the board";
    const _MP_BUF_ST* b = mp_buf_pointer(host);
    for (uint32_t band = 0; band < 3; ++band) {
        EXPECT_EQ(mp_buf_get_pix(b, band, 0, 0), 0x1234);
        EXPECT_EQ(mp_buf_get_pix(b, band, 4, 2), 0x1234);
    }

    const uint32_t board = Alloc(6, 2, 1, 32, kLocSdram);
    boardsim::BoardSim::instance().clearTrace();
    Command d(kOpBufClear, "imBufClear", {board, 7.0});
    ASSERT_EQ(d.Code(), 0);
    const uint32_t start = Word(mp_buf_address_band_internal(mp_buf_pointer(board), 0)) - g_record.primaryMemory;
    int writes = 0;
    for (const auto& a : boardsim::BoardSim::instance().trace())
        if (a.op == boardsim::HwOp::Write && a.area == boardsim::HwArea::PrimaryMemory) {
            EXPECT_EQ(a.value, 7u);
            EXPECT_GE(a.offset, start);
            ++writes;
        }
    EXPECT_EQ(writes, 12);
    uint32_t word = 0;
    ASSERT_TRUE(boardsim::BoardSim::instance().orlo(0).readMemory(start + 20, &word, 4));
    EXPECT_EQ(word, 7u);
    boardsim::BoardSim::instance().setTracing(false);

    Command bad(kOpBufClear, "imBufClear", {0x7777u, 1.0});
    ExpectError(bad, HLC_ERR_INVALID_BUFFER, "Invalid buffer ID", "BufClear");
}

TEST_F(BufCommandTest, CloneCopiesShapeAndFieldsButNoPixels)
{
    const uint32_t source = Alloc(4, 4, 1, 8, kLocInline);
    mp_buf_put_field(mp_buf_pointer(source), 11, 1.5);
    mp_buf_put_field(mp_buf_pointer(source), 3, -2.0);
    mp_buf_put_pix(mp_buf_pointer(source), 0, 1, 1, 99);
    Command clone(kOpBufClone, "imBufClone", {source, kLocDefault, 0u});
    ASSERT_EQ(clone.Code(), 0) << clone.Message();
    const _MP_BUF_ST* c = mp_buf_pointer(clone.Word(0));
    ASSERT_NE(c, nullptr);
    EXPECT_NE(c, mp_buf_pointer(source));
    EXPECT_EQ(c->sizeX, 4);
    EXPECT_EQ(c->location, kLocInline);
    ASSERT_EQ(c->fieldCount, 2u);
    EXPECT_EQ(c->fieldList->key, 11u);
    double v = 0;
    EXPECT_EQ(mp_buf_get_field_double(c, 3, &v), 0);
    EXPECT_EQ(v, -2.0);
    EXPECT_EQ(mp_buf_get_pix(c, 0, 1, 1), 0);

    Command failed(kOpBufClone, "imBufClone", {source, kLocHostDma, 0x7777u});
    ExpectError(failed, HLC_ERR_INVALID_BUFFER, "Buffer clone failed", "BufClone");
    EXPECT_EQ(failed.Word(0), 0u);
    Command bad(kOpBufClone, "imBufClone", {0x7777u, kLocDefault, 0u});
    ExpectError(bad, HLC_ERR_INVALID_BUFFER, "Invalid buffer ID", "BufClone");
}

TEST_F(BufCommandTest, FieldsArePutReadWalkedCopiedAndRemoved)
{
    const uint32_t id = Alloc(2, 2, 1, 8, kLocInline);
    const uint32_t other = Alloc(2, 2, 1, 8, kLocInline);
    { Command p(kOpBufPutField, "imBufPutField", {id, 7u, 2.75}); EXPECT_EQ(p.Code(), 0); }
    { Command p(kOpBufPutField, "imBufPutField", {id, 9u, -4.5}); EXPECT_EQ(p.Code(), 0); }

    Command get(kOpBufGetField, "imBufGetField", {id, 9u});
    EXPECT_EQ(get.Long(0), -4);
    EXPECT_EQ(get.Long(1), 0);
    EXPECT_EQ(get.Replies(), 2u);
    Command getDouble(kOpBufGetFieldDouble, "imBufGetFieldDouble", {id, 7u});
    EXPECT_EQ(getDouble.Double(0), 2.75);
    EXPECT_EQ(getDouble.Long(1), 0);
    Command missing(kOpBufGetField, "imBufGetField", {id, 8u});
    EXPECT_EQ(missing.Code(), 0);
    EXPECT_EQ(missing.Long(1), HLC_ERR_NOT_PRESENT);

    Command first(kOpBufGetNextField, "imBufGetNextField", {id, -1});
    EXPECT_EQ(first.Long(3), 0);
    EXPECT_EQ(first.Word(1), 7u);
    EXPECT_EQ(first.Double(2), 2.75);
    EXPECT_NE(first.Word(0), 0u);
    EXPECT_EQ(first.Replies(), 4u);
    Command second(kOpBufGetNextField, "imBufGetNextField", {id, first.Word(0)});
    EXPECT_EQ(second.Word(1), 9u);
    EXPECT_EQ(second.Word(0), 0u);
    Command third(kOpBufGetNextField, "imBufGetNextField", {id, second.Word(0)});
    EXPECT_EQ(third.Long(3), HLC_ERR_NOT_PRESENT);
    // A cursor that is none of the buffer's fields is refused, not followed.
    Command stray(kOpBufGetNextField, "imBufGetNextField", {id, 0x1000u});
    ExpectError(stray, HLC_ERR_INVALID_PARAMETER, "Parameter invalid or unacceptable", "BufGetNextField");
    EXPECT_EQ(stray.Long(3), HLC_ERR_NOT_PRESENT);

    Command copyOne(kOpBufCopyField, "imBufCopyField", {id, 7u, other, 70u});
    EXPECT_EQ(copyOne.Code(), 0);
    Command copyAll(kOpBufCopyField, "imBufCopyField", {id, 0u, other, 0u});
    EXPECT_EQ(copyAll.Code(), 0);
    const _MP_BUF_ST* o = mp_buf_pointer(other);
    EXPECT_EQ(o->fieldCount, 3u);
    double v = 0;
    EXPECT_EQ(mp_buf_get_field_double(o, 70, &v), 0);
    EXPECT_EQ(v, 2.75);
    Command half(kOpBufCopyField, "imBufCopyField", {id, 5u, other, 0u});
    ExpectError(half, HLC_ERR_INVALID_PARAMETER, "Parameter invalid or unacceptable", "BufCopyField");

    { Command r(kOpBufRemoveField, "imBufRemoveField", {id, 7u}); EXPECT_EQ(r.Code(), 0); }
    { Command r(kOpBufRemoveField, "imBufRemoveField", {id, 7u}); EXPECT_EQ(r.Code(), 0); }
    EXPECT_EQ(Inquire(id, kBufInqFieldCount), 1);

    Command badPut(kOpBufPutField, "imBufPutField", {0x7777u, 1u, 1.0});
    ExpectError(badPut, HLC_ERR_INVALID_BUFFER, "Invalid buffer ID", "BufPutField");
    Command badGet(kOpBufGetFieldDouble, "imBufGetFieldDouble", {0x7777u, 1u});
    ExpectError(badGet, HLC_ERR_INVALID_BUFFER, "Invalid buffer ID", "BufGetFieldDouble");
    EXPECT_EQ(badGet.Long(1), HLC_ERR_NOT_PRESENT);
}

TEST_F(BufCommandTest, InquireAndMapReportTheDescriptor)
{
    const uint32_t id = Alloc(10, 6, 2, 8, kLocInline);
    const _MP_BUF_ST* b = mp_buf_pointer(id);
    EXPECT_EQ(Inquire(id, 12345), 0);
    EXPECT_EQ(Inquire(id, kBufInqDescriptorRemote), 0);
    // The owning thread object's band begins with its owner device id.
    EXPECT_EQ(b->owner, kMain);
    MP_THREAD_OBJ_ST* owner = mp_thr_object(kMain);
    ASSERT_NE(owner, nullptr);
    owner->ownerDevice = kNode << 16;
    EXPECT_EQ(Inquire(id, kBufInqOwnerWord), static_cast<int32_t>(kNode << 16));
    Command descriptor(kOpBufInquire, "imBufInquire", {id, kBufInqDescriptor});
    EXPECT_EQ(descriptor.Replies(), 3u);
    EXPECT_EQ(descriptor.Word(0), b->busAddress);
    EXPECT_EQ(descriptor.Word(2), Word(b));
    Command bad(kOpBufInquire, "imBufInquire", {0x7777u, kBufInqSizeX});
    ExpectError(bad, HLC_ERR_INVALID_BUFFER, "Invalid buffer ID", "BufInquire");
    EXPECT_EQ(bad.Replies(), 0u);

    Command map(kOpBufMap, "imBufMap", {id, 2, 1});
    ASSERT_EQ(map.Code(), 0);
    EXPECT_EQ(map.Word(0), 12u);
    EXPECT_EQ(map.Long(1), 4);
    EXPECT_EQ(map.Word(2), Word(mp_buf_address_band_internal(b, 1)) + 24);
    Command beyond(kOpBufMap, "imBufMap", {id, 0, 2});
    ExpectError(beyond, HLC_ERR_INVALID_PARAMETER, "Parameter invalid or unacceptable", "BufMap");
}

TEST_F(BufCommandTest, ModifyControlAndFree)
{
    const uint32_t id = Alloc(16, 4, 1, 16, kLocInline);
    Command keep(kOpBufModify, "imBufModify", {id, kBufKeep, kBufKeep, kBufKeep});
    EXPECT_EQ(keep.Code(), 0);
    Command smaller(kOpBufModify, "imBufModify", {id, 32, 4, 8});
    EXPECT_EQ(smaller.Code(), 0);
    EXPECT_EQ(Inquire(id, kBufInqPitch), 32);
    // Twice the lines would run past the band's memory.
    Command larger(kOpBufModify, "imBufModify", {id, 32, 8, 8});
    ExpectError(larger, HLC_ERR_INVALID_PARAMETER, "Parameter invalid or unacceptable", "BufModify");
    EXPECT_EQ(Inquire(id, kBufInqSizeY), 4);

    Command lock(kOpBufControl, "imBufControl", {id, kBufCtlLock, 0.0, 0u});
    ExpectError(lock, HLC_ERR_BUFFER_ATTRIBUTE, "Unacceptable buffer attribute (size, type, etc.)", "BufControl");
    Command pitch(kOpBufControl, "imBufControl", {id, kBufCtlPitch, 32.0, 0u});
    EXPECT_EQ(pitch.Code(), 0);
    Command wide(kOpBufControl, "imBufControl", {id, kBufCtlPitch, 64.0, 0u});
    ExpectError(wide, HLC_ERR_INVALID_PARAMETER, "Parameter invalid or unacceptable", "BufControl");
    EXPECT_EQ(Inquire(id, kBufInqPitch), 32);

    Command freed(kOpBufFree, "imBufFree", {id});
    EXPECT_EQ(freed.Code(), 0);
    Command again(kOpBufFree, "imBufFree", {id});
    ExpectError(again, HLC_ERR_INVALID_BUFFER, "Invalid buffer ID", "BufFree");
}

} // namespace

namespace {

TEST_F(BufCommandTest, PagedBuffersLockTheirPageListsAndMapToCallerMemory)
{
    alignas(8) static uint8_t caller[64];
    Command paged(kOpBufCreate, "imBufCreate", {8, 2, 1u, 8u, 4u, 8u, Word(caller)});
    ASSERT_EQ(paged.Code(), 0) << paged.Message();
    const uint32_t id = paged.Word(0);
    const _MP_BUF_ST* b = mp_buf_pointer(id);
    ASSERT_NE(b, nullptr);
    ASSERT_EQ(b->location, kLocPaged);

    Command map(kOpBufMap, "imBufMap", {id, 1, 0});
    ASSERT_EQ(map.Code(), 0);
    EXPECT_EQ(map.Word(2), Word(caller) + 8);
    EXPECT_EQ(Inquire(id, kBufInqBusAddress), 0);

    const uint32_t pages = Alloc(4, 1, 1, 32, kLocInline);
    auto* list = static_cast<uint32_t*>(mp_buf_address_band_internal(mp_buf_pointer(pages), 0));
    list[0] = 2;
    list[1] = 0xA000;
    list[2] = 0xB000;
    Command lock(kOpBufControl, "imBufControl", {id, kBufCtlLock, 0.0, pages});
    ASSERT_EQ(lock.Code(), 0) << lock.Message();
    const auto* copy = reinterpret_cast<const uint32_t*>(static_cast<uintptr_t>(b->bandTable[0].mapped));
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy[0], 2u);
    EXPECT_EQ(copy[2], 0xB000u);
    Command unlock(kOpBufControl, "imBufControl", {id, kBufCtlUnlock, 0.0, 0u});
    EXPECT_EQ(unlock.Code(), 0);
    EXPECT_EQ(b->bandTable[0].mapped, 0u);

    // A count beyond the page-list band is refused, not read past it.
    list[0] = 100;
    Command overlong(kOpBufControl, "imBufControl", {id, kBufCtlLock, 0.0, pages});
    ExpectError(overlong, HLC_ERR_INVALID_PARAMETER, "Parameter invalid or unacceptable", "BufControl");
    EXPECT_EQ(b->bandTable[0].mapped, 0u);
    Command noList(kOpBufControl, "imBufControl", {id, kBufCtlLock, 0.0, 0x7777u});
    ExpectError(noList, HLC_ERR_INVALID_BUFFER, "Invalid buffer ID", "BufControl");
}

TEST_F(BufCommandTest, PageListsComeFromABandEachOrFromALineEachOfOneBand)
{
    alignas(8) static uint8_t caller[3][64];
    Command paged(kOpBufCreate, "imBufCreate",
                  {8, 2, 3u, 8u, 4u, 8u, Word(caller[0]), Word(caller[1]), Word(caller[2])});
    ASSERT_EQ(paged.Code(), 0) << paged.Message();
    const uint32_t id = paged.Word(0);
    const _MP_BUF_ST* b = mp_buf_pointer(id);
    ASSERT_NE(b, nullptr);
    const auto listOf = [b](uint32_t band) {
        return reinterpret_cast<const uint32_t*>(static_cast<uintptr_t>(b->bandTable[band].mapped));
    };

    // One band per buffer band: band i holds band i's list.
    const uint32_t banded = Alloc(4, 1, 3, 32, kLocInline);
    for (uint32_t i = 0; i < 3; ++i) {
        auto* list = static_cast<uint32_t*>(mp_buf_address_band_internal(mp_buf_pointer(banded), i));
        list[0] = 1;
        list[1] = 0x1000 * (i + 1);
    }
    Command lockBanded(kOpBufControl, "imBufControl", {id, kBufCtlLock, 0.0, banded});
    ASSERT_EQ(lockBanded.Code(), 0) << lockBanded.Message();
    for (uint32_t i = 0; i < 3; ++i) {
        ASSERT_NE(listOf(i), nullptr) << i;
        EXPECT_EQ(listOf(i)[1], 0x1000 * (i + 1)) << i;
    }
    Command unlock(kOpBufControl, "imBufControl", {id, kBufCtlUnlock, 0.0, 0u});
    ASSERT_EQ(unlock.Code(), 0);

    // One band of one line per buffer band, as the host's page locking builds it: line i
    // holds band i's list, and a count may not run past its line.
    const uint32_t lined = Alloc(4, 3, 1, 32, kLocInline);
    auto* lines = static_cast<uint32_t*>(mp_buf_address_band_internal(mp_buf_pointer(lined), 0));
    for (uint32_t i = 0; i < 3; ++i) {
        lines[4 * i] = 2;
        lines[4 * i + 1] = 0xA000 + i;
        lines[4 * i + 2] = 0xB000 + i;
    }
    Command lockLined(kOpBufControl, "imBufControl", {id, kBufCtlLock, 0.0, lined});
    ASSERT_EQ(lockLined.Code(), 0) << lockLined.Message();
    for (uint32_t i = 0; i < 3; ++i) {
        ASSERT_NE(listOf(i), nullptr) << i;
        EXPECT_EQ(listOf(i)[0], 2u);
        EXPECT_EQ(listOf(i)[1], 0xA000 + i);
        EXPECT_EQ(listOf(i)[2], 0xB000 + i);
    }
    Command unlockAgain(kOpBufControl, "imBufControl", {id, kBufCtlUnlock, 0.0, 0u});
    ASSERT_EQ(unlockAgain.Code(), 0);
    lines[4] = 4;   // band 1's list would run into band 2's line
    Command overlong(kOpBufControl, "imBufControl", {id, kBufCtlLock, 0.0, lined});
    ExpectError(overlong, HLC_ERR_INVALID_PARAMETER, "Parameter invalid or unacceptable", "BufControl");
    EXPECT_EQ(listOf(0), nullptr) << "nothing taken";

    // Two lines for three bands: no list for band 2.
    const uint32_t short_ = Alloc(4, 2, 1, 32, kLocInline);
    Command tooFew(kOpBufControl, "imBufControl", {id, kBufCtlLock, 0.0, short_});
    ExpectError(tooFew, HLC_ERR_INVALID_PARAMETER, "Parameter invalid or unacceptable", "BufControl");
}

TEST_F(BufCommandTest, MapGivesBusAddressesOfGivenMemoryAndHostAddressesOfBoardMemory)
{
    Command given(kOpBufCreate, "imBufCreate", {8, 2, 1u, 8u, 5u, 8u, 0x2000u});
    ASSERT_EQ(given.Code(), 0);
    Command mapGiven(kOpBufMap, "imBufMap", {given.Word(0), 1, 0});
    EXPECT_EQ(mapGiven.Word(2), 0x2008u);

    const uint32_t board = Alloc(16, 4, 1, 8, kLocSdram);
    const _MP_BUF_ST* b = mp_buf_pointer(board);
    Command mapBoard(kOpBufMap, "imBufMap", {board, 3, 0});
    EXPECT_EQ(mapBoard.Long(1), 1);
    EXPECT_EQ(mapBoard.Word(2), Word(mp_buf_address_band_internal(b, 0)) + 48);
    EXPECT_EQ(static_cast<uint32_t>(Inquire(board, kBufInqBusAddress)), b->bandTable[0].physical);
}

} // namespace

namespace {

TEST_F(BufCommandTest, ModifiedChildStaysInsideItsRoot)
{
    const uint32_t root = Alloc(16, 4, 1, 8, kLocInline);
    Command child(kOpBufChild, "imBufChild", {root, 12, 3, 4, 1});
    ASSERT_EQ(child.Code(), 0);
    // Eight pixels from X 12 would run past the root's last line.
    Command wider(kOpBufModify, "imBufModify", {child.Word(0), 8, kBufKeep, kBufKeep});
    ExpectError(wider, HLC_ERR_INVALID_PARAMETER, "Parameter invalid or unacceptable", "BufModify");
    EXPECT_EQ(Inquire(child.Word(0), kBufInqSizeX), 4);
    Command narrower(kOpBufModify, "imBufModify", {child.Word(0), 2, 1, kBufKeep});
    EXPECT_EQ(narrower.Code(), 0);
    EXPECT_EQ(Inquire(child.Word(0), kBufInqSizeX), 2);
}

} // namespace
