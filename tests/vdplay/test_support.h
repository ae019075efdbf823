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

// A stream of test pictures: the file header, the pictures, and the packets.
struct TestStream {
  std::uint32_t width = 0, height = 0;
  Bytes header;
  std::vector<Bytes> pictures;
  std::vector<Bytes> packets;

  Bytes allPackets() const;
  std::vector<std::uint32_t> pictureSums() const;
};

// count pictures; packets alternate raw and zlib when mixed is true.
TestStream makeStream(std::uint32_t width, std::uint32_t height, std::uint32_t count,
                      Payload type, bool mixed = false, std::uint32_t fpsNum = 25,
                      std::uint32_t fpsDen = 1);

std::uint32_t checksum(const void* data, std::size_t size);

// What the display callback of a port received.
struct FrameLog {
  std::mutex mutex;
  std::vector<std::uint32_t> sums;
  std::vector<std::int32_t> stamps;
  std::atomic<int> count{0};
  std::atomic<int> badCalls{0};  // wrong size, type, reserved or picture size

  void clear();
  std::vector<std::uint32_t> sumsCopy();
};
FrameLog& frameLog(int port);

// Records checksum and stamp of each frame into frameLog(port).
void VDPLAY_CALL recordFrame(VdLong port, char* frame, VdLong size, VdLong width, VdLong height,
                             VdLong stamp, VdLong type, VdLong reserved);
// Only counts, for measurements.
void VDPLAY_CALL countFrame(VdLong port, char* frame, VdLong size, VdLong width, VdLong height,
                            VdLong stamp, VdLong type, VdLong reserved);

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

// Opens the stream's header on port with a pool of poolPackets packets of
// the largest size.
bool openStream(int port, TestStream& s, std::uint32_t poolPackets = 64);
bool feed(int port, const Bytes& data);

// Every test starts and ends with all ports closed, no callbacks, neutral
// colour and empty logs.
class PortTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
};

}  // namespace vdtest
