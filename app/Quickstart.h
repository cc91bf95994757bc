#pragma once
// The quick-start commands of one measurement: "New" (with the capture sequence on the
// stage and the camera), "Compute Phase", "Unwrap", "Convert to Z", "Save", and the stage
// commands "Motor Control" and "PI Config".

#include <functional>

class TMainForm;

// Adds the commands to the main window's action list (and the quick-start panel).
void AddQuickStartActions(TMainForm& form);

// The measurement road of "New". Raises EAppError when the capture cannot be carried out
// (a method other than 1111 or 2222, a grating frequency of 0, a stage move refused).
void QuickStartNewActionExecute(TMainForm& form);
void QuickStartComputeActionExecute(TMainForm& form);
void QuickStartUnwrapActionExecute(TMainForm& form);
void QuickStartConvertActionExecute(TMainForm& form);
// True when saved; false when the save dialog was cancelled.
bool QuickStartSaveActionExecute(TMainForm& form);

// The settling wait between a stage move and a grab, in milliseconds. Tests replace it;
// an empty function restores the real sleep.
void SetSettlingSleep(std::function<void(int milliseconds)> sleep);
