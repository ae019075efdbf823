#include "PlayerProbe.h"

#include <cstring>

#include "player/SinglePlayer.h"

namespace player_probe {

PortState ReadPortState(ISinglePlayer* player, std::int32_t hostPort) {
  static_assert(sizeof(sp::PortRecord) <= sizeof(PortState::record), "the record must fit");
  const sp::SinglePlayer& impl = *static_cast<sp::SinglePlayer*>(player);
  PortState state;
  std::memcpy(state.record.data(), &impl.Port(hostPort), sizeof(sp::PortRecord));
  state.decoderPort = DecoderPortOf(player, hostPort);
  return state;
}

bool operator==(const PortState& a, const PortState& b) {
  return a.record == b.record && a.decoderPort == b.decoderPort;
}

std::int32_t DecoderPortOf(ISinglePlayer* player, std::int32_t hostPort) {
  std::int32_t decoderPort = -1;
  static_cast<sp::SinglePlayer*>(player)->LookupDecoderPort(hostPort, decoderPort);
  return decoderPort;
}

}  // namespace player_probe
