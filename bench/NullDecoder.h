// The benchmarks' do-nothing decoder (null_decoder.cpp).
#pragma once

#include <cstdint>

namespace bench {
// Bytes VdPlay_InputData has accepted; read it to check that calls arrived.
extern volatile std::uint64_t nullDecoderBytesTaken;
}  // namespace bench
