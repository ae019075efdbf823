// Test helpers that drive decoder ports through the VdPlay interface: open a
// test stream, feed it, read a port's counters, and a fixture that leaves
// every port as it found it. Header-only: the programs that use them link the
// stand-in themselves.
#pragma once

#include <gtest/gtest.h>

#include <VdPlay.h>
#include <VdStreamFormat.h>

#include <cstdint>

#include "support/ShownFrames.h"
#include "support/TestStreams.h"

namespace sp_test {

inline VdPlayStats PortStats(int port) {
  VdPlayStats s{};
  EXPECT_TRUE(VdPlayX_GetStats(port, &s));
  return s;
}

// The counters of the one decoder port with an open stream (the test opens
// one stream at a time); all zero when none is open.
inline VdPlayStats OpenStreamStats() {
  for (VdLong port = 0; port < VDPLAY_MAX_PORTS; ++port) {
    VdPlayStats stats{};
    if (VdPlayX_GetStats(port, &stats) && stats.streamOpen) return stats;
  }
  return VdPlayStats{};
}

// Opens s on the port with a pool of poolPackets packets of the largest size.
inline bool OpenTestStream(int port, TestStream& s, std::uint32_t poolPackets = 64) {
  const auto pool = static_cast<VdDword>(vdstream::minPoolBytes(s.width, s.height) * poolPackets);
  return VdPlay_OpenStream(port, s.header.data(), static_cast<VdDword>(s.header.size()), pool);
}

inline bool Feed(int port, const Bytes& data) {
  return VdPlay_InputData(port, const_cast<std::uint8_t*>(data.data()),
                          static_cast<VdDword>(data.size()));
}

// Every test ends with all ports closed, no callbacks, neutral colour and
// empty frame logs.
class PortTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (int p = 0; p < VDPLAY_MAX_PORTS; ++p) {
      VdPlay_CloseStream(p);
      VdPlay_SetDisplayCallBack(p, nullptr);
      VdPlay_SetColor(p, 0, 64, 64, 64, 64);  // colour stays with the port across streams
      FrameLogOf(p).Clear();
    }
  }
};

}  // namespace sp_test
