// Misuses of the calls as a program makes them, through hlclib.h and libhlclib.so only:
// each one's return value, the last-error record's code, text and function name, and the
// error hook agree on one error.
#include "hlclib.h"
#include "hlclib_board.h"
#include "libsandbox.h"

#include "boardsim.h"
#include "regmap/service_requests.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kNode = 0x11;
constexpr int32_t kNoReturn = 0;   // what a row of a call without a result stands for
constexpr bool kFreed = true;
uint8_t g_data[64];

using libsandbox::LastFunction;
using libsandbox::LastText;

// The codes the error hook was called with since the last clear.
std::vector<int32_t> g_hooked;
int32_t Hook(int32_t, int32_t code, uint32_t)
{
    g_hooked.push_back(code);
    return 0;
}

class Misuse;

struct Row {
    const char* name;
    // Prepares what the misuse needs, clears the record and the hook's codes and makes the
    // call; an id result stands for its value.
    std::function<int32_t(Misuse&)> call;
    int32_t returned;
    int32_t code;
    const char* text;
    const char* function;
};

void PrintTo(const Row& row, std::ostream* out)
{
    *out << row.name;
}

class Misuse : public ::testing::TestWithParam<Row> {
protected:
    void SetUp() override
    {
        sandbox_ = std::make_unique<libsandbox::Sandbox>("hlcmisuse");
        sandbox_->write("halcyra.ini", libsandbox::kOneBoard);
        boardsim::BoardSim::instance().configure();
        ASSERT_NE(imDevAlloc(0, 0, 3, 0, &device_), 0u) << LastText();
        imAppCatchError(0, Hook, 0);
    }
    void TearDown() override
    {
        imAppCatchError(0, nullptr, 0);
        imAppGetError(1, nullptr);
        if (device_) {
            EXPECT_EQ(imDevFree(device_), 0) << LastText();
        }
        for (int i = 0; i < 256 && mp_sys_node_resource_ptr(kNode); ++i) imDevFree(kNode << 16);
        sandbox_.reset();
        boardsim::BoardSim::instance().configure();
    }

public:
    uint32_t device() const { return device_; }
    std::string File(const char* name) const { return sandbox_->path(name); }
    // Every command posted before has been served, and its error filed.
    void Settle() { EXPECT_EQ(imDevInquire(device_, 3, nullptr), 1u); }
    void Clear()
    {
        Settle();
        imAppGetError(1, nullptr);
        g_hooked.clear();
    }
    // A 10 x 10 8-bit buffer, or one that has been freed; the record is cleared after.
    uint32_t Buffer(uint32_t location, bool freed = false)
    {
        const uint32_t id = imBufAlloc2d(device_, 10, 10, IM_UBYTE, location, nullptr);
        EXPECT_NE(id, 0u) << LastText();
        if (freed) {
            EXPECT_EQ(imBufFree(device_, id), 0) << LastText();
        }
        Clear();
        return id;
    }
    // Inline buffers that take the node's descriptor memory until not one more byte fits.
    void FillDescriptorMemory()
    {
        for (int32_t bytes : {4096, 512, 64, 1})
            for (uint32_t id; (id = imBufAlloc1d(device_, bytes, IM_UBYTE, IM_LOC_INLINE, nullptr)) != 0;)
                filling_.push_back(id);
    }
    void Unfill()
    {
        for (uint32_t id : filling_) imBufFree(device_, id);
        filling_.clear();
    }

private:
    std::unique_ptr<libsandbox::Sandbox> sandbox_;
    uint32_t device_ = 0;
    std::vector<uint32_t> filling_;
};

TEST_P(Misuse, ReturnRecordAndHookCarryOneError)
{
    const Row& row = GetParam();
    const int32_t returned = row.call(*this);
    EXPECT_EQ(returned, row.returned);
    EXPECT_EQ(imAppGetError(0, nullptr), row.code);
    EXPECT_EQ(LastText(), row.text);
    EXPECT_EQ(LastFunction(), row.function);
    EXPECT_EQ(g_hooked, std::vector<int32_t>{row.code}) << "the hook, once, with the record's code";
}

constexpr const char* kParameters = "Error in function parameters";
constexpr const char* kInvalidBuffer = "Invalid buffer ID";
constexpr const char* kAttribute = "Unacceptable buffer attribute (size, type, etc.)";
constexpr int32_t kBadParameter = IM_ERR_INVALID_PARAMETER, kBadBuffer = IM_ERR_INVALID_BUFFER,
                  kBadAttribute = IM_ERR_BUFFER_ATTRIBUTE;

int32_t Id(uint32_t id) { return static_cast<int32_t>(id); }

