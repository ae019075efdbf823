// Sound as the tests hear it, on every platform: a recording of a null
// sink's monitor (a file that a recorder keeps writing), the measures made
// on it, and streams of the stand-in with audio packets. SoundServer.h starts
// the server and recorder natively; under Wine a wrapper script does.
#pragma once

#include <VdStreamFormat.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace sp_test {

// The monitor is recorded mono at this rate.
constexpr std::uint32_t kMonitorRate = 48000;

// A slice of a null sink's monitor (mono, kMonitorRate, 16-bit), which a
// recorder writes to a file all the time.
class Recording {
 public:
  explicit Recording(std::string monitorFile) : path_(std::move(monitorFile)) {
    startSamples_ = FileSamples();
  }

  // The file's sample at which this recording starts.
  std::size_t StartSample() const { return startSamples_; }

  std::size_t FileSamples() const {
    FILE* f = std::fopen(path_.c_str(), "rb");
    if (!f) return 0;
    std::fseek(f, 0, SEEK_END);
    const long bytes = std::ftell(f);
    std::fclose(f);
    return bytes > 0 ? static_cast<std::size_t>(bytes) / 2 : 0;
  }

  // Waits until ms of sound have come since the start (at most ms + 3 s) and
  // returns them.
  std::vector<std::int16_t> Take(int ms) {
    const std::size_t want = static_cast<std::size_t>(ms) * kMonitorRate / 1000;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms + 3000);
    while (FileSamples() < startSamples_ + want && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::vector<std::int16_t> samples(want);
    std::size_t got = 0;
    if (FILE* f = std::fopen(path_.c_str(), "rb")) {
      std::fseek(f, static_cast<long>(startSamples_ * 2), SEEK_SET);
      got = std::fread(samples.data(), 2, want, f);
      std::fclose(f);
    }
    samples.resize(got);
    return samples;
  }

 private:
  std::string path_;
  std::size_t startSamples_ = 0;
};

// Root mean square of samples [from, to).
inline double Rms(const std::vector<std::int16_t>& s, std::size_t from = 0,
                  std::size_t to = static_cast<std::size_t>(-1)) {
  if (to > s.size()) to = s.size();
  if (from >= to) return 0;
  double sum = 0;
  for (std::size_t i = from; i < to; ++i) sum += static_cast<double>(s[i]) * s[i];
  return std::sqrt(sum / static_cast<double>(to - from));
}

// The part of a recording with sound: the first and last sample of
// magnitude above threshold.
struct Span {
  std::size_t from = 0, to = 0;
  std::size_t size() const { return to > from ? to - from : 0; }
};
inline Span Audible(const std::vector<std::int16_t>& s, int threshold = 500) {
  Span span;
  std::size_t i = 0;
  while (i < s.size() && std::abs(s[i]) < threshold) ++i;
  std::size_t j = s.size();
  while (j > i && std::abs(s[j - 1]) < threshold) --j;
  span.from = i;
  span.to = j;
  return span;
}

// Frequency of a tone from its rising zero crossings over [from, to), with
// a little hysteresis against noise; 0 when there are too few.
inline double ToneFrequency(const std::vector<std::int16_t>& s, std::size_t from, std::size_t to,
                            std::uint32_t rate = kMonitorRate) {
  const int hysteresis = 200;
  bool low = false;
  std::size_t first = 0, last = 0, crossings = 0;
  for (std::size_t i = from; i < to && i < s.size(); ++i) {
    if (s[i] < -hysteresis) low = true;
    if (low && s[i] > hysteresis) {
      low = false;
      if (crossings == 0) first = i;
      last = i;
      ++crossings;
    }
  }
  if (crossings < 10) return 0;
  return static_cast<double>(crossings - 1) * rate / static_cast<double>(last - first);
}

// ---------------------------------------------------------------- streams

struct AudioPacket {
  std::vector<std::uint8_t> bytes;
  std::uint32_t stampMs = 0;
};

