// The simulated board driver: the board list device and one device per board, answering
// the buffered requests of device type 0xAA55.
#include "simcore.h"

#include <cstring>

namespace boardsim {

namespace {

constexpr uint32_t kInterfaceCheck = 0xAA552000u;
constexpr uint32_t kAttach = 0xAA552004u;
constexpr uint32_t kCancelWait = 0xAA55200Cu;
constexpr uint32_t kMap = 0xAA552010u;
constexpr uint32_t kNodeRecord = 0xAA552014u;
constexpr uint32_t kSemaCheck = 0xAA552018u;
constexpr uint32_t kSemaReset = 0xAA55201Cu;
constexpr uint32_t kSemaSignal = 0xAA552020u;
constexpr uint32_t kInterruptWait = 0xAA552024u;
constexpr uint32_t kSourceEnable = 0xAA552028u;
constexpr uint32_t kNodeSetAdd = 0xAA55202Cu;
constexpr uint32_t kNodeSetRemove = 0xAA552030u;
constexpr uint32_t kBoardList = 0xAA552034u;
constexpr uint32_t kChipWrite32 = 0xAA552038u;
constexpr uint32_t kChipRead32 = 0xAA55203Cu;
constexpr uint32_t kChipWrite16 = 0xAA552040u;
constexpr uint32_t kChipRead16 = 0xAA552044u;
constexpr uint32_t kChipWrite8 = 0xAA552048u;
constexpr uint32_t kChipRead8 = 0xAA55204Cu;
constexpr uint32_t kDisplayKey = 0xAA552050u;

constexpr uint32_t kNodeRecordBytes = 1896;
constexpr uint32_t kWaitBufferBytes = 520;
constexpr uint32_t kWaitWords = 128;

bool Sizes(uint32_t inSize, uint32_t outSize, uint32_t wantIn, uint32_t wantOut)
{
    return inSize == wantIn && outSize == wantOut;
}

} // namespace

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

Outcome SimState::driverRequest(OpenDevice& device, uint32_t code, std::vector<uint8_t>& buffer, uint32_t inSize,
                                uint32_t outSize, uint32_t& bytes)
{
    if (code == kInterfaceCheck) {
        if (!Sizes(inSize, outSize, 4, 4)) return Outcome::BadParameter;
        StoreWord(buffer, 0, LoadWord(buffer, 0) == 200 ? 200u : 0u);
        bytes = 4;
        return Outcome::Done;
    }
    if (code == kBoardList) {
        if (!Sizes(inSize, outSize, 608, 608)) return Outcome::BadParameter;
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

    switch (code) {
    case kAttach: {
        if (!Sizes(inSize, outSize, 16, 16)) return Outcome::BadParameter;
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
    case kCancelWait: {
        if (!Sizes(inSize, outSize, 8, 0)) return Outcome::BadParameter;
        for (auto p = pending.begin(); p != pending.end();) {
            auto d = devices.find(p->handle);
            if (p->code == kInterruptWait && d != devices.end() && d->second.board == board.index) {
                complete(*p, kDeviceErrorCancelled, 0);
                p = pending.erase(p);
            } else {
                ++p;
            }
        }
        bytes = 0;
        return Outcome::Done;
    }
    case kMap: {
        if (!Sizes(inSize, outSize, 20, 20)) return Outcome::BadParameter;
        const uint32_t address = mapRegion(board, LoadWord(buffer, 8), LoadWord(buffer, 16), LoadWord(buffer, 12));
        StoreWord(buffer, 0, address);
        bytes = 20;
        return Outcome::Done;
    }
    case kNodeRecord:
        if (!Sizes(inSize, outSize, kNodeRecordBytes, kNodeRecordBytes)) return Outcome::BadParameter;
        board.nodeRecord.assign(buffer.begin(), buffer.begin() + kNodeRecordBytes);
        bytes = kNodeRecordBytes;
        return Outcome::Done;
    case kSemaCheck: {
        if (!Sizes(inSize, outSize, 4, 4)) return Outcome::BadParameter;
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
    case kSemaReset:
        if (!Sizes(inSize, outSize, 4, 4)) return Outcome::BadParameter;
        board.semaphores[LoadWord(buffer, 0)] = 0;
        StoreWord(buffer, 0, 0);
        bytes = 4;
        return Outcome::Done;
    case kSemaSignal:
        if (!Sizes(inSize, outSize, 4, 0)) return Outcome::BadParameter;
        ++board.semaphores[LoadWord(buffer, 0)];
        bytes = 0;
        return Outcome::Done;
    case kInterruptWait:
        if (!Sizes(inSize, outSize, 8, kWaitBufferBytes)) return Outcome::BadParameter;
        if (board.interruptWords.empty()) return Outcome::Pending;
        bytes = FillWaitBuffer(board, buffer);
        return Outcome::Done;
    case kSourceEnable: {
        if (!Sizes(inSize, outSize, 8, 8)) return Outcome::BadParameter;
        const uint32_t source = LoadWord(buffer, 0);
        if (LoadWord(buffer, 4))
            board.enabledSources.insert(source);
        else
            board.enabledSources.erase(source);
        bytes = 8;
        return Outcome::Done;
    }
    case kNodeSetAdd:
    case kNodeSetRemove: {
        if (!Sizes(inSize, outSize, 4, 4)) return Outcome::BadParameter;
        const uint32_t node = LoadWord(buffer, 0);
        if (code == kNodeSetAdd)
            nodeSet.insert(node);
        else
            nodeSet.erase(node);
        StoreWord(buffer, 0, static_cast<uint32_t>(nodeSet.size()));
        bytes = 4;
        return Outcome::Done;
    }
    case kChipWrite32:
    case kChipWrite16:
    case kChipWrite8:
    case kChipRead32:
    case kChipRead16:
    case kChipRead8: {
        const bool write = code == kChipWrite32 || code == kChipWrite16 || code == kChipWrite8;
        const int width = (code == kChipWrite32 || code == kChipRead32) ? 4
                          : (code == kChipWrite16 || code == kChipRead16) ? 2
                                                                            : 1;
        const uint32_t size = 4 + static_cast<uint32_t>(width);
        if (!Sizes(inSize, outSize, size, write ? 0 : size)) return Outcome::BadParameter;
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
            bytes = size;
        }
        return Outcome::Done;
    }
    case kDisplayKey:
        if (!Sizes(inSize, outSize, 12, 12)) return Outcome::BadParameter;
        if (!board.display) return Outcome::Refused;
        for (int i = 0; i < 3; ++i) board.displayKey[i] = LoadWord(buffer, 4 * i);
        bytes = 12;
        return Outcome::Done;
    default:
        return Outcome::Unsupported;
    }
}

void SimState::completeInterruptWaits(int boardIndex)
{
    Board& board = *boards[boardIndex];
    for (auto p = pending.begin(); p != pending.end() && !board.interruptWords.empty();) {
        auto d = devices.find(p->handle);
        if (!p->held && p->code == kInterruptWait && d != devices.end() && d->second.board == boardIndex) {
            const uint32_t bytes = FillWaitBuffer(board, p->buffer);
            complete(*p, kDeviceErrorNone, bytes);
            p = pending.erase(p);
        } else {
            ++p;
        }
    }
}

} // namespace boardsim
