// Device requests over the simulated driver and service: open by name, send buffered
// requests, pend and complete them, cancel them; completion events; process memory state.
#include "device.h"
#include "simcore.h"
#include "spinwait.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <vector>

using boardsim::DeviceKind;
using boardsim::OpenDevice;
using boardsim::Outcome;
using boardsim::PendingRequest;
using boardsim::SimState;

namespace {

thread_local uint32_t t_lastError = kDeviceErrorNone;

// One lock and one condition for every event and completion record: waits on several
// events at once stay simple, and nothing here is contended.
std::mutex& EventMutex()
{
    static std::mutex* m = new std::mutex;
    return *m;
}
std::condition_variable& EventCondition()
{
    static std::condition_variable* c = new std::condition_variable;
    return *c;
}

// Who sleeps on the condition (guarded by the event lock): the events that waits are
// watching, once per watching wait, and the number of threads waiting for a completion
// record.  A change that none of them is waiting for wakes nobody: a node's interrupt
// thread, always waiting for its next words, is not woken by every request that the
// other threads complete at once.
std::vector<const DeviceEvent*>& WatchedEvents()
{
    static std::vector<const DeviceEvent*>* events = new std::vector<const DeviceEvent*>;
    return *events;
}
int g_recordWaiters = 0;

bool Watched(const DeviceEvent* event)
{
    if (g_recordWaiters > 0) return true;
    if (!event) return false;
    const std::vector<const DeviceEvent*>& events = WatchedEvents();
    return std::find(events.begin(), events.end(), event) != events.end();
}

// Marks the events of one wait as watched while it lives.
class Watching {
public:
    Watching(DeviceEvent* const* events, int count) : events_(events), count_(count)
    {
        for (int i = 0; i < count_; ++i)
            if (events_[i]) WatchedEvents().push_back(events_[i]);
    }
    ~Watching()
    {
        std::vector<const DeviceEvent*>& watched = WatchedEvents();
        for (int i = 0; i < count_; ++i) {
            if (!events_[i]) continue;
            auto it = std::find(watched.begin(), watched.end(), events_[i]);
            if (it != watched.end()) watched.erase(it);
        }
    }
    Watching(const Watching&) = delete;
    Watching& operator=(const Watching&) = delete;

private:
    DeviceEvent* const* events_;
    int count_;
};

// Wakes every wait on the events and completion records; their state was changed under
// the event lock before.
void WakeEventWaiters()
{
    EventCondition().notify_all();
}

bool WaitUntil(std::unique_lock<std::mutex>& lock, uint32_t timeoutMs, const std::function<bool()>& ready)
{
    if (timeoutMs == kDeviceWaitForever) {
        EventCondition().wait(lock, ready);
        return true;
    }
    return EventCondition().wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
}

bool SameName(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

const char kListName[] = "\\\\.\\HALCYRA";
const char kServiceName[] = "\\\\.\\QVLSERVICE0";

} // namespace

// Lets the completion code set an event while it already holds the event lock.
class DeviceEventAccess {
public:
    static void setLocked(DeviceEvent* event, bool value) { event->set_ = value; }
};

// ---------------------------------------------------------------- events

DeviceEvent::DeviceEvent(bool manualReset, bool initiallySet) : manual_(manualReset), set_(initiallySet) {}

void DeviceEvent::set()
{
    std::lock_guard<std::mutex> lock(EventMutex());
    set_ = true;
    if (Watched(this)) EventCondition().notify_all();
}

void DeviceEvent::reset()
{
    std::lock_guard<std::mutex> lock(EventMutex());
    set_ = false;
}

bool DeviceEvent::isSet() const
{
    std::lock_guard<std::mutex> lock(EventMutex());
    return set_;
}

bool DeviceEvent::wait(uint32_t timeoutMs)
{
    DeviceEvent* self = this;
    return waitAny(&self, 1, timeoutMs) == 0;
}

int DeviceEvent::waitAny(DeviceEvent* const* events, int count, uint32_t timeoutMs)
{
    if (timeoutMs != 0) boardsim::ReleaseMachineTime();   // before the event lock: it nests inside the machine lock
    std::unique_lock<std::mutex> lock(EventMutex());
    int which = -1;
    auto ready = [&] {
        for (int i = 0; i < count; ++i)
            if (events[i] && events[i]->set_) {
                which = i;
                return true;
            }
        return false;
    };
    bool ok = ready();
    if (!ok && timeoutMs != 0) {
        // A completion that comes within a few microseconds is taken without sleeping.
        lock.unlock();
        spinwait::SpinUntil([&] {
            std::lock_guard<std::mutex> look(EventMutex());
            return ready();
        });
        lock.lock();
        ok = ready();   // another wait may have taken an auto-reset event meanwhile
    }
    if (!ok) {
        Watching watching(events, count);
        ok = WaitUntil(lock, timeoutMs, ready);
    }
    if (!ok) return -1;
    if (!events[which]->manual_) events[which]->set_ = false;
    return which;
}

// ---------------------------------------------------------------- completion

namespace boardsim {

void SimState::complete(PendingRequest& request, uint32_t status, uint32_t bytes)
{
    bytes = std::min(bytes, request.outSize);
    if (status == kDeviceErrorNone && bytes && request.out) std::memcpy(request.out, request.buffer.data(), bytes);
    std::lock_guard<std::mutex> lock(EventMutex());
    if (request.overlapped) {
        request.overlapped->bytes = status == kDeviceErrorNone ? bytes : 0;
        request.overlapped->status = status;
        request.overlapped->request = 0;
        if (request.overlapped->event) DeviceEventAccess::setLocked(request.overlapped->event, true);
    }
    if (Watched(request.overlapped ? request.overlapped->event : nullptr) && !DeferWakeup(&WakeEventWaiters))
        EventCondition().notify_all();
}

} // namespace boardsim

// ---------------------------------------------------------------- devices

DeviceHandle DeviceOpen(const char* name)
{
    if (!name) {
        t_lastError = kDeviceErrorInvalidParameter;
        return kInvalidDevice;
    }
    SimState& s = SimState::get();
    std::lock_guard<boardsim::MachineMutex> lock(s.mutex);
    const std::string wanted(name);
    OpenDevice device;
    device.name = wanted;
    device.generation = s.generation;
    bool found = false;
    if (s.m().topology.service.present && SameName(wanted, kServiceName)) {
        device.kind = DeviceKind::Service;
        found = true;
    } else if (s.m().topology.driverPresent && SameName(wanted, kListName)) {
        device.kind = DeviceKind::BoardList;
        found = true;
    } else if (s.m().topology.driverPresent && wanted.size() > std::strlen(kListName) &&
               SameName(wanted.substr(0, std::strlen(kListName)), kListName)) {
        const std::string suffix = wanted.substr(std::strlen(kListName));
        if (suffix.size() <= 6 && std::all_of(suffix.begin(), suffix.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); })) {
            const uint32_t value = static_cast<uint32_t>(std::stoul(suffix, nullptr, 16));
            for (const auto& b : s.m().boards)
                if (b->suffix() == value && b->kind() != 0) {
                    device.kind = DeviceKind::Node;
                    device.board = b->index;
                    found = true;
                    break;
                }
        }
    }
    if (!found) {
        t_lastError = kDeviceErrorNotFound;
        return kInvalidDevice;
    }
    const DeviceHandle handle = s.nextHandle++;
    s.devices[handle] = device;
    t_lastError = kDeviceErrorNone;
    return handle;
}

