// Value conventions shared by the control handlers of both grab-module families: a
// control's value is a double, with sentinels for "restore from the camera file", "none",
// "enable" and "disable".
#pragma once

#include <cstdint>

// The default sentinel (268435456.0, restore from the camera file), tested bit for bit.
bool mpPrvIsDefault(double value);
// Truncation toward zero, saturated to the 32-bit range (NaN gives 0).
int32_t mpPrvToInt(double value);
constexpr double kDigDefault = 268435456.0;
constexpr double kDigNone = 536870912.0;
constexpr double kDigEnable = -9997.0;
constexpr double kDigDisable = -9999.0;
