#pragma once
// The live difference: the control form "Real Time Subtract" and its worker, which shows
// |now - start| of every camera frame against the start image in the "Subtract Result"
// window. The main window makes the form at start-up (owner: the main window).

#include "Livework.h"

class QPushButton;

// The difference worker: LivePixels[k] := |now - start|.
class TRealTimeSubtract8Bit : public TLiveWorker {
    Q_OBJECT
public:
    TRealTimeSubtract8Bit(OrbId digitizer, OrbId nowBuffer, OrbId resultBuffer);
    ~TRealTimeSubtract8Bit() override;

protected:
    void Combine(uint8_t* live, const uint8_t* start, size_t n) override;
};

class TRealTimeSubtractControlSSForm : public TLiveControlForm {
    Q_OBJECT
public:
    explicit TRealTimeSubtractControlSSForm(QWidget* owner = nullptr);
    ~TRealTimeSubtractControlSSForm() override;

    QPushButton* EndSubtractBitBtn = nullptr;   // "End Subtract"

    // "Start Subtract" / "Pause" / "Resume".
    void StartSubtractBitBtnClick() { StartBitBtnClick(); }
    // The end button and the hide event: ends and deletes the worker (it finishes its
    // pass; nothing is written after this returns), then closes the live windows.
    void EndSubtractBitBtnClick() { EndBitBtnClick(); }

protected:
    TLiveWorker* MakeWorker(OrbId digitizer, OrbId nowBuffer, OrbId resultBuffer) override;
};

extern TRealTimeSubtractControlSSForm* RealTimeSubtractControlSSForm;
