// The boundary of every exported function: no C++ exception leaves the library through
// its C interface.  An export's body is a function-try-block whose handler is one of the
// macros below:
//
//     int32_t imBufFree(uint32_t device, uint32_t id)
//     try {
//         ...
//     }
//     HLC_EXPORT_CATCH(imBufFree)
//
// The handler files "Insufficient resources to carry out the operation" (-4) under the
// export's name in the caller's last-error record (first error wins, so an error the
// export filed before the exception stays) and returns the export's failure value: -4 for
// a signed result, 0 or null for any other, nothing for void.  HLC_EXPORT_CATCH_AS gives
// the failure value where the export's own convention differs; HLC_EXPORT_CATCH_MSG logs
// the error into the command message the export works on, whose owner files it.
//
// Each handler also defines the marker symbol hlc_boundary_<name>; the export check of
// the library's tests finds one for every exported function.
#pragma once

#include "hlc_errors.h"

#include <cxxabi.h>

#include <type_traits>

struct _MSG_ST;

// Files the boundary's error of an export: into msg when given, else into the caller's
// last-error record.  Must not throw.
using HlcExportRecorder = void (*)(const char* function, _MSG_ST* msg);

// The recorder the library's wiring installs; without one a caught exception only gives
// the failure value.
inline HlcExportRecorder g_hlcExportRecorder = nullptr;

inline void HlcSetExportRecorder(HlcExportRecorder recorder)
{
    g_hlcExportRecorder = recorder;
}

inline void HlcExportRecord(const char* function, _MSG_ST* msg) noexcept
{
    // An error hook of the caller's that throws ends here too.
    try {
        if (const HlcExportRecorder record = g_hlcExportRecorder) record(function, msg);
    } catch (...) {
    }
}

// The failure value of a result type when the export names none.
template <typename R>
R HlcExportFailure() noexcept
{
    if constexpr (std::is_void_v<R>) {
        return;
    } else if constexpr (std::is_integral_v<R> && std::is_signed_v<R>) {
        return static_cast<R>(HLC_ERR_NO_RESOURCES);
    } else {
        return R{};
    }
}

template <typename F>
struct HlcExportResult;
template <typename R, typename... A>
struct HlcExportResult<R (*)(A...)> {
    using type = R;
};

constexpr bool HlcExportSameName(const char* a, const char* b)
{
    while (*a && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

// The handler: a thread's forced unwinding passes on; every other exception is filed and
// the failure value returned.  The name must be the function's own.
#define HLC_EXPORT_HANDLER_(name, msg, failure)                                                       \
    catch (abi::__forced_unwind&) {                                                                   \
        throw;                                                                                        \
    }                                                                                                 \
    catch (...) {                                                                                     \
        static_assert(HlcExportSameName(__func__, #name), "the boundary of " #name " sits on another function"); \
        HlcExportRecord(#name, msg);                                                                  \
        return failure;                                                                               \
    }                                                                                                 \
    extern "C" __attribute__((used)) const char hlc_boundary_##name = 0;

#define HLC_EXPORT_TYPE_(name) HlcExportResult<decltype(&name)>::type

#define HLC_EXPORT_CATCH(name) HLC_EXPORT_HANDLER_(name, nullptr, HlcExportFailure<HLC_EXPORT_TYPE_(name)>())
#define HLC_EXPORT_CATCH_AS(name, value) \
    HLC_EXPORT_HANDLER_(name, nullptr, static_cast<HLC_EXPORT_TYPE_(name)>(value))
#define HLC_EXPORT_CATCH_MSG(name, msg) HLC_EXPORT_HANDLER_(name, msg, HlcExportFailure<HLC_EXPORT_TYPE_(name)>())
