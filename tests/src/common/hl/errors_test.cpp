#include "hlc_errors.h"
#include "reqres.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

// The codes travel in command messages and reach callers: their values and default texts
// must stay exactly these.
TEST(ErrorCodes, FifteenCodesWithTheirDefaultTexts)
{
    struct Expected {
        HlcError code;
        int32_t value;
        const char* text;
    };
    const Expected expected[] = {
        {HLC_ERR_INVALID_BUFFER, -1, "Invalid buffer ID"},
        {HLC_ERR_INVALID_DEVICE, -2, "Invalid device ID, or no such device"},
        {HLC_ERR_FILE_ACCESS, -3, "File access error"},
        {HLC_ERR_NO_RESOURCES, -4, "Insufficient resources to carry out the operation"},
        {HLC_ERR_NOT_PRESENT, -5, "Referenced item not present"},
        {HLC_ERR_INVALID_OPCODE, -6, "Invalid opcode received"},
        {HLC_ERR_INVALID_OSB, -7, "Invalid OSB ID"},
        {HLC_ERR_INVALID_PARAMETER, -8, "Parameter invalid or unacceptable"},
        {HLC_ERR_RESTRICTED, -9, "Operation unable to execute due to a restriction"},
        {HLC_ERR_INVALID_THREAD, -10, "Invalid thread ID"},
        {HLC_ERR_TIMEOUT, -11, "Board did not respond within the timeout period"},
        {HLC_ERR_NO_SYSTEM, -12, "No such system"},
        {HLC_ERR_HALTED, -13, "Function halted by imThrHalt()"},
        {HLC_ERR_BUFFER_ATTRIBUTE, -14, "Unacceptable buffer attribute (size, type, etc.)"},
        {HLC_ERR_MISCELLANEOUS, -15, "Miscellaneous error"},
    };
    ASSERT_EQ(kHlcErrorCount, 15);
    for (const Expected& e : expected) {
        EXPECT_EQ(static_cast<int32_t>(e.code), e.value);
        EXPECT_STREQ(HlcErrorText(e.code), e.text) << e.value;
        EXPECT_STREQ(kHlcErrorText[-e.value - 1], e.text) << e.value;
        // The error records take their default texts from the same table.
        EXPECT_EQ(mp_err_default(e.code), HlcErrorText(e.code)) << e.value;
    }
}

TEST(ErrorCodes, NoTextForZeroAndOneTextForEveryOtherCode)
{
    EXPECT_EQ(HlcErrorText(0), nullptr);
    for (int32_t code : {1, 3, 15, -16, -20, INT32_MIN, INT32_MAX})
        EXPECT_STREQ(HlcErrorText(code), "Unknown/Undefined error code") << code;
    static_assert(HlcErrorText(HLC_ERR_TIMEOUT) == kHlcErrorText[10], "usable at compile time");
}

}  // namespace
