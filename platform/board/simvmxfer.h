// The transfer engine of one Orlo for bus-master transfers between its board memory and
// host physical memory, and the register-list engine that reprograms it page by page.
// What the registers mean is told at VmTransferView (boardsim.h).
//
// A register write only records and schedules: the Orlo calls timingWritten() after a
// write of the timing control and listWritten() after a write of the list control; the
// bytes move and the list runs in events of the machine's clock.  Guarded by
// SimState::mutex like the rest of the machine.
#pragma once

#include "simcore.h"

#include <cstdint>
#include <set>

namespace boardsim {

// Machine time a transfer takes: a set-up time and the bytes at the bus rate.
constexpr uint64_t kXferSetupNanos = 2000;
constexpr uint64_t kXferBytesPerMicrosecond = 132;   // 132 MB/s
// Bytes of a line a blit holds at once: a longer line is read and written piece by piece.
constexpr uint32_t kBlitHoldBytes = 512;
// Longest list the engine plays before it gives up on it (a list that never ends).
constexpr uint32_t kXferListLimit = 1u << 20;

class VmTransferEngine {
public:
    explicit VmTransferEngine(OrloChip* orlo) : orlo_(orlo) {}
    VmTransferEngine(const VmTransferEngine&) = delete;
    VmTransferEngine& operator=(const VmTransferEngine&) = delete;

    void timingWritten(uint32_t before, uint32_t written);
    void listWritten();
    // The grab-list engine wrote 3 into the list control: the list at 0x2060 plays now
    // when the engine is idle, else as soon as the running transfer and list have ended.
    void listKicked();
    bool listQueued() const { return kickPending_ || kickEvent_ != 0; }   // a handed-over list not yet begun

    bool neverEnds = false;            // the next transfer never ends
    // A transfer held by neverEnds goes on: it ends its bus time from now.
    void releaseHung();
    std::set<uint32_t> badPages;       // host pages whose bytes are dropped
    uint64_t transfers = 0, bytes = 0, dropped = 0, listEntries = 0, strays = 0;
    bool busy() const { return event_ != 0 || hung_ || waitingForReceiver_; }
    // VM port (simvmport.cpp).
    bool receiverArmed() const { return receiving_; }
    uint64_t portSends = 0, portReceives = 0, portBytes = 0;

private:
    friend class VmPort;
    struct Latched {
        uint32_t kind = 0, format = 0, hStart = 0, hStop = 0, vStart = 0, vStop = 0;
        uint32_t host = 0, hostPitch = 0, board = 0, boardPitch = 0;
        uint32_t band1 = 0, band2 = 0, offset = 0;   // a blit: band offsets, destination offset
        bool mirror = false;
    };
    uint32_t reg(uint32_t offset) const;
    Board& board() const;
    void start();
    void scheduleEnd();
    void end();
    void move(const Latched& r);
    void blit(const Latched& r);
    void runList();
    void listEnded();
    void scheduleKick(uint32_t at);
    void finish();
    uint8_t* boardByte(uint32_t address);
    // The bytes of a run when it lies whole and in order in the Orlo's memory, else null.
    uint8_t* boardRun(uint32_t address, uint32_t bytes);

    OrloChip* orlo_;
    Latched latched_;
    uint64_t event_ = 0;     // the scheduled end of the running transfer
    uint64_t endsAt_ = 0;    // its machine time
    bool ending_ = false;    // in the end of a transfer: a transfer started now follows it
    bool hung_ = false;      // a transfer that never ends is running
    bool listRunning_ = false;
    uint32_t listAt_ = 0;    // bus address of the next list entry
    uint64_t kickEvent_ = 0; // the scheduled start of a list handed over by the grab list
    bool kickPending_ = false;   // a handed-over list waits for the running one to end
    uint32_t kickAt_ = 0;    // its bus address
    // VM port: a receiver armed with its registers and port; a sender started before any
    // receiver on its port was armed waits for one.
    bool receiving_ = false;
    Latched received_;
    uint32_t receivePort_ = 0;
    bool waitingForReceiver_ = false;
    uint32_t sendPort_ = 0;
    VmTransferEngine* peer_ = nullptr;   // the receiver of the running send
};

} // namespace boardsim
