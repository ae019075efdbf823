// What the demo's readers of video files have in common: the access units
// and sound units they give out, the AAC configuration that becomes each
// frame's ADTS header, and the packet source that turns any such reader
// into the stand-in's stream (media_reader.cpp natively, mp4_reader.cpp on
// every build). Portable: the standard library only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sources.h"

namespace spdemo {

enum class VideoCodec { H264, H265 };

struct AccessUnit {
  std::vector<std::uint8_t> data;   // Annex-B: start codes, parameter sets before key pictures
  std::int64_t presentationMs = 0;  // from the stream's start
  double decodeSeconds = 0;         // from the stream's start, in decoding order
  bool keyFrame = false;
};

// One unit of the file's sound, in the stand-in's audio payload form.
struct AudioUnitOut {
  std::vector<std::uint8_t> data;  // AAC with its ADTS header, or G.711 bytes
  std::uint32_t stampMs = 0;       // on the pictures' time line
  std::uint32_t payloadType = 0;   // vdstream::Payload (5, 6 or 7)
};

// What an ADTS header says of the AAC it carries.
struct AacConfig {
  std::uint32_t objectType = 2;  // 1 Main, 2 LC, 3 SSR, 4 LTP
  std::uint32_t rateIndex = 4;   // sampling frequency index, 0..12
  std::uint32_t channels = 2;    // channel configuration, 1..7
};

// Reads an AudioSpecificConfig (as mp4's esds and FFmpeg's extradata hold
// it). HE-AAC (with SBR or PS) is described by its AAC core, which an ADTS
// decoder plays and extends by itself. False for what ADTS cannot carry: a
// rate outside the table, a channel layout given in the stream, a
// configuration cut short.
bool readAudioSpecificConfig(const std::uint8_t* data, std::size_t size, AacConfig& out);

// The 7-byte ADTS header (no CRC) of a raw AAC frame of rawBytes bytes;
// false when the frame is too long for one (rawBytes + 7 > 8191).
bool makeAdtsHeader(const AacConfig& config, std::size_t rawBytes, std::uint8_t header[7]);

// A reader of a video file's H.264 or H.265 access units and its sound.
class VideoFileReader {
 public:
  virtual ~VideoFileReader() = default;
  // The next access unit in decoding order. False at the end; error() then
  // tells whether the file was damaged or ended early.
  virtual bool read(AccessUnit& unit) = 0;
  // Sound units due before the access unit read last, in time order. False
  // when none waits.
  virtual bool takeAudio(AudioUnitOut& unit) = 0;

  VideoCodec codec() const { return codec_; }
  std::uint32_t width() const { return width_; }
  std::uint32_t height() const { return height_; }
  std::uint32_t rateNumerator() const { return rateNum_; }
  std::uint32_t rateDenominator() const { return rateDen_; }
  // The container's name, for messages ("mp4", "mov,mp4,m4a,3gp,3g2,mj2", ...).
  const std::string& container() const { return container_; }
  // The sound's codec name, empty when the file has none that plays.
  const std::string& audioCodec() const { return audioCodec_; }
  const std::string& error() const { return error_; }

 protected:
  VideoCodec codec_ = VideoCodec::H264;
  std::uint32_t width_ = 0;
  std::uint32_t height_ = 0;
  std::uint32_t rateNum_ = 25;
  std::uint32_t rateDen_ = 1;
  std::string container_;
  std::string audioCodec_;
  std::string error_;
};

// The stand-in's stream of an opened reader: a header naming the codec, then
// one packet per access unit, stamped with its presentation time and due at
// its decoding time, each preceded by the sound due before it.
std::unique_ptr<PacketSource> makeVideoFileSource(std::unique_ptr<VideoFileReader> reader);

}  // namespace spdemo
