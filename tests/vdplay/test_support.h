// Helpers for the VdPlay tests: streams to play, a display callback that
// records what it was given, waiting without fixed sleeps.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "VdPlay.h"
#include "VdStreamFormat.h"

namespace vdtest {

using Bytes = std::vector<std::uint8_t>;
using vdstream::Payload;

// count test pictures of width x height and their packets; with mixed, the
// packets alternate raw and zlib. Stamps are 40 ms apart.
struct TestStream {
  std::uint32_t width = 0, height = 0;
  Bytes header;
  std::vector<Bytes> pictures, packets;
  Bytes allPackets() const;
  std::vector<std::uint32_t> pictureSums() const;
};
TestStream makeStream(std::uint32_t width, std::uint32_t height, std::uint32_t count,
                      Payload type, bool mixed = false, std::uint32_t fps = 25);

std::uint32_t checksum(const void* data, std::size_t size);

// What the display callback of a port received.
struct FrameLog {
  std::mutex mutex;
  std::vector<std::uint32_t> sums;
  std::vector<std::int32_t> stamps;
  std::atomic<int> count{0};
  std::atomic<int> badCalls{0};  // wrong size, type, reserved value or picture size
  std::vector<std::uint32_t> sumsCopy();
};
FrameLog& frameLog(int port);

// Display callbacks: recordFrame keeps checksum and stamp of each frame in
// frameLog(port); countFrame only counts, for measurements.
void VDPLAY_CALL recordFrame(VdLong port, char* frame, VdLong size, VdLong width, VdLong height,
                             VdLong stamp, VdLong type, VdLong reserved);
void VDPLAY_CALL countFrame(VdLong, char*, VdLong, VdLong, VdLong, VdLong, VdLong, VdLong);

template <class Pred>
bool waitFor(Pred pred, std::chrono::milliseconds timeout = std::chrono::milliseconds(3000)) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return pred();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}
inline void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

VdPlayStats stats(int port);
// Opens s on port with a pool of poolPackets packets of the largest size.
bool openStream(int port, TestStream& s, std::uint32_t poolPackets = 64);
bool feed(int port, const Bytes& data);

// Every test ends with all ports closed, no callbacks, neutral colour and
// empty logs.
class PortTest : public ::testing::Test {
 protected:
  void TearDown() override;
};

}  // namespace vdtest
