// The pieces of the library's wiring that stand in their own files (the display code's
// names and the ini file's names cannot meet in one file).
#pragma once

#include "disphooks.h"

#include <cstdint>

struct _NODE_MAIN_RESOURCE_ST;
struct _PCI_FOUND_DEVICE;

constexpr uint32_t kHlcNodeSlots = 256;

// The listed record of a node number (bits 8-31 ignored), null when the node is not open.
_NODE_MAIN_RESOURCE_ST* HlcListedRecord(uint32_t node);

// The calling thread's own cleared view of a node, so that a view handed out is not
// rewritten under its reader by another thread; valid until the thread's next call for
// the same node.
template <typename View>
View& HlcThreadView(uint32_t node)
{
    thread_local View views[kHlcNodeSlots];
    View& view = views[node & 0xFF];
    view = View{};
    return view;
}

// The display table over the core's node list.
HlcDisplayHooks HlcLibraryDisplayHooks();
// The display mode that a found device's board runs now.
uint32_t HlcLibraryDisplayMode(const _PCI_FOUND_DEVICE* device);
