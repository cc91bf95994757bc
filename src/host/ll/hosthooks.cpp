#include "hosthooks.h"

#include <cstdarg>
#include <cstdio>

namespace {

HlcNodeLink* NoNode(uint32_t)
{
    return nullptr;
}
int NoSetting(uint32_t, const char*, int32_t*)
{
    return -1;
}
void PrintToStderr(const char* text)
{
    std::fputs(text, stderr);
}
int NoBuffer(uint32_t, uint32_t, SysBufferInfo*)
{
    return -1;
}
uint32_t NoListBuffer(uint32_t, uint32_t, uint32_t, uint32_t**)
{
    return 0;
}
void NoFree(uint32_t, uint32_t) {}
void NoControl(uint32_t, uint32_t, int32_t, double) {}

const HlcHostHooks kDefaults = {NoNode, NoSetting, PrintToStderr, NoBuffer, NoListBuffer, NoFree, NoControl};

HlcHostHooks g_hooks = kDefaults;

} // namespace

void HlcSetHostHooks(const HlcHostHooks* hooks)
{
    g_hooks = kDefaults;
    if (!hooks) return;
    if (hooks->nodeLink) g_hooks.nodeLink = hooks->nodeLink;
    if (hooks->iniReadInt) g_hooks.iniReadInt = hooks->iniReadInt;
    if (hooks->print) g_hooks.print = hooks->print;
    if (hooks->describeBuffer) g_hooks.describeBuffer = hooks->describeBuffer;
    if (hooks->allocListBuffer) g_hooks.allocListBuffer = hooks->allocListBuffer;
    if (hooks->freeBuffer) g_hooks.freeBuffer = hooks->freeBuffer;
    if (hooks->controlBuffer) g_hooks.controlBuffer = hooks->controlBuffer;
}

const HlcHostHooks& HlcGetHostHooks()
{
    return g_hooks;
}

void HlcPrint(const char* format, ...)
{
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    g_hooks.print(text);
}
