// Last failure codes of the ports and of frame conversions.
//
// VdPLay_ConvertToBmpFile has no port, so its failures go into a slot of
// their own; every failure gets a number from one sequence, and a port's
// last error is the newer of its own and the conversion's.
#pragma once

#include <cstdint>

namespace vdplay {

void recordPortError(int port, std::uint32_t code);
void recordConversionError(std::uint32_t code);
std::uint32_t lastError(int port);

}  // namespace vdplay
