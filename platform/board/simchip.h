// The chips behind the mapped windows of the simulated board: what every chip model answers,
// and plain memory.
// Not for library code: the library sees only device.h and hwaccess.h.
#pragma once

#include <cstdint>
#include <vector>

namespace boardsim {

struct Board;

class SimChip {
public:
    virtual ~SimChip() = default;
    virtual uint32_t read(uint32_t offset, int width) = 0;
    virtual void write(uint32_t offset, int width, uint32_t value) = 0;
};

class RamChip : public SimChip {
public:
    explicit RamChip(uint32_t size) : size_(size) {}
    uint32_t read(uint32_t offset, int width) override;
    void write(uint32_t offset, int width, uint32_t value) override;
    bool copyOut(uint32_t offset, void* destination, uint32_t bytes) const;
    uint32_t size() const { return size_; }
    // The whole memory for the board's own writers (the grab engine); size() bytes.
    uint8_t* data();

private:
    uint32_t size_;
    mutable std::vector<uint8_t> bytes_; // allocated at the first access
};

} // namespace boardsim
