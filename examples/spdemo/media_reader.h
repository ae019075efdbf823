// Reads the video of a file through libavformat (mp4, mkv, MPEG-TS, raw
// .h264/.265 and whatever else it opens): the first H.264 or H.265 stream,
// as access units in Annex-B form (start codes, parameter sets in band before
// key frames), each with its presentation time and the time at which a
// player that decodes in order needs it. Native build only.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace spdemo {

enum class VideoCodec { H264, H265 };

struct AccessUnit {
  std::vector<std::uint8_t> data;
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

class MediaReader {
 public:
  MediaReader();
  ~MediaReader();
  MediaReader(const MediaReader&) = delete;
  MediaReader& operator=(const MediaReader&) = delete;

  // Opens the file and finds its video stream. False with error() set when
  // libavformat cannot read the file or its video is neither H.264 nor H.265.
  bool open(const std::string& path);

  // The next access unit. False at the end; error() then tells whether the
  // file was damaged or ended early.
  bool read(AccessUnit& unit);

  // The file's sound read so far, in file order (AAC, G.711 A-law or mu-law;
  // other codecs are left out). False when none waits.
  bool takeAudio(AudioUnitOut& unit);
  // The audio stream's codec name, empty when the file has none that plays.
  const std::string& audioCodec() const { return audioCodec_; }

  VideoCodec codec() const { return codec_; }
  std::uint32_t width() const { return width_; }
  std::uint32_t height() const { return height_; }
  std::uint32_t rateNumerator() const { return rateNum_; }
  std::uint32_t rateDenominator() const { return rateDen_; }
  // What libavformat calls the container ("mov,mp4,m4a,3gp,3g2,mj2", "h264", ...).
  const std::string& container() const { return container_; }
  const std::string& error() const { return error_; }

 private:
  struct Demuxer;  // the libavformat and bitstream-filter state
  bool pullFiltered(AccessUnit& unit);
  bool pushNextPacket();
  void keepAudio();
  void findAudio();
  void fillTimes(AccessUnit& unit, std::int64_t pts, std::int64_t dts);

  std::unique_ptr<Demuxer> demuxer_;
  VideoCodec codec_ = VideoCodec::H264;
  std::uint32_t width_ = 0;
  std::uint32_t height_ = 0;
  std::uint32_t rateNum_ = 25;
  std::uint32_t rateDen_ = 1;
  std::string container_;
  std::string audioCodec_;
  std::deque<AudioUnitOut> audio_;
  std::string error_;
  std::uint64_t units_ = 0;
  std::int64_t expectedUnits_ = 0;  // 0 when the container does not say
  bool inputEnded_ = false;
  bool damaged_ = false;
  std::string conversionError_;  // the first unit the Annex-B conversion rejected
};

}  // namespace spdemo
