// A LUT buffer's bands as host memory.
#include "lutview.h"

#include "bufid.h"
#include "hwaccess.h"

LutBufferView::LutBufferView(_MP_BUF_ST* lut) : lut_(lut)
{
    if (!lut || lut->bands == 0 || lut->pitch == 0 || lut->sizeY <= 0) return;
    bandBytes_ = static_cast<uint32_t>(lut->pitch) * static_cast<uint32_t>(lut->sizeY);
    for (uint32_t b = 0; b < lut->bands; ++b) {
        const uintptr_t address = reinterpret_cast<uintptr_t>(mp_buf_address_band_internal(lut, b));
        if (address && HwIsWindowAddress(static_cast<uint32_t>(address))) staged_ = true;
    }
    if (!staged_) return;
    copies_.resize(lut->bands);
    for (uint32_t b = 0; b < lut->bands; ++b) {
        const uintptr_t address = reinterpret_cast<uintptr_t>(mp_buf_address_band_internal(lut, b));
        if (!address) continue;
        copies_[b].resize(bandBytes_);
        HwReadBlock(static_cast<uint32_t>(address), 0, copies_[b].data(), bandBytes_);
    }
}

uint8_t* LutBufferView::band(uint32_t band)
{
    if (!lut_ || band >= lut_->bands) return nullptr;
    if (!staged_) return static_cast<uint8_t*>(mp_buf_address_band_internal(lut_, band));
    return copies_[band].empty() ? nullptr : copies_[band].data();
}

void LutBufferView::writeBack() const
{
    if (!staged_) return;
    for (uint32_t b = 0; b < copies_.size(); ++b) {
        if (copies_[b].empty()) continue;
        const uintptr_t address = reinterpret_cast<uintptr_t>(mp_buf_address_band_internal(lut_, b));
        HwWriteBlock(static_cast<uint32_t>(address), 0, copies_[b].data(), bandBytes_);
    }
}
