#include "disphooks.h"

namespace {

HlcDisplayLink* NoDisplay(uint32_t)
{
    return nullptr;
}
uint32_t NoNodeList(uint32_t*, uint32_t)
{
    return 0;
}

constexpr HlcDisplayHooks BuiltinDisplayHooks()
{
    HlcDisplayHooks h{};
    h.displayLink = NoDisplay;
    h.nodeList = NoNodeList;
    return h;
}

constexpr HlcDisplayHooks kBuiltin = BuiltinDisplayHooks();
HlcDisplayHooks g_hooks = kBuiltin;

} // namespace

int HlcSetDisplayHooks(const HlcDisplayHooks& hooks)
{
    if (!HlcEveryMemberSet(hooks)) return -1;
    g_hooks = hooks;
    return 0;
}

const HlcDisplayHooks& HlcGetDisplayHooks()
{
    return g_hooks;
}

const HlcDisplayHooks& HlcBuiltinDisplayHooks()
{
    return kBuiltin;
}
