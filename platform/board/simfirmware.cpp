// The board processor's firmware after its shell started: the information block, the
// communication ring in board memory and the commands it answers (simfirmware.h).
#include "simfirmware.h"
#include "boardsim.h"
#include "simcore.h"

#include <cstring>

namespace boardsim {

namespace {

// Layout behind the information block (offsets from it).
constexpr uint32_t kInfoShadowTable = 64;       // five processor addresses
constexpr uint32_t kInfoState = 128;            // the processor's node state block
constexpr uint32_t kStateBytes = 4952;
constexpr uint32_t kInfoTexts = 5120;           // error texts and names, zero-ended
constexpr uint32_t kTextBytes = 512;
constexpr uint32_t kInfoRing = kInfoTexts + kTextBytes;   // ring header
constexpr uint32_t kRingHeaderBytes = 64;
constexpr uint32_t kSlotBytes = 256;
constexpr uint32_t kRingSlots = 16;
constexpr uint32_t kInfoBytes = kInfoRing + 2 * kRingHeaderBytes + kSlotBytes * kRingSlots;
constexpr uint32_t kSignatureBytes = 96;
constexpr uint32_t kShadowAreaBytes = 16384;
constexpr uint32_t kShadowAreas = 5;

// Node state block word: -1 waiting for the host, 1 serving.
constexpr uint32_t kStateCommWord = 279;

// Ring header words and slot body offsets.
constexpr uint32_t kHead = 1, kTail = 2, kReserved = 3, kSlotsWord = 4;
constexpr uint32_t kSnoopFirst = 8, kSnoopLast = 14;
constexpr uint32_t kBodyId = 0, kBodyInUse = 4, kBodyReplyMode = 12, kBodyStatus = 20, kBodyError = 24,
                   kBodyThread = 28, kBodyCounts = 32, kBodyOpcode = 36, kBodyErrRecord = 40, kBodyParams = 56;
constexpr uint32_t kNone = 0xFFFFFFFFu;
constexpr uint32_t kReplyNoWait = 110, kReplyPoll = 120, kReplyReady = 125;
constexpr uint32_t kReplyTaken = 0x80000000u;
constexpr uint32_t kStatusReceived = 20, kStatusReady = 30, kStatusDone = 50;
constexpr uint32_t kReplySource = 33;

// Machine time from the doorbell to the processor taking it, and between tries while
// the host holds the ring.
constexpr uint64_t kDoorbellNanos = 2000;
constexpr uint64_t kRetryNanos = 1000000;

// Opcodes.
constexpr uint32_t kOpDevAlloc = 0, kOpDevFree = 2, kOpDevInquire = 3;
constexpr uint32_t kOpBufAlloc = 17, kOpBufChild = 21, kOpBufFree = 29, kOpBufInquire = 36;

// Result codes and their texts.
constexpr int32_t kInvalidBuffer = -1, kNoResources = -4, kInvalidOpcode = -6, kBadParameter = -8,
                  kBadAttribute = -14;
constexpr const char kTextInvalidBuffer[] = "Invalid buffer ID";
constexpr const char kTextNoResources[] = "Insufficient resources to carry out the operation";
constexpr const char kTextInvalidOpcode[] = "Invalid opcode received";
constexpr const char kTextBadParameter[] = "Parameter invalid or unacceptable";
constexpr const char kTextBadAttribute[] = "Unacceptable buffer attribute (size, type, etc.)";

// Buffer inquiry types.
constexpr uint32_t kInqSizeX = 3, kInqSizeY = 4, kInqBands = 6, kInqType = 8, kInqBits = 10, kInqParent = 30,
                   kInqOffsetX = 32, kInqOffsetY = 33, kInqLocation = 200, kInqBusAddress = 201, kInqPitch = 202;

// Buffer locations the firmware cannot serve from board memory: host DMA and paged host
// memory.
constexpr uint32_t kLocHostDma = 3, kLocPaged = 4;

constexpr uint32_t kAlign = 64;

} // namespace

Firmware::Firmware(Board* board) : board_(board) {}

uint8_t* Firmware::memory() const
{
    return board_->primaryMemory ? board_->primaryMemory->data() : nullptr;
}

uint32_t Firmware::memorySize() const
{
    return board_->primaryMemory ? board_->primaryMemory->size() : 0;
}

// The processor sees its memory at the top of its address space.
uint32_t Firmware::processorAddress(uint32_t offset) const
{
    return offset - memorySize();
}

uint32_t Firmware::busAddress(uint32_t offset) const
{
    const uint32_t base = board_->primary ? board_->primary->barBase(0) & kOrloBarAlign : 0;
    return base + kPrimaryMemoryTop - memorySize() + offset;
}

uint32_t Firmware::word(uint32_t offset) const
{
    uint32_t v = 0;
    std::memcpy(&v, memory() + offset, 4);
    return v;
}

void Firmware::setWord(uint32_t offset, uint32_t value)
{
    std::memcpy(memory() + offset, &value, 4);
}

// Processor address of a text kept in board memory for error records.
uint32_t Firmware::placeText(const std::string& text)
{
    auto it = textAt_.find(text);
    if (it != textAt_.end()) return processorAddress(it->second);
    const uint32_t bytes = static_cast<uint32_t>(text.size()) + 1;
    if (texts_ + bytes > textsEnd_) return 0;
    std::memcpy(memory() + texts_, text.c_str(), bytes);
    textAt_[text] = texts_;
    const uint32_t at = texts_;
    texts_ += bytes;
    return processorAddress(at);
}

void Firmware::boot()
{
    running_ = false;
    eventPending_ = false;
    used_.clear();
    textAt_.clear();
    buffers_.clear();
    nextSlot_ = 1;
    nextDevice_ = 2;
    const uint32_t size = memorySize();
    if (!memory() || size < 0x40000) return;
    // The signature record's first word: the information block's (negative) distance
    // from the end of the memory.
    const uint32_t distance = 0u - word(size - kSignatureBytes);
    if (distance < kInfoBytes + kSignatureBytes || distance > size / 2) return;
    info_ = size - distance;
    state_ = info_ + kInfoState;
    header_ = info_ + kInfoRing;
    slots_ = header_ + kRingHeaderBytes;
    texts_ = info_ + kInfoTexts;
    textsEnd_ = texts_ + kTextBytes;
    std::memset(memory() + info_, 0, kInfoBytes);

    // Shadow areas at the bottom of the memory, buffers above them.
    for (uint32_t i = 0; i < kShadowAreas; ++i)
        setWord(info_ + kInfoShadowTable + 4 * i, processorAddress(i * kShadowAreaBytes));
    heapStart_ = kShadowAreas * kShadowAreaBytes;
    heapEnd_ = info_;

    setWord(info_ + 4 * 6, processorAddress(slots_));
    setWord(info_ + 4 * 10, processorAddress(state_));
    setWord(info_ + 4 * 12, processorAddress(info_ + kInfoShadowTable));
    setWord(state_ + 4 * 30, 1);
    setWord(state_ + 4 * kStateCommWord, kNone);

    setWord(header_ + 4 * kHead, kNone);
    setWord(header_ + 4 * kTail, kNone);
    setWord(header_ + 4 * kReserved, 0);
    setWord(header_ + 4 * kSlotsWord, kRingSlots);
    for (uint32_t w = kSnoopFirst; w <= kSnoopLast; ++w) setWord(header_ + 4 * w, kNone);
    for (uint32_t w = kSnoopFirst + 3; w < kSnoopLast; ++w) setWord(header_ + 4 * w, 0);
    // The first post fills the reserved slot 0, taken from the start.
    setWord(slots_ + kRingHeaderBytes + kBodyInUse, 1);
    // The reset left the hardware lock taken; the started shell gives it back.
    board_->primaryRegs->poke(kOrloLock, 0);
    running_ = true;
}

void Firmware::doorbell()
{
    if (!running_ || eventPending_) return;
    eventPending_ = true;
    board_->machine->scheduleEvent(board_->clock->nowNanos() + kDoorbellNanos,
                                   "processor doorbell board " + std::to_string(board_->index), [this] { take(); });
}

void Firmware::take()
{
    eventPending_ = false;
    if (!running_) return;
    OrloChip& regs = *board_->primaryRegs;
    regs.poke(kOrloInterruptSet, regs.peek(kOrloInterruptSet) & ~kInterruptBoardDoorbell);
    if (static_cast<int32_t>(word(state_ + 4 * kStateCommWord)) != 1) {
        // The handshake: the host learns that the processor serves its ring.
        setWord(state_ + 4 * kStateCommWord, 1);
        board_->machine->deliverSource(board_->index, kReplySource);
        return;
    }
    walk();
}

void Firmware::walk()
{
    OrloChip& regs = *board_->primaryRegs;
    // The host is in the middle of a post: its section 1 (or the lock guarding the
    // section word) is held.  The walk waits for it to end.
    if ((regs.peek(kOrloLock) & 1) || (regs.peek(kOrloSectionWord) & 1)) {
        eventPending_ = true;
        board_->machine->scheduleEvent(board_->clock->nowNanos() + kRetryNanos,
                                       "processor ring retry board " + std::to_string(board_->index), [this] {
                                           eventPending_ = false;
                                           if (running_) walk();
                                       });
        return;
    }
    // Every message of the chain, head to tail; the bound keeps a damaged chain from
    // holding the processor.
    for (uint32_t n = 0; n < kRingSlots; ++n) {
        const uint32_t slot = word(header_ + 4 * kHead);
        if (slot >= kRingSlots) return;
        const uint32_t body = slots_ + kRingHeaderBytes + kSlotBytes * slot;
        const uint32_t next = word(body + kBodyId) & 0xFFFF;
        serve(slot);
        if (word(header_ + 4 * kHead) == word(header_ + 4 * kTail)) {
            setWord(header_ + 4 * kHead, kNone);
            setWord(header_ + 4 * kTail, kNone);
            return;
        }
        setWord(header_ + 4 * kHead, next);
    }
}

void Firmware::answer(uint32_t body, uint32_t slot, uint32_t value)
{
    std::memset(memory() + body + kBodyParams + 8 * slot, 0, 8);
    setWord(body + kBodyParams + 8 * slot, value);
}

// Completes a slot: the result, the error record with the firmware's own texts, the reply
// count; a waiting sender gets it announced, otherwise the slot is freed here.
void Firmware::reply(uint32_t body, int32_t error, const char* text, uint32_t replies)
{
    const uint32_t node = (word(body + kBodyThread) >> 16) & 0xFF;
    setWord(body + kBodyError, static_cast<uint32_t>(error));
    if (error != 0) {
        setWord(body + kBodyErrRecord, static_cast<uint32_t>(error));
        setWord(body + kBodyErrRecord + 4, node);
        setWord(body + kBodyErrRecord + 8, placeText("Command decoder"));
        setWord(body + kBodyErrRecord + 12, placeText(text));
    }
    setWord(body + kBodyCounts, (word(body + kBodyCounts) & 0xFFFF) | (replies << 16));
    ++served_;
    const uint32_t mode = word(body + kBodyReplyMode);
    const uint32_t plain = mode & 0xFFFF;
    if (!(mode & kReplyTaken) && (plain == kReplyPoll || plain == kReplyReady)) {
        // The sender still waits (it has not turned the mode into 110): the reply is its.
        setWord(body + kBodyReplyMode, mode | kReplyTaken);
        setWord(body + kBodyStatus, plain == kReplyReady ? kStatusReady : kStatusDone);
        board_->machine->deliverSource(board_->index, kReplySource);
        return;
    }
    setWord(body + kBodyStatus, kStatusDone);
    setWord(body + kBodyInUse, 0);
}

void Firmware::serve(uint32_t slot)
{
    const uint32_t body = slots_ + kRingHeaderBytes + kSlotBytes * slot;
    setWord(body + kBodyStatus, kStatusReceived);
    const uint32_t opcode = word(body + kBodyOpcode);
    auto param = [&](uint32_t i) { return word(body + kBodyParams + 8 * i); };
    const char* text = nullptr;
    int32_t error = 0;
    uint32_t replies = 0;
    switch (opcode) {
    case kOpDevAlloc: {
        const uint32_t phase = param(0);
        if (phase == 1) {
            const uint32_t node = param(1) & 0xFF;
            answer(body, 0, (node << 16) | nextDevice_++);
        } else if (phase == 2 || phase == 3) {
            answer(body, 0, param(1));
        } else {
            error = kBadParameter;
            text = kTextBadParameter;
            answer(body, 0, 0);
        }
        replies = 1;
        break;
    }
    case kOpDevFree:
        break;
    case kOpDevInquire:
        // Type 1: the processor runs the shell and serves the ring.
        answer(body, 0, param(1) == 1 ? 1 : 0);
        replies = 1;
        break;
    case kOpBufAlloc:
        error = alloc(body, &text);
        replies = 1;
        break;
    case kOpBufChild:
        error = child(body, &text);
        replies = 1;
        break;
    case kOpBufFree:
        error = freeBuffer(body, &text);
        break;
    case kOpBufInquire:
        error = inquire(body, &text);
        replies = 3;
        break;
    default:
        error = kInvalidOpcode;
        text = kTextInvalidOpcode;
        break;
    }
    reply(body, error, text, replies);
}

// ---------------------------------------------------------------- buffers

uint32_t Firmware::allocate(uint32_t bytes)
{
    bytes = (bytes + kAlign - 1) & ~(kAlign - 1);
    if (bytes == 0) bytes = kAlign;
    uint32_t at = heapStart_;
    for (const auto& [offset, size] : used_) {
        if (offset >= at && offset - at >= bytes) break;
        if (offset + size > at) at = offset + size;
    }
    if (at > heapEnd_ || heapEnd_ - at < bytes) return kNone;
    used_[at] = bytes;
    return at;
}

void Firmware::release(uint32_t offset)
{
    used_.erase(offset);
}

int32_t Firmware::alloc(uint32_t body, const char** text)
{
    auto param = [&](uint32_t i) { return word(body + kBodyParams + 8 * i); };
    const int32_t sizeX = static_cast<int32_t>(param(0)), sizeY = static_cast<int32_t>(param(1));
    const uint32_t bands = param(2), type = param(3), location = param(4);
    answer(body, 0, 0);
    if (location == kLocHostDma || location == kLocPaged || (word(body + kBodyCounts) & 0xFFFF) > 5) {
        *text = kTextBadAttribute;
        return kBadAttribute;
    }
    const uint32_t bits = type & 0xFF;
    if (sizeX <= 0 || sizeY <= 0 || bands == 0 || bands > 0xFFFF || bits == 0) {
        *text = kTextBadParameter;
        return kBadParameter;
    }
    const uint64_t pitch = (static_cast<uint64_t>(sizeX) * ((bits + 7) / 8) + 3) & ~uint64_t{3};
    const uint64_t bandBytes = pitch * static_cast<uint32_t>(sizeY);
    const uint64_t total = bandBytes * bands;
    const uint32_t node = (word(body + kBodyThread) >> 16) & 0xFF;
    const uint32_t offset = total <= heapEnd_ ? allocate(static_cast<uint32_t>(total)) : kNone;
    if (offset == kNone || nextSlot_ > 0xFFFF) {
        *text = kTextNoResources;
        return kNoResources;
    }
    std::memset(memory() + offset, 0, static_cast<size_t>(total));
    Buffer b;
    b.offset = offset;
    b.bandBytes = static_cast<uint32_t>(bandBytes);
    b.sizeX = static_cast<uint32_t>(sizeX);
    b.sizeY = static_cast<uint32_t>(sizeY);
    b.bands = bands;
    b.type = type;
    b.location = location;
    b.pitch = static_cast<uint32_t>(pitch);
    b.blockBytes = static_cast<uint32_t>(total);
    const uint32_t id = (node << 16) | nextSlot_++;
    buffers_[id] = b;
    answer(body, 0, id);
    return 0;
}

int32_t Firmware::child(uint32_t body, const char** text)
{
    auto param = [&](uint32_t i) { return word(body + kBodyParams + 8 * i); };
    const uint32_t parentId = param(0);
    const int64_t x = static_cast<int32_t>(param(1)), y = static_cast<int32_t>(param(2));
    const int64_t w = static_cast<int32_t>(param(3)), h = static_cast<int32_t>(param(4));
    answer(body, 0, 0);
    auto it = buffers_.find(parentId);
    if (it == buffers_.end()) {
        *text = kTextInvalidBuffer;
        return kInvalidBuffer;
    }
    const Buffer parent = it->second;
    if (x < 0 || y < 0 || w <= 0 || h <= 0 || x + w > parent.sizeX || y + h > parent.sizeY) {
        *text = kTextBadParameter;
        return kBadParameter;
    }
    if (nextSlot_ > 0xFFFF) {
        *text = kTextNoResources;
        return kNoResources;
    }
    Buffer c = parent;
    c.parent = it->first;
    c.offset = parent.offset + static_cast<uint32_t>(y) * parent.pitch +
               static_cast<uint32_t>(x) * (((parent.type & 0xFF) + 7) / 8);
    c.sizeX = static_cast<uint32_t>(w);
    c.sizeY = static_cast<uint32_t>(h);
    c.offsetX = static_cast<uint32_t>(x);
    c.offsetY = static_cast<uint32_t>(y);
    c.blockBytes = 0;
    const uint32_t id = (it->first & 0xFF0000u) | nextSlot_++;
    buffers_[id] = c;
    answer(body, 0, id);
    return 0;
}

int32_t Firmware::freeBuffer(uint32_t body, const char** text)
{
    const uint32_t id = word(body + kBodyParams);
    auto it = buffers_.find(id);
    if (it == buffers_.end()) {
        *text = kTextInvalidBuffer;
        return kInvalidBuffer;
    }
    // A buffer goes with every child made of it, and a root gives its memory back.
    std::map<uint32_t, bool> gone{{id, true}};
    for (bool more = true; more;) {
        more = false;
        for (const auto& [other, b] : buffers_)
            if (b.parent && gone.count(b.parent) && !gone.count(other)) more = gone[other] = true;
    }
    for (const auto& entry : gone) {
        auto b = buffers_.find(entry.first);
        if (b == buffers_.end()) continue;
        if (!b->second.parent) release(b->second.offset);
        buffers_.erase(b);
    }
    return 0;
}

int32_t Firmware::inquire(uint32_t body, const char** text)
{
    const uint32_t id = word(body + kBodyParams);
    const uint32_t type = word(body + kBodyParams + 8);
    for (uint32_t i = 0; i < 3; ++i) answer(body, i, 0);
    auto it = buffers_.find(id);
    if (it == buffers_.end()) {
        *text = kTextInvalidBuffer;
        return kInvalidBuffer;
    }
    const Buffer& b = it->second;
    uint32_t value = 0;
    switch (type) {
    case kInqSizeX: value = b.sizeX; break;
    case kInqSizeY: value = b.sizeY; break;
    case kInqBands: value = b.bands; break;
    case kInqType: value = b.type; break;
    case kInqBits: value = b.type & 0xFF; break;
    case kInqParent: value = b.parent; break;
    case kInqOffsetX: value = b.offsetX; break;
    case kInqOffsetY: value = b.offsetY; break;
    case kInqLocation: value = b.location; break;
    case kInqBusAddress: value = busAddress(b.offset); break;
    case kInqPitch: value = b.pitch; break;
    default:
        *text = kTextBadParameter;
        return kBadParameter;
    }
    answer(body, 0, value);
    return 0;
}

} // namespace boardsim
