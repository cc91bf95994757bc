// The ring snooper and the buffer service's messages to a node with its own processor.
//
// The snooper records, for a diagnostic tool that watches a host-served node's ring, the
// slots as they are posted, received and completed: time stamps in the slot (completion
// at byte 176, posting or receipt at byte 184, doubles of the library clock) and the ring
// header's words 8-14 (offsets of the last slot posted, received and completed, counts of
// each, and the first completed slot whose message carried an error; -1 = none).  Offsets
// are bytes from the ring's slot base.  It acts only on messages posted while the ring's
// debug word (header word 7) selected a mode (its low four bits, 0 = off): mode 1 records,
// mode 2 also waits for the tool to take the last offsets (words 8 and 9, or word 10, back
// at -1) before it writes new ones, mode 3 waits so only for posts of replied messages.
// Those waits, like the wait for the Orlo's snoop-busy bit, end after the doorbell time-out
// (time-out entry 2); the record is then written all the same.
//
// Threads: any thread that changes a slot's status calls it; the header words and stamps
// are written under the kernel critical section.
#pragma once

#include "hlc_arch.h"

#include <cstdint>

// Snoop-busy bit of the primary Orlo's register at 0x2030, and the signal written there.
constexpr uint32_t kSnoopBusy = 0x10;

// The slot whose body lies at slotBody has taken status 10, 20, 25 or 50.
HLC_API void mp_msg_signal_snooper(uint32_t slotBody, uint32_t status);

// Installs the buffer service's remote calls: a synchronous command message to thread
// object 0x40000010 of the node (im_msg_send).
void mp_buf_install_remote();
