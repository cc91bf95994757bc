// Register access of the interrupt servers and the VM engine on one Orlo named by its event
// state, and their bounded waits (the servers' own helpers).
#pragma once

#include "hlc_arch.h"
#include "servinfo.h"

#include <cstdint>

struct _NODE_MAIN_RESOURCE_ST;
struct MP_SYNC_ST;

namespace intsrv {

// The node record of the state's node, null when the node is not listed.
_NODE_MAIN_RESOURCE_ST* RecordOf(const SERVINFO_ST* state);
// The header words of an Orlo's event state (node, index, register block, shadow area)
// from the node record, for work on an Orlo before the servers filled its state.
SERVINFO_ST* FillHeader(SERVINFO_ST* state, uint32_t node, const _NODE_MAIN_RESOURCE_ST* record, uint32_t index);

// The live register (0 without a register block).
uint32_t Read(const SERVINFO_ST* state, uint32_t offset);
// The value word of the register's shadow slot.
uint32_t& Shadow(SERVINFO_ST* state, uint32_t offset);
// Puts the shadow value into the register at once, through the register-access layer.
void Put(SERVINFO_ST* state, uint32_t offset);
void Set(SERVINFO_ST* state, uint32_t offset, uint32_t value);
void Modify(SERVINFO_ST* state, uint32_t offset, uint32_t clear, uint32_t set);
// A register whose bits are cleared by writing them: writes value, the shadow keeps 0.
void Acknowledge(SERVINFO_ST* state, uint32_t offset, uint32_t value);

// Polls done() with zero sleeps on the library clock: true once it holds, false when it
// still does not after limit seconds.
bool WaitForImpl(double limit, bool (*done)(void*), void* context);
template <typename Done>
bool WaitFor(double limit, Done done)
{
    return WaitForImpl(limit, [](void* c) -> bool { return (*static_cast<Done*>(c))(); }, &done);
}

// The sync object record behind a slot word that holds a kind-7 descriptor, else null.
MP_SYNC_ST* SyncOf(uint32_t word);
// The first error of a sync object (kept when it holds one already).
void LogSyncError(uint32_t word, int32_t code, const char* text, const char* function);
// A wait that ran into its limit: the console hears of it and the grab's sync object (when
// the word holds one) takes error -11 with the text.
void ReportTimeout(const char* function, uint32_t syncWord, const char* text);

}  // namespace intsrv
