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

const HlcDisplayHooks kDefaults = {NoDisplay, NoNodeList};
HlcDisplayHooks g_hooks = kDefaults;

} // namespace

void HlcSetDisplayHooks(const HlcDisplayHooks* hooks)
{
    g_hooks = kDefaults;
    if (!hooks) return;
    if (hooks->displayLink) g_hooks.displayLink = hooks->displayLink;
    if (hooks->nodeList) g_hooks.nodeList = hooks->nodeList;
}

const HlcDisplayHooks& HlcGetDisplayHooks()
{
    return g_hooks;
}
