// Device requests: the small interface through which the library talks to the board
// driver and the kernel service.  It takes the place of opening a device by name,
// sending it buffered control requests (completed at once or left pending and completed
// later) and closing it again.  Behind it sits the simulated board family (boardsim.h).
#pragma once

#include "hlc_arch.h"

#include <cstdint>

// Handle of an open device; kInvalidDevice when an open failed.
using DeviceHandle = int32_t;
constexpr DeviceHandle kInvalidDevice = -1;

// Error codes left by the calls below (DeviceLastError, per thread).
enum DeviceError : uint32_t {
    kDeviceErrorNone = 0,
    kDeviceErrorNotFound = 2,          // no device of that name
    kDeviceErrorInvalidHandle = 6,
    kDeviceErrorRefused = 31,          // the device refused the request
    kDeviceErrorInvalidParameter = 87, // bad sizes or arguments
    kDeviceErrorNotSupported = 50,     // unknown request code for this device
    kDeviceErrorPending = 997,         // left pending (DeviceIoControl answered kDevicePending)
    kDeviceErrorCancelled = 995,       // a pending request was cancelled
    kDeviceErrorIncomplete = 996,      // the request has not completed yet
};

// Event with manual or automatic reset, signalled when a request completes.
class DeviceEvent {
public:
    explicit DeviceEvent(bool manualReset = true, bool initiallySet = false);
    DeviceEvent(const DeviceEvent&) = delete;
    DeviceEvent& operator=(const DeviceEvent&) = delete;

    void set();
    void reset();
    bool isSet() const;
    // Waits until the event is set (an auto-reset event is reset again by the wait);
    // false after timeoutMs milliseconds (kDeviceWaitForever: no limit).
    bool wait(uint32_t timeoutMs);
    // Waits for the first of count events; returns its index, or -1 after the time-out.
    static int waitAny(DeviceEvent* const* events, int count, uint32_t timeoutMs);

private:
    friend class DeviceEventAccess;
    bool manual_;
    bool set_;
};
constexpr uint32_t kDeviceWaitForever = 0xFFFFFFFFu;

// Completion record of one request (five 32-bit words, so that it fits where a node
// record keeps its overlapped block).  The caller owns it and must keep it, and the
// request's output buffer, alive until the request has completed or been cancelled.
struct DeviceOverlapped {
    uint32_t status = 0;    // kDeviceErrorNone when done, kDeviceErrorIncomplete while pending
    uint32_t bytes = 0;     // output bytes returned on completion
    uint32_t request = 0;   // identifies the pending request (0 when none)
    uint32_t reserved = 0;
    DeviceEvent* event = nullptr; // set when the request completes (may be null)
};

enum DeviceResult : int32_t {
    kDeviceDone = 0,    // completed at once; *returned holds the output bytes
    kDevicePending = 1, // accepted and left pending (only with a completion record)
    kDeviceFailed = 2,  // refused; DeviceLastError tells why
};

DeviceHandle DeviceOpen(const char* name);
bool DeviceClose(DeviceHandle handle);

// Sends one buffered request.  Input bytes are copied before the device looks at them;
// output is written to out (at most outSize bytes) when the request completes.  Without
// a completion record the call waits for completion.  With one, the record's event is
// set on completion, including at once.
DeviceResult DeviceIoControl(DeviceHandle handle, uint32_t code, const void* in, uint32_t inSize,
                             void* out, uint32_t outSize, uint32_t* returned,
                             DeviceOverlapped* overlapped);

// Result of a request sent with a completion record: true when it completed successfully
// (returned receives the output bytes); with wait it first waits for completion.
bool DeviceGetOverlappedResult(DeviceHandle handle, DeviceOverlapped* overlapped, uint32_t* returned,
                               bool wait);

// Cancels the pending request of this completion record.  When it returns, the device no
// longer touches the request's buffers; the record then holds kDeviceErrorCancelled, or
// the result of a completion that came first.
bool DeviceCancelIo(DeviceHandle handle, DeviceOverlapped* overlapped);

uint32_t DeviceLastError();

// The own process as the devices know it (a handle passed in attach and DMA requests).
uint32_t DeviceProcessId();
uint32_t DeviceOpenOwnProcess();     // non-zero token
void DeviceCloseOwnProcess(uint32_t process);

// Working-set limits of the process and page locking of user memory.  Locked ranges are
// only recorded (the simulation keeps them for inspection); nothing is pinned for real.
void DeviceGetWorkingSet(uint32_t* minimum, uint32_t* maximum);
bool DeviceSetWorkingSet(uint32_t minimum, uint32_t maximum);
bool DeviceLockPages(const void* address, uint32_t size);
bool DeviceUnlockPages(const void* address, uint32_t size);

// Version of the installed kernel-service driver file (most and least significant words).
bool DeviceGetDriverFileVersion(uint32_t* mostSignificant, uint32_t* leastSignificant);
