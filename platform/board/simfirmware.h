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
// (allocation 17, children 21, free 29, inquiry 36); any other opcode is answered with
// -6 "Invalid opcode received".  Buffers live in board memory, the records that describe
// them in the firmware.
#pragma once

#include <cstdint>
#include <map>
#include <string>

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

private:
    struct Buffer {
        uint32_t parent = 0;        // id, 0 for a root
        uint32_t offset = 0;        // board memory offset of band 0, line 0, pixel 0
        uint32_t bandBytes = 0;     // distance between bands
        uint32_t sizeX = 0, sizeY = 0, bands = 0, type = 0, location = 0, pitch = 0;
        uint32_t offsetX = 0, offsetY = 0;
        uint32_t blockBytes = 0;    // of a root: the memory it holds
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
    uint32_t nextSlot_ = 1;
    uint32_t nextDevice_ = 2;
};

} // namespace boardsim
