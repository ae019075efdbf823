// Test helpers over the VdPlay interface: display callbacks that record the
// frames the decoder showed. Header-only: the programs that use them link the
// stand-in (or another VdPlay) themselves.
#pragma once

#include <VdPlay.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "support/TestStreams.h"

namespace sp_test {

// What the display callback of one decoder port received.
struct FrameLog {
  std::mutex mutex;
  std::vector<std::uint32_t> sums;
  std::vector<std::int32_t> stamps;
  std::atomic<int> count{0};
  std::atomic<int> badCalls{0};  // wrong size, type, reserved value or picture size

  std::vector<std::uint32_t> SumsCopy() {
    std::lock_guard<std::mutex> lock(mutex);
    return sums;
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(mutex);
    sums.clear();
    stamps.clear();
    count = 0;
    badCalls = 0;
  }
};

inline FrameLog& FrameLogOf(int port) {
  // Never destroyed: made by the first callback, after the library's exit
  // handler, it would otherwise go before the display threads stop.
  static FrameLog* logs = new FrameLog[VDPLAY_MAX_PORTS];
  return logs[port];
}

// Display callback that keeps checksum and stamp of each frame in
// FrameLogOf(port), and checks the call against the port's picture size.
inline void VDPLAY_CALL RecordFrame(VdLong port, char* frame, VdLong size, VdLong width,
                                    VdLong height, VdLong stamp, VdLong type, VdLong reserved) {
  FrameLog& log = FrameLogOf(port);
  VdLong w = 0, h = 0;  // calling back into the library from the callback
  if (!VdPlay_GetPictureSize(port, &w, &h) || w != width || h != height ||
      size != width * height * 3 / 2 || type != VDPLAY_FRAME_I420 || reserved != 0)
    ++log.badCalls;
  {
    std::lock_guard<std::mutex> lock(log.mutex);
    log.sums.push_back(Checksum(frame, static_cast<std::size_t>(size)));
    log.stamps.push_back(stamp);
  }
  ++log.count;
}

// Display callback that only counts the frames of the port, for measurements.
inline void VDPLAY_CALL CountFrame(VdLong port, char*, VdLong, VdLong, VdLong, VdLong, VdLong,
                                   VdLong) {
  ++FrameLogOf(port).count;
}

// The checksums of the frames shown on any decoder port, in the order shown,
// through a display callback set directly on every port (the player sets
// none unless a picture is captured).
class ShownFrames {
 public:
  static ShownFrames& Get() {
    static ShownFrames frames;
    return frames;
  }
  void Install() {
    Clear();
    for (VdLong port = 0; port < VDPLAY_MAX_PORTS; ++port) VdPlay_SetDisplayCallBack(port, &Record);
  }
  void Uninstall() {
    for (VdLong port = 0; port < VDPLAY_MAX_PORTS; ++port) VdPlay_SetDisplayCallBack(port, nullptr);
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    sums_.clear();
  }
  std::vector<std::uint32_t> Sums() {
    std::lock_guard<std::mutex> lock(mutex_);
    return sums_;
  }

 private:
  static void VDPLAY_CALL Record(VdLong, char* frame, VdLong size, VdLong, VdLong, VdLong,
                                 VdLong, VdLong) {
    ShownFrames& self = Get();
    std::lock_guard<std::mutex> lock(self.mutex_);
    self.sums_.push_back(Checksum(frame, static_cast<std::size_t>(size)));
  }
  std::mutex mutex_;
  std::vector<std::uint32_t> sums_;
};

}  // namespace sp_test
