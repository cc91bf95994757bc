#include "procstubs.h"

#include "im_param.h"
#include "servednode.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using namespace servednode;

constexpr const char* kText = "label";

// What a capturing handler saw of the messages it served.
struct Seen {
    _MSG_BODY_ST body;
    std::string function;
};
std::mutex g_seenMutex;
std::vector<Seen> g_seen;

void Capture(_MSG_BODY_ST* body)
{
    MP_RESOURCE_ST* res = mp_res_alloc(body, kResReplySize, "Capture");
    {
        std::lock_guard<std::mutex> lock(g_seenMutex);
        g_seen.push_back(Seen{*body, body->err.function ? body->err.function : ""});
    }
    mp_res_free(res);
}

size_t SeenCount()
{
    std::lock_guard<std::mutex> lock(g_seenMutex);
    return g_seen.size();
}

// The argument values the table test passes: an integer, a double or the text by argument
// index; the control word (the one unsigned argument after the thread id) as given.
template <typename T>
T Arg(size_t index, uint32_t control);
template <>
int32_t Arg<int32_t>(size_t index, uint32_t) { return 1000 + 7 * static_cast<int32_t>(index); }
template <>
double Arg<double>(size_t index, uint32_t) { return static_cast<double>(index) + 0.25; }
template <>
const char* Arg<const char*>(size_t, uint32_t) { return kText; }
template <>
uint32_t Arg<uint32_t>(size_t, uint32_t control) { return control; }

using Caller = std::function<int32_t(uint32_t thread, uint32_t control)>;

template <typename... A, size_t... I>
int32_t CallWith(int32_t (*f)(uint32_t, A...), uint32_t thread, uint32_t control, std::index_sequence<I...>)
{
    return f(thread, Arg<A>(I, control)...);
}
template <typename... A>
Caller Call(int32_t (*f)(uint32_t, A...))
{
    return [f](uint32_t thread, uint32_t control) { return CallWith(f, thread, control, std::index_sequence_for<A...>{}); };
}

// The stubs: opcode, name, slot kinds (i integer, d double, t text) and whether the
// control word travels.
struct Stub {
    uint32_t opcode;
    const char* name;
    const char* kinds;
    bool control;
    Caller call;
};

