// Where the demo's stream comes from: a generated test pattern, a stream file
// in the decoder's format, a .y4m file turned into packets on the fly, or
// an H.264 or H.265 video file (natively read with libavformat, on Windows
// with the demo's MP4 reader, through the Source Reader or as a bare
// stream). Every source gives the 40-byte file header and then one block per
// packet, each with the time on the stream's clock at which it is due.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <VdStreamFormat.h>

namespace spdemo {

struct StreamInfo {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t rateNum = 25;
  std::uint32_t rateDen = 1;
  double framesPerSecond() const { return static_cast<double>(rateNum) / rateDen; }
};

class PacketSource {
 public:
  virtual ~PacketSource() = default;
  const std::vector<std::uint8_t>& header() const { return header_; }
  const StreamInfo& info() const { return info_; }
  // The next block to feed: one packet, or in a damaged file the bytes up to
  // the next packet. False at the end (error() tells whether it was a failure).
  virtual bool next(std::vector<std::uint8_t>& block) = 0;
  // Seconds from the stream's start at which the last block is due.
  double dueSeconds() const { return due_; }
  const std::string& error() const { return error_; }
  // What the blocks carry, for messages: "zlib pictures", "H.264", ...
  const std::string& contents() const { return contents_; }
  // False when blocks are cut from a bare stream regardless of pictures.
  bool blocksArePictures() const { return blocksArePictures_; }

 protected:
  std::vector<std::uint8_t> header_;
  StreamInfo info_;
  std::string error_;
  std::string contents_;
  bool blocksArePictures_ = true;
  double due_ = 0;
};

// frames pictures of the moving colour-bar pattern, zlib-compressed.
std::unique_ptr<PacketSource> makePatternSource(std::uint32_t width, std::uint32_t height,
                                                std::uint32_t fps, std::uint32_t frames);

// A stream file (it starts with "VDPS"), a YUV4MPEG2 file (its pictures
// become packets of the given payload type), a program or transport stream
// file (.ps/.mpg/.vob, .ts/.m2ts/.mts: handed over as it is), a live
// transport stream (udp://HOST:PORT, tcp://HOST:PORT) or a video file whose
// video is H.264 or H.265 (media_source.h); null with error set when the
// input is none of these or cannot be read.
std::unique_ptr<PacketSource> openFileSource(const std::string& path, std::string& error,
                                             vdstream::Payload pictures = vdstream::Payload::Zlib);

// The file name's extension in lower case, without the dot; empty without one.
std::string lowerExtension(const std::string& path);

// Time stamp in milliseconds of frame index at the given rate.
std::uint32_t frameStampMs(std::uint64_t index, std::uint32_t rateNum, std::uint32_t rateDen);

}  // namespace spdemo
