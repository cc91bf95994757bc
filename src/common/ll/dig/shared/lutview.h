// A LUT buffer's bands as host memory, for the lookup-table transfers of both grab-module
// families.
#pragma once

#include <cstdint>
#include <vector>

struct _MP_BUF_ST;

// The bands of a LUT buffer as host memory for a transfer.  A buffer the host reaches only
// through a board window (board memory) is copied out through the accessors, and a LUT read
// into the copy is written back with writeBack(); a host buffer is used in place.
class LutBufferView {
public:
    explicit LutBufferView(_MP_BUF_ST* lut);
    uint8_t* band(uint32_t band);   // null when the band has no address
    void writeBack() const;

private:
    _MP_BUF_ST* lut_;
    bool staged_ = false;
    uint32_t bandBytes_ = 0;
    std::vector<std::vector<uint8_t>> copies_;
};
