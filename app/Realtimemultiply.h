#pragma once
// The live product control form: owns the worker thread that combines each
// camera frame with the start image, and the trio of live image windows. The main window
// makes it at start-up (owner: the main window).

#include "orb.h"

#include <QDialog>

class QThread;

class TRealTimeMultiplyControlSSForm : public QDialog {
    Q_OBJECT
public:
    explicit TRealTimeMultiplyControlSSForm(QWidget* owner = nullptr);
    ~TRealTimeMultiplyControlSSForm() override;

    // A worker thread exists (image windows refuse to close meanwhile).
    bool ThreadActive() const { return Worker != nullptr; }
    // The end button and the hide event: ends and deletes the worker (it finishes its
    // pass; nothing is written after this returns), then closes the live windows.
    void EndMultiplyBitBtnClick();
    // Closes the trio through the main window.
    void CloseLiveWindows();

    QThread* Worker = nullptr;   // owned; none while stopped
    OrbId AppId = 0, SystemId = 0, DigitizerId = 0;
    OrbId StartDisplay = 0, ResultDisplay = 0, NowDisplay = 0;
    OrbId StartBuffer = 0, ResultBuffer = 0, NowBuffer = 0;
    bool WindowsReady = false;
    bool ClosingWindows = false;

protected:
    void hideEvent(QHideEvent* event) override;

private:
    void EndWorker();
};

extern TRealTimeMultiplyControlSSForm* RealTimeMultiplyControlSSForm;
