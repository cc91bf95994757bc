// System and application exports.
#include "imsys.h"

#include "consolepipe.h"
#include "hlc_errors.h"
#include "halcyraini.h"
#include "hwlock.h"
#include "im_param.h"
#include "nodeinit.h"
#include "nodelist.h"
#include "nodeopen.h"
#include "regularfile.h"
#include "task.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <set>

namespace {

// A ring that claims more slots than a slot index can name is not dumped beyond its header.
constexpr uint32_t kMaxRingSlots = 0xFFFF;

// ---- ini data ---------------------------------------------------------------------------

// The ini data to count over: as read, or with the [Node] sections rewritten from the
// boards found when there is no data, when AutoRescanIni is 2 or more, or when it is 1 and
// the sections do not fit the boards.  Every inquiry decides afresh from the data it reads
// (a rewrite leaves AutoRescanIni 0 only in the data it loaded).  Null when nothing usable
// can be had.
_HALCYRA_INI_ST* IniForInquiry()
{
    _HALCYRA_INI_ST* ini = HalcyraIniGetFile(0);
    const uint32_t rescan = ini ? ini->AutoRescanIni : 0;
    bool rewrite = ini == nullptr || rescan >= 2;
    if (rescan == 1) rewrite = HalcyraIniCheckIfNodesMatch(0, 1, nullptr, nullptr) != 1;
    if (!rewrite) return ini;
    ini = HalcyraIniSetNode();
    return ini ? ini : HalcyraIniSt;
}

// The system of a record's NodeId (bits 4-7 less one); -1 for a NodeId without one.
int32_t SystemOf(const _HALCYRA_INI_ST* r)
{
    return static_cast<int32_t>((r->NodeId >> 4) & 15) - 1;
}

int32_t NodeTable(const _HALCYRA_INI_ST* ini)
{
    uint32_t records = 0;
    for (const _HALCYRA_INI_ST* r = ini->Next; r; r = r->Next) ++records;
    const size_t bytes = (records + 1) * kSysNodeTableWords * sizeof(uint32_t);
    auto* table = static_cast<uint32_t*>(std::malloc(bytes));
    if (!table) return 0;
    std::memset(table, 0, bytes);
    uint32_t* w = table;
    for (const _HALCYRA_INI_ST* r = ini->Next; r; r = r->Next, w += kSysNodeTableWords) {
        w[0] = static_cast<uint32_t>(SystemOf(r));
        w[1] = (r->NodeId & 15) - 1;
        w[2] = r->NodeId;
        w[3] = r->ProductId;
        w[4] = r->GrabModulePresent;
        w[5] = r->ExtModuleType;
    }
    return static_cast<int32_t>(reinterpret_cast<uintptr_t>(table));
}

int32_t Inquire(int32_t system, int32_t type)
{
    if (type < IM_SYS_NODES || type > IM_SYS_NODE_TABLE) return 0;
    const _HALCYRA_INI_ST* ini = IniForInquiry();
    if (!ini) return 0;
    if (type == IM_SYS_NODE_TABLE) return NodeTable(ini);
    if (type == IM_SYS_SYSTEMS) {
        std::set<int32_t> systems;
        for (const _HALCYRA_INI_ST* r = ini->Next; r; r = r->Next)
            if (SystemOf(r) >= 0) systems.insert(SystemOf(r));
        return static_cast<int32_t>(systems.size());
    }
    int32_t count = 0;
    for (const _HALCYRA_INI_ST* r = ini->Next; r; r = r->Next) {
        if (system < 0 || SystemOf(r) != system) continue;
        if (type == IM_SYS_NODES || (type == IM_SYS_DIGITIZERS && r->GrabModulePresent != 0) ||
            (type == IM_SYS_DISPLAYS && r->DisplayMode != IM_NONE))
            ++count;
    }
    return count;
}

// ---- application state --------------------------------------------------------------------

void CopyText(char* to, const char* from, size_t size)
{
    const size_t n = from ? strnlen(from, size - 1) : 0;
    if (n) std::memcpy(to, from, n);
    to[n] = 0;
}

// Each application call first makes the library's global state (the time-out table and
// the node state) when it does not exist yet, as the first open would: an error filed
// after the call is not wiped by that open, and a time-out set is the table's.
// Mend: the global start-up cleared the last-error record, so a call made after a failed
// open or the last close lost the error it was to report; the record is kept.
void MakeGlobalState()
{
    if (imNodeSt) return;
    TaskBeginMutex();
    _APPLICATION_ST& app = im_Application;
    const int32_t code = app.error.code;
    const uint32_t node = app.error.node;
    char message[sizeof app.messageBuffer], function[sizeof app.functionBuffer];
    CopyText(message, app.error.message, sizeof message);
    CopyText(function, app.error.function, sizeof function);
    const bool made = !imNodeSt && mp_init_halcyra(0) == 0;
    if (made && code != 0) {
        app.error.code = code;
        app.error.node = node;
        CopyText(app.messageBuffer, message, sizeof app.messageBuffer);
        CopyText(app.functionBuffer, function, sizeof app.functionBuffer);
    }
    TaskEndMutex();
}

} // namespace