const std::vector<Stub>& Stubs()
{
    static const std::vector<Stub> stubs = {
    {64, "imIntConvert", "iii", true, Call(imIntConvert)},
    {65, "imIntDyadic", "iiii", true, Call(imIntDyadic)},
    {66, "imIntGainOffset", "iiiiiii", true, Call(imIntGainOffset)},
    {67, "imIntLutMap", "iii", true, Call(imIntLutMap)},
    {68, "imIntMac1", "iiiii", true, Call(imIntMac1)},
    {69, "imIntMac2", "iiiiii", true, Call(imIntMac2)},
    {70, "imIntMonadic", "idii", true, Call(imIntMonadic)},
    {71, "imIntTriadic", "iiiiiii", true, Call(imIntTriadic)},
    {72, "imIntConnectMap", "iiii", true, Call(imIntConnectMap)},
    {73, "imIntConvolve", "iiii", true, Call(imIntConvolve)},
    {74, "imIntDistance", "iiii", true, Call(imIntDistance)},
    {75, "imIntErodeDilate", "iiiiii", true, Call(imIntErodeDilate)},
    {76, "imIntLabel", "iii", true, Call(imIntLabel)},
    {77, "imIntRank", "iiiii", true, Call(imIntRank)},
    {78, "imIntThickThin", "iiiiii", true, Call(imIntThickThin)},
    {79, "imIntCountDifference", "iii", true, Call(imIntCountDifference)},
    {80, "imIntFindExtreme", "iii", true, Call(imIntFindExtreme)},
    {81, "imIntHistogram", "iii", true, Call(imIntHistogram)},
    {82, "imIntHistogramEqualize", "iiiidiii", true, Call(imIntHistogramEqualize)},
    {83, "imIntLocateEvent", "iiiiiiii", true, Call(imIntLocateEvent)},
    {84, "imIntProject", "iidi", true, Call(imIntProject)},
    {85, "imBinConvert", "iiiii", true, Call(imBinConvert)},
    {86, "imBinMorphic", "iiiiii", true, Call(imBinMorphic)},
    {87, "imBinTriadic", "iiiii", true, Call(imBinTriadic)},
    {88, "imFloatConvert", "iii", true, Call(imFloatConvert)},
    {89, "imFloatDyadic", "iiii", true, Call(imFloatDyadic)},
    {90, "imFloatMac1", "iidd", true, Call(imFloatMac1)},
    {91, "imFloatMac2", "iiidd", true, Call(imFloatMac2)},
    {92, "imFloatMonadic", "idii", true, Call(imFloatMonadic)},
    {93, "imFloatUnary", "iii", true, Call(imFloatUnary)},
    {94, "imIntFlip", "iiii", true, Call(imIntFlip)},
    {95, "imIntSubsample", "iiiii", true, Call(imIntSubsample)},
    {96, "imIntWarpMatrix", "iiii", true, Call(imIntWarpMatrix)},
    {97, "imIntWarpPolynomial", "iiii", true, Call(imIntWarpPolynomial)},
    {98, "imIntWarpLut", "iiiii", true, Call(imIntWarpLut)},
    {99, "imIntZoom", "iiiii", true, Call(imIntZoom)},
    {100, "imIntConvertColor", "iiii", true, Call(imIntConvertColor)},
    {101, "imIntFFT", "iiiii", true, Call(imIntFFT)},
    {104, "imGenWarp1stOrder", "iiddi", true, Call(imGenWarp1stOrder)},
    {105, "imGenWarp4Corner", "iddddddddiiiii", true, Call(imGenWarp4Corner)},
    {106, "imGraArc", "iiiiiidd", false, Call(imGraArc)},
    {107, "imGraArcFill", "iiiiiidd", false, Call(imGraArcFill)},
    {108, "imGraFill", "iiii", false, Call(imGraFill)},
    {109, "imGraLine", "iiiiii", false, Call(imGraLine)},
    {110, "imGraPlot", "iiiii", false, Call(imGraPlot)},
    {111, "imGraRect", "iiiiii", false, Call(imGraRect)},
    {112, "imGraRectFill", "iiiiii", false, Call(imGraRectFill)},
    {113, "imGraText", "iiiit", false, Call(imGraText)},
    {119, "imIntBinarize", "iiiiiii", true, Call(imIntBinarize)},
    {120, "imGenWarpLutMatrix", "iiii", true, Call(imGenWarpLutMatrix)},
    {143, "imIntCorrelate", "iiii", true, Call(imIntCorrelate)},
    {212, "imIntScale", "iiddi", true, Call(imIntScale)},
    {215, "imIntRecFilter", "iiiiiiii", true, Call(imIntRecFilter)},
    {216, "imIntClip", "iiiiiiii", true, Call(imIntClip)},
    {217, "imIntLutSubtract", "iiiiiii", true, Call(imIntLutSubtract)},
    {218, "imRleEncode", "iii", true, Call(imRleEncode)},
    {219, "imRleDecode", "iii", true, Call(imRleDecode)},
    {220, "imBinCountDifference", "iii", true, Call(imBinCountDifference)},
    {224, "imBinThin", "iiii", true, Call(imBinThin)},
    };
    return stubs;
}

class ProcStubTest : public ServedNodeTest {
protected:
    void InstallHandlers() override
    {
        // The stubs' opcodes are the library's wiring (the fixture wires it).
        std::lock_guard<std::mutex> lock(g_seenMutex);
        g_seen.clear();
    }
    // Waits until the ring holds only its reserved slot and the main thread object has
    // nothing queued.
    void Drain()
    {
        ASSERT_TRUE(WaitUntil([this] { return SlotsInUse() == 1 && main_->server.queued == 0; }))
            << "the ring did not drain";
    }
    uint32_t SlotsInUse() const
    {
        uint32_t n = 0;
        for (uint32_t i = 0; i < kRingNodeSlots; ++i) n += Slot(i)->inUse != 0;
        return n;
    }
    // Captures the next message of one opcode and returns it.
    Seen Served(uint32_t opcode, const std::function<int32_t()>& post)
    {
        const size_t before = SeenCount();
        mp_server_set_handler(opcode, Capture);
        EXPECT_EQ(post(), 0) << opcode;
        if (!WaitUntil([before] { return SeenCount() > before; })) {
            ADD_FAILURE() << "opcode " << opcode << " was not served";
            mp_server_set_handler(opcode, mp_InvalidOpcode);
            return Seen{};
        }
        Drain();
        mp_server_set_handler(opcode, mp_InvalidOpcode);
        std::lock_guard<std::mutex> lock(g_seenMutex);
        if (g_seen.size() <= before) return Seen{};
        return g_seen.back();
    }
};

int32_t Word(const _MSG_BODY_ST& body, uint32_t slot)
{
    int32_t v;
    std::memcpy(&v, body.param[slot], 4);
    return v;
}
double Double(const _MSG_BODY_ST& body, uint32_t slot)
{
    double v;
    std::memcpy(&v, body.param[slot], 8);
    return v;
}

