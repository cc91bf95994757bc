// The public header in one translation unit with the library's internal headers: every
// public declaration must be the same function or datum as the internal one (a different
// parameter or result type is a conflicting C declaration and does not compile), and the
// public error codes must be the library's.
#include "bufchild.h"
#include "bufid.h"
#include "dispreg.h"
#include "halcyraini.h"
#include "heap.h"
#include "hlc_errors.h"
#include "hwlock.h"
#include "im_msgio.h"
#include "im_param.h"
#include "imdev.h"
#include "imsys.h"
#include "inthooks.h"
#include "nodelist.h"
#include "pci.h"
#include "procstubs.h"
#include "regaccess.h"
#include "reqres.h"
#include "syncobj.h"
#include "thread.h"

#include "hlclib.h"

#include <gtest/gtest.h>

#include <string>
#include <type_traits>

namespace {

// The hook types a program writes in C are the ones the library calls.
static_assert(std::is_same_v<ImErrorHook, int32_t (*)(int32_t, int32_t, uint32_t)>);
static_assert(std::is_same_v<decltype(&imAppCatchError), void (*)(uint32_t, ImErrorHook, uint32_t)>);
static_assert(std::is_same_v<decltype(imNodeSt), _NODE_ST*>);

TEST(PublicHeader, ErrorCodesAreTheLibrarysWithTheirTexts)
{
    const struct {
        int32_t publicCode;
        int32_t libraryCode;
        const char* text;
    } codes[] = {
        {IM_ERR_INVALID_BUFFER, HLC_ERR_INVALID_BUFFER, "Invalid buffer ID"},
        {IM_ERR_INVALID_DEVICE, HLC_ERR_INVALID_DEVICE, "Invalid device ID, or no such device"},
        {IM_ERR_FILE_ACCESS, HLC_ERR_FILE_ACCESS, "File access error"},
        {IM_ERR_NO_RESOURCES, HLC_ERR_NO_RESOURCES, "Insufficient resources to carry out the operation"},
        {IM_ERR_NOT_PRESENT, HLC_ERR_NOT_PRESENT, "Referenced item not present"},
        {IM_ERR_INVALID_OPCODE, HLC_ERR_INVALID_OPCODE, "Invalid opcode received"},
        {IM_ERR_INVALID_OSB, HLC_ERR_INVALID_OSB, "Invalid OSB ID"},
        {IM_ERR_INVALID_PARAMETER, HLC_ERR_INVALID_PARAMETER, "Parameter invalid or unacceptable"},
        {IM_ERR_RESTRICTED, HLC_ERR_RESTRICTED, "Operation unable to execute due to a restriction"},
        {IM_ERR_INVALID_THREAD, HLC_ERR_INVALID_THREAD, "Invalid thread ID"},
        {IM_ERR_TIMEOUT, HLC_ERR_TIMEOUT, "Board did not respond within the timeout period"},
        {IM_ERR_NO_SYSTEM, HLC_ERR_NO_SYSTEM, "No such system"},
        {IM_ERR_HALTED, HLC_ERR_HALTED, "Function halted by imThrHalt()"},
        {IM_ERR_BUFFER_ATTRIBUTE, HLC_ERR_BUFFER_ATTRIBUTE, "Unacceptable buffer attribute (size, type, etc.)"},
        {IM_ERR_MISCELLANEOUS, HLC_ERR_MISCELLANEOUS, "Miscellaneous error"},
    };
    for (const auto& c : codes) {
        EXPECT_EQ(c.publicCode, c.libraryCode);
        ASSERT_NE(mp_err_default(c.publicCode), nullptr) << c.publicCode;
        EXPECT_EQ(std::string(mp_err_default(c.publicCode)), c.text) << c.publicCode;
    }
}

}  // namespace