// ---- system ---------------------------------------------------------------------------------

int32_t imSysInquire(int32_t system, int32_t type, void* out)
try {
    const int32_t value = Inquire(system, type);
    if (out) std::memcpy(out, &value, 4);
    return value;
}
HLC_EXPORT_CATCH(imSysInquire)

double imSysClock(uint32_t thread, double start)
try {
    _MSG_ST msg{};
    im_msg_start(&msg, kOpSysClock, 1, "imSysClock");
    im_msg_put_double(&msg, 0, start);
    im_msg_send(&msg, 0, thread, 0, IM_SYNC_POLL);
    const double value = im_msg_get_double(&msg, 0);
    im_msg_end(&msg);
    return value;
}
HLC_EXPORT_CATCH(imSysClock)

int32_t imSysTimeStamp(uint32_t thread, uint32_t buffer, uint32_t key, double start)
try {
    _MSG_ST msg{};
    im_msg_start(&msg, kOpSysTimeStamp, 3, "imSysTimeStamp");
    im_msg_put_long(&msg, 0, static_cast<int32_t>(buffer));
    im_msg_put_long(&msg, 1, static_cast<int32_t>(key));
    im_msg_put_double(&msg, 2, start);
    im_msg_send(&msg, 0, thread, 0, IM_SYNC_NOWAIT);
    const int32_t error = im_msg_cmd_error(&msg);
    im_msg_end(&msg);
    return error;
}
HLC_EXPORT_CATCH(imSysTimeStamp)

int32_t imSysGetMemoryMap(uint32_t thread, int32_t mode, void* out)
try {
    _MSG_ST msg{};
    im_msg_start(&msg, kOpGetMemoryMap, 2, "GetMemoryMap");
    im_msg_put_long(&msg, 0, 0);
    im_msg_put_long(&msg, 1, mode);
    im_msg_send(&msg, 0, thread, 0, IM_SYNC_POLL);
    // A reply without values leaves the sent parameters in the slots.
    const int32_t first = im_msg_get_long(&msg, 0);
    const int32_t second = mode == 2 || mode == 3 ? im_msg_get_long(&msg, 1) : -1;
    im_msg_end(&msg);
    if (out) std::memcpy(out, &first, 4);
    return second;
}
HLC_EXPORT_CATCH(imSysGetMemoryMap)

int32_t im_sys_diag_dump(int32_t system, int32_t board, int32_t mode, const char* path)
{
    if (mode != 0) return 0;
    const uint32_t node = ((static_cast<uint32_t>(system + 1) << 4) & 0xF0) + (static_cast<uint32_t>(board + 1) & 15);
    const _NODE_MAIN_RESOURCE_ST* record = mp_core_node_record(node);
    if (!record || !record->ringHeader) {
        im_print_msg(0, "Unable to retrieve communication buffer information\n");
        return 0;
    }
    if (!path) return 0;
    // A link is not followed onto another file, and a pipe or device does not hold the
    // call: only a regular file at the path itself is written.
    FILE* file = qsrf::OpenDiagnosticFile(path);
    if (!file) {
        im_print_msg(0, "Error opening dump file\n");
        return HLC_ERR_FILE_ACCESS;
    }
    uint8_t header[kMsgRingHeaderBytes];
    RingReadBlock(record->ringHeader, header, sizeof header);
    bool written = std::fwrite(header, sizeof header, 1, file) == 1;
    uint32_t slots = 0;
    std::memcpy(&slots, header + 4 * kRingSlots, 4);
    if (slots > kMaxRingSlots || !record->commRing) slots = 0;
    uint8_t slot[kMsgSlotBytes];
    for (uint32_t i = 0; i < slots && written; ++i) {
        RingReadBlock(RingSlotAddress(record->commRing, i), slot, sizeof slot);
        written = std::fwrite(slot, sizeof slot, 1, file) == 1;
    }
    if (std::fclose(file) != 0) written = false;
    if (!written) {
        im_print_msg(0, "Error opening dump file\n");
        return HLC_ERR_FILE_ACCESS;
    }
    im_print_msg(0, "Communication state just dump in file '%s'\n", path);
    return 0;
}

