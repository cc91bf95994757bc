// Host-to-host buffer copy against memcpy of the same size in the same run.
//
//   HostCopy   one 8 MB 8-bit paged buffer (2048 x 4096) copied into another through the
//              node's host copy (type check, system-wide copy mutex, line copy)
//   Memcpy     memcpy of the same 8 MB between the same two memory blocks
//
// bytes_per_second is the copy rate; the goal for HostCopy is at least 0.8 of Memcpy.

#include "bufcopy.h"

#include "bufid.h"
#include "hlc_wiring.h"
#include "hosthooks.h"
#include "nodeopen.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <optional>
#include <vector>

namespace {

constexpr uint32_t kNode = 0x11;
constexpr int32_t kWidth = 2048;
constexpr int32_t kLines = 4096;
constexpr size_t kBytes = static_cast<size_t>(kWidth) * kLines;

alignas(65536) uint8_t g_arena[65536];
_NODE_MAIN_RESOURCE_ST g_record;

_NODE_MAIN_RESOURCE_ST* Resource(uint32_t node)
{
    return node == kNode ? &g_record : nullptr;
}

int32_t Arena(uint32_t, uint32_t bytes, _MP_BAND_ST* band)
{
    if (bytes > sizeof g_arena) return 0;
    band->id = 7;
    band->mapped = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(g_arena));
    band->physical = 0x10000000u;
    return 7;
}

// One listed node whose descriptors live in the arena, and two paged buffers over
// memory of the benchmark.
struct Host {
    Host() : from(kBytes, 0x5A), into(kBytes, 0)
    {
        HlcWireLibrary();
        g_record.nodeNumber = kNode;
        hooks.emplace();
        hooks->table.nodeResource = Resource;
        if (hooks->Install() != 0) return;
        mp_buf_set_descriptor_memory(Arena);
        const uint32_t a = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(from.data()));
        const uint32_t b = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(into.data()));
        source = mp_buf_create(kNode, kWidth, kLines, 1, 8, 7, kWidth, &a);
        destination = mp_buf_create(kNode, kWidth, kLines, 1, 8, 7, kWidth, &b);
    }
    ~Host()
    {
        if (source) mp_buf_free(source);
        if (destination) mp_buf_free(destination);
        mp_buf_exit_all();
        mp_buf_set_descriptor_memory(nullptr);
    }
    std::vector<uint8_t> from, into;
    std::optional<HlcBoardHookOverride> hooks;
    _MP_BUF_ST* source = nullptr;
    _MP_BUF_ST* destination = nullptr;
};

Host& TheHost()
{
    static Host host;
    return host;
}

void HostCopy(benchmark::State& state)
{
    Host& host = TheHost();
    if (!host.source || !host.destination) {
        state.SkipWithError("no host buffers");
        return;
    }
    for (auto _ : state) {
        MP_RESOURCE_ST resource{};
        if (mpBufCopySpecialHost(&resource, host.source, host.destination) != 0) {
            state.SkipWithError("the copy failed");
            return;
        }
        benchmark::ClobberMemory();
    }
    if (host.into[kBytes - 1] != 0x5A) state.SkipWithError("the copy left bytes out");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kBytes));
}

void Memcpy(benchmark::State& state)
{
    Host& host = TheHost();
    for (auto _ : state) {
        std::memcpy(host.into.data(), host.from.data(), kBytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kBytes));
}

} // namespace

BENCHMARK(HostCopy)->Unit(benchmark::kMillisecond);
BENCHMARK(Memcpy)->Unit(benchmark::kMillisecond);
