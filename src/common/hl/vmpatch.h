// Corrections of one side of a transfer through the VM port between two Orlos (or an
// Orlo and an external VM device): the stop, start, board and burst corrections that keep
// the VM engine clear of the line phases and pixel-type combinations it mishandles.
//
// Runs on the command-server task that holds the copy-parameter record and the VM
// sections of the transfer; takes no lock.
#pragma once

#include "vmprog.h"

#include <cstdint>

// Index of the three-band shift flag among the record's six transfer-state words.
constexpr uint32_t kStateThreeBandShift = 5;

// Fills the correction record of one side (side 1 receiving, 2 sending), the settings
// block and the two three-band flags; may set the window's X stop.  The receiving side is
// computed first: the sending side reads its choices from the settings block (on a copy
// between two nodes, from the receiving node's record named by the peer word).  The
// correction record must be zeroed by the caller.  image is the Orlo's copy-shadow image
// of this side (the horizontal window start is read from it).
void PatchVM(_CPYPARAM* record, DMATX_ST* patch, XferWindow* window, int side, int continued,
             const CopyImage* orlo_hra);

// The count of steps that raise value until its phase (value mod 2^bits) leaves the range
// of ranges[] it started in; 0 when it starts in none.  ranges holds {first, last} pairs.
int32_t XferStepping(uint32_t value, uint32_t bits, const uint16_t (*ranges)[2], uint32_t count, uint32_t step = 1);

// The record a peer word names when it is one of the copy-parameter records this process
// knows (tag, size and position checked), else null.
_CPYPARAM* XferPeerRecord(uint32_t peer);