bool DeviceClose(DeviceHandle handle)
{
    SimState& s = SimState::get();
    std::lock_guard<boardsim::MachineMutex> lock(s.mutex);
    auto it = s.devices.find(handle);
    if (it == s.devices.end()) {
        t_lastError = kDeviceErrorInvalidHandle;
        return false;
    }
    for (auto p = s.pending.begin(); p != s.pending.end();) {
        if (p->handle == handle) {
            s.complete(*p, kDeviceErrorCancelled, 0);
            p = s.pending.erase(p);
        } else {
            ++p;
        }
    }
    s.devices.erase(it);
    return true;
}

DeviceResult DeviceIoControl(DeviceHandle handle, uint32_t code, const void* in, uint32_t inSize, void* out,
                             uint32_t outSize, uint32_t* returned, DeviceOverlapped* overlapped)
{
    SimState& s = SimState::get();
    DeviceOverlapped local;
    DeviceEvent localEvent(true, false);
    DeviceOverlapped* record = overlapped;
    if (!record) {
        local.event = &localEvent;
        record = &local;
    }
    {
        boardsim::AccessLock lock(s);
        auto it = s.devices.find(handle);
        if (it == s.devices.end() ||
            (it->second.kind != DeviceKind::Service && it->second.generation != s.generation)) {
            t_lastError = kDeviceErrorInvalidHandle;
            return kDeviceFailed;
        }
        if ((inSize && !in) || (outSize && !out) || inSize > 0x100000 || outSize > 0x100000) {
            t_lastError = kDeviceErrorInvalidParameter;
            return kDeviceFailed;
        }
        OpenDevice& device = it->second;
        s.m().clock->spend(boardsim::kRequestNanos);   // the bus time of the request
        if (s.m().logRequests) {
            boardsim::RequestRecord r;
            r.device = device.name;
            r.code = code;
            r.input.assign(static_cast<const uint8_t*>(in), static_cast<const uint8_t*>(in) + inSize);
            r.outSize = outSize;
            s.m().requestLog.push_back(std::move(r));
        }
        auto failing = s.m().failing.find(code);
        if (failing != s.m().failing.end() && failing->second != 0) {
            if (failing->second > 0) --failing->second;
            t_lastError = kDeviceErrorRefused;
            return kDeviceFailed;
        }
        PendingRequest request;
        request.handle = handle;
        request.code = code;
        request.buffer.assign(std::max(inSize, outSize), 0);
        if (inSize) std::memcpy(request.buffer.data(), in, inSize);
        request.inSize = inSize;
        request.out = out;
        request.outSize = outSize;
        request.overlapped = record;

        Outcome outcome = Outcome::Pending;
        uint32_t bytes = 0;
        if (s.m().holding.count(code)) {
            request.held = true;
        } else if (device.kind == DeviceKind::Service) {
            outcome = s.m().serviceRequest(device, code, request.buffer, inSize, outSize, bytes);
        } else {
            outcome = s.m().driverRequest(device, code, request.buffer, inSize, outSize, bytes);
        }
        switch (outcome) {
        case Outcome::Done:
            s.complete(request, kDeviceErrorNone, bytes);
            if (returned) *returned = std::min(bytes, outSize);
            t_lastError = kDeviceErrorNone;
            return kDeviceDone;
        case Outcome::Pending:
            request.id = s.nextRequestId++;
            {
                std::lock_guard<std::mutex> ev(EventMutex());
                record->status = kDeviceErrorIncomplete;
                record->bytes = 0;
                record->request = request.id;
                if (record->event) DeviceEventAccess::setLocked(record->event, false);
            }
            s.pending.push_back(std::move(request));
            break;
        case Outcome::Unsupported:
            t_lastError = kDeviceErrorNotSupported;
            return kDeviceFailed;
        case Outcome::BadParameter:
            t_lastError = kDeviceErrorInvalidParameter;
            return kDeviceFailed;
        case Outcome::Refused:
            t_lastError = kDeviceErrorRefused;
            return kDeviceFailed;
        }
    }
    if (overlapped) {
        t_lastError = kDeviceErrorPending;
        return kDevicePending;
    }
    // Without a completion record the caller waits for the request here.
    uint32_t bytes = 0;
    if (!DeviceGetOverlappedResult(handle, &local, &bytes, true)) return kDeviceFailed;
    if (returned) *returned = bytes;
    return kDeviceDone;
}

