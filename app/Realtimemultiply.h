#pragma once
// The live product: the control form "Real Time Multiply" and its worker, which shows the
// rounded geometric mean of every camera frame and the start image in the "Multiply
// Result" window. The main window makes the form at start-up (owner: the main window).
// Unlike the difference form, a cancelled buffer dialog at the first start is reported
// as the allocation error.

#include "Livework.h"

class QPushButton;

// The product worker: LivePixels[k] := trunc(sqrt(now * start) + 0.5).
class TRealTimeMultiply8Bit : public TLiveWorker {
    Q_OBJECT
public:
    TRealTimeMultiply8Bit(OrbId digitizer, OrbId nowBuffer, OrbId resultBuffer);
    ~TRealTimeMultiply8Bit() override;

protected:
    void Combine(uint8_t* live, const uint8_t* start, size_t n) override;
};

class TRealTimeMultiplyControlSSForm : public TLiveControlForm {
    Q_OBJECT
public:
    explicit TRealTimeMultiplyControlSSForm(QWidget* owner = nullptr);
    ~TRealTimeMultiplyControlSSForm() override;

    QPushButton* EndMultiplyBitBtn = nullptr;   // "End Multiply"

    // "Start Multiply" / "Pause" / "Resume" (the button keeps the difference form's name).
    void StartSubtractBitBtnClick() { StartBitBtnClick(); }
    // The end button and the hide event: ends and deletes the worker (it finishes its
    // pass; nothing is written after this returns), then closes the live windows.
    void EndMultiplyBitBtnClick() { EndBitBtnClick(); }

protected:
    TLiveWorker* MakeWorker(OrbId digitizer, OrbId nowBuffer, OrbId resultBuffer) override;
};

extern TRealTimeMultiplyControlSSForm* RealTimeMultiplyControlSSForm;
