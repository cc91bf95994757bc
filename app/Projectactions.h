#pragma once
// The quick-start commands that open, close and show a project: the offer to save a
// modified project, "Open" (a .psm file with its six windows), "Close", and the "Show" and
// "Update" of the panel's "Raw Data" and " Result " groups.

#include <QString>

#include <cstddef>
#include <cstdint>

class TMainForm;
class TMDIImageChildForm;

// Before a command replaces the project: a modified project is offered for saving (Yes
// saves and goes on, No goes on, Cancel stops). Then the project is deleted and the result
// views refreshed. False when the command must stop; the project is then kept, also when
// Yes was chosen and the save was cancelled (a failed save raises its error, and the
// project is kept as well).
bool DropProject(TMainForm& form);
// The offer alone: true when the command may go on (no modified project, No, or Yes and
// saved); false after Cancel or a cancelled save. The project stays either way.
bool OfferToSaveProject(TMainForm& form);

void QuickStartOpenActionExecute(TMainForm& form);
void QuickStartCloseActionExecute(TMainForm& form);

// The raw plane chosen in "Raw Data" (0 Object ... 5 Mask) into its window, made when
// there is none; and back from its window into the project.
void RawDataShowExecute(TMainForm& form);
void RawDataUpdateExecute(TMainForm& form);
// The title of the window of raw plane i of the current project ("" without a project).
QString RawPlaneWindowTitle(const TMainForm& form, int index);

// The result plane chosen in " Result " (0 Phase, 1 Unwrap, 2 Shape) as a grey image.
void ResultShowExecute(TMainForm& form);
// The float plane code of result item i (111, 222, 333), or 0.
int ResultPlaneCode(int item);

// Grey bytes of n values: the range from the smallest to the largest finite value (1 when
// below 0.00001) mapped to 0..255 with rounding; values that are not finite become 0.
void GreyBytesOfPlane(const float* values, size_t n, uint8_t* out);

// The image window of that title holding an 8-bit buffer of width x height, preferring
// the one whose buffer is bufferId; null when there is none.
TMDIImageChildForm* FindProjectWindow(const TMainForm& form, const QString& title, int width, int height,
                                      uint32_t bufferId = 0);
