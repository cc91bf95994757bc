// Display calls: a display shows one buffer, zoomed, and hands it to a window's sink.
#include "orbcore.h"

#include <string>

using namespace orbcore;

namespace {
bool validZoom(OrbInt z) { return (z >= 1 && z <= 16) || (z >= -16 && z <= -1); }
}  // namespace

OrbId orbDispAlloc(OrbId systemId, OrbInt deviceNumber, const char* format, OrbInt initFlag, OrbId* displayId)
{
    Call c("orbDispAlloc", {hex(systemId), hex(uint32_t(deviceNumber)), str(format), hex(uint32_t(initFlag)), ptr(displayId)});
    if (displayId) *displayId = 0;
    if (!c.system(systemId)) return 0;
    if (deviceNumber != ORB_DEFAULT && deviceNumber != 0) {
        c.fail("Invalid device number", {"Display device number " + std::to_string(deviceNumber)});
        return 0;
    }
    if (!format || std::string(format) != "O_DEFAULT") {
        c.fail("Unsupported display format", {std::string("Format ") + str(format), "The display knows \"O_DEFAULT\""});
        return 0;
    }
    if (initFlag != ORB_DEFAULT && initFlag != 0) {
        c.fail("Invalid parameter", {"Unsupported initialisation flag " + hex(uint32_t(initFlag))});
        return 0;
    }
    if (c.allocFails(orbsim::AllocKind::Display, "display")) return 0;
    const OrbId id = c.newId();
    c.s().displays[id].system = systemId;
    if (displayId) *displayId = id;
    return id;
}

void orbDispFree(OrbId displayId)
{
    Call c("orbDispFree", {hex(displayId)});
    if (!c.display(displayId)) return;
    freeDisplay(c, displayId);
}

void orbDispShowBuffer(OrbId displayId, OrbId bufferId)
{
    Call c("orbDispShowBuffer", {hex(displayId), hex(bufferId)});
    Display* d = c.display(displayId);
    if (!d || !c.buffer(bufferId)) return;
    d->buffer = bufferId;
    c.displayChanged(displayId);
}

void orbDispSetZoom(OrbId displayId, OrbInt zoomX, OrbInt zoomY)
{
    Call c("orbDispSetZoom", {hex(displayId), dec(zoomX), dec(zoomY)});
    Display* d = c.display(displayId);
    if (!d) return;
    if (!validZoom(zoomX) || !validZoom(zoomY))
        return c.fail("Invalid parameter", {"Zoom " + std::to_string(zoomX) + ", " + std::to_string(zoomY),
                                            "Zoom factors are -16 to -1 or 1 to 16"});
    d->zoomX = zoomX;
    d->zoomY = zoomY;
    c.displayChanged(displayId);
}

void orbDispControl(OrbId displayId, OrbInt controlType, double value)
{
    Call c("orbDispControl", {hex(displayId), dec(controlType), dbl(value)});
    Display* d = c.display(displayId);
    if (!d) return;
    if (controlType != 3054)
        return c.fail("Invalid parameter", {"Unknown display control type " + std::to_string(controlType)});
    d->controls[controlType] = value;
}

void orbDispShowInWindow(OrbId displayId, OrbId bufferId, void* window)
{
    Call c("orbDispShowInWindow", {hex(displayId), hex(bufferId), ptr(window)});
    Display* d = c.display(displayId);
    if (!d || !c.buffer(bufferId)) return;
    if (!window) return c.fail("Invalid parameter", {"The window handle is null"});
    d->buffer = bufferId;
    d->window = static_cast<OrbDisplaySink*>(window);
    d->generation += 1;
    c.sinkChange({d->slot, d->window, d->generation});
    c.displayChanged(displayId);
}
