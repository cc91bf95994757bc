// The simulated board driver: the board list device and one device per board, answering
// the buffered requests of device type 0xAA55.
#include "simcore.h"
#include "regmap/driver_requests.h"

#include <cstring>

namespace boardsim {

namespace {

constexpr uint32_t kNodeRecordBytes = 1896;
constexpr uint32_t kWaitBufferBytes = 520;
constexpr uint32_t kWaitWords = 128;

// The driver's own decode table: the input and output bytes it accepts for each request.
// It is kept apart from the request map on purpose, as the driver's side of the
// contract; a test compares the two.
struct Decode {
    uint32_t code;
    uint32_t inSize;
    uint32_t outSize;
};
constexpr Decode kDecode[] = {
    {HLC_DRV_INTERFACE_CHECK, 4, 4}, {HLC_DRV_ATTACH, 16, 16},
    {HLC_DRV_CANCEL_WAIT, 8, 0},     {HLC_DRV_MAP, 20, 20},
    {HLC_DRV_NODE_RECORD, kNodeRecordBytes, kNodeRecordBytes},
    {HLC_DRV_SEMA_CHECK, 4, 4},      {HLC_DRV_SEMA_RESET, 4, 4},
    {HLC_DRV_SEMA_SIGNAL, 4, 0},     {HLC_DRV_INTERRUPT_WAIT, 8, kWaitBufferBytes},
    {HLC_DRV_SOURCE_ENABLE, 8, 8},   {HLC_DRV_NODESET_ADD, 4, 4},
    {HLC_DRV_NODESET_REMOVE, 4, 4},  {HLC_DRV_BOARD_LIST, 608, 608},
    {HLC_DRV_CHIP_WRITE32, 8, 0},    {HLC_DRV_CHIP_READ32, 8, 8},
    {HLC_DRV_CHIP_WRITE16, 6, 0},    {HLC_DRV_CHIP_READ16, 6, 6},
    {HLC_DRV_CHIP_WRITE8, 5, 0},     {HLC_DRV_CHIP_READ8, 5, 5},
    {HLC_DRV_DISPLAY_KEY, 12, 12},
};

const Decode* FindDecode(uint32_t code)
{
    for (const Decode& d : kDecode)
        if (d.code == code) return &d;
    return nullptr;
}

bool SizesFit(uint32_t code, uint32_t inSize, uint32_t outSize)
{
    const Decode* d = FindDecode(code);
    return d && d->inSize == inSize && d->outSize == outSize;
}

} // namespace

bool DriverRequestSizes(uint32_t code, uint32_t* inSize, uint32_t* outSize)
{
    const Decode* d = FindDecode(code);
    if (!d) return false;
    *inSize = d->inSize;
    *outSize = d->outSize;
    return true;
}

// Fills a pending interrupt-word wait from the board's queue.
static uint32_t FillWaitBuffer(Board& board, std::vector<uint8_t>& buffer)
{
    uint32_t count = 0;
    while (count < kWaitWords && !board.interruptWords.empty()) {
        StoreWord(buffer, 8 + 4 * count, board.interruptWords.front());
        board.interruptWords.pop_front();
        ++count;
    }
    StoreWord(buffer, 4, count);
    return 8 + 4 * count;
}

Outcome Machine::driverRequest(OpenDevice& device, uint32_t code, std::vector<uint8_t>& buffer, uint32_t inSize,
                                uint32_t outSize, uint32_t& bytes)
{
    if (!FindDecode(code)) return Outcome::Unsupported;
    if (code == HLC_DRV_INTERFACE_CHECK) {
        if (!SizesFit(code, inSize, outSize)) return Outcome::BadParameter;
        StoreWord(buffer, 0, LoadWord(buffer, 0) == 200 ? 200u : 0u);
        bytes = 4;
        return Outcome::Done;
    }
    if (code == HLC_DRV_BOARD_LIST) {
        if (!SizesFit(code, inSize, outSize)) return Outcome::BadParameter;
        std::fill(buffer.begin(), buffer.end(), 0);
        uint32_t count = 0;
        for (const auto& b : boards) {
            if (count == 32) break;
            if (b->kind() == 0) continue;
            b->boardRecord(buffer.data() + 19 * count);
            ++count;
        }
        bytes = 19 * count;
        return Outcome::Done;
    }
    if (device.kind != DeviceKind::Node || device.board < 0 || device.board >= static_cast<int>(boards.size()))
        return Outcome::Unsupported;
    Board& board = *boards[device.board];
    if (!SizesFit(code, inSize, outSize)) return Outcome::BadParameter;

    switch (code) {
    case HLC_DRV_ATTACH: {
        const uint32_t node = LoadWord(buffer, 8);
        int32_t reply = 0;
        if (node == 0 || node > 254)
            reply = -1;
        else if (board.spec.heldByOtherProcess)
            reply = 1;
        StoreWord(buffer, 12, static_cast<uint32_t>(reply));
        bytes = 16;
        return Outcome::Done;
    }
    case HLC_DRV_CANCEL_WAIT: {
        for (auto p = sim.pending.begin(); p != sim.pending.end();) {
            auto d = sim.devices.find(p->handle);
            if (p->code == HLC_DRV_INTERRUPT_WAIT && d != sim.devices.end() && d->second.board == board.index) {
                sim.complete(*p, kDeviceErrorCancelled, 0);
                p = sim.pending.erase(p);
            } else {
                ++p;
            }
        }
        bytes = 0;
        return Outcome::Done;
    }
    case HLC_DRV_MAP: {
        const uint32_t address = mapRegion(board, LoadWord(buffer, 8), LoadWord(buffer, 16), LoadWord(buffer, 12));
        StoreWord(buffer, 0, address);
        bytes = 20;
        return Outcome::Done;
    }
    case HLC_DRV_NODE_RECORD:
        board.nodeRecord.assign(buffer.begin(), buffer.begin() + kNodeRecordBytes);
        bytes = kNodeRecordBytes;
        return Outcome::Done;
    case HLC_DRV_SEMA_CHECK: {
        uint32_t& count = board.semaphores[LoadWord(buffer, 0)];
        uint32_t answer = 0;
        if (count > 0) {
            --count;
            answer = 1;
        }
        StoreWord(buffer, 0, answer);
        bytes = 4;
        return Outcome::Done;
    }
    case HLC_DRV_SEMA_RESET:
        board.semaphores[LoadWord(buffer, 0)] = 0;
        StoreWord(buffer, 0, 0);
        bytes = 4;
        return Outcome::Done;
    case HLC_DRV_SEMA_SIGNAL:
        ++board.semaphores[LoadWord(buffer, 0)];
        bytes = 0;
        return Outcome::Done;
    case HLC_DRV_INTERRUPT_WAIT:
        if (board.interruptWords.empty()) return Outcome::Pending;
        bytes = FillWaitBuffer(board, buffer);
        return Outcome::Done;
    case HLC_DRV_SOURCE_ENABLE: {
        const uint32_t source = LoadWord(buffer, 0);
        if (LoadWord(buffer, 4)) {
            board.enabledSources.insert(source);
            // Doorbells rung while nothing could be delivered are taken now.
            for (OrloChip* orlo : {board.primaryRegs.get(), board.displayRegs.get()})
                if (orlo) orlo->sourceEnabled();
        } else {
            board.enabledSources.erase(source);
        }
        bytes = 8;
        return Outcome::Done;
    }
    case HLC_DRV_NODESET_ADD:
    case HLC_DRV_NODESET_REMOVE: {
        const uint32_t node = LoadWord(buffer, 0);
        if (code == HLC_DRV_NODESET_ADD)
            nodeSet.insert(node);
        else
            nodeSet.erase(node);
        StoreWord(buffer, 0, static_cast<uint32_t>(nodeSet.size()));
        bytes = 4;
        return Outcome::Done;
    }
    case HLC_DRV_CHIP_WRITE32:
    case HLC_DRV_CHIP_WRITE16:
    case HLC_DRV_CHIP_WRITE8:
    case HLC_DRV_CHIP_READ32:
    case HLC_DRV_CHIP_READ16:
    case HLC_DRV_CHIP_READ8: {
        const bool write = code == HLC_DRV_CHIP_WRITE32 || code == HLC_DRV_CHIP_WRITE16 || code == HLC_DRV_CHIP_WRITE8;
        const int width = (code == HLC_DRV_CHIP_WRITE32 || code == HLC_DRV_CHIP_READ32) ? 4
                          : (code == HLC_DRV_CHIP_WRITE16 || code == HLC_DRV_CHIP_READ16) ? 2
                                                                            : 1;
        if (!board.chipRegs) return Outcome::Refused;
        const uint64_t offset = static_cast<uint64_t>(LoadWord(buffer, 0)) * static_cast<uint32_t>(width);
        if (offset + width > kChipRegisterSize) return Outcome::BadParameter;
        if (write) {
            uint32_t value = 0;
            for (int i = width - 1; i >= 0; --i) value = (value << 8) | buffer[4 + i];
            chipAccess(HwOp::Write, static_cast<uint8_t>(board.index), HwArea::ChipRegs, board.chipRegs.get(),
                       static_cast<uint32_t>(offset), width, value, true);
            bytes = 0;
        } else {
            const uint32_t value = chipAccess(HwOp::Read, static_cast<uint8_t>(board.index), HwArea::ChipRegs,
                                              board.chipRegs.get(), static_cast<uint32_t>(offset), width, 0, true);
            for (int i = 0; i < width; ++i) buffer[4 + i] = static_cast<uint8_t>(value >> (8 * i));
            bytes = outSize;
        }
        return Outcome::Done;
    }
    case HLC_DRV_DISPLAY_KEY:
        if (!board.display) return Outcome::Refused;
        for (int i = 0; i < 3; ++i) board.displayKey[i] = LoadWord(buffer, 4 * i);
        bytes = 12;
        return Outcome::Done;
    default:
        return Outcome::Unsupported;
    }
}

void Machine::completeInterruptWaits(int boardIndex)
{
    Board& board = *boards[boardIndex];
    for (auto p = sim.pending.begin(); p != sim.pending.end() && !board.interruptWords.empty();) {
        auto d = sim.devices.find(p->handle);
        if (!p->held && p->code == HLC_DRV_INTERRUPT_WAIT && d != sim.devices.end() && d->second.board == boardIndex) {
            const uint32_t bytes = FillWaitBuffer(board, p->buffer);
            sim.complete(*p, kDeviceErrorNone, bytes);
            p = sim.pending.erase(p);
        } else {
            ++p;
        }
    }
}

} // namespace boardsim
