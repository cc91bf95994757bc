// The library's wiring: one function that fills every table of functions by which one
// layer of the library reaches another (the host platform's host, board and display
// tables, the command server's opcode handlers, thread lookup and sync operations, the
// console's spin sleep and the ini rewrite's probe) with the library's own functions.
//
// The library wires itself when it is loaded, and so does every program that links the
// wiring's static part: no lower layer calls up into it.  Tests wire it in their fixtures and then replace single members with the
// override helpers (HlcHostHookOverride, HlcBoardHookOverride, HlcDisplayHookOverride),
// which put the wired table back when they go.
#pragma once

#include <cstdint>

// Installs every table; calling it again installs the same tables again (members that a
// caller replaced are wired anew).  Call it while no node thread runs.
void HlcWireLibrary();

// The end of a node's runtime as the board hooks run it: the grab module's camera serial
// port state of the node goes, then what the library's start-up made for the node.
void HlcExitNodeRuntime(uint32_t node);