TEST_F(ProcStubTest, TableCoversEveryOpcodeOnce)
{
    ASSERT_EQ(Stubs().size() + 1, kProcStubCount);   // imGen1d is tested on its own
    for (uint32_t i = 0; i < kProcStubCount; ++i) {
        EXPECT_GE(kProcStubOpcodes[i], 64u);
        EXPECT_LT(kProcStubOpcodes[i], mp_max_opcode);
        if (i) {
            EXPECT_LT(kProcStubOpcodes[i - 1], kProcStubOpcodes[i]);
        }
        bool inTable = kProcStubOpcodes[i] == 103;
        for (const Stub& s : Stubs()) inTable = inTable || s.opcode == kProcStubOpcodes[i];
        EXPECT_TRUE(inTable) << kProcStubOpcodes[i];
    }
}

TEST_F(ProcStubTest, EveryStubMarshalsOpcodeSlotsNameAndControl)
{
    const uint32_t sync = imSyncAlloc(kMain, nullptr);
    ASSERT_NE(sync, 0u);
    for (const Stub& s : Stubs()) {
        SCOPED_TRACE(s.name);
        const Seen seen = Served(s.opcode, [&] { return s.call(kMain, sync); });
        const _MSG_BODY_ST& b = seen.body;
        const uint32_t n = static_cast<uint32_t>(std::strlen(s.kinds));
        EXPECT_EQ(b.opcode, s.opcode);
        EXPECT_EQ(b.counts & 0xFFFF, n);
        EXPECT_EQ(b.replyMode & 0xFFFF, IM_REPLY_NOWAIT);
        EXPECT_EQ(b.threadId, kMain);
        EXPECT_EQ(b.control, s.control ? sync : 0u);
        EXPECT_EQ(seen.function, s.name);
        for (uint32_t slot = 0; slot < n; ++slot) {
            switch (s.kinds[slot]) {
            case 'i': EXPECT_EQ(Word(b, slot), 1000 + 7 * static_cast<int32_t>(slot)) << slot; break;
            case 'd': EXPECT_DOUBLE_EQ(Double(b, slot), slot + 0.25) << slot; break;
            case 't': EXPECT_STREQ(reinterpret_cast<const char*>(b.param[slot]), kText) << slot; break;
            }
        }
    }
    EXPECT_EQ(im_Application.error.code, 0);
    EXPECT_EQ(imThrGetError(kMain, 2, nullptr), 0);
}

TEST_F(ProcStubTest, OnTheHostEveryOpcodeFailsAsInvalidOpcode)
{
    for (const Stub& s : Stubs()) {
        SCOPED_TRACE(s.name);
        EXPECT_EQ(s.call(kMain, 0), 0);
        char text[kMsgErrorTextBytes] = {};
        EXPECT_EQ(imThrGetError(kMain, 4, text), -6);
        EXPECT_STREQ(text, "Invalid opcode received");
        EXPECT_EQ(imThrGetError(kMain, 9, text), -6);
        EXPECT_STREQ(text, "Command decoder");
        EXPECT_EQ(imThrGetError(kMain, 2, nullptr), 0);
        // The board's refusal is the thread's error, not a failure of the post: it reaches
        // the caller with the thread's next synchronous reply.
        EXPECT_EQ(im_Application.error.code, -6);
        im_msg_reset_application();
    }
    const double c[2] = {1.0, 2.0};
    EXPECT_EQ(imGen1d(kMain, 1, 2, 3, 4, 2, c, 0), 0);
    EXPECT_EQ(imThrGetError(kMain, 3, nullptr), -6);
    Drain();
    EXPECT_EQ(SlotsInUse(), 1u);
}

TEST_F(ProcStubTest, Gen1dWithTenCoefficientsFillsAllFifteenSlots)
{
    double c[10];
    for (int i = 0; i < 10; ++i) c[i] = -1.5 * i;
    const Seen seen = Served(103, [&] { return imGen1d(kMain, 11, 12, 13, 14, 10, c, 0); });
    const _MSG_BODY_ST& b = seen.body;
    EXPECT_EQ(b.opcode, 103u);
    EXPECT_EQ(b.counts & 0xFFFF, 15u);
    EXPECT_EQ(seen.function, "imGen1d");
    for (uint32_t slot = 0; slot < 4; ++slot) EXPECT_EQ(Word(b, slot), 11 + static_cast<int32_t>(slot));
    EXPECT_EQ(Word(b, 4), 10);
    for (uint32_t i = 0; i < 10; ++i) EXPECT_DOUBLE_EQ(Double(b, 5 + i), -1.5 * i) << i;

    const Seen none = Served(103, [&] { return imGen1d(kMain, 1, 2, 3, 4, 0, nullptr, 0); });
    EXPECT_EQ(none.body.counts & 0xFFFF, 5u);
    EXPECT_EQ(Word(none.body, 4), 0);
}

