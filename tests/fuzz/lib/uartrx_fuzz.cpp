// Camera UART receive path: any peer bytes (with receive and parity errors, flow control
// honoured or not, the peer ready or not) and any mix of polls, byte and string reads on a
// port of any read lengths keep the ring's indices inside the ring, never write a string
// past its clamp and never wait without end.  The module is the simulated machine's, on
// its virtual clock; each input gets a fresh machine.
#include "boardsim.h"
#include "camrec.h"
#include "camuart.h"
#include "device.h"
#include "driverreq.h"
#include "hlc_wiring.h"
#include "hosthooks.h"
#include "hwlock.h"
#include "nodeopen.h"
#include "regaccess.h"
#include "regmap/grab_regs.h"
#include "serialchips.h"

#include "../../src/common/ll/dig/uartrxinput.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

namespace {

using namespace uartrx;

constexpr uint32_t kNode = 0x11;

_NODE_MAIN_RESOURCE_ST g_record;
std::vector<uint8_t> g_orloState;

_NODE_MAIN_RESOURCE_ST* Resource(uint32_t node)
{
    return (node & 0xFF) == kNode ? &g_record : nullptr;
}

[[noreturn]] void Fail(const char* what)
{
    std::fprintf(stderr, "uartrx: %s\n", what);
    std::abort();
}

// A Sorvik II module on a virtual clock, its register window selected.
class Machine {
public:
    Machine()
    {
        boardsim::Topology t;
        t.clock = boardsim::ClockMode::Virtual;
        t.boards[0].moduleType = 2;
        boardsim::BoardSim::instance().configure(t);
        device_ = DeviceOpen(boardsim::BoardSim::instance().boardDeviceName(0).c_str());
        if (device_ == kInvalidDevice) Fail("no board device");
        g_record = _NODE_MAIN_RESOURCE_ST{};
        g_record.nodeNumber = kNode;
        g_orloState.assign(kOrloStateBytes, 0);
        g_record.orloState = g_orloState.data();
        if (!HlcDrvMap(device_, nullptr, kNode, HLC_REGION_PRIMARY, 0x4000, 0x4000000, &g_record.primaryRegs) ||
            !HlcDrvMap(device_, nullptr, kNode, HLC_REGION_PRIMARY, 0x800, 0x4080000, &g_record.primaryPort))
            Fail("windows not mapped");
        HlcWireLibrary();
        board_.emplace();
        board_->table.nodeResource = Resource;
        if (board_->Install() != 0) Fail("board hooks not installed");
        SetHwRegCtrlPtr(&g_record, nullptr);
        SetToOrlo(kNode, 0, nullptr);
        SetToExt(0);
    }
    ~Machine()
    {
        ReleaseAccessOrlo();
        FreeHwRegCtrl(&g_record);
        board_.reset();
        DeviceClose(device_);
        // The machine stays on its virtual clock until the next input rebuilds it: a
        // free-running machine in between would only start and stop its clock thread.
    }
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

private:
    DeviceHandle device_ = kInvalidDevice;
    std::optional<HlcBoardHookOverride> board_;
};

void Set(int (*control)(uint32_t*, double*, int32_t), uint32_t* info, double value)
{
    if (control(info, &value, 0) != 0) Fail("a control of the port was refused");
}

void CheckRing(const MP_UART_ST* u)
{
    if (u->readIndex >= kUartRingBytes || u->writeIndex >= kUartRingBytes) Fail("ring index outside the ring");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3) return 0;
    Machine machine;
    boardsim::GrabView grab = boardsim::BoardSim::instance().grab(0);

    std::vector<uint32_t> state(kNodeStateBytes / 4, 0);
    std::vector<uint8_t> area(kUartAreaBytes, 0);
    uint32_t* info = &state[25];
    info[kNodeInfoModuleType] = 2;
    info[kNodeInfoUartArea] = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(area.data()));
    auto* port = reinterpret_cast<MP_UART_ST*>(area.data());
    mpPrvSetExtReg(cam0::UART_CONTROL, grabregs::kUartSelect);  // lines idle
    if (mp_config_uart(info) != 0) Fail("reset refused");

    const uint8_t options = data[0];
    grab.setUartPeerFlowControl(!(options & kRxNoFlow));
    grab.setUartPeerReady(!(options & kRxPeerBusy));
    if (options & kRxPeerParity)
        grab.setUartPeerParity((options & kRxEven) ? boardsim::UartParity::Even : boardsim::UartParity::Odd);
    if (options & kRxParity) Set(mp_uart_parity, info, (options & kRxEven) ? 1.0 : 0.0);
    if (options & kRxSevenBits) Set(mp_uart_data_bits, info, 7.0);
    if (options & kRxReadLength) Set(mp_uart_read_length, info, data[1]);
    Set(mp_uart_read_max_length, info, 4.0 * data[2]);
    Set(mp_uart_timeout, info, 0.0);

    uint32_t budget = kRxBudget;
    uint32_t counting = 0;
    std::vector<uint8_t> burst;
    for (size_t i = 3; i < size && budget >= 4; ++i) {
        const uint8_t op = data[i];
        budget -= 4;  // every operation polls the chip at least once
        switch (op & 7) {
        case kOpQueue:
            if (++i >= size) break;
            grab.uartQueueByte(data[i], (op & kOpReceiveError) != 0, (op & kOpParityError) != 0);
            break;
        case kOpBurst: {
            if (++i >= size) break;
            const uint32_t n = std::min<uint32_t>(8u * data[i], budget);
            budget -= n;
            burst.resize(n);
            for (uint8_t& b : burst) b = static_cast<uint8_t>(counting++);
            grab.uartQueue(burst);
            break;
        }
        case kOpPoll:
            if (mp_uart_irq_process(info) != 0) Fail("poll refused");
            break;
        case kOpReadChar: {
            const int c = mp_uart_read_char(info);
            if (c < 0 || c > 255) Fail("byte outside 0-255");
            break;
        }
        case kOpReadString: {
            budget -= std::min(budget, kUartReadClamp);
            std::vector<uint8_t> buffer(kUartReadClamp + 64, 0xA5);
            if (mp_uart_read_string(info, reinterpret_cast<char*>(buffer.data())) != 0) Fail("string read refused");
            for (size_t k = kUartReadClamp; k < buffer.size(); ++k)
                if (buffer[k] != 0xA5) Fail("string read past its clamp");
            break;
        }
        case kOpDataPresent: {
            double v = -1;
            if (mp_uart_data_present(info, &v, 1) != 0 || (v != 0.0 && v != 1.0)) Fail("data-present answer");
            break;
        }
        case kOpErrors: {
            double v = -1;
            if (mp_uart_error(info, 30055, &v) != 0 || v < 0 || v > 15) Fail("error bits");
            break;
        }
        case kOpPeer:
            grab.setUartPeerReady((op & 0x08) != 0);
            grab.setUartPeerFlowControl((op & 0x10) != 0);
            break;
        }
        CheckRing(port);
    }
    return 0;
}
