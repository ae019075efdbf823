// Program and transport streams written for the tests, as cameras and
// recorders write them: a program stream with a stream map (pack header per
// picture, video PES packets of at most 64 KiB, G.711 audio), and a
// transport stream with PAT and PMT, one PES packet per picture, the last TS
// packet of each filled up by adaptation-field stuffing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sp_test {

using Bytes = std::vector<std::uint8_t>;

struct MpegUnit {
  Bytes data;             // an access unit (Annex-B) or audio samples
  std::uint64_t pts = 0;  // 90 kHz; only the low 33 bits are written
  bool video = true;
  bool key = false;  // program streams repeat their map before key pictures
};

struct MpegStreamOptions {
  std::uint8_t videoType = 0x1B;  // 0x1B H.264, 0x24 H.265
  std::uint8_t audioType = 0x90;  // 0x90 G.711 A-law as cameras mark it, 0x0F AAC
  bool withMap = true;            // program streams: write the stream map
  std::uint8_t mapVersion = 0;
  std::uint16_t videoPid = 0x100;
  std::uint16_t audioPid = 0x101;
  std::uint16_t pmtPid = 0x1000;
};

Bytes WriteProgramStream(const std::vector<MpegUnit>& units, const MpegStreamOptions& options = {});

// continuity: per-PID counters carried from one call to the next, so that a
// stream written in parts (a map change) stays continuous.
struct TsCounters {
  std::uint8_t pat = 0, pmt = 0, video = 0, audio = 0;
};
Bytes WriteTransportStream(const std::vector<MpegUnit>& units, const MpegStreamOptions& options,
                           TsCounters& counters);
Bytes WriteTransportStream(const std::vector<MpegUnit>& units,
                           const MpegStreamOptions& options = {});

}  // namespace sp_test
