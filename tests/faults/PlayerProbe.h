// Reads what the player holds for a host port, without allocating and
// without the player's own headers (which the stand-in's header clashes
// with): for tests that compare the player's state between runs.
#pragma once

#include <SinglePlayer.h>

#include <array>
#include <cstdint>

namespace player_probe {

struct PortState {
  std::array<std::uint64_t, 16> record{};  // the port's cached record, bit for bit
  std::int32_t decoderPort = -1;           // -1 when the port has none
};

PortState ReadPortState(ISinglePlayer* player, std::int32_t hostPort);
bool operator==(const PortState& a, const PortState& b);

// The host port's decoder port, or -1.
std::int32_t DecoderPortOf(ISinglePlayer* player, std::int32_t hostPort);

}  // namespace player_probe
