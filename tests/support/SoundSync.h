// How far a port's sound is from its pictures, measured as a viewer notices
// it: a short beep and a white picture at every whole second of a stream;
// the display callback's time of each white picture against the time the
// beep's first sample reaches the null sink of a SoundServer. POSIX only,
// like SoundServer.h; the sound tests and the benchmarks both use it.
#pragma once

#include <VdPlay.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/SoundServer.h"

namespace sp_test {

// Seconds on the steady clock.
inline double SteadySeconds(std::chrono::steady_clock::time_point t = std::chrono::steady_clock::now()) {
  return std::chrono::duration<double>(t.time_since_epoch()).count();
}

// A 100 ms beep of 1 kHz at every whole second (the ffmpeg command's
// aevalsrc), `seconds` long, in A-law packets of 20 ms; empty when ffmpeg
// fails.
inline std::vector<AudioPacket> BeepPackets(int seconds, const std::string& dir) {
  return G711Packets(FfmpegBytes(
      "-f lavfi -i \"aevalsrc=if(lt(mod(t\\,1)\\,0.1)\\,0.5*sin(2*PI*1000*t)\\,0):s=8000:d=" +
          std::to_string(seconds) + "\" -f alaw",
      dir));
}

// Picture n of a flash stream: white at every whole second, black between.
inline void FlashPicture(std::uint32_t w, std::uint32_t h, std::uint32_t fps, std::uint32_t n,
                         std::uint8_t* picture) {
  const std::size_t luma = std::size_t{w} * h;
  std::fill(picture, picture + luma, static_cast<std::uint8_t>(n % fps == 0 ? 235 : 16));
  std::fill(picture + luma, picture + luma * 3 / 2, static_cast<std::uint8_t>(128));
}

// When the white pictures (stamps at whole seconds) reached the display
// callback: install OnFrame on the port that plays the flash stream.
class FlashTimes {
 public:
  static void VDPLAY_CALL OnFrame(VdLong, char*, VdLong, VdLong, VdLong, VdLong stamp, VdLong, VdLong) {
    const double now = SteadySeconds();
    if (stamp % 1000 != 0) return;
    std::lock_guard<std::mutex> lk(Mutex());
    Shown().emplace_back(static_cast<std::uint32_t>(stamp), now);
  }
  static void Clear() {
    std::lock_guard<std::mutex> lk(Mutex());
    Shown().clear();
  }
  // (stamp in ms, seconds on the steady clock), in the order shown.
  static std::vector<std::pair<std::uint32_t, double>> Taken() {
    std::lock_guard<std::mutex> lk(Mutex());
    return Shown();
  }

 private:
  static std::mutex& Mutex() {
    static std::mutex m;
    return m;
  }
  static std::vector<std::pair<std::uint32_t, double>>& Shown() {
    static std::vector<std::pair<std::uint32_t, double>> shown;
    return shown;
  }
};

// Puts the samples of the monitor file on the steady clock by watching the
// file grow from construction to Stop(). A sample is never in the file before
// it was rendered, so the observation that makes the file look earliest
// (index = rate * t + c with the largest c) is the least delayed one.
class MonitorClock {
 public:
  explicit MonitorClock(const Recording& rec) : rec_(rec) {
    watcher_ = std::thread([this] {
      while (watching_) {
        const double n = static_cast<double>(rec_.FileSamples());
        const double c = n - SoundServer::kRate * SteadySeconds();
        if (c > c_) c_ = c;
        std::this_thread::sleep_for(std::chrono::microseconds(500));
      }
    });
  }
  ~MonitorClock() { Stop(); }
  MonitorClock(const MonitorClock&) = delete;
  MonitorClock& operator=(const MonitorClock&) = delete;

  void Stop() {
    watching_ = false;
    if (watcher_.joinable()) watcher_.join();
  }
  // Seconds on the steady clock at which sample fileIndex was rendered.
  double TimeOf(std::size_t fileIndex) const {
    return (static_cast<double>(fileIndex) - c_) / SoundServer::kRate;
  }

 private:
  const Recording& rec_;
  std::atomic<bool> watching_{true};
  double c_ = -1e300;  // written by the watcher only, read after Stop()
  std::thread watcher_;
};

// Times (steady clock) of the beeps' first samples in samples, a recording
// that starts at file sample fileStart: a loud sample more than 10 ms after
// the last one (the server's resampler rings a little just before a beep).
inline std::vector<double> BeepOnsets(const std::vector<std::int16_t>& samples, std::size_t fileStart,
                                      const MonitorClock& clock) {
  std::vector<double> onsets;
  std::size_t lastLoud = 0;
  bool anyLoud = false;
  for (std::size_t i = 0; i < samples.size(); ++i) {
    if (std::abs(samples[i]) <= 3000) continue;
    if (anyLoud && i - lastLoud > SoundServer::kRate / 100) onsets.push_back(clock.TimeOf(fileStart + i));
    lastLoud = i;
    anyLoud = true;
  }
  return onsets;
}

// Sound minus picture in ms: for each white picture after the first (which
// is shown at once, before any sound), the nearest beep onset within half a
// second.
inline std::vector<double> SoundMinusPictureMs(const std::vector<double>& onsets,
                                               const std::vector<std::pair<std::uint32_t, double>>& flashes) {
  std::vector<double> offsets;
  for (const auto& f : flashes) {
    if (f.first == 0) continue;
    double best = 1e9;
    for (double o : onsets)
      if (std::abs(o - f.second) < std::abs(best)) best = o - f.second;
    if (std::abs(best) < 0.5) offsets.push_back(best * 1000);
  }
  return offsets;
}

}  // namespace sp_test
