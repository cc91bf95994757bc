#pragma once
// The live difference and product: the combine kernels, the worker thread that runs
// grab -> read -> combine -> write until it is told to end, and the control form both
// live forms are made of.
//
// Pausing never stops the worker inside a library call: the worker rests between two
// passes while its pause count is above 0. Suspend returns only once the worker rests (or
// has ended), so the caller may then change the "Now" buffer and the start image without
// racing a pass; the count lets a reload done while paused leave the worker paused.
// Ending wakes a resting worker and waits for the end of its pass: once Terminate and
// wait have returned, the worker writes nothing any more.
//
// An exception inside the worker ends it; its message is handed to the GUI thread and
// shown there by the application's default handler.

#include "orb.h"

#include <QDialog>
#include <QString>
#include <QThread>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

class QHideEvent;
class QPushButton;

// live[k] := |live[k] - start[k]| for k < n.
void SubtractFrames(uint8_t* live, const uint8_t* start, size_t n);
// live[k] := the square root of live[k] * start[k], rounded half up, for k < n.
void MultiplyFrames(uint8_t* live, const uint8_t* start, size_t n);

// The message of a worker whose arrays cannot be had.
extern const char* const kNoMemoryMessage;     // " No memory can allocate "
// The message of a worker asked to combine buffers that do not hold one byte per pixel.
extern const char* const kNot8BitMessage;

class TLiveWorker : public QThread {
    Q_OBJECT
public:
    // Takes the size of nowBuffer and reads the start image from resultBuffer. Raises
    // EAppError (kNoMemoryMessage) when the arrays cannot be had, and (kNot8BitMessage)
    // when the buffers are not 8-bit. The thread is not started: start() it once made.
    TLiveWorker(OrbId digitizer, OrbId nowBuffer, OrbId resultBuffer);
    // Ends the thread (see Terminate) and waits for it.
    ~TLiveWorker() override;

    // Pause count + 1; returns once the worker rests between passes or has ended.
    void Suspend();
    // Pause count - 1 (not below 0); at 0 the passes go on.
    void Resume();
    int PauseCount() const;
    // Sets the terminate flag and wakes a resting worker; the current pass is finished.
    void Terminate();
    // StartPixels := the "Now" buffer; the worker rests meanwhile.
    void ReloadStartImage();
    // Terminate, then waits for the thread to end. Derived workers call it in their
    // destructors, before their part of the object goes.
    void EndAndWait();
    // Passes run so far.
    uint64_t Passes() const;
    // The worker has left its loop (ended or failed).
    bool Finished() const;

    const OrbId ResultBuffer;
    const OrbId NowBuffer;
    const OrbId DigitizerId;
    std::vector<uint8_t> LivePixels;    // the frame just grabbed, then the result
    std::vector<uint8_t> StartPixels;   // the start image
    int32_t Width = 0, Height = 0;      // size of NowBuffer

protected:
    void run() override;
    // One frame's combination, in place into live.
    virtual void Combine(uint8_t* live, const uint8_t* start, size_t n) = 0;

private:
    void Pass();

    mutable std::mutex mutex_;
    std::condition_variable wake_;      // the worker waits here while paused
    std::condition_variable rested_;    // Suspend waits here for the worker to rest
    int pauseCount_ = 0;
    bool terminated_ = false;
    bool resting_ = false;
    bool finished_ = false;
    uint64_t passes_ = 0;
};

// The control form of a live difference or product (see the two units that make one).
// The start button's caption is the state: the start text = stopped, "Pause" = running,
// "Resume" = paused.
class TLiveControlForm : public QDialog {
    Q_OBJECT
public:
    struct Texts {
        const char* Caption;         // "Real Time Subtract"
        const char* StartCaption;    // "Start Subtract"
        const char* EndCaption;      // "End Subtract"
        const char* ResultTitle;     // "Subtract Result"
    };
    // cancelStops: a cancelled buffer dialog stops the start quietly (difference form);
    // otherwise the ids stay 0 and the start reports the allocation error (product form).
    TLiveControlForm(QWidget* owner, const Texts& texts, bool cancelStops);
    ~TLiveControlForm() override;

    // A worker thread exists (image windows refuse to close meanwhile).
    bool ThreadActive() const { return Worker != nullptr; }

    // The trio through the main window; false when the buffer dialog was cancelled and
    // the form stops there. Raises EAppError "Allocate Display Window Error!, You Should
    // Close some. " when any id is 0.
    bool MakeLiveWindows();
    // Closes the trio through the main window.
    void CloseLiveWindows();

    QPushButton* StartSubtractBitBtn = nullptr;   // the same name on both forms
    QPushButton* EndBitBtn = nullptr;             // disabled at first
    QPushButton* RegetStartImageBitBtn = nullptr; // "Re-get Start Image", disabled at first
    QPushButton* ReLoadStartImageBitBtn = nullptr;// "ReLoad Start Image", disabled at first

    QThread* Worker = nullptr;   // owned; none while stopped (a TLiveWorker when made here)
    OrbId AppId = 0, SystemId = 0, DigitizerId = 0;
    OrbId StartDisplay = 0, ResultDisplay = 0, NowDisplay = 0;
    OrbId StartBuffer = 0, ResultBuffer = 0, NowBuffer = 0;
    bool WindowsReady = false;
    bool ClosingWindows = false;
    // The "Start" window runs the camera (after "Re-get Start Image").
    bool StartLive = false;

    // The worker as made by this form, or null.
    TLiveWorker* LiveWorker() const;

    // ---- handlers ----
    void StartBitBtnClick();
    void EndBitBtnClick();
    void RegetStartImageBitBtnClick();
    void ReLoadStartImageBitBtnClick();

protected:
    void hideEvent(QHideEvent* event) override;
    virtual TLiveWorker* MakeWorker(OrbId digitizer, OrbId nowBuffer, OrbId resultBuffer) = 0;

private:
    void EndWorker();
    void SetButtonsEnabled(bool on);

    Texts texts_;
    bool cancelStops_;
};

// Texts of the live units.
extern const char* const kLivePauseCaption;    // "Pause"
extern const char* const kLiveResumeCaption;   // "Resume"
extern const char* const kAllocateWindowsError;
extern const char* const kRestartMessage;      // " Click Start Subtract button to restart."
