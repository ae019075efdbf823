// Helpers of the benchmarks over the stand-in decoder: CIF streams opened on
// host ports of the player, and a thread that feeds them at real rate.
#pragma once

#include <SinglePlayer.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

namespace bench {

constexpr std::uint32_t kCifWidth = 352;
constexpr std::uint32_t kCifHeight = 288;
constexpr std::uint32_t kFps = 25;

// Opens a CIF stream of fps frames per second without a window on each host
// port (open mode 0, so the player's default source buffer); throws when one
// cannot be opened.
void OpenCifStreams(ISinglePlayer* player, const std::vector<std::int32_t>& hostPorts,
                    std::uint32_t fps = kFps);
void CloseStreams(ISinglePlayer* player, const std::vector<std::int32_t>& hostPorts);

// The decoder port the player gave a host port, or -1.
std::int32_t DecoderPortOf(ISinglePlayer* player, std::int32_t hostPort);

// Feeds one raw I420 CIF packet per frame interval (1/fps) to every port, on its own
// thread, on a fixed schedule (start + n / fps, never drifting), until
// frameLimit frames were fed to each port or Stop() is called.
class RealRateFeeder {
 public:
  RealRateFeeder(ISinglePlayer* player, std::vector<std::int32_t> hostPorts,
                 std::uint32_t frameLimit, std::uint32_t fps = kFps);
  ~RealRateFeeder();
  RealRateFeeder(const RealRateFeeder&) = delete;
  RealRateFeeder& operator=(const RealRateFeeder&) = delete;

  // Also feeds audio to the port at index portIndex of hostPorts: whole
  // packets of the stand-in's stream with their time stamps, in time order,
  // each pushed just before the picture of its time. Call before Start().
  void AddAudio(std::size_t portIndex, std::vector<std::vector<std::uint8_t>> packets,
                std::vector<std::uint32_t> stampsMs);

  void Start();
  void Stop();   // ends feeding and waits for the thread
  void Join();   // waits until frameLimit frames were fed

  // Frames Play_InputData accepted, per port in the order given, and the
  // number of refused calls.
  std::vector<std::uint32_t> FramesFed() const;
  std::uint32_t Refused() const { return refused_.load(); }
  // Audio packets accepted and refused.
  std::uint32_t AudioFed() const { return audioFed_.load(); }
  std::uint32_t AudioRefused() const { return audioRefused_.load(); }
  // Largest lateness of a feeding round behind its schedule, in ms.
  double WorstLatenessMs() const { return worstLatenessUs_.load() / 1000.0; }

 private:
  void Run();

  ISinglePlayer* player_;
  std::vector<std::int32_t> ports_;
  std::uint32_t frameLimit_;
  std::uint32_t fps_;
  std::vector<std::vector<std::uint8_t>> packets_;  // distinct pictures, reused in turn
  std::vector<std::atomic<std::uint32_t>> fed_;
  std::atomic<std::uint32_t> refused_{0};
  std::size_t audioPort_ = static_cast<std::size_t>(-1);
  std::vector<std::vector<std::uint8_t>> audio_;
  std::vector<std::uint32_t> audioStamps_;
  std::atomic<std::uint32_t> audioFed_{0};
  std::atomic<std::uint32_t> audioRefused_{0};
  std::atomic<std::int64_t> worstLatenessUs_{0};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace bench
