#pragma once
// The main window's actions of the live difference and product, the digitizer panels, the
// histogram and the image tools: "Real Time Subtract", "Real Time Multiply", "Control"
// (category Capture) and "Calculation...", "Histogram", "Modify Image" (category Image),
// each with its update rule. AddLiveActions adds them to the main window's action list
// and places them in the Capture and Image menus and on ToolBar2; it is called once the
// main window's menus are built.

#include <QString>

class TAction;
class TDigitizerPanelForm;
class TMainForm;

struct TLiveActions {
    TAction* RealTimeSubtract = nullptr;
    TAction* RealTimeMultiply = nullptr;
    TAction* Control = nullptr;
    TAction* Calculation = nullptr;
    TAction* Histogram = nullptr;
    TAction* ModifyImage = nullptr;
};

TLiveActions AddLiveActions(TMainForm& form);

// The digitizer panel of a board kind: 0 Sorvik, 1 Sorvik II, 2 and 3 Drevan, 4 Lumbra,
// 5 Halcyra; null for the kinds without a digitizer.
TDigitizerPanelForm* DigitizerPanelOfKind(int boardKind);

// "Calculation...": the chooser over the image windows of the active window's size; on OK
// the operation's result in a new image window "Result".
void ImageCalculationExecute(TMainForm& form);
// "Histogram": the active window's grey histogram in a modal histogram window.
void HistogramExecute(TMainForm& form);