// G.711 bytes cut into packets of 20 ms (160 bytes), stamped from 0.
inline std::vector<AudioPacket> G711Packets(const std::vector<std::uint8_t>& coded) {
  std::vector<AudioPacket> out;
  for (std::size_t at = 0; at < coded.size(); at += 160) {
    AudioPacket p;
    p.bytes.assign(coded.begin() + static_cast<std::ptrdiff_t>(at),
                   coded.begin() + static_cast<std::ptrdiff_t>(std::min(at + 160, coded.size())));
    p.stampMs = static_cast<std::uint32_t>(at / 8);
    out.push_back(std::move(p));
  }
  return out;
}

// An ADTS stream cut into its frames (one packet each), stamped from 0.
inline std::vector<AudioPacket> AdtsPackets(const std::vector<std::uint8_t>& adts) {
  static const std::uint32_t kRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                         22050, 16000, 12000, 11025, 8000,  7350};
  std::vector<AudioPacket> out;
  std::size_t at = 0;
  std::uint64_t samples = 0;
  while (at + 7 <= adts.size() && adts[at] == 0xFF && (adts[at + 1] & 0xF0) == 0xF0) {
    const std::size_t length = ((adts[at + 3] & 0x03u) << 11) | (adts[at + 4] << 3) | (adts[at + 5] >> 5);
    const std::uint32_t rate = kRates[std::min<std::uint32_t>((adts[at + 2] >> 2) & 0x0F, 12)];
    if (length < 7 || at + length > adts.size()) break;
    AudioPacket p;
    p.bytes.assign(adts.begin() + static_cast<std::ptrdiff_t>(at),
                   adts.begin() + static_cast<std::ptrdiff_t>(at + length));
    p.stampMs = static_cast<std::uint32_t>(samples * 1000 / rate);
    samples += 1024;
    out.push_back(std::move(p));
    at += length;
  }
  return out;
}

// One packet of the stand-in's stream (header included) and its time stamp.
struct TimedPacket {
  std::vector<std::uint8_t> bytes;
  std::uint32_t stampMs = 0;
};

// The packets of a raw-picture stream (w x h, fps) of `seconds` with the
// audio packets interleaved by time stamp, in stream order; pictureOf(n,
// picture) fills picture n.
template <class PictureOf>
std::vector<TimedPacket> StreamPackets(std::uint32_t w, std::uint32_t h, std::uint32_t fps,
                                       double seconds, const std::vector<AudioPacket>& audio,
                                       vdstream::Payload audioType, PictureOf pictureOf) {
  std::vector<TimedPacket> packets;
  std::vector<std::uint8_t> picture(vdstream::pictureBytes(w, h));
  const auto frames = static_cast<std::uint32_t>(seconds * fps);
  std::size_t a = 0;
  for (std::uint32_t n = 0; n < frames; ++n) {
    const auto stamp = static_cast<std::uint32_t>(std::uint64_t{n} * 1000 / fps);
    // The audio of this picture's time goes just before it, as muxers do.
    while (a < audio.size() && audio[a].stampMs < stamp + 1000 / fps) {
      packets.push_back({vdstream::makePacket(audio[a].bytes.data(), audio[a].bytes.size(),
                                              audio[a].stampMs, audioType),
                         audio[a].stampMs});
      ++a;
    }
    pictureOf(n, picture.data());
    packets.push_back({vdstream::makePacket(picture.data(), picture.size(), stamp,
                                            vdstream::Payload::Raw),
                       stamp});
  }
  return packets;
}

// The same stream as one block of bytes.
template <class PictureOf>
std::vector<std::uint8_t> StreamWithAudio(std::uint32_t w, std::uint32_t h, std::uint32_t fps,
                                          double seconds, const std::vector<AudioPacket>& audio,
                                          vdstream::Payload audioType, PictureOf pictureOf) {
  std::vector<std::uint8_t> data;
  for (const TimedPacket& p : StreamPackets(w, h, fps, seconds, audio, audioType, pictureOf))
    data.insert(data.end(), p.bytes.begin(), p.bytes.end());
  return data;
}

}  // namespace sp_test
