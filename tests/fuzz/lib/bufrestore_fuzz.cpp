// Buffer files: any bytes given to imBufRestore (TIFF with fields) and to imBufLoad (raw
// and TIFF) make a buffer, fill one or are refused with an error, never read or write out
// of bounds, and a refused restore leaves no buffer behind.
#include "buffiles.h"
#include "bufchild.h"
#include "bufid.h"
#include "fuzzinput.h"
#include "heap.h"
#include "hlc_wiring.h"
#include "hosthooks.h"
#include "im_msgio.h"
#include "nodelist.h"

#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace {

constexpr uint32_t kNode = 0x11;
constexpr uint32_t kDevice = kNode << 16;
constexpr uint32_t kDescBytes = 1u << 20;

alignas(65536) uint8_t g_descArena[kDescBytes];

// The node's descriptor heap (and with it every inline buffer) lies in this arena.
int32_t ArenaMemory(uint32_t, uint32_t bytes, _MP_BAND_ST* band)
{
    if (bytes > kDescBytes) return 0;
    band->id = 7;
    band->mapped = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(g_descArena));
    band->physical = 0x10000000;
    return 7;
}

uint32_t g_gray = 0;     // 32 x 16, one band, 8 bits
uint32_t g_colour = 0;   // 32 x 16, three bands, 16 bits

// The input under a name ending in ".tif" (a second link to the input file), so that the
// TIFF search takes it as it is named.
const std::string& TiffInputPath(const std::string& input)
{
    static std::string path;
    if (path.empty()) {
        path = input + ".tif";
        ::unlink(path.c_str());
        if (::link(input.c_str(), path.c_str()) != 0) std::abort();
        std::atexit([] { ::unlink(path.c_str()); });
    }
    return path;
}

uint32_t UsedSlots()
{
    uint32_t used = 0;
    for (uint32_t s = 0; s < mp_buf_id_slots(kNode); ++s) used += mp_buf_id_slot(kNode, s) != nullptr;
    return used;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // A console pipe path too long to use keeps the console off (see ini_fuzz.cpp).
    setenv("HLCCOUT_PIPE", std::string(200, 'p').c_str(), 1);
    static _NODE_ST global{}, block{};
    imNodeSt = &global;
    HlcWireLibrary();
    // The wiring sends the files' buffer operations to the node as messages, which no
    // node of this process answers: they work on the node's descriptors here instead, as
    // in the unit tests.
    im_buf_files_set_ops(nullptr);
    if (mp_sys_insert_node(kNode, &block) != 0) std::abort();
    mp_sys_node_resource_ptr(kNode)->nodeState = &block;
    mp_buf_set_descriptor_memory(ArenaMemory);
    if (mp_buf_init(kNode, 100, 50) != 0) std::abort();
    g_gray = mp_buf_alloc_id(mp_buf_alloc_on_node(kNode, 32, 16, 1, 8, kLocInline));
    g_colour = mp_buf_alloc_id(mp_buf_alloc_on_node(kNode, 32, 16, 3, 16, kLocInline));
    if (!g_gray || !g_colour) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string& path = TiffInputPath(qsrf_fuzz::WriteFuzzInput(data, size));
    const uint32_t used = UsedSlots();
    uint32_t id = 0;
    if (imBufRestore(kDevice, path.c_str(), IM_FILE_TIFF_FIELDS, kLocInline, &id) != 0) {
        if (_MP_BUF_ST* b = mp_buf_pointer(id)) mp_buf_free(b);
    } else if (id != 0 || UsedSlots() != used) {
        std::abort();   // a failed restore left its buffer behind
    }
    imBufLoad(kDevice, path.c_str(), IM_FILE_RAW, g_gray);
    imBufLoad(kDevice, path.c_str(), IM_FILE_TIFF_FIELDS, g_gray);
    imBufLoad(kDevice, path.c_str(), IM_FILE_TIFF, g_colour);
    // Fields put by the loads would fill the descriptor heap over many inputs.
    for (const uint32_t held : {g_gray, g_colour}) {
        _MP_BUF_ST* b = mp_buf_pointer(held);
        while (_MP_FIELD_ST* f = mp_buf_field(b)) mp_buf_remove_field(b, f->key);
    }
    im_msg_reset_application();
    return 0;
}
