#include "sysutil.h"

#include "hosthooks.h"
#include "hwaccess.h"
#include "regmap/orlo_regs.h"
#include "w32thread.h"
#include "w32time.h"

#include <cpuid.h>

#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

namespace {

uint32_t FlagsToggle()
{
    uint32_t before = 0, after = 0;
    __asm__ __volatile__(
        "pushfl\n\t"
        "pushfl\n\t"
        "popl %0\n\t"
        "movl %0, %1\n\t"
        "xorl $0x200000, %1\n\t"
        "pushl %1\n\t"
        "popfl\n\t"
        "pushfl\n\t"
        "popl %1\n\t"
        "popfl\n\t"
        : "=&r"(before), "=&r"(after)
        :
        : "cc");
    return (before ^ after) & 0x200000u;
}

bool Leaf1(uint32_t* eax, uint32_t* edx)
{
    if (!SysCpuIdSupport()) return false;
    unsigned a = 0, b = 0, c = 0, d = 0;
    __cpuid(0, a, b, c, d);
    if (a < 1) return false;
    __cpuid(1, a, b, c, d);
    *eax = a;
    *edx = d;
    return true;
}

uint64_t ReadTimeStamp()
{
    uint32_t lo = 0, hi = 0;
    __asm__ __volatile__("rdtsc" : "=a"(lo), "=d"(hi));
    return (static_cast<uint64_t>(hi) << 32) | lo;
}

// Stores of whole words through memcpy keep the fill free of alignment assumptions.
void Store32(uint8_t* p, uint32_t v)
{
    std::memcpy(p, &v, 4);
}
void Store16(uint8_t* p, uint16_t v)
{
    std::memcpy(p, &v, 2);
}

uint32_t IntegerOf(double value)
{
    if (!(value == value)) return 0;
    if (value >= 9.2e18) return 0xFFFFFFFFu;
    if (value <= -9.2e18) return 0;
    return static_cast<uint32_t>(static_cast<int64_t>(value));
}

constexpr int kFlushPolls = 100000;

} // namespace

uint32_t SysCpuIdSupport()
{
    return FlagsToggle() ? 1u : 0u;
}

uint32_t SysCpuIdExt()
{
    uint32_t eax = 0, edx = 0;
    return Leaf1(&eax, &edx) ? (eax & 0xFFFFu) : 0u;
}

uint32_t SysCpuFeatures()
{
    uint32_t eax = 0, edx = 0;
    return Leaf1(&eax, &edx) ? edx : 0u;
}

namespace {

uint32_t MeasureCpuFreq()
{
    if (!(SysCpuFeatures() & 0x10)) return 0;
    int64_t frequency = 0, start = 0, end = 0;
    if (!QueryPerformanceFrequency(&frequency) || frequency <= 0) return 0;
    HANDLE thread = GetCurrentThread();
    const int priority = GetThreadPriority(thread);
    SetThreadPriority(thread, THREAD_PRIORITY_TIME_CRITICAL);
    const uint64_t counterStart = ReadTimeStamp();
    QueryPerformanceCounter(&start);
    volatile uint32_t loop = 10000000;
    while (loop) loop = loop - 1;
    const uint64_t counterEnd = ReadTimeStamp();
    QueryPerformanceCounter(&end);
    if (priority != THREAD_PRIORITY_ERROR_RETURN) SetThreadPriority(thread, priority);
    if (end <= start) return 0;
    const double hz = static_cast<double>(counterEnd - counterStart) * static_cast<double>(frequency) /
                      static_cast<double>(end - start);
    if (hz >= 4294967295.0) return 0xFFFFFFFFu;
    return static_cast<uint32_t>(std::lround(hz));
}

} // namespace

// The CPU does not change while the process runs: the loop is timed once and its result
// kept for every later bring-up.
uint32_t SysCpuFreq()
{
    static const uint32_t hz = MeasureCpuFreq();
    return hz;
}

int mp_util_cache_flush(uint32_t node)
{
    const HlcNodeLink* link = HlcGetHostHooks().nodeLink(node);
    if (!link || !link->boardCache || !link->primaryOrloRegs) return 0;
    HwWrite32(link->primaryOrloRegs, kOrloInterruptSet, kInterruptCacheFlush);
    for (int i = 0; i < kFlushPolls; ++i)
        if (!(HwRead32(link->primaryOrloRegs, kOrloInterruptSet) & kInterruptCacheFlush)) return 0;
    HlcPrint("Board cache flush of node 0x%02x did not complete.\n", node & 0xFF);
    return 1;
}

void im_doSwapEndians(void* buffer, uint32_t bytes)
{
    if (!buffer || bytes < 4) return;
    auto* p = static_cast<uint8_t*>(buffer);
    const uint32_t units = bytes / 8 + ((bytes & 7) ? 1u : 0u);
    for (uint32_t u = 0; u < units; ++u, p += 8) {
        for (int i = 0; i < 4; ++i) {
            const uint8_t t = p[i];
            p[i] = p[7 - i];
            p[7 - i] = t;
        }
    }
}

