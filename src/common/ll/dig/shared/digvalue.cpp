// Value conventions of the control handlers.
#include "digvalue.h"

#include <cmath>
#include <cstring>

bool mpPrvIsDefault(double value)
{
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits == 0x41B0000000000000ull;
}

int32_t mpPrvToInt(double value)
{
    if (std::isnan(value)) return 0;
    if (value >= 2147483647.0) return 2147483647;
    if (value <= -2147483648.0) return -2147483647 - 1;
    return static_cast<int32_t>(value);
}
