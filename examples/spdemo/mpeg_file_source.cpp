#include "mpeg_file_source.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "media_source.h"

namespace spdemo {
namespace {

// Piece sizes the file is cut into, in turn: odd sizes on purpose, as a
// network or a camera's software delivers them.
constexpr std::uint64_t kPtsMask = (std::uint64_t{1} << 33) - 1;
constexpr double kLargestStepSeconds = 5;
constexpr std::size_t kPieceSizes[] = {1316, 4096, 777, 18800, 9000, 2048, 65536, 333};

bool isTransportExtension(const std::string& ext) {
  return ext == "ts" || ext == "m2ts" || ext == "mts";
}

// The latest presentation time of a video PES header in the bytes, in
// 90 kHz units; false when none starts there.
bool latestVideoPts(const std::vector<std::uint8_t>& b, std::uint64_t& pts) {
  bool found = false;
  for (std::size_t i = 0; i + 14 <= b.size(); ++i) {
    if (b[i] != 0 || b[i + 1] != 0 || b[i + 2] != 1 || (b[i + 3] & 0xF0) != 0xE0) continue;
    if ((b[i + 6] & 0xC0) != 0x80 || !(b[i + 7] & 0x80)) continue;
    const std::uint8_t* t = &b[i + 9];
    pts = (static_cast<std::uint64_t>(t[0] >> 1) & 0x07) << 30 |
          static_cast<std::uint64_t>(t[1]) << 22 | static_cast<std::uint64_t>(t[2] >> 1) << 15 |
          static_cast<std::uint64_t>(t[3]) << 7 | static_cast<std::uint64_t>(t[4] >> 1);
    found = true;
  }
  return found;
}

class MpegFileSource : public PacketSource {
 public:
  ~MpegFileSource() override {
    if (file_) std::fclose(file_);
  }

  bool open(const std::string& path, std::string& error) {
    file_ = std::fopen(path.c_str(), "rb");
    if (!file_) {
      error = "cannot open " + path;
      return false;
    }
    const bool transport = isTransportExtension(lowerExtension(path));
    // The picture size and rate, where this build can read them from the
    // file; the stand-in needs them only as nominal values.
    std::string ignored;
    std::string codec;
    if (const auto probe = openMediaSource(path, ignored)) {
      info_ = probe->info();
      codec = probe->contents().substr(0, probe->contents().find(' '));
    } else {
      info_ = {1920, 1080, 25, 1};
    }
    header_ = vdstream::makeFileHeader(
        info_.width, info_.height, info_.rateNum, info_.rateDen, vdstream::Codec::None,
        transport ? vdstream::Framing::TransportStream : vdstream::Framing::ProgramStream);
    contents_ = std::string(transport ? "MPEG transport stream" : "MPEG program stream") +
                (codec.empty() ? "" : " of " + codec) + ", handed over as it is";
    blocksArePictures_ = false;
    return true;
  }

  bool next(std::vector<std::uint8_t>& block) override {
    block.resize(kPieceSizes[pieces_++ % (sizeof kPieceSizes / sizeof kPieceSizes[0])]);
    block.resize(std::fread(block.data(), 1, block.size(), file_));
    if (block.empty()) return false;
    // Due when the last picture that begins in it is: a stream's
    // presentation times run ahead of its bytes by a little, never behind.
    std::uint64_t pts = 0;
    if (latestVideoPts(block, pts)) {
      if (!havePts_) firstPts_ = pts, havePts_ = true;
      const std::uint64_t since = (pts - firstPts_) & kPtsMask;
      const double seconds = static_cast<double>(since) / 90000.0;
      if (seconds > due_ + kLargestStepSeconds) {
        // A cut in the recording (or stamps that went back): the file's own
        // time goes on from here.
        firstPts_ = (pts - static_cast<std::uint64_t>(due_ * 90000)) & kPtsMask;
      } else {
        due_ = std::max(due_, seconds);
      }
    }
    return true;
  }

 private:
  std::FILE* file_ = nullptr;
  std::uint64_t pieces_ = 0;
  bool havePts_ = false;
  std::uint64_t firstPts_ = 0;
};

}  // namespace

bool isMpegStreamFile(const std::string& path) {
  const std::string ext = lowerExtension(path);
  return isTransportExtension(ext) || ext == "ps" || ext == "mpg" || ext == "mpeg" || ext == "vob";
}

std::unique_ptr<PacketSource> openMpegFileSource(const std::string& path, std::string& error) {
  auto source = std::make_unique<MpegFileSource>();
  if (!source->open(path, error)) return nullptr;
  return source;
}

}  // namespace spdemo