bool DeviceGetOverlappedResult(DeviceHandle, DeviceOverlapped* overlapped, uint32_t* returned, bool wait)
{
    if (!overlapped) {
        t_lastError = kDeviceErrorInvalidParameter;
        return false;
    }
    if (wait) boardsim::ReleaseMachineTime();
    std::unique_lock<std::mutex> lock(EventMutex());
    if (wait && overlapped->status == kDeviceErrorIncomplete) {
        ++g_recordWaiters;
        WaitUntil(lock, kDeviceWaitForever, [&] { return overlapped->status != kDeviceErrorIncomplete; });
        --g_recordWaiters;
    }
    if (overlapped->status != kDeviceErrorNone) {
        t_lastError = overlapped->status;
        return false;
    }
    if (returned) *returned = overlapped->bytes;
    t_lastError = kDeviceErrorNone;
    return true;
}

bool DeviceCancelIo(DeviceHandle handle, DeviceOverlapped* overlapped)
{
    SimState& s = SimState::get();
    std::lock_guard<boardsim::MachineMutex> lock(s.mutex);
    for (auto p = s.pending.begin(); p != s.pending.end(); ++p) {
        if (p->handle == handle && p->overlapped == overlapped) {
            s.complete(*p, kDeviceErrorCancelled, 0);
            s.pending.erase(p);
            return true;
        }
    }
    t_lastError = kDeviceErrorNotFound;
    return false;
}

