// The live register shadow of the selected grab module.
#include "extshadow.h"

#include "regaccess.h"

namespace {

constexpr uint32_t kFlagBits = kShadowWritten | kShadowListMode;

} // namespace

uint8_t* mpPrvExtShadow()
{
    const HwRegCtrl_ST* c = HwRegCtrl;
    if (!c) return nullptr;
    const uint32_t shadow = c->extCurrentShadow ? c->extCurrentShadow : c->extShadow;
    return reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(shadow));
}

uint32_t* mpPrvExtSlot(uint32_t offset)
{
    uint8_t* shadow = mpPrvExtShadow();
    return shadow ? reinterpret_cast<uint32_t*>(shadow + offset) : nullptr;
}

void mpPrvWriteExtSlot(uint32_t offset)
{
    uint32_t* slot = mpPrvExtSlot(offset);
    if (!slot) return;
    slot[1] &= ~kFlagBits;
    SetExtShInHw(slot);
}

void mpPrvSetExtReg(uint32_t offset, uint32_t value)
{
    uint32_t* slot = mpPrvExtSlot(offset);
    if (!slot) return;
    slot[0] = (slot[0] & ~0xFFFFu) | (value & 0xFFFFu);
    mpPrvWriteExtSlot(offset);
}

uint32_t mpPrvReadExtReg(uint32_t offset)
{
    const HwRegCtrl_ST* c = HwRegCtrl;
    if (!c) return 0;
    const uint32_t port = c->extCurrentPort ? c->extCurrentPort : c->extPort;
    return ReadVExtRegHW(port + offset);
}
