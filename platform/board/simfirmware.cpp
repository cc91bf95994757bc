// The board processor's firmware after its shell started: the information block, the
// communication ring in board memory and the commands it answers (simfirmware.h).
#include "simfirmware.h"
#include "boardsim.h"
#include "simcore.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace boardsim {

namespace {

// Layout behind the information block (offsets from it).
constexpr uint32_t kInfoShadowTable = 64;       // five processor addresses
constexpr uint32_t kInfoState = 128;            // the processor's node state block
constexpr uint32_t kStateBytes = 4952;
constexpr uint32_t kInfoTexts = 5120;           // error texts and names, zero-ended
static_assert(kInfoState + kStateBytes <= kInfoTexts, "the state block ends before the texts");
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
constexpr uint32_t kReplyPoll = 120, kReplyReady = 125;   // a sender waiting for done, for ready
constexpr uint32_t kReplyTaken = 0x80000000u;
constexpr uint32_t kStatusReceived = 20, kStatusReady = 30, kStatusDone = 50;
constexpr uint32_t kReplySource = 33;

// Machine time from the doorbell to the processor taking it, and between tries while
// the host holds the ring.
constexpr uint64_t kDoorbellNanos = 2000;
constexpr uint64_t kRetryNanos = 1000000;

// Opcodes.
constexpr uint32_t kOpDevAlloc = 0, kOpDevFree = 2, kOpDevInquire = 3;
constexpr uint32_t kOpBufAlloc = 17, kOpBufAlloc2d = 18, kOpBufAlloc1d = 19, kOpBufChild = 21, kOpBufFree = 29,
                   kOpBufInquire = 36;
constexpr uint32_t kOpJpegAlloc = 122, kOpJpegControl = 123, kOpJpegFree = 127, kOpJpegPutTable = 129,
                   kOpJpegTableDone = 130, kOpJpegWrite = 131, kOpJpegScan = 132, kOpJpegGetTable = 133;
constexpr uint32_t kOpPatAllocResult = 151, kOpPatFree = 154, kOpPatGetNumber = 155, kOpPatGetResult = 156,
                   kOpPatInquire = 157, kOpPatRead = 159, kOpPatWrite = 160;
constexpr uint32_t kOpBlobAllocFeatureList = 180, kOpBlobAllocResult = 181, kOpBlobFree = 185,
                   kOpBlobGetResult = 188, kOpBlobGetRuns = 190;

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
                   kInqOffsetX = 32, kInqOffsetY = 33, kInqLocation = 200, kInqBusAddress = 201, kInqPitch = 202,
                   kInqDescriptor = 400, kInqDescriptorRemote = 401;

// A buffer descriptor as the host reads one: 24 words, then the band table of four words
// per band {id, band address, spare, bus address}.
constexpr uint32_t kDescriptorBytes = 96;
constexpr uint32_t kBandRecordBytes = 16;
constexpr uint32_t kDescNode = 0, kDescId = 1, kDescType = 3, kDescSizeX = 5, kDescSizeY = 6, kDescBits = 7,
                   kDescPitch = 9, kDescBands = 10, kDescLocation = 11, kDescBus = 13, kDescBoardSpace = 14,
                   kDescBandTable = 15, kDescParent = 16, kDescOffsetX = 17, kDescOffsetY = 18;

// JPEG objects: the header band, its words (byte offsets) and the table types.
constexpr uint32_t kJpegHeaderBand = 512;
constexpr uint32_t kJpegMode = 8, kJpegPrecision = 16, kJpegStorage = 28, kJpegCount = 44, kJpegWidth = 48,
                   kJpegLines = 52, kJpegSegments = 76, kJpegSegmentBytes = 80, kJpegScan = 292,
                   kJpegScanBytes = 296, kJpegScanStride = 48, kJpegMaxScans = 4;
constexpr uint32_t kTableQuant = 19007, kTableAc = 19008, kTableDc = 19009;
// Tables of another type are kept up to this size.
constexpr uint32_t kTableOtherMax = 4096;

// Pattern results: the count (i16) at byte 4, 28-byte records from byte 24.
constexpr uint32_t kPatCountAt = 4, kPatRecordsAt = 24, kPatRecordBytes = 28;
// The one-dimensional buffers models and results travel in.
constexpr uint32_t kTransferType = 0x10000008u;
constexpr uint32_t kLocBoard = 1;

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
    jpegs_.clear();
    objects_.clear();
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
    const char* text = nullptr;
    int32_t error = 0;
    uint32_t replies = 0;
    switch (opcode) {
    case kOpDevAlloc: {
        const uint32_t phase = param(body, 0);
        if (phase == 1) {
            const uint32_t node = param(body, 1) & 0xFF;
            answer(body, 0, (node << 16) | nextDevice_++);
        } else if (phase == 2 || phase == 3) {
            answer(body, 0, param(body, 1));
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
        answer(body, 0, param(body, 1) == 1 ? 1 : 0);
        replies = 1;
        break;
    case kOpBufAlloc:
        error = alloc(body, &text);
        replies = 1;
        break;
    case kOpBufAlloc2d:
    case kOpBufAlloc1d:
        error = alloc2d(body, opcode, &text);
        replies = 1;
        break;
    case kOpJpegAlloc:
    case kOpJpegControl:
    case kOpJpegFree:
    case kOpJpegPutTable:
    case kOpJpegTableDone:
    case kOpJpegWrite:
    case kOpJpegScan:
    case kOpJpegGetTable:
        error = jpeg(body, opcode, &text, &replies);
        break;
    case kOpPatAllocResult:
    case kOpPatFree:
    case kOpPatGetNumber:
    case kOpPatGetResult:
    case kOpPatInquire:
    case kOpPatRead:
    case kOpPatWrite:
    case kOpBlobAllocFeatureList:
    case kOpBlobAllocResult:
    case kOpBlobFree:
    case kOpBlobGetResult:
    case kOpBlobGetRuns:
        error = pattern(body, opcode, &text, &replies);
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

uint32_t Firmware::param(uint32_t body, uint32_t i) const
{
    return word(body + kBodyParams + 8 * i);
}

uint32_t Firmware::paramCount(uint32_t body) const
{
    return word(body + kBodyCounts) & 0xFFFF;
}

Firmware::Block Firmware::take(uint32_t bytes)
{
    Block b;
    const uint32_t at = allocate(bytes);
    if (at == kNone) return b;
    b.offset = at;
    b.bytes = bytes;
    return b;
}

void Firmware::drop(Block& block)
{
    if (block.offset != kNoBlock) release(block.offset);
    block = Block{};
}

uint32_t Firmware::newId(uint32_t node)
{
    if (nextSlot_ > 0xFFFF) return 0;
    return (node << 16) | nextSlot_++;
}

// Lays the buffer's descriptor and band table out in board memory, as the host reads a
// board processor's descriptor: board-space addresses are the processor's.
bool Firmware::describe(uint32_t id, Buffer& b)
{
    const uint64_t bytes = kDescriptorBytes + uint64_t{kBandRecordBytes} * b.bands;
    const uint32_t at = bytes <= heapEnd_ ? allocate(static_cast<uint32_t>(bytes)) : kNone;
    if (at == kNone) return false;
    std::memset(memory() + at, 0, static_cast<size_t>(bytes));
    auto put = [&](uint32_t w, uint32_t v) { setWord(at + 4 * w, v); };
    put(kDescNode, (id >> 16) & 0xFF);
    put(kDescId, id);
    put(kDescType, b.type);
    put(kDescSizeX, b.sizeX);
    put(kDescSizeY, b.sizeY);
    put(kDescBits, b.type & 0xFF);
    put(kDescPitch, b.pitch);
    put(kDescBands, b.bands);
    put(kDescLocation, kLocBoard);
    put(kDescBus, busAddress(at));
    put(kDescBoardSpace, 1);
    put(kDescBandTable, processorAddress(at + kDescriptorBytes));
    if (b.parent) {
        auto parent = buffers_.find(b.parent);
        if (parent != buffers_.end()) put(kDescParent, processorAddress(parent->second.descriptor));
    }
    put(kDescOffsetX, b.offsetX);
    put(kDescOffsetY, b.offsetY);
    for (uint32_t band = 0; band < b.bands; ++band) {
        const uint32_t record = at + kDescriptorBytes + kBandRecordBytes * band;
        const uint32_t start = b.offset + b.bandBytes * band;
        setWord(record, kNone);
        setWord(record + 4, processorAddress(start));
        setWord(record + 12, busAddress(start));
    }
    b.descriptor = at;
    return true;
}

uint32_t Firmware::makeBuffer(uint32_t node, uint32_t sizeX, uint32_t sizeY, uint32_t bands, uint32_t type,
                              uint32_t location, const char** text, int32_t* error)
{
    const uint32_t bits = type & 0xFF;
    if (static_cast<int32_t>(sizeX) <= 0 || static_cast<int32_t>(sizeY) <= 0 || bands == 0 || bands > 0xFFFF ||
        bits == 0) {
        *text = kTextBadParameter;
        *error = kBadParameter;
        return 0;
    }
    const uint64_t pitch = (static_cast<uint64_t>(sizeX) * ((bits + 7) / 8) + 3) & ~uint64_t{3};
    const uint64_t bandBytes = pitch * sizeY;
    const uint64_t total = bandBytes * bands;
    const uint32_t offset = total <= heapEnd_ ? allocate(static_cast<uint32_t>(total)) : kNone;
    if (offset == kNone || nextSlot_ > 0xFFFF) {
        if (offset != kNone) release(offset);
        *text = kTextNoResources;
        *error = kNoResources;
        return 0;
    }
    std::memset(memory() + offset, 0, static_cast<size_t>(total));
    Buffer b;
    b.offset = offset;
    b.bandBytes = static_cast<uint32_t>(bandBytes);
    b.sizeX = sizeX;
    b.sizeY = sizeY;
    b.bands = bands;
    b.type = type;
    b.location = location;
    b.pitch = static_cast<uint32_t>(pitch);
    b.blockBytes = static_cast<uint32_t>(total);
    if (!describe((node << 16) | nextSlot_, b)) {
        release(offset);
        *text = kTextNoResources;
        *error = kNoResources;
        return 0;
    }
    const uint32_t id = newId(node);
    buffers_[id] = b;
    return id;
}

int32_t Firmware::alloc(uint32_t body, const char** text)
{
    const uint32_t sizeX = param(body, 0), sizeY = param(body, 1);
    const uint32_t bands = param(body, 2), type = param(body, 3), location = param(body, 4);
    answer(body, 0, 0);
    if (location == kLocHostDma || location == kLocPaged || paramCount(body) > 5) {
        *text = kTextBadAttribute;
        return kBadAttribute;
    }
    const uint32_t node = (word(body + kBodyThread) >> 16) & 0xFF;
    int32_t error = 0;
    const uint32_t id = makeBuffer(node, sizeX, sizeY, bands, type, location, text, &error);
    answer(body, 0, id);
    return error;
}

// The two- and one-dimensional allocations: (x, y, type, location) and (x, type, location).
int32_t Firmware::alloc2d(uint32_t body, uint32_t form, const char** text)
{
    const bool twoD = form == kOpBufAlloc2d;
    const uint32_t fixed = twoD ? 4 : 3;
    const uint32_t sizeX = param(body, 0), sizeY = twoD ? param(body, 1) : 1;
    const uint32_t type = param(body, fixed - 2), location = param(body, fixed - 1);
    answer(body, 0, 0);
    if (location == kLocHostDma || location == kLocPaged || paramCount(body) > fixed) {
        *text = kTextBadAttribute;
        return kBadAttribute;
    }
    const uint32_t node = (word(body + kBodyThread) >> 16) & 0xFF;
    int32_t error = 0;
    const uint32_t id = makeBuffer(node, sizeX, sizeY, 1, type, location, text, &error);
    answer(body, 0, id);
    return error;
}

int32_t Firmware::child(uint32_t body, const char** text)
{
    const uint32_t parentId = param(body, 0);
    const int64_t x = static_cast<int32_t>(param(body, 1)), y = static_cast<int32_t>(param(body, 2));
    const int64_t w = static_cast<int32_t>(param(body, 3)), h = static_cast<int32_t>(param(body, 4));
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
    const uint32_t id = (it->first & 0xFF0000u) | nextSlot_;
    if (!describe(id, c)) {
        *text = kTextNoResources;
        return kNoResources;
    }
    ++nextSlot_;
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
    for (const auto& entry : gone) dropBuffer(entry.first);
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
    if (type == kInqDescriptor || type == kInqDescriptorRemote) {
        // The descriptor in board memory: its bus address, flagged as one, and the
        // processor's address of it.
        answer(body, 0, busAddress(b.descriptor));
        answer(body, 1, 1);
        answer(body, 2, processorAddress(b.descriptor));
        return 0;
    }
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

// A buffer's memory (of a root), descriptor and, of a JPEG object, what the object holds.
void Firmware::dropBuffer(uint32_t id)
{
    auto b = buffers_.find(id);
    if (b == buffers_.end()) return;
    if (!b->second.parent) release(b->second.offset);
    if (b->second.descriptor) release(b->second.descriptor);
    auto j = jpegs_.find(id);
    if (j != jpegs_.end()) {
        dropJpeg(j->second);
        jpegs_.erase(j);
    }
    buffers_.erase(b);
}

// A one-dimensional buffer in board memory holding a copy of bytes; 0 when none fits.
uint32_t Firmware::temporary(uint32_t node, const uint8_t* bytes, uint32_t count)
{
    const char* text = nullptr;
    int32_t error = 0;
    const uint32_t id = makeBuffer(node, count ? count : 1, 1, 1, kTransferType, kLocBoard, &text, &error);
    if (id && count) std::memcpy(memory() + buffers_[id].offset, bytes, count);
    return id;
}

// ---------------------------------------------------------------- JPEG objects

namespace {

uint32_t TableLimit(uint32_t type)
{
    switch (type) {
    case kTableQuant: return 64;
    case kTableAc: return 178;
    case kTableDc: return 33;
    default: return kTableOtherMax;
    }
}

uint32_t CeilDiv(uint32_t a, uint32_t b)
{
    return b ? static_cast<uint32_t>((uint64_t{a} + b - 1) / b) : 0;
}

void Be16(std::vector<uint8_t>& o, uint32_t v)
{
    o.push_back(static_cast<uint8_t>(v >> 8));
    o.push_back(static_cast<uint8_t>(v));
}

void Be32(std::vector<uint8_t>& o, uint32_t v)
{
    Be16(o, v >> 16);
    Be16(o, v & 0xFFFF);
}

} // namespace

void Firmware::dropJpeg(JpegObject& o)
{
    for (JpegTable& t : o.tables) drop(t.data);
    drop(o.pending.data);
    for (JpegScan& sc : o.scans) {
        drop(sc.data);
        drop(sc.restarts);
    }
    for (Block& b : o.laid) drop(b);
    o = JpegObject{};
}

int32_t Firmware::jpeg(uint32_t body, uint32_t opcode, const char** text, uint32_t* replies)
{
    const uint32_t node = (word(body + kBodyThread) >> 16) & 0xFF;
    // The replies take the parameters' slots: every parameter is read first.
    uint32_t p[11];
    for (uint32_t i = 0; i < 11; ++i) p[i] = param(body, i);
    if (opcode == kOpJpegAlloc) {
        *replies = 1;
        int32_t error = 0;
        const uint32_t id = makeBuffer(node, kJpegHeaderBand, 1, 1, 8, kLocBoard, text, &error);
        answer(body, 0, id);
        if (id) jpegs_[id] = JpegObject{};
        return error;
    }
    switch (opcode) {
    case kOpJpegPutTable: *replies = 1; break;
    case kOpJpegWrite: *replies = 1; break;
    case kOpJpegScan: *replies = 3; break;
    case kOpJpegGetTable: *replies = 2; break;
    default: *replies = 0; break;
    }
    for (uint32_t i = 0; i < *replies; ++i) answer(body, i, 0);
    const uint32_t id = p[0];
    auto it = jpegs_.find(id);
    if (it == jpegs_.end()) {
        *text = kTextInvalidBuffer;
        return kInvalidBuffer;
    }
    JpegObject& o = it->second;
    const uint32_t header = buffers_[id].offset;
    auto refuse = [&](int32_t code, const char* t) {
        *text = t;
        return code;
    };
    switch (opcode) {
    case kOpJpegControl:
        // Control 19021 comes before a file is read: the object keeps what it holds until
        // the file's tables and scans replace it.
        return 0;
    case kOpJpegFree:
        dropBuffer(id);
        return 0;
    case kOpJpegPutTable: {
        const uint32_t type = p[1], table = p[2], size = p[3];
        if (size == 0 || size > TableLimit(type)) return refuse(kBadParameter, kTextBadParameter);
        drop(o.pending.data);
        o.pending.type = type;
        o.pending.id = table;
        o.pending.data = take(size);
        if (o.pending.data.offset == kNoBlock) return refuse(kNoResources, kTextNoResources);
        answer(body, 0, processorAddress(o.pending.data.offset));
        return 0;
    }
    case kOpJpegTableDone: {
        if (o.pending.data.offset == kNoBlock || o.pending.type != p[1] || o.pending.id != p[2])
            return refuse(kBadParameter, kTextBadParameter);
        bool replaced = false;
        for (JpegTable& t : o.tables)
            if (t.type == o.pending.type && t.id == o.pending.id) {
                drop(t.data);
                t.data = o.pending.data;
                replaced = true;
            }
        if (!replaced) o.tables.push_back(o.pending);
        o.pending = JpegTable{};
        return 0;
    }
    case kOpJpegScan: {
        JpegScan sc;
        std::memcpy(sc.params, p, sizeof sc.params);
        if (paramCount(body) != 11 || p[1] >= kJpegMaxScans || p[7] == 0 || p[8] == 0)
            return refuse(kBadParameter, kTextBadParameter);
        // Restart markers of the scan: one between two restart intervals.  A baseline
        // interval counts 8 x 8 blocks, a lossless one lines of the component.
        const uint32_t width = CeilDiv(word(header + kJpegWidth), p[7]);
        const uint32_t height = CeilDiv(word(header + kJpegLines), p[8]);
        uint32_t intervals = 1;
        if (p[9] && word(header + kJpegMode) == 0)
            intervals = CeilDiv(CeilDiv(width, 8) * CeilDiv(height, 8), p[9]);
        else if (p[9])
            intervals = CeilDiv(height, p[9]);
        sc.restartEntries = intervals ? intervals - 1 : 0;
        sc.data = take(p[6] ? p[6] : 1);
        if (p[10]) sc.restarts = take(sc.restartEntries ? sc.restartEntries * 8 : 8);
        if (sc.data.offset == kNoBlock || (p[10] && sc.restarts.offset == kNoBlock)) {
            drop(sc.data);
            drop(sc.restarts);
            return refuse(kNoResources, kTextNoResources);
        }
        o.components = word(header + kJpegCount);
        bool replaced = false;
        for (JpegScan& old : o.scans)
            if (old.params[1] == p[1]) {
                drop(old.data);
                drop(old.restarts);
                old = sc;
                replaced = true;
            }
        if (!replaced) o.scans.push_back(sc);
        answer(body, 0, processorAddress(sc.data.offset));
        answer(body, 1, p[10] ? processorAddress(sc.restarts.offset) : 0);
        answer(body, 2, p[10] ? sc.restartEntries : 0);
        return 0;
    }
    case kOpJpegWrite:
        if (!layJpeg(o, header)) {
            answer(body, 0, 1);
            return refuse(kNoResources, kTextNoResources);
        }
        return 0;
    case kOpJpegGetTable:
        for (const JpegTable& t : o.tables)
            if (t.type == p[1] && t.id == p[2]) {
                answer(body, 0, processorAddress(t.data.offset));
                answer(body, 1, t.data.bytes);
            }
        return 0;
    default:
        return refuse(kInvalidOpcode, kTextInvalidOpcode);
    }
}

// The object laid out for the host's store: the header segments, then per scan its
// "QVRL" segment, scan header and entropy-coded data, each in a block of board memory
// that the header names.
bool Firmware::layJpeg(JpegObject& o, uint32_t header)
{
    for (Block& b : o.laid) drop(b);
    o.laid.clear();
    const uint8_t* m = memory();
    const bool lossless = word(header + kJpegMode) == 3;
    std::vector<uint8_t> seg;
    for (const JpegTable& t : o.tables) {
        if (t.type != kTableQuant) continue;
        Be16(seg, 0xFFDB);
        Be16(seg, 3 + t.data.bytes);
        seg.push_back(static_cast<uint8_t>(t.id));
        seg.insert(seg.end(), m + t.data.offset, m + t.data.offset + t.data.bytes);
    }
    for (const JpegTable& t : o.tables) {
        if (t.type != kTableAc && t.type != kTableDc) continue;
        Be16(seg, 0xFFC4);
        Be16(seg, 3 + t.data.bytes);
        seg.push_back(static_cast<uint8_t>((t.type == kTableAc ? 0x10 : 0) | (t.id & 15)));
        seg.insert(seg.end(), m + t.data.offset, m + t.data.offset + t.data.bytes);
    }
    const uint32_t count = o.components < kJpegMaxScans ? o.components : kJpegMaxScans;
    uint32_t maxH = 1, maxV = 1;
    for (const JpegScan& sc : o.scans) {
        maxH = std::max(maxH, sc.params[7]);
        maxV = std::max(maxV, sc.params[8]);
    }
    const uint32_t lines = word(header + kJpegLines), samples = word(header + kJpegWidth);
    Be16(seg, lossless ? 0xFFC3 : 0xFFC0);
    Be16(seg, 8 + 3 * count);
    seg.push_back(static_cast<uint8_t>(word(header + kJpegPrecision)));
    Be16(seg, lines);
    Be16(seg, samples);
    seg.push_back(static_cast<uint8_t>(count));
    for (uint32_t k = 0; k < count; ++k) {
        const JpegScan* sc = nullptr;
        for (const JpegScan& r : o.scans)
            if (r.params[1] == k) sc = &r;
        seg.push_back(static_cast<uint8_t>(k + 1));
        seg.push_back(sc ? static_cast<uint8_t>((maxH / sc->params[7]) << 4 | (maxV / sc->params[8])) : 0x11);
        seg.push_back(sc ? static_cast<uint8_t>(sc->params[2]) : 0);
    }
    if (!o.scans.empty()) {
        // The restart interval back from the first scan's lines per interval; a lossless
        // frame without one has the whole component (lines rounded up to 4) in one.
        const uint32_t* p = o.scans.front().params;
        const uint32_t ri = lossless ? p[9] * CeilDiv(samples, p[7]) : p[9];
        if (ri && !(lossless && p[9] == ((lines + 3) & ~3u) / p[8])) {
            Be16(seg, 0xFFDD);
            Be16(seg, 4);
            Be16(seg, ri);
        }
    }
    auto place = [&](const std::vector<uint8_t>& bytes, uint32_t* at) {
        Block b = take(static_cast<uint32_t>(bytes.size()));
        if (b.offset == kNoBlock) return false;
        std::memcpy(memory() + b.offset, bytes.data(), bytes.size());
        o.laid.push_back(b);
        *at = b.offset;
        return true;
    };
    uint32_t at = 0;
    if (!place(seg, &at)) return false;
    setWord(header + kJpegSegments, processorAddress(at));
    setWord(header + kJpegSegmentBytes, static_cast<uint32_t>(seg.size()));
    setWord(header + kJpegStorage, 0);
    setWord(header + kJpegCount, static_cast<uint32_t>(o.scans.size()));
    uint32_t i = 0;
    for (const JpegScan& sc : o.scans) {
        const uint32_t* p = sc.params;
        std::vector<uint8_t> v;
        if (p[10]) {
            const uint32_t n = sc.restartEntries;
            Be16(v, 0xFFE0);
            Be16(v, 14 + 4 * n);
            v.insert(v.end(), {'Q', 'V', 'R', 'L'});
            Be32(v, n + 1);
            Be32(v, 0);
            for (uint32_t k = 0; k < n; ++k) Be32(v, word(sc.restarts.offset + 8 * k));
        }
        Be16(v, 0xFFDA);
        Be16(v, 8);
        v.push_back(1);
        v.push_back(static_cast<uint8_t>(p[1] + 1));
        v.push_back(static_cast<uint8_t>((p[4] & 15) << 4 | (p[3] & 15)));
        v.push_back(static_cast<uint8_t>(p[5]));
        v.push_back(lossless ? 0 : 63);
        v.push_back(0);
        v.insert(v.end(), m + sc.data.offset, m + sc.data.offset + p[6]);
        if (!place(v, &at)) return false;
        setWord(header + kJpegScan + kJpegScanStride * i, processorAddress(at));
        setWord(header + kJpegScanBytes + kJpegScanStride * i, static_cast<uint32_t>(v.size()));
        ++i;
    }
    return true;
}

// ---------------------------------------------------------------- pattern models and results

int32_t Firmware::pattern(uint32_t body, uint32_t opcode, const char** text, uint32_t* replies)
{
    const uint32_t node = (word(body + kBodyThread) >> 16) & 0xFF;
    // The replies take the parameters' slots: the two used are read first.
    const uint32_t id = param(body, 0), type = param(body, 1);
    auto refuse = [&](int32_t code, const char* t) {
        *text = t;
        return code;
    };
    auto make = [&](ObjectKind kind) {
        *replies = 1;
        const uint32_t made = newId(node);
        answer(body, 0, made);
        if (!made) return refuse(kNoResources, kTextNoResources);
        objects_[made].kind = kind;
        return 0;
    };
    switch (opcode) {
    case kOpPatAllocResult: return make(ObjectKind::PatternResult);
    case kOpBlobAllocFeatureList: return make(ObjectKind::FeatureList);
    case kOpBlobAllocResult: return make(ObjectKind::BlobResult);
    case kOpPatRead: {
        *replies = 1;
        answer(body, 0, 0);
        auto b = buffers_.find(id);
        if (b == buffers_.end()) return refuse(kInvalidBuffer, kTextInvalidBuffer);
        const uint32_t bytes = b->second.sizeX * (((b->second.type & 0xFF) + 7) / 8);
        const uint32_t made = newId(node);
        if (!made) return refuse(kNoResources, kTextNoResources);
        Object model;
        model.kind = ObjectKind::Model;
        model.block = take(bytes);
        if (model.block.offset == kNoBlock) return refuse(kNoResources, kTextNoResources);
        std::memcpy(memory() + model.block.offset, memory() + b->second.offset, bytes);
        objects_[made] = model;
        answer(body, 0, made);
        return 0;
    }
    default:
        break;
    }
    auto it = objects_.find(id);
    switch (opcode) {
    case kOpPatWrite: *replies = 2; break;
    case kOpPatGetNumber: *replies = 1; break;
    case kOpPatGetResult: *replies = 2; break;
    case kOpPatInquire: *replies = 1; break;
    case kOpBlobGetResult:
    case kOpBlobGetRuns: *replies = 3; break;
    default: *replies = 0; break;
    }
    for (uint32_t i = 0; i < *replies; ++i) answer(body, i, 0);
    if (it == objects_.end()) return refuse(kInvalidBuffer, kTextInvalidBuffer);
    Object& ob = it->second;
    const bool model = ob.kind == ObjectKind::Model;
    const bool patternResult = ob.kind == ObjectKind::PatternResult;
    const bool blobResult = ob.kind == ObjectKind::BlobResult;
    // The result count of a pattern result's block.
    auto count = [&]() -> uint32_t {
        if (ob.block.offset == kNoBlock || ob.block.bytes < kPatRecordsAt) return 0;
        int16_t n = 0;
        std::memcpy(&n, memory() + ob.block.offset + kPatCountAt, 2);
        const uint32_t fit = (ob.block.bytes - kPatRecordsAt) / kPatRecordBytes;
        return n <= 0 ? 0 : std::min(static_cast<uint32_t>(n), fit);
    };
    switch (opcode) {
    case kOpPatFree:
    case kOpBlobFree:
        drop(ob.block);
        objects_.erase(it);
        return 0;
    case kOpPatWrite: {
        if (!model) return refuse(kBadParameter, kTextBadParameter);
        const uint32_t buffer = temporary(node, memory() + ob.block.offset, ob.block.bytes);
        if (!buffer) return refuse(kNoResources, kTextNoResources);
        answer(body, 0, buffer);
        answer(body, 1, ob.block.bytes);
        return 0;
    }
    case kOpPatInquire: {
        if (!model) return refuse(kBadParameter, kTextBadParameter);
        if (type != 0) return refuse(kBadParameter, kTextBadParameter);
        const double bus = busAddress(ob.block.offset);
        std::memcpy(memory() + body + kBodyParams, &bus, 8);
        return 0;
    }
    case kOpPatGetNumber:
        if (!patternResult) return refuse(kBadParameter, kTextBadParameter);
        answer(body, 0, count());
        return 0;
    case kOpPatGetResult: {
        if (!patternResult) return refuse(kBadParameter, kTextBadParameter);
        if (ob.block.offset == kNoBlock) return 0;
        if (type == 0) {
            answer(body, 0, busAddress(ob.block.offset));
            return 0;
        }
        // Any other type: the records in a temporary buffer.
        const uint32_t n = count();
        if (n == 0) return 0;
        const uint32_t buffer = temporary(node, memory() + ob.block.offset + kPatRecordsAt, n * kPatRecordBytes);
        if (!buffer) return refuse(kNoResources, kTextNoResources);
        answer(body, 1, buffer);
        return 0;
    }
    case kOpBlobGetResult:
    case kOpBlobGetRuns: {
        if (!blobResult) return refuse(kBadParameter, kTextBadParameter);
        if (ob.block.offset == kNoBlock) return 0;
        const uint32_t buffer = temporary(node, memory() + ob.block.offset, ob.block.bytes);
        if (!buffer) return refuse(kNoResources, kTextNoResources);
        answer(body, 0, buffer);
        answer(body, 1, busAddress(buffers_[buffer].offset));
        answer(body, 2, opcode == kOpBlobGetRuns ? ob.block.bytes / 3 : ob.block.bytes);
        return 0;
    }
    default:
        return refuse(kInvalidOpcode, kTextInvalidOpcode);
    }
}

bool Firmware::place(uint32_t id, const uint8_t* bytes, uint32_t count)
{
    auto it = objects_.find(id);
    if (!running_ || it == objects_.end()) return false;
    Object& ob = it->second;
    if (ob.kind != ObjectKind::PatternResult && ob.kind != ObjectKind::BlobResult) return false;
    drop(ob.block);
    if (count == 0) return true;
    ob.block = take(count);
    if (ob.block.offset == kNoBlock) return false;
    std::memcpy(memory() + ob.block.offset, bytes, count);
    return true;
}

// ---------------------------------------------------------------- inspection

namespace {
Board* FindBoard(SimState& s, int board)
{
    return board >= 0 && board < static_cast<int>(s.m().boards.size()) ? s.m().boards[board].get() : nullptr;
}
} // namespace

bool CpuView::placeResult(uint32_t id, const std::vector<uint8_t>& bytes) const
{
    SimState& s = SimState::get();
    std::lock_guard<boardsim::MachineMutex> guard(s.mutex);
    Board* b = FindBoard(s, board);
    if (!b || !b->cpu.firmware) return false;
    return b->cpu.firmware->place(id, bytes.data(), static_cast<uint32_t>(bytes.size()));
}

} // namespace boardsim
