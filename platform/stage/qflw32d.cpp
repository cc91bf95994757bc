#include "qflw32d.h"

#include "bench.h"

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <utility>

namespace {

struct Controller {
    std::mutex mutex;
    bool open = false;
    bool openFails = false;
    int32_t selected = 1;
    int32_t absolute[5] = {0, 0, 0, 0, 0};  // counts since reset, index 1-4
    int32_t home[5] = {0, 0, 0, 0, 0};      // absolute count of each axis's home
    std::vector<std::string> log;
};

Controller& controller()
{
    // Never destroyed: the stage panel sends its go-home command while the program ends.
    static Controller* c = new Controller;
    return *c;
}

bool validAxis(int32_t axis)
{
    return axis >= 1 && axis <= 4;
}

void reply(char* buffer, const char* text)
{
    if (buffer) std::snprintf(buffer, 128, "%s", text);
}

std::string format(const char* fmt, int32_t a, int32_t b = 0)
{
    char text[96];
    std::snprintf(text, sizeof text, fmt, a, b);
    return text;
}

constexpr size_t kMaxLog = 20000;

// Caller holds the lock.
void record(Controller& c, std::string entry)
{
    if (c.log.size() >= kMaxLog) c.log.erase(c.log.begin(), c.log.begin() + kMaxLog / 2);
    c.log.push_back(std::move(entry));
}

// Caller holds the lock.
void moveTo(Controller& c, int32_t axis, int32_t absolute)
{
    c.absolute[axis] = absolute;
    bench::setAxisCounts(axis, absolute);
}

}  // namespace

int16_t QflOpen()
{
    Controller& c = controller();
    std::lock_guard<std::mutex> lock(c.mutex);
    record(c, "QflOpen()");
    c.open = !c.openFails;
    return c.open ? 1 : 0;
}

int32_t QflConfigure(int32_t value)
{
    Controller& c = controller();
    std::lock_guard<std::mutex> lock(c.mutex);
    record(c, format("QflConfigure(%d)", value));
    return c.open ? 1 : 0;
}

int32_t QflInitialize()
{
    Controller& c = controller();
    std::lock_guard<std::mutex> lock(c.mutex);
    record(c, "QflInitialize()");
    return c.open ? 1 : 0;
}

int32_t QflSelectAxis(int32_t axis)
{
    Controller& c = controller();
    std::lock_guard<std::mutex> lock(c.mutex);
    record(c, format("QflSelectAxis(%d)", axis));
    if (!c.open || !validAxis(axis)) return 0;
    c.selected = axis;
    return 1;
}

int32_t QflMoveRelative(int32_t axis, int32_t counts)
{
    Controller& c = controller();
    std::lock_guard<std::mutex> lock(c.mutex);
    record(c, format("QflMoveRelative(%d, %d)", axis, counts));
    if (!c.open || !validAxis(axis)) return 0;
    // A move that would leave the counter's range is refused, not cut short.
    const int64_t target = static_cast<int64_t>(c.absolute[axis]) + counts;
    if (target > INT32_MAX || target < INT32_MIN) return 0;
    moveTo(c, axis, static_cast<int32_t>(target));
    return 1;
}

int32_t QflExecute(int32_t axis)
{
    Controller& c = controller();
    std::lock_guard<std::mutex> lock(c.mutex);
    record(c, format("QflExecute(%d)", axis));
    return c.open && validAxis(axis) ? 1 : 0;
}

int32_t QflCommand(const char* command, char* replyBuffer)
{
    Controller& c = controller();
    std::lock_guard<std::mutex> lock(c.mutex);
    const std::string text = command ? command : "";
    record(c, command ? "QflCommand(\"" + text + "\")" : std::string("QflCommand(null)"));
    if (!c.open) {
        reply(replyBuffer, "ERR not open");
        return 0;
    }
    if (text == "GH") {
        for (int a = 1; a <= 4; ++a) moveTo(c, a, c.home[a]);
        reply(replyBuffer, "OK");
        return 1;
    }
    if (text.size() == 3 && text[0] >= '1' && text[0] <= '4' && (text.substr(1) == "DH" || text.substr(1) == "GH")) {
        const int a = text[0] - '0';
        if (text[1] == 'D')
            c.home[a] = c.absolute[a];
        else
            moveTo(c, a, c.home[a]);
        reply(replyBuffer, "OK");
        return 1;
    }
    reply(replyBuffer, "ERR unknown command");
    return 0;
}

namespace qflsim {

void reset()
{
    Controller& c = controller();
    std::lock_guard<std::mutex> lock(c.mutex);
    c.open = false;
    c.openFails = false;
    c.selected = 1;
    for (int a = 1; a <= 4; ++a) {
        c.home[a] = 0;
        moveTo(c, a, 0);
    }
    c.log.clear();
}

std::vector<std::string> callLog()
{
    Controller& c = controller();
    std::lock_guard<std::mutex> lock(c.mutex);
    return c.log;
}

void clearCallLog()
{
    Controller& c = controller();
    std::lock_guard<std::mutex> lock(c.mutex);
    c.log.clear();
}

void setOpenFails(bool fails)
{
    Controller& c = controller();
    std::lock_guard<std::mutex> lock(c.mutex);
    c.openFails = fails;
}

bool isOpen()
{
    Controller& c = controller();
    std::lock_guard<std::mutex> lock(c.mutex);
    return c.open;
}

int32_t position(int axis)
{
    Controller& c = controller();
    std::lock_guard<std::mutex> lock(c.mutex);
    return validAxis(axis) ? c.absolute[axis] - c.home[axis] : 0;
}

int32_t selectedAxis()
{
    Controller& c = controller();
    std::lock_guard<std::mutex> lock(c.mutex);
    return c.selected;
}

int32_t absolutePosition(int axis)
{
    Controller& c = controller();
    std::lock_guard<std::mutex> lock(c.mutex);
    return validAxis(axis) ? c.absolute[axis] : 0;
}

}  // namespace qflsim
