#include "Realtimemultiply.h"

#include <QPushButton>

TRealTimeMultiplyControlSSForm* RealTimeMultiplyControlSSForm = nullptr;

TRealTimeMultiply8Bit::TRealTimeMultiply8Bit(OrbId digitizer, OrbId nowBuffer, OrbId resultBuffer)
    : TLiveWorker(digitizer, nowBuffer, resultBuffer)
{
}

TRealTimeMultiply8Bit::~TRealTimeMultiply8Bit()
{
    // The thread calls Combine: it ends before this part of the object goes.
    EndAndWait();
}

void TRealTimeMultiply8Bit::Combine(uint8_t* live, const uint8_t* start, size_t n)
{
    MultiplyFrames(live, start, n);
}

namespace {

const TLiveControlForm::Texts kMultiplyTexts = {"Real Time Multiply", "Start Multiply", "End Multiply",
                                                "Multiply Result"};

}  // namespace

TRealTimeMultiplyControlSSForm::TRealTimeMultiplyControlSSForm(QWidget* owner)
    : TLiveControlForm(owner, kMultiplyTexts, false)
{
    EndMultiplyBitBtn = EndBitBtn;
    EndMultiplyBitBtn->setObjectName("EndMultiplyBitBtn");
}

TRealTimeMultiplyControlSSForm::~TRealTimeMultiplyControlSSForm()
{
    if (RealTimeMultiplyControlSSForm == this)
        RealTimeMultiplyControlSSForm = nullptr;
}

TLiveWorker* TRealTimeMultiplyControlSSForm::MakeWorker(OrbId digitizer, OrbId nowBuffer, OrbId resultBuffer)
{
    return new TRealTimeMultiply8Bit(digitizer, nowBuffer, resultBuffer);
}
