#include "hlc_arch.h"
#include <gtest/gtest.h>
#include <cstdint>

TEST(Architecture, HostAddressesFitInThirtyTwoBitWords)
{
    EXPECT_EQ(sizeof(void*), sizeof(uint32_t));
    int probe = 0;
    uintptr_t address = reinterpret_cast<uintptr_t>(&probe);
    EXPECT_EQ(static_cast<uintptr_t>(static_cast<uint32_t>(address)), address);
}
