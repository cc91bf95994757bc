#include "Realtimesubtract.h"

#include <QPushButton>

TRealTimeSubtractControlSSForm* RealTimeSubtractControlSSForm = nullptr;

TRealTimeSubtract8Bit::TRealTimeSubtract8Bit(OrbId digitizer, OrbId nowBuffer, OrbId resultBuffer)
    : TLiveWorker(digitizer, nowBuffer, resultBuffer)
{
}

TRealTimeSubtract8Bit::~TRealTimeSubtract8Bit()
{
    // The thread calls Combine: it ends before this part of the object goes.
    EndAndWait();
}

void TRealTimeSubtract8Bit::Combine(uint8_t* live, const uint8_t* start, size_t n)
{
    SubtractFrames(live, start, n);
}

namespace {

const TLiveControlForm::Texts kSubtractTexts = {"Real Time Subtract", "Start Subtract", "End Subtract",
                                                "Subtract Result"};

}  // namespace

TRealTimeSubtractControlSSForm::TRealTimeSubtractControlSSForm(QWidget* owner)
    : TLiveControlForm(owner, kSubtractTexts, true)
{
    EndSubtractBitBtn = EndBitBtn;
    EndSubtractBitBtn->setObjectName("EndSubtractBitBtn");
}

TRealTimeSubtractControlSSForm::~TRealTimeSubtractControlSSForm()
{
    if (RealTimeSubtractControlSSForm == this)
        RealTimeSubtractControlSSForm = nullptr;
}

TLiveWorker* TRealTimeSubtractControlSSForm::MakeWorker(OrbId digitizer, OrbId nowBuffer, OrbId resultBuffer)
{
    return new TRealTimeSubtract8Bit(digitizer, nowBuffer, resultBuffer);
}
