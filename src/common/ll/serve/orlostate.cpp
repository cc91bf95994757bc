// The initial state of a node's Orlos: the register shadows, the VM and grab engines, the
// processing chip's selection and the register lists.
#include "predef.h"

#include "hwaccess.h"
#include "hwlock.h"
#include "intserver.h"
#include "nodelist.h"
#include "regaccess.h"

#include <cstring>
#include <initializer_list>

namespace {

constexpr uint32_t N = 0;
constexpr uint32_t G = kShadowInitGrab;
constexpr uint32_t V = kShadowInitVm;
constexpr uint32_t X = kShadowInitNoRead;

} // namespace

const OrloRegisterOffset OrloRegisterOffsetTable[kOrloShadowedRegisters + 1] = {
    // configuration and control 0x0000-0x0030
    {0x0000, N}, {0x0008, N}, {0x0010, N}, {0x0018, N}, {0x0020, N}, {0x0028, N}, {0x0030, N},
    // display clock, mailbox, section word, delay 0x0800-0x0818
    {0x0800, N}, {0x0808, N}, {0x0810, N}, {0x0818, N},
    // 0x1000-0x1008: never read
    {0x1000, X}, {0x1008, X},
    // grab engine 0x1800-0x1850: grab list
    {0x1800, G}, {0x1808, G}, {0x1810, G}, {0x1818, G}, {0x1820, G}, {0x1828, G}, {0x1830, G},
    {0x1838, G}, {0x1840, G}, {0x1848, G}, {0x1850, G},
    // list, interrupt, lock and timer block 0x2000-0x2080
    {0x2000, N}, {0x2008, G}, {0x2010, G}, {0x2018, X | G}, {0x2020, N}, {0x2028, X | V | G},
    {0x2030, X}, {0x2038, X}, {0x2040, X}, {0x2048, X}, {0x2050, N}, {0x2058, N}, {0x2060, V},
    {0x2068, V}, {0x2070, X}, {0x2078, V}, {0x2080, X},
    // VM block 0x2800-0x28E8
    {0x2800, N}, {0x2808, G}, {0x2810, G}, {0x2818, G}, {0x2820, G}, {0x2828, G}, {0x2830, G},
    {0x2838, G}, {0x2840, G}, {0x2848, G}, {0x2850, G}, {0x2858, G}, {0x2860, G}, {0x2868, N},
    {0x2870, N}, {0x2878, N}, {0x2880, N}, {0x2888, N}, {0x2890, N}, {0x2898, N}, {0x28A0, N},
    {0x28A8, V}, {0x28B0, V}, {0x28B8, V}, {0x28C0, V}, {0x28C8, V}, {0x28D0, V}, {0x28D8, V},
    {0x28E0, V}, {0x28E8, V},
    // VM control and status 0x3000-0x3040
    {0x3000, V}, {0x3008, V}, {0x3010, V}, {0x3018, V}, {0x3020, N}, {0x3028, V}, {0x3030, V},
    {0x3038, X | V}, {0x3040, V},
    // VM timing 0x3800-0x3838
    {0x3800, V}, {0x3808, V}, {0x3810, V}, {0x3818, V}, {0x3820, V}, {0x3828, V}, {0x3830, V},
    {0x3838, V},
    {-1, 0},
};

namespace {

constexpr uint32_t kArpEntries = 256;
constexpr uint32_t kAllChannelSections = 0xF000;

template <typename T>
T* Ptr(uint32_t address)
{
    return reinterpret_cast<T*>(static_cast<uintptr_t>(address));
}

// The shadow block of an Orlo in the node's Orlo state area (host memory), 0 without one.
uint32_t* ShadowBlock(const _NODE_MAIN_RESOURCE_ST* r, uint32_t orlo)
{
    if (!r->orloState) return nullptr;
    return reinterpret_cast<uint32_t*>(r->orloState + (orlo == 0 ? kStatePrimaryShadow : kStateDisplayShadow));
}

// Selects each Orlo of the node whose register control has a shadow and a register
// block, without the protect lock, and runs body on it.
template <typename Body>
void ForEachOrlo(uint32_t node, Body body)
{
    _NODE_MAIN_RESOURCE_ST* r = mp_core_node_record(node);
    if (!r || !r->hwRegCtrl) return;
    for (uint32_t orlo = 0; orlo < 2; ++orlo) {
        SetToOrlo(node & 0xFF, orlo, nullptr);
        HwRegCtrl_ST* c = HwRegCtrl;
        if (!c || c != r->hwRegCtrl || !c->shadow || !c->regs) continue;
        body(c);
    }
}

// Changes a register's shadow in the selected Orlo (clear, then set) and writes it: with
// its fixed writer, or straight to the hardware when it has none.  The slot's written and
// list-mode marks are cleared first, so that the value goes to the register at once.
void Change(const HwRegCtrl_ST* c, uint32_t offset, uint32_t clear, uint32_t set, void (*writer)())
{
    uint32_t* slot = Ptr<uint32_t>(c->shadow + offset);
    slot[1] &= ~(kShadowWritten | kShadowListMode);
    slot[0] = (slot[0] & ~clear) | set;
    if (writer)
        writer();
    else
        HwWrite32(c->regs, offset, slot[0]);
}

} // namespace