void imSysDiag(int32_t system, int32_t board, int32_t mode, const char* path)
try {
    // Mend: a dump that could not be written was told to the console only, not to the error record.
    const int32_t code = im_sys_diag_dump(system, board, mode, path);
    if (code == 0) return;
    _MSG_ST msg{};
    im_msg_start(&msg, 0, 0, "imSysDiag");
    im_msg_log_error(&msg, code, kSysDiagFileError);
    im_msg_end(&msg);
}
HLC_EXPORT_CATCH(imSysDiag)

// ---- application ----------------------------------------------------------------------------

void imAppCatchError(uint32_t, ImErrorHook hook, uint32_t user)
try {
    MakeGlobalState();
    TaskBeginMutex();
    im_Application.hook = hook;
    im_Application.hookUser = user;
    TaskEndMutex();
}
HLC_EXPORT_CATCH(imAppCatchError)

void imAppControl(int32_t type, double value)
try {
    MakeGlobalState();
    if (type != IM_APP_TIMEOUT) return;
    if (value == 0.0 || value == -1.0) value = kAppTimeoutForever;
    // Mend: any other negative or undefined time-out would end every wait at once; it is
    // refused with -8 and the time-out in force stays.
    if (!(value > 0.0)) {
        _MSG_ST msg{};
        im_msg_start(&msg, 0, 0, "imAppControl");
        im_msg_log_error(&msg, HLC_ERR_INVALID_PARAMETER, nullptr);
        im_msg_end(&msg);
        return;
    }
    mp_app_choose_comm_timeout(value);
}
HLC_EXPORT_CATCH(imAppControl)

int32_t imAppInquire(int32_t type, void* out)
try {
    MakeGlobalState();
    if (type != IM_APP_TIMEOUT) return 0;
    const double value = mp_app_comm_timeout_in_force();
    if (out) std::memcpy(out, &value, sizeof value);
    if (!(value < static_cast<double>(std::numeric_limits<int32_t>::max()))) return std::numeric_limits<int32_t>::max();
    if (value <= static_cast<double>(std::numeric_limits<int32_t>::min())) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}
HLC_EXPORT_CATCH(imAppInquire)

int32_t imAppGetError(int32_t mode, void* out)
try {
    MakeGlobalState();
    TaskBeginMutex();
    _APPLICATION_ST& app = im_Application;
    if (!app.error.function) app.error.function = app.functionBuffer;
    if (!app.error.message) app.error.message = app.messageBuffer;
    const int32_t code = app.error.code;
    if (out && code == 0) {
        std::memset(out, 0, 4);
    } else if (out) {
        char message[sizeof app.messageBuffer], function[sizeof app.functionBuffer];
        CopyText(message, app.error.message, sizeof message);
        CopyText(function, app.error.function, sizeof function);
        switch (mode & ~1) {
        case 2: std::memcpy(out, &code, 4); break;
        case 4: std::memcpy(out, message, std::strlen(message) + 1); break;
        case 8: std::memcpy(out, function, std::strlen(function) + 1); break;
        case 12:
            std::snprintf(static_cast<char*>(out), kMsgErrorTextBytes, "Error in %s():\n<%s>", function, message);
            break;
        default: break;
        }
    }
    if (mode & 1) {
        app.error.code = 0;
        app.error.node = mp_sys_this_node_id();
        app.error.function[0] = 0;
        app.error.message[0] = 0;
    }
    TaskEndMutex();
    return code;
}
HLC_EXPORT_CATCH(imAppGetError)