uint32_t DeviceLastError()
{
    return t_lastError;
}

// ---------------------------------------------------------------- process

uint32_t DeviceProcessId()
{
    return static_cast<uint32_t>(getpid());
}

uint32_t DeviceOpenOwnProcess()
{
    return 0x7E000000u | (DeviceProcessId() & 0xFFFFFu);
}

void DeviceCloseOwnProcess(uint32_t) {}

void DeviceGetWorkingSet(uint32_t* minimum, uint32_t* maximum)
{
    SimState& s = SimState::get();
    std::lock_guard<boardsim::MachineMutex> lock(s.mutex);
    if (minimum) *minimum = s.m().workingSetMin;
    if (maximum) *maximum = s.m().workingSetMax;
}

bool DeviceSetWorkingSet(uint32_t minimum, uint32_t maximum)
{
    SimState& s = SimState::get();
    std::lock_guard<boardsim::MachineMutex> lock(s.mutex);
    if (minimum > maximum || minimum < 0x5000) {
        t_lastError = kDeviceErrorInvalidParameter;
        return false;
    }
    s.m().workingSetMin = minimum;
    s.m().workingSetMax = maximum;
    return true;
}

namespace {
uint32_t PageSpan(const void* address, uint32_t size)
{
    const uint64_t a = reinterpret_cast<uintptr_t>(address);
    const uint64_t first = a & ~0xFFFull;
    const uint64_t last = (a + size - 1) & ~0xFFFull;
    return static_cast<uint32_t>(last - first + 0x1000);
}
} // namespace

// Locked pages count against the working-set minimum, as the system would enforce.
bool DeviceLockPages(const void* address, uint32_t size)
{
    SimState& s = SimState::get();
    std::lock_guard<boardsim::MachineMutex> lock(s.mutex);
    if (!address || size == 0) {
        t_lastError = kDeviceErrorInvalidParameter;
        return false;
    }
    uint64_t total = PageSpan(address, size);
    for (const auto& r : s.m().locked) total += PageSpan(reinterpret_cast<const void*>(static_cast<uintptr_t>(r.first)), r.second);
    if (total > s.m().workingSetMin) {
        t_lastError = kDeviceErrorRefused;
        return false;
    }
    s.m().locked.emplace(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(address)), size);
    return true;
}

bool DeviceUnlockPages(const void* address, uint32_t size)
{
    SimState& s = SimState::get();
    std::lock_guard<boardsim::MachineMutex> lock(s.mutex);
    const uint32_t a = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(address));
    auto range = s.m().locked.equal_range(a);
    for (auto it = range.first; it != range.second; ++it)
        if (it->second == size) {
            s.m().locked.erase(it);
            return true;
        }
    t_lastError = kDeviceErrorNotFound;
    return false;
}

bool DeviceGetDriverFileVersion(uint32_t* mostSignificant, uint32_t* leastSignificant)
{
    SimState& s = SimState::get();
    std::lock_guard<boardsim::MachineMutex> lock(s.mutex);
    if (!s.m().topology.service.present) {
        t_lastError = kDeviceErrorNotFound;
        return false;
    }
    if (mostSignificant) *mostSignificant = s.m().topology.service.driverVersionMs;
    if (leastSignificant) *leastSignificant = s.m().topology.service.driverVersionLs;
    return true;
}
