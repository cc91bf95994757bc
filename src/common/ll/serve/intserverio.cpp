// Register access and bounded waits of the interrupt servers.
#include "intserverio.h"

#include "bufid.h"
#include "hlc_errors.h"
#include "hosthooks.h"
#include "hwaccess.h"
#include "hwlock.h"
#include "nodeopen.h"
#include "regaccess.h"
#include "reqres.h"
#include "syncobj.h"

namespace intsrv {

namespace {

uint32_t* Slot(SERVINFO_ST* state, uint32_t offset)
{
    if (!state || !state->shadow || offset >= kOrloShadowBytes) return nullptr;
    return reinterpret_cast<uint32_t*>(static_cast<uintptr_t>(state->shadow + offset));
}

}  // namespace

_NODE_MAIN_RESOURCE_ST* RecordOf(const SERVINFO_ST* state)
{
    return state ? mp_core_node_record(state->node & 0xFF) : nullptr;
}

SERVINFO_ST* FillHeader(SERVINFO_ST* state, uint32_t node, const _NODE_MAIN_RESOURCE_ST* record, uint32_t index)
{
    state->node = (state->node & ~0xFFu) | (node & 0xFF);
    state->index = index;
    state->registers = index == 0 ? record->primaryRegs : record->displayRegs;
    state->shadow = record->orloState
                        ? static_cast<uint32_t>(reinterpret_cast<uintptr_t>(record->orloState)) +
                              (index == 0 ? kStatePrimaryShadow : kStateDisplayShadow)
                        : 0;
    return state;
}

uint32_t Read(const SERVINFO_ST* state, uint32_t offset)
{
    if (!state || !state->registers) return 0;
    return HwRead32(state->registers, offset);
}

uint32_t& Shadow(SERVINFO_ST* state, uint32_t offset)
{
    // A state without a shadow area changes a scratch word, which Put never writes.
    thread_local uint32_t scratch;
    uint32_t* slot = Slot(state, offset);
    if (slot) return slot[0];
    scratch = 0;
    return scratch;
}

void Put(SERVINFO_ST* state, uint32_t offset)
{
    uint32_t* slot = Slot(state, offset);
    if (!slot || !state->registers) return;
    // An immediate write: the slot leaves list mode.  The write goes through the layer on
    // a selection of this Orlo alone, so that the selection of whichever task was using the
    // layer stays as it was.
    slot[1] &= ~(kShadowWritten | kShadowListMode);
    HwRegCtrl_ST own{};
    own.node = state->node & 0xFF;
    own.orlo = state->index;
    own.shadow = state->shadow;
    own.regs = state->registers;
    (state->index == 0 ? own.primaryShadow : own.displayShadow) = state->shadow;
    (state->index == 0 ? own.primaryRegs : own.displayRegs) = state->registers;
    HwRegCtrl_ST* const saved = HwRegCtrl;
    HwRegCtrl = &own;
    SetShInHw(slot);
    HwRegCtrl = saved;
}

void Set(SERVINFO_ST* state, uint32_t offset, uint32_t value)
{
    Shadow(state, offset) = value;
    Put(state, offset);
}

void Modify(SERVINFO_ST* state, uint32_t offset, uint32_t clear, uint32_t set)
{
    uint32_t& value = Shadow(state, offset);
    value = (value & ~clear) | set;
    Put(state, offset);
}

void Acknowledge(SERVINFO_ST* state, uint32_t offset, uint32_t value)
{
    Set(state, offset, value);
    Shadow(state, offset) = 0;
}

bool WaitForImpl(double limit, bool (*done)(void*), void* context)
{
    const double start = mp_time_clock(0.0);
    for (;;) {
        if (done(context)) return true;
        if (mp_time_clock(start) >= limit) return done(context);
        mp_time_sleep(0.0);
    }
}

MP_SYNC_ST* SyncOf(uint32_t word)
{
    const auto* buffer = reinterpret_cast<const _MP_BUF_ST*>(static_cast<uintptr_t>(word));
    if (word == 0 || !mp_buf_valid(buffer, kBufKindSync)) return nullptr;
    return static_cast<MP_SYNC_ST*>(mp_buf_address_band_internal(buffer, 0));
}

void LogSyncError(uint32_t word, int32_t code, const char* text, const char* function)
{
    MP_SYNC_ST* sync = SyncOf(word);
    if (!sync || sync->err.code != 0) return;
    _MSG_ERR_ST error{};
    mp_err_log(&error, code, text, function);
    mp_err_update(&error, &sync->err);
}

void ReportTimeout(const char* function, uint32_t syncWord, const char* text)
{
    HlcPrint("\n\nTimeout in %s(): %s\n\n", function, text);
    LogSyncError(syncWord, HLC_ERR_TIMEOUT, text, function);
}

}  // namespace intsrv
