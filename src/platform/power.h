// The mains-power state, as the power status query reports it.
#pragma once

#include <cstdint>

// *acLineStatus: 0 offline, 1 online, 255 unknown. False when the system
// reports no power supply at all.
bool GetSystemPowerStatus(std::uint8_t* acLineStatus);
