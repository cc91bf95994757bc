// Stage-controller driver (stand-in): a four-axis controller that holds each axis's
// position in motor counts. Every axis move (relative moves and go-home commands) is
// passed on to the simulated bench (bench::setAxisCounts with the axis's counts since
// reset); the bench decides which axis moves its grating. Every call is recorded for
// tests. Thread-safe.
//
// Results: 1 when the call was carried out, 0 when it was refused (controller not open,
// axis outside 1-4, unknown command, a move beyond the 32-bit counter range). Refused
// calls change nothing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Opens the controller: 0 when it could not be opened, otherwise non-zero.
int16_t QflOpen();
// Configuration and initialisation after opening: accepted (any value) while open.
int32_t QflConfigure(int32_t value);
int32_t QflInitialize();
// Addresses axis 1-4 for what follows; moves nothing.
int32_t QflSelectAxis(int32_t axis);
// Moves axis 1-4 by a signed number of counts from where it stands.
int32_t QflMoveRelative(int32_t axis, int32_t counts);
// Starts the axis's last move; the stand-in has moved it already, so only accepted.
int32_t QflExecute(int32_t axis);
// "nDH": axis n's present place becomes its home (its position 0); "nGH": axis n goes
// home; "GH": every axis goes home. The reply buffer (128 characters) receives "OK" or
// an error text.
int32_t QflCommand(const char* command, char* reply);

namespace qflsim {

// Every axis at 0 counts (home at 0, also passed to the bench), the controller closed,
// the log cleared, opening allowed again.
void reset();
// Calls since the last reset or clear, in call order, refused ones included:
// "QflOpen()", "QflConfigure(9)", "QflInitialize()", "QflSelectAxis(1)",
// "QflMoveRelative(1, 51)", "QflExecute(1)", "QflCommand(\"GH\")" (a null command as
// "QflCommand(null)"). At least the most recent 10000 entries are kept.
std::vector<std::string> callLog();
void clearCallLog();
// When set, QflOpen answers 0.
void setOpenFails(bool fails);
bool isOpen();
// Axis position in counts relative to the controller's home of that axis.
int32_t position(int axis);
// Axis position in counts since reset, whatever homes were defined (what the bench sees).
int32_t absolutePosition(int axis);
// The axis last addressed by QflSelectAxis (1 after reset).
int32_t selectedAxis();

}  // namespace qflsim