// ---------------------------------------------------------------- Orlo state

void mp_init_global_shadows(uint32_t node)
{
    const _NODE_MAIN_RESOURCE_ST* r = mp_core_node_record(node);
    if (!r) return;
    for (uint32_t orlo = 0; orlo < 2; ++orlo) {
        uint32_t* shadow = ShadowBlock(r, orlo);
        if (!shadow) return;
        std::memset(shadow, 0, kOrloShadowBytes);
        const uint32_t regs = orlo == 0 ? r->primaryRegs : r->displayRegs;
        if (!regs) continue;
        for (const OrloRegisterOffset* e = OrloRegisterOffsetTable; e->offset != -1; ++e) {
            uint32_t* slot = shadow + e->offset / 4;
            if (!(e->flags & kShadowInitNoRead)) slot[0] = HwRead32(regs, static_cast<uint32_t>(e->offset));
            if (e->flags & kShadowInitGrab) slot[1] |= kShadowGrabList;
            if (e->flags & kShadowInitVm) slot[1] |= kShadowVmList;
        }
    }
}

void mpPrvInitVmState(uint32_t node)
{
    ForEachOrlo(node, [](const HwRegCtrl_ST* c) {
        Change(c, kOrloVmPort, 0x3FF, 0, nullptr);                           // bits 0-9 cleared
        Change(c, kOrloVpControl, 0x80 | 0x20 | 0x04, 0x40 | 0x10 | 0x08, WrVpctrlInHW);
        Change(c, kOrloVpStatus, 0, 0x1FC, WrVstatusInHW);                   // bits 2-8 set
        Change(c, kOrloVmListControl, 0x1, 0, WrVarpctrlInHW);
        Change(c, kOrloVmChannelControl, 0, 0xFF, nullptr);                  // bits 0-7 set
    });
}

void mpPrvInitGrabState(uint32_t node)
{
    ForEachOrlo(node, [node](const HwRegCtrl_ST* c) {
        Change(c, kOrloGrabControl, 0, 0x1, WrGrabctrlInHW);
        Change(c, kOrloGrabListControl, 0x1, 0, WrGarpctrlInHW);
        Change(c, kOrloGrabStatus, 0, 0x9, WrGstatusInHW);
        mp_sys_section_unlock(node & 0xFF, kAllChannelSections);
    });
}

void mpPrvInitPimbraState(uint32_t node)
{
    SetToPimbra(node & 0xFF);
}

void mp_init_orlo_state(uint32_t node)
{
    node &= 0xFF;
    mp_init_global_shadows(node);
    mpPrvVMConfig(node);
    mpPrvInitVmState(node);
    mpPrvInitGrabState(node);
    mpPrvInitPimbraState(node);
}

void mp_init_arp_space(uint32_t node)
{
    node &= 0xFF;
    _NODE_MAIN_RESOURCE_ST* r = mp_core_node_record(node);
    if (!r || !r->hwRegCtrl) return;
    HwRegCtrl_ST* c = r->hwRegCtrl;
    for (uint32_t orlo : {1u, 0u}) {
        if (orlo == 1 && !c->displayRegs) continue;
        SetToOrlo(node, orlo, nullptr);
        if (HwRegCtrl != c) return;
        CreateArp(kArpGrab, kArpEntries);
        CreateArp(kArpVm, kArpEntries);
    }
    if (c->pimbraShadow) {
        c->pimbraListPtr = &c->pimbraList;
        CreateArp(kArpPimbra, kArpEntries);
    }
}