INSTANTIATE_TEST_SUITE_P(
    Calls, Misuse,
    ::testing::Values(
        // Pixels: a freed buffer, a rectangle past the edge or left of it, no data.
        Row{"Get2dOfAFreedBuffer",
            [](Misuse& m) { return imBufGet2d(m.device(), m.Buffer(IM_LOC_BOARD, kFreed), 0, 0, 2, 2, g_data); },
            kBadParameter, kBadParameter, kParameters, "imBufGet2d"},
        Row{"Put2dPastTheEdge",
            [](Misuse& m) { return imBufPut2d(m.device(), m.Buffer(IM_LOC_HOST_DMA), 8, 0, 3, 2, g_data); },
            kBadParameter, kBadParameter, kParameters, "imBufPut2d"},
        Row{"Put2dLeftOfTheBuffer",
            [](Misuse& m) { return imBufPut2d(m.device(), m.Buffer(IM_LOC_BOARD), -5, 0, 2, 2, g_data); },
            kBadParameter, kBadParameter, kParameters, "imBufPut2d"},
        Row{"GetWithoutData", [](Misuse& m) { return imBufGet(m.device(), m.Buffer(IM_LOC_HOST_PAGED), nullptr); },
            kBadParameter, kBadParameter, kParameters, "imBufGet"},
        Row{"Put1dOfAFreedBuffer",
            [](Misuse& m) { return imBufPut1d(m.device(), m.Buffer(IM_LOC_HOST_DMA, kFreed), 0, 4, g_data); },
            kBadParameter, kBadParameter, kParameters, "imBufPut1d"},

        // Second frees: the host's own memory is refused at once, board memory by the node
        // with the next command that waits.
        Row{"SecondFreeOfAHostDmaBuffer",
            [](Misuse& m) { return imBufFree(m.device(), m.Buffer(IM_LOC_HOST_DMA, kFreed)); }, kBadBuffer,
            kBadBuffer, kInvalidBuffer, "imBufFree"},
        Row{"SecondFreeOfABoardBufferIsPosted",
            [](Misuse& m) {
                const int32_t posted = imBufFree(m.device(), m.Buffer(IM_LOC_BOARD, kFreed));
                m.Settle();
                return posted;
            },
            0, kBadBuffer, kInvalidBuffer, "BufFree"},
        Row{"SecondFreeOfAThreadObject",
            [](Misuse& m) {
                uint32_t thread = 0;
                EXPECT_NE(imThrAlloc(m.device(), 0, &thread), 0u);
                EXPECT_EQ(imThrFree(thread), 0);
                m.Clear();
                return imThrFree(thread);
            },
            IM_ERR_INVALID_THREAD, IM_ERR_INVALID_THREAD, "Invalid thread ID", "imThrFree"},

        // What an export does through other buffer exports is filed under its own name.
        Row{"HostDmaAllocationWithoutRoomForItsBandTable",
            [](Misuse& m) {
                m.FillDescriptorMemory();
                m.Clear();
                const uint32_t id = imBufAlloc2d(m.device(), 8, 8, IM_UBYTE, IM_LOC_HOST_DMA, nullptr);
                m.Unfill();
                return Id(id);
            },
            0, IM_ERR_NO_RESOURCES, "Not enough PROC memory to hold info for HOST buffer", "imBufAlloc2d"},
        Row{"RestoreWithoutHostMemory",
            [](Misuse& m) {
                const std::string file = m.File("image.tif");
                EXPECT_EQ(imBufSave(m.device(), file.c_str(), IM_FILE_TIFF, m.Buffer(IM_LOC_BOARD)), 0) << LastText();
                m.Clear();
                boardsim::BoardSim::instance().failRequests(QVL_DMA_BUFFER_ALLOC, 1);
                uint32_t restored = 7;
                imBufRestore(m.device(), file.c_str(), IM_FILE_TIFF, IM_LOC_HOST_DMA, &restored);
                return Id(restored);
            },
            0, IM_ERR_NO_RESOURCES, kInvalidBuffer, "imBufRestore"},

        // Undefined buffer attributes are refused before anything is made.
        Row{"AllocationInAnUndefinedLocation",
            [](Misuse& m) { return m.Clear(), Id(imBufAlloc(m.device(), 8, 8, 1, IM_UBYTE, 99, nullptr)); }, 0,
            kBadAttribute, kAttribute, "imBufAlloc"},
        Row{"AllocationOfAnUndefinedType",
            [](Misuse& m) { return m.Clear(), Id(imBufAlloc(m.device(), 8, 8, 1, 7, IM_LOC_BOARD, nullptr)); }, 0,
            kBadAttribute, kAttribute, "imBufAlloc"},
        Row{"PagedAllocationOfAnUndefinedType",
            [](Misuse& m) { return m.Clear(), Id(imBufAlloc(m.device(), 8, 8, 1, 7, IM_LOC_HOST_PAGED, nullptr)); },
            0, kBadAttribute, kAttribute, "imBufAlloc"},
        Row{"AllocationWithoutPixels",
            [](Misuse& m) { return m.Clear(), Id(imBufAlloc2d(m.device(), 0, 4, IM_UBYTE, IM_LOC_BOARD, nullptr)); },
            0, kBadAttribute, kAttribute, "imBufAlloc2d"},
        Row{"CloneIntoAnUndefinedLocation",
            [](Misuse& m) { return Id(imBufClone(m.device(), m.Buffer(IM_LOC_BOARD), 99, nullptr)); }, 0,
            kBadAttribute, kAttribute, "imBufClone"},
        Row{"CreateWithoutAddresses",
            [](Misuse& m) {
                return m.Clear(), Id(imBufCreate(m.device(), 4, 4, 1, IM_UBYTE, IM_MEM_HOST, nullptr, 4, nullptr));
            },
            0, kBadParameter, "Parameter invalid or unacceptable", "imBufCreate"},

        // A ring dump that cannot be written.
        Row{"DiagnosisIntoAFullDevice",
            [](Misuse& m) { return m.Clear(), imSysDiag(0, 0, IM_DIAG_RING, "/dev/full"), kNoReturn; }, kNoReturn,
            IM_ERR_FILE_ACCESS, "Error opening dump file", "imSysDiag"},
        Row{"DiagnosisIntoADirectory",
            [](Misuse& m) { return m.Clear(), imSysDiag(0, 0, IM_DIAG_RING, m.File("").c_str()), kNoReturn; },
            kNoReturn, IM_ERR_FILE_ACCESS, "Error opening dump file", "imSysDiag"}),
    [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

}  // namespace