namespace {

uint32_t WindowAddress(uintptr_t address)
{
    return static_cast<uint32_t>(address);
}

bool InWindow(uintptr_t address)
{
    return address <= 0xFFFFFFFFu && HwIsWindowAddress(WindowAddress(address));
}

// Lines of which one side lies in a board memory window: each line goes through the
// accessor into a line buffer (swapped there) and out again, so that the board sees every
// access.
void LoadSwapStoreWindow(uintptr_t s, uintptr_t d, uint32_t bytesPerLine, uint32_t lines, int32_t sourcePitch,
                         int32_t destinationPitch, int swap)
{
    std::vector<uint8_t> line(bytesPerLine);
    const bool fromWindow = InWindow(s), toWindow = InWindow(d);
    for (uint32_t n = 0; n < lines; ++n) {
        if (fromWindow)
            HwReadBlock(WindowAddress(s), 0, line.data(), bytesPerLine);
        else
            std::memcpy(line.data(), reinterpret_cast<const void*>(s), bytesPerLine);
        for (uint32_t done = 0; swap && bytesPerLine - done >= 8; done += 8)
            for (int i = 0; i < 4; ++i) std::swap(line[done + i], line[done + 7 - i]);
        if (toWindow)
            HwWriteBlock(WindowAddress(d), 0, line.data(), bytesPerLine);
        else
            std::memcpy(reinterpret_cast<void*>(d), line.data(), bytesPerLine);
        s += static_cast<uintptr_t>(static_cast<intptr_t>(sourcePitch));
        d += static_cast<uintptr_t>(static_cast<intptr_t>(destinationPitch));
    }
}

} // namespace

void im_doLoadSwapStore(const void* source, void* destination, uint32_t bytesPerLine, uint32_t lines,
                        int32_t sourcePitch, int32_t destinationPitch, int swap)
{
    if (!source || !destination || bytesPerLine == 0 || lines == 0) return;
    auto s = reinterpret_cast<uintptr_t>(source);
    auto d = reinterpret_cast<uintptr_t>(destination);
    if (InWindow(s) || InWindow(d)) {
        LoadSwapStoreWindow(s, d, bytesPerLine, lines, sourcePitch, destinationPitch, swap);
        return;
    }
    for (uint32_t line = 0; line < lines; ++line) {
        const auto* from = reinterpret_cast<const uint8_t*>(s);
        auto* to = reinterpret_cast<uint8_t*>(d);
        uint32_t done = 0;
        if (swap) {
            for (; bytesPerLine - done >= 8; done += 8)
                for (int i = 0; i < 8; ++i) to[done + i] = from[done + 7 - i];
        } else {
            const uint32_t words = bytesPerLine / 4;
            std::memcpy(to, from, 4u * words);
            done = 4 * words;
        }
        if (done < bytesPerLine) std::memcpy(to + done, from + done, bytesPerLine - done);
        s += static_cast<uintptr_t>(static_cast<intptr_t>(sourcePitch));
        d += static_cast<uintptr_t>(static_cast<intptr_t>(destinationPitch));
    }
}

void im_doMemset(void* destination, uint32_t pixelsPerLine, uint32_t lines, int32_t pitch, double value,
                 uint32_t bytesPerPixel)
{
    if (!destination || pixelsPerLine == 0 || lines == 0) return;
    uint64_t pixels = pixelsPerLine;
    uint32_t size = bytesPerPixel;
    if (size == 0) {
        pixels = (pixels + 7) / 8;
        size = 1;
    }
    if (size != 1 && size != 2 && size != 3 && size != 4 && size != 8) return;
    const uint64_t lineBytes64 = pixels * size;
    if (lineBytes64 > 0x7FFFFFFFull) return;
    const uint32_t lineBytes = static_cast<uint32_t>(lineBytes64);
    // Board memory: one line is filled in host memory and written through the accessor.
    if (InWindow(reinterpret_cast<uintptr_t>(destination))) {
        std::vector<uint8_t> line(lineBytes);
        im_doMemset(line.data(), pixelsPerLine, 1, 0, value, bytesPerPixel);
        auto d = reinterpret_cast<uintptr_t>(destination);
        for (uint32_t n = 0; n < lines; ++n, d += static_cast<uintptr_t>(static_cast<intptr_t>(pitch)))
            HwWriteBlock(WindowAddress(d), 0, line.data(), lineBytes);
        return;
    }

    const uint32_t integer = IntegerOf(value);
    uint32_t pattern = integer;
    if (size == 1) pattern = (integer & 0xFF) * 0x01010101u;
    if (size == 2) pattern = (integer & 0xFFFF) * 0x00010001u;
    uint8_t bytes8[8];
    std::memcpy(bytes8, &value, 8);

    auto d = reinterpret_cast<uintptr_t>(destination);
    for (uint32_t line = 0; line < lines; ++line) {
        auto* p = reinterpret_cast<uint8_t*>(d);
        if (size == 3) {
            for (uint32_t i = 0; i < lineBytes; i += 3) {
                p[i] = static_cast<uint8_t>(integer);
                p[i + 1] = static_cast<uint8_t>(integer >> 8);
                p[i + 2] = static_cast<uint8_t>(integer >> 16);
            }
        } else if (size == 8) {
            for (uint32_t i = 0; i < lineBytes; i += 8) std::memcpy(p + i, bytes8, 8);
        } else {
            uint32_t i = 0;
            for (; lineBytes - i >= 4; i += 4) Store32(p + i, pattern);
            if (lineBytes - i == 2) {
                Store16(p + i, static_cast<uint16_t>(pattern));
                i += 2;
            }
            for (; i < lineBytes; ++i) p[i] = static_cast<uint8_t>(pattern >> (8 * (i & 3)));
        }
        d += static_cast<uintptr_t>(static_cast<intptr_t>(pitch));
    }
}
