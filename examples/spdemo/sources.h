// Where the demo's stream comes from: a generated test pattern, a stream file
// in the decoder's format, or a .y4m file turned into packets on the fly.
// Every source gives the 40-byte file header and then one block per packet.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

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
  const std::string& error() const { return error_; }

 protected:
  std::vector<std::uint8_t> header_;
  StreamInfo info_;
  std::string error_;
};

// frames pictures of the moving colour-bar pattern, zlib-compressed.
std::unique_ptr<PacketSource> makePatternSource(std::uint32_t width, std::uint32_t height,
                                                std::uint32_t fps, std::uint32_t frames);

// A stream file (it starts with "VDPS") or a YUV4MPEG2 file; null with error
// set when the file is neither or cannot be read.
std::unique_ptr<PacketSource> openFileSource(const std::string& path, std::string& error);

// Time stamp in milliseconds of frame index at the given rate.
std::uint32_t frameStampMs(std::uint64_t index, std::uint32_t rateNum, std::uint32_t rateDen);

}  // namespace spdemo
