// The board processor's shell (COFF): any bytes are checked and, when they pass the header
// checks, downloaded and verified into a simulated board's local RAM, never reading past
// the file or writing past local RAM.
#include "boardsim.h"
#include "driverreq.h"
#include "fuzzinput.h"
#include "shellload.h"

#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

constexpr uint32_t kNode = 0x11;
constexpr uint32_t kRam = 0x400000;
uint32_t g_ram = 0;
std::string g_named;   // the input under the shell's extension: the loader adds ".out"

void RemoveNamed()
{
    if (!g_named.empty())
        unlink(g_named.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    boardsim::BoardSim::instance().configure(boardsim::Topology{});
    const DeviceHandle device = DeviceOpen(boardsim::BoardSim::instance().boardDeviceName(0).c_str());
    if (device == kInvalidDevice ||
        !HlcDrvMap(device, nullptr, kNode, HLC_REGION_PRIMARY, kRam, 0x4000000 - kRam, &g_ram))
        std::abort();   // a set-up fault, not a finding
    unsetenv("COFFLOADOPTION");
    unsetenv("COFFPATH");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string& path = qsrf_fuzz::WriteFuzzInput(data, size);
    if (g_named.empty()) {
        g_named = path + ".out";
        if (symlink(path.c_str(), g_named.c_str()) != 0)
            std::abort();
        std::atexit(RemoveNamed);
    }
    // Messages off, forced download of every section, verified.
    const uint32_t mode = LDSHELL_MODE_QUIET | LDSHELL_MODE_FORCE | LDSHELL_MODE_ALL_SECTIONS;
    char* name = &g_named[0];
    int32_t value = 0;
    LdShellToLocalCpu(kNode, &name, mode, g_ram, kRam, &value);
    LdShellToLocalCpu(kNode, nullptr, 0, 0, 0, nullptr);   // frees the kept file name
    return 0;
}
