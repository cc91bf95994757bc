// The board processor's firmware as the host sees it once the shell's start-up handshake
// is done (simfirmware.cpp).  Not for library code: the library sees only device.h and
// hwaccess.h.
//
// The shell places its information block where the signature record's first word (the
// shell value, a negative distance from the end of the board memory) points.  A shell
// whose value points nowhere in the memory has no information block, and the firmware
// then serves nothing.  The block gives the processor addresses of the ring (word 6),
// of the processor's own node state block (word 10) and of a table of five shadow areas
// (word 12); the ring is a 64-byte header followed by 64 bytes and 256-byte slots, as
// the host lays out a ring it serves itself.
//
// The host rings the processor's doorbell (bit 0x400000 of the interrupt set register);
// the firmware takes it on the machine's clock, never inside the register write: the
// first doorbell after a start answers the handshake (communication state word 279 of
// its block goes from -1 to 1), later ones make it walk the ring.  The ring head and tail
// change only while the host holds neither the hardware lock nor section 1; otherwise the
// walk is tried again a little later.  A waiting sender's reply is taken on with a
// compare-and-swap of bit 31 of the reply mode word and announced with source 33.
//
// Served: device opens, closes and inquiries (0, 2, 3), buffers in board memory
// (allocations 17, 18, 19, children 21, free 29, inquiry 36, whose types 400 and 401 give
// the buffer's descriptor laid out in board memory as the host reads one), JPEG objects
// (122, 123, 127, 129-133), pattern models and results (151, 154-157, 159, 160) and blob
// feature lists and results (180, 181, 185, 188, 190); any other opcode is answered with
// -6 "Invalid opcode received".  Buffers live in board memory, the records that describe
// them in the firmware.
//
// A JPEG object is a buffer whose one band holds the object header the host writes the
// frame into; the firmware keeps the tables the host puts (129, then 130 once the bytes
// are in board memory; a table of the same type and id is replaced), and one scan per
// component (132: memory for the entropy-coded data and, with a "QVRL" segment, for the
// restart table of as many entries as the frame's geometry has restart markers; a later
// scan of the same component replaces it).  Opcode 131 lays the object out for the host's
// store: header segments (quantization tables, Huffman tables, frame header with component
// ids 1, 2, ... and sampling factors from the ratios, restart interval), then per scan its
// "QVRL" segment, scan header and data.  Nothing is encoded or decoded.
//
// Pattern models are kept as the bytes the host sends (159, from a one-dimensional
// buffer) and given back in a new one-dimensional buffer (160); type 0 of the model
// inquiry (157) gives the bus address of the model's bytes.  Pattern and blob results
// hold the bytes a test places with place(): a pattern result block (count at byte 4,
// 28-byte records from byte 24) or blob result data; 155 and 156 read the pattern block,
// 188 and 190 hand the blob data over in a temporary buffer (190: three arrays of a third
// of the bytes each).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace boardsim {

struct Board;

class Firmware {
public:
    explicit Firmware(Board* board);
    // The shell started: lays out the information block, the state block and the ring.
    void boot();
    // The processor was reset: nothing is served until the next boot.
    void halt() { running_ = false; }
    // The host wrote the doorbell bit (called inside the register write).
    void doorbell();
    bool running() const { return running_; }
    uint32_t served() const { return served_; }
    // A pattern or blob result takes these bytes as its block in board memory; false for
    // an id that is no result, or when the memory is exhausted.  Called under the machine
    // lock, like every other entry.
    bool place(uint32_t id, const uint8_t* bytes, uint32_t count);

private:
    // A piece of board memory: offset and bytes; offset kNoBlock when none.
    static constexpr uint32_t kNoBlock = 0xFFFFFFFFu;
    struct Block {
        uint32_t offset = kNoBlock;
        uint32_t bytes = 0;
    };
    struct JpegTable {
        uint32_t type = 0, id = 0;
        Block data;
    };
    struct JpegScan {
        uint32_t params[11] = {};
        Block data;
        Block restarts;
        uint32_t restartEntries = 0;
    };
    struct JpegObject {
        std::vector<JpegTable> tables;
        JpegTable pending;              // put (129) and not yet done (130)
        std::vector<JpegScan> scans;
        uint32_t components = 0;        // the frame's, as the host wrote it before the scans
        std::vector<Block> laid;        // header segments and stored scans of the last layout
    };
    enum class ObjectKind : uint8_t { Model, PatternResult, FeatureList, BlobResult };
    struct Object {
        ObjectKind kind = ObjectKind::Model;
        Block block;
    };