TEST_F(ProcStubTest, Gen1dRefusesElevenCoefficientsAndPostsNothing)
{
    mp_server_set_handler(103, Capture);
    const uint32_t served = g_header[kRingServed];
    double c[11] = {};
    EXPECT_EQ(imGen1d(kMain, 1, 2, 3, 4, 11, c, 0), -9);
    EXPECT_EQ(im_Application.error.code, -9);
    EXPECT_STREQ(im_Application.error.message, "Number of parameters exceed maximum allowed");
    EXPECT_STREQ(im_Application.error.function, "imGen1d");
    // A huge count is refused the same way.
    im_msg_reset_application();
    EXPECT_EQ(imGen1d(kMain, 1, 2, 3, 4, 0xFFFFFFFFu, c, 0), -9);
    EXPECT_EQ(im_Application.error.code, -9);
    EXPECT_EQ(g_header[kRingServed], served);
    EXPECT_EQ(SlotsInUse(), 1u);
    EXPECT_EQ(imThrGetError(kMain, 2, nullptr), 0);   // a round trip: nothing was queued
    EXPECT_EQ(SeenCount(), 0u);
}

TEST_F(ProcStubTest, Gen1dWithoutCoefficientsIsRefused)
{
    mp_server_set_handler(103, Capture);
    EXPECT_EQ(imGen1d(kMain, 1, 2, 3, 4, 3, nullptr, 0), -8);
    EXPECT_EQ(im_Application.error.code, -8);
    EXPECT_STREQ(im_Application.error.message, "Parameter invalid or unacceptable");
    EXPECT_STREQ(im_Application.error.function, "imGen1d");
    EXPECT_EQ(imThrGetError(kMain, 2, nullptr), 0);
    EXPECT_EQ(SeenCount(), 0u);
}

TEST_F(ProcStubTest, GraTextPostsItsTextFromSlotFourWithoutControl)
{
    const char* text = "a longer text that runs over several slots";
    const Seen seen = Served(113, [&] { return imGraText(kMain, 5, 6, 7, 8, text); });
    const _MSG_BODY_ST& b = seen.body;
    EXPECT_EQ(b.control, 0u);
    EXPECT_EQ(Word(b, 0), 5);
    EXPECT_EQ(Word(b, 3), 8);
    const uint32_t length = static_cast<uint32_t>(std::strlen(text)) + 1;
    EXPECT_EQ(b.counts & 0xFFFF, 5u + length / 8);
    EXPECT_STREQ(reinterpret_cast<const char*>(b.param[4]), text);
}

TEST_F(ProcStubTest, GenWarp4CornerFillsAllFourteenSlots)
{
    const Seen seen = Served(105, [&] {
        return imGenWarp4Corner(kMain, 9, 1.5, 2.5, 3.5, 4.5, 5.5, 6.5, 7.5, 8.5, 10, 11, 12, 13, 14, 0);
    });
    const _MSG_BODY_ST& b = seen.body;
    EXPECT_EQ(b.counts & 0xFFFF, 14u);
    EXPECT_EQ(Word(b, 0), 9);
    for (uint32_t slot = 1; slot <= 8; ++slot) EXPECT_DOUBLE_EQ(Double(b, slot), slot + 0.5) << slot;
    for (uint32_t slot = 9; slot < 14; ++slot) EXPECT_EQ(Word(b, slot), static_cast<int32_t>(slot) + 1) << slot;
}

TEST_F(ProcStubTest, UnknownThreadIsReportedUnderTheExportsName)
{
    const uint32_t foreign = 0x40000010u | (0x22u << 16);
    EXPECT_EQ(imIntConvert(foreign, 1, 2, 3, 0), -10);
    EXPECT_EQ(im_Application.error.code, -10);
    EXPECT_STREQ(im_Application.error.message, "Invalid thread ID");
    EXPECT_STREQ(im_Application.error.function, "imIntConvert");
    // First error wins in the last-error record.
    EXPECT_EQ(imGraPlot(foreign, 1, 2, 3, 4, 5), -10);
    EXPECT_STREQ(im_Application.error.function, "imIntConvert");
    EXPECT_EQ(SlotsInUse(), 1u);
}

TEST_F(ProcStubTest, InstallTouchesOnlyTheStubOpcodes)
{
    // Host-served neighbours and the thread layer's handlers stay as they are.
    mp_server_set_handler(115, Capture);
    mp_server_set_handler(102, Capture);
    const MpHandler nop = mp_opcode[2];
    mp_proc_install();
    EXPECT_EQ(mp_opcode[115], Capture);
    EXPECT_EQ(mp_opcode[102], Capture);
    EXPECT_EQ(mp_opcode[2], nop);
    for (uint32_t opcode : kProcStubOpcodes) EXPECT_EQ(mp_opcode[opcode], mp_InvalidOpcode) << opcode;
    mp_server_set_handler(115, nullptr);
    mp_server_set_handler(102, nullptr);
}

} // namespace
