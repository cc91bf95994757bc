// Client side of the console output pipe: messages for the user go to the console
// program `hlccout` (platform/console), and long waits ask it whether the user wants to
// abort. The pipe's records and path are those of consolewire.h.
//
// One process-wide connection. It is off (no connection) until im_open_pipe succeeds,
// after im_close_pipe, when the "Snooze" option is set, after mode -1, and when the
// console program cannot be started or does not answer in time.
#pragma once

#include "hlc_arch.h"

#include <cstdint>

// Connects to the console program, starting it when it does not run yet. Does nothing
// when the pipe is open already. Mode -1 leaves the console off. Mode 0 first reads the
// registry options: "Snooze" 1 leaves the console off, "DontClose" 1 selects mode 2.
// The program is $HALCYRA/util/winnt/hlccout, or when HALCYRA is not set hlccout on the
// PATH, else the one installed with the library (<prefix>/bin/hlccout beside
// <prefix>/lib); it is started detached, told which process started it (HLCCOUT_STARTER),
// and ends when the programs that used it have ended (hlccout.cpp). The connection is retried every millisecond for at most
// kConsoleConnectLimit seconds (less when the started program ends first); then the
// console stays off. After connecting the mode record is sent. Returns 0.
int im_open_pipe(int32_t mode);

// Closes the connection; the console is off afterwards.
void im_close_pipe();

// True while the console is connected.
bool im_pipe_is_open();

// Formats the text and sends it as text records: a line feed ends a record (and is sent
// with it), 79 collected characters end one too (a line feed right after them still
// joins that record), the rest goes in a last record. Texts of any length are sent whole.
// With prompt non-zero a prompt record follows and the call waits for the user's answer.
// Returns the formatted length, 0 when the console is off.
int im_print_msg(int prompt, const char* format, ...) __attribute__((format(printf, 2, 3)));

// One round of a wait that the user may abort. stillWaiting 0: *counter = 0, returns 0.
// *counter -1 (aborted before): *counter = 0, returns -1. Otherwise the first round
// (*counter 0) prints "WARNING: Host is waiting for a local resource.\n" and notes the
// start time; *counter = *counter % 20 + 1, and when that is 1 the console is asked
// whether to abort (the start time on the first question, "z" later): "Abort" sets
// *counter to -1 and returns -1. Else sleeps 0.25 s and returns 1.
int im_spin_while(int32_t* counter, int32_t stillWaiting);

// Draws a turning bar on the console: state 1 prints "\" and becomes 92 ('\'); 92 prints
// backspace and "-" (45); 45 backspace and "/" (47); 47 backspace and "|" (124); 124
// backspace and "\" (92); 0 prints one backspace; other states print nothing. Nothing
// at all while the console is off.
void im_spin_prompt(int32_t* state);

// Tells the user where a file was looked for and not found, so that the setting to fix is
// in view: "HlcLib was unable to locate <what> '<name>' in any of the following path(s):",
// then the working directory and "<variable>=<value>" (value: what the search used) or
// "<variable> is not set", one per line.  Without a name: "HlcLib has no <what> name:
// <variable> is not set".  Opens the console for messages first (mode 2, as the ini
// file's listing does); nothing is printed while it is off.
void im_print_not_found(const char* what, const char* name, const char* variable, const char* value);

// How im_spin_while sleeps (seconds); null restores the default (a plain sleep of the
// calling thread). The library core installs its task-aware sleep here.
void im_set_spin_sleep(void (*sleep)(double seconds));

// Longest time im_open_pipe waits for the console program, in seconds.
constexpr double kConsoleConnectLimit = 2.0;
