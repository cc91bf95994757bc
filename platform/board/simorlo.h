// The Orlo, the board's PCI bridge chip: its register block, its PCI shadow window, the
// processor and FPGA controls of a board's primary Orlo and its 2 KB port window
// (simorlo.cpp, simcpu.cpp).
// Not for library code: the library sees only device.h and hwaccess.h.
#pragma once

#include "simchip.h"
#include "simpci.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace boardsim {

struct Board;

// Register block of an Orlo: plain registers plus those that act on access.  The
// doorbells, the timer and the VM engine (simorlo.cpp) act on the machine's clock: a
// write only schedules what follows, which runs as an event, never inside the write.
class GrabEngine;   // simgrabengine.h
struct GrabEngineDelete {
    void operator()(GrabEngine* engine) const;
};
class VmTransferEngine;   // simvmxfer.h
struct VmTransferEngineDelete {
    void operator()(VmTransferEngine* engine) const;
};
class GrabListEngine;   // simgrablist.h
struct GrabListEngineDelete {
    void operator()(GrabListEngine* engine) const;
};

class OrloChip : public SimChip {
public:
    OrloChip(Board* board, bool display);
    uint32_t read(uint32_t offset, int width) override;
    void write(uint32_t offset, int width, uint32_t value) override;
    uint32_t peek(uint32_t offset) const; // 32-bit word, without side effects
    void poke(uint32_t offset, uint32_t value);
    // A source became enabled at the driver: doorbells kept pending are taken now.
    void sourceEnabled();
    GrabEngine& grabEngine();   // built at its first use (simgrabengine.cpp)
    VmTransferEngine& transferEngine();   // built at its first use (simvmxfer.cpp)
    GrabListEngine& grabList();   // built at its first use (simgrablist.cpp)

private:
    friend class GrabEngine;
    friend class VmTransferEngine;
    friend class GrabListEngine;
    friend class VmPort;
    friend class KvxModuleChip;
    uint32_t readWord(uint32_t dword);
    void writeWord(uint32_t dword, uint32_t bits, uint32_t laneMask);

    // simorlo.cpp
    void afterWrite(uint32_t dword, uint32_t bits, uint32_t laneMask, uint32_t before);
    uint32_t source(int primarySource, int displaySource) const;
    void scheduleDoorbells();
    void takeDoorbells();
    void timerWritten();
    void scheduleTimerTick();
    uint32_t timerCount() const;
    void vmSend();
    void vmSendDone(uint32_t command);
    void vmReset();
    // simdisplay.cpp: the display Orlo's control word, its restart at the display line.
    void displayControlWritten(uint32_t before);

    Board* board_;
    bool display_;
    // Names of the Orlo's clock events, made with the chip: a register write that
    // schedules one allocates nothing for its name.
    std::string doorbellName_;
    std::string timerName_;
    std::string vmSendName_;
    std::vector<uint32_t> regs_;
    uint32_t interrupts_ = 0;   // status behind 0x2028 / 0x2030
    bool lock_ = false;
    bool flushRunning_ = false;
    int32_t flushRemaining_ = 0;
    uint64_t doorbellEvent_ = 0;  // the scheduled taking of the doorbells, 0 none
    uint64_t timerEvent_ = 0;     // the scheduled end of the timer's period, 0 none
    uint64_t timerStart_ = 0;     // clock time the running timer started counting
    uint64_t timerPeriods_ = 0;   // periods it ran since
    bool timerRunning_ = false;
    uint64_t vmEvent_ = 0;        // the scheduled end of a send, 0 none
    uint64_t displayLineEvent_ = 0; // the scheduled display line interrupt, 0 none
    bool vmStepOpen_ = false;     // a set-up step was started and not yet acknowledged
    bool vmSetUp_ = false;        // the port set-up was restarted since power-up
    std::unique_ptr<GrabEngine, GrabEngineDelete> grabEngine_;
    std::unique_ptr<VmTransferEngine, VmTransferEngineDelete> transferEngine_;
    std::unique_ptr<GrabListEngine, GrabListEngineDelete> grabList_;
};

// Configuration bytes 0x40-0x6F of an Orlo seen through its PCI shadow window.
class ShadowChip : public SimChip {
public:
    explicit ShadowChip(PciFunction* function) : function_(function) {}
    uint32_t read(uint32_t offset, int width) override;
    void write(uint32_t offset, int width, uint32_t value) override;

private:
    PciFunction* function_;
};

// Orlo registers with the processor's reset, start and mailbox and the FPGA's control
// bits acting on access.
class BoardOrloChip : public OrloChip {
public:
    BoardOrloChip(Board* board, bool display);
    uint32_t read(uint32_t offset, int width) override;
    void write(uint32_t offset, int width, uint32_t value) override;

private:
    uint32_t resetState() const;

    Board* board_;
};

// The Orlo's 2 KB window: memory whose word 0 is also the FPGA's data port.
class FpgaPortChip : public RamChip {
public:
    explicit FpgaPortChip(Board* board);
    void write(uint32_t offset, int width, uint32_t value) override;

private:
    Board* board_;
};

} // namespace boardsim