    struct Buffer {
        uint32_t parent = 0;        // id, 0 for a root
        uint32_t offset = 0;        // board memory offset of band 0, line 0, pixel 0
        uint32_t bandBytes = 0;     // distance between bands
        uint32_t sizeX = 0, sizeY = 0, bands = 0, type = 0, location = 0, pitch = 0;
        uint32_t offsetX = 0, offsetY = 0;
        uint32_t blockBytes = 0;    // of a root: the memory it holds
        uint32_t descriptor = 0;    // its descriptor and band table in board memory
    };

    uint8_t* memory() const;
    uint32_t memorySize() const;
    uint32_t processorAddress(uint32_t offset) const;
    uint32_t busAddress(uint32_t offset) const;
    uint32_t word(uint32_t offset) const;
    void setWord(uint32_t offset, uint32_t value);
    uint32_t placeText(const std::string& text);

    void take();
    void walk();
    void serve(uint32_t slot);
    void reply(uint32_t body, int32_t error, const char* text, uint32_t replies);
    void answer(uint32_t body, uint32_t slot, uint32_t value);
    int32_t alloc(uint32_t body, const char** text);
    int32_t child(uint32_t body, const char** text);
    int32_t freeBuffer(uint32_t body, const char** text);
    int32_t inquire(uint32_t body, const char** text);
    uint32_t allocate(uint32_t bytes);
    void release(uint32_t offset);
    uint32_t param(uint32_t body, uint32_t i) const;
    uint32_t paramCount(uint32_t body) const;
    Block take(uint32_t bytes);
    void drop(Block& block);
    uint32_t newId(uint32_t node);
    bool describe(uint32_t id, Buffer& b);
    uint32_t makeBuffer(uint32_t node, uint32_t sizeX, uint32_t sizeY, uint32_t bands, uint32_t type,
                        uint32_t location, const char** text, int32_t* error);
    int32_t alloc2d(uint32_t body, uint32_t form, const char** text);
    uint32_t temporary(uint32_t node, const uint8_t* bytes, uint32_t count);
    int32_t jpeg(uint32_t body, uint32_t opcode, const char** text, uint32_t* replies);
    bool layJpeg(JpegObject& o, uint32_t header);
    void dropJpeg(JpegObject& o);
    void dropBuffer(uint32_t id);
    int32_t pattern(uint32_t body, uint32_t opcode, const char** text, uint32_t* replies);

    Board* board_;
    bool running_ = false;
    bool eventPending_ = false;
    uint32_t served_ = 0;
    uint32_t info_ = 0;         // memory offsets of the information block, state block,
    uint32_t state_ = 0;        // ring header and slot base
    uint32_t header_ = 0;
    uint32_t slots_ = 0;
    uint32_t texts_ = 0, textsEnd_ = 0;
    uint32_t heapStart_ = 0, heapEnd_ = 0;
    std::map<uint32_t, uint32_t> used_;          // offset -> bytes
    std::map<std::string, uint32_t> textAt_;     // text -> offset
    std::map<uint32_t, Buffer> buffers_;         // id -> record
    std::map<uint32_t, JpegObject> jpegs_;       // id (also a buffer: the header) -> object
    std::map<uint32_t, Object> objects_;         // models, results and feature lists
    uint32_t nextSlot_ = 1;
    uint32_t nextDevice_ = 2;
};

} // namespace boardsim
