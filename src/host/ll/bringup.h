// Board bring-up and shut-down: opens one board as a node (node open, the board
// processor's shell check, restart through the mailbox handshake, or attachment to a
// processor that already runs) and closes nodes again, also at process exit.
#pragma once

#include "hlc_arch.h"
#include "nodeopen.h"

#include <cstdint>

// Mailbox reads a start-up handshake waits for the next word (the words: orlo_regs.h).
constexpr uint32_t kMailboxPolls = 10000;
// Longest wait for the user to reset an active JTAG emulator (quarter seconds).
constexpr int32_t kEmulatorWaitRounds = 240;

// Opens node (system, board).  shellName: in the shell file name (null or empty: the
// setting), out the loader's path.  Mode: bit 29 maps no board-memory or display-frame
// windows; mode less bit 29 of 0 or 1 is host mode (1 gives -4, else -3); 2 always
// downloads the shell; others reuse a running processor whose shell matches.
// Returns on success the shell's value when it is above 0, else 1 (every success is above
// 0); -1 failure, -3 or -4 opened without the processor, -5 ini file not found (also in
// record->nodeNumber).
// Its results below 1 (kept in record->nodeNumber by the device open that reads them).
constexpr int32_t kBringUpFailed = -1;
constexpr int32_t kBringUpHostServes = -3;        // opened without the processor: the host serves it
constexpr int32_t kBringUpProcessorIgnored = -4;  // host mode 1: the processor is left as it is
constexpr int32_t kBringUpIniMissing = -5;
int32_t im_board_init(uint32_t system, uint32_t board, char** shellName, uint32_t mode,
                      _NODE_MAIN_RESOURCE_ST* record);
// node in bits 16-23; 0, or 1 when the node is unknown or a handle fails to close.
int32_t im_board_shutdown(uint32_t nodeArg);
// Exit handler: walks the node list from its end and shuts each node down once (a node
// opened more than once only has its open count lowered).
void BrdShutDown();
extern int atExitOK;

int CheckMvpRestart(_NODE_MAIN_RESOURCE_ST* record);
int IsEmulatorActive(_NODE_MAIN_RESOURCE_ST* record);

// The built-in register sequences behind the processor hooks.
void BrdResetHaltCpu(_NODE_MAIN_RESOURCE_ST* record);
void BrdStartCpu(_NODE_MAIN_RESOURCE_ST* record);
int BrdLockCheck(_NODE_MAIN_RESOURCE_ST* record);
void BrdLockReset(_NODE_MAIN_RESOURCE_ST* record);
// Closes the node device and frees what node open made for the record.
void BrdCloseNodeRecord(_NODE_MAIN_RESOURCE_ST* record);
