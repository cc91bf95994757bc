// Stage-controller driver (stand-in): a four-axis controller that holds each axis's
// position in motor counts. Axis moves reach the simulated bench, whose phase-shift
// axis moves the projected grating. Every call is recorded for tests. Thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Opens the controller: 0 when it could not be opened, otherwise non-zero.
int16_t QflOpen();
int32_t QflConfigure(int32_t value);
int32_t QflInitialize();
int32_t QflSelectAxis(int32_t axis);
// Moves axis 1-4 by a signed number of counts from where it stands.
int32_t QflMoveRelative(int32_t axis, int32_t counts);
int32_t QflExecute(int32_t axis);
// "nDH": axis n's present place becomes its home (its position 0); "nGH": axis n goes
// home; "GH": every axis goes home. The reply buffer (128 characters) receives "OK" or
// an error text.
int32_t QflCommand(const char* command, char* reply);

namespace qflsim {

// Every axis at 0 counts (home at 0), the controller closed, the log cleared, opening allowed.
void reset();
// Calls since the last reset or clear, e.g. "QflMoveRelative(1, 51)", "QflCommand(\"GH\")".
std::vector<std::string> callLog();
void clearCallLog();
// When set, QflOpen answers 0.
void setOpenFails(bool fails);
bool isOpen();
// Axis position in counts relative to the controller's home of that axis.
int32_t position(int axis);
// Axis position in counts since reset, whatever homes were defined (what the bench sees).
int32_t absolutePosition(int axis);

}  // namespace qflsim
