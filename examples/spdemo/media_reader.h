// Reads the video of a file through libavformat (mp4, mkv, MPEG-TS, raw
// .h264/.265 and whatever else it opens): the first H.264 or H.265 stream,
// as access units in Annex-B form (start codes, parameter sets in band before
// key frames), each with its presentation time and the time at which a
// player that decodes in order needs it; the first AAC or G.711 sound with
// it. Native build only.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "video_file.h"

namespace spdemo {

class MediaReader : public VideoFileReader {
 public:
  MediaReader();
  ~MediaReader() override;
  MediaReader(const MediaReader&) = delete;
  MediaReader& operator=(const MediaReader&) = delete;

  // Opens the file and finds its video stream. False with error() set when
  // libavformat cannot read the file or its video is neither H.264 nor H.265.
  bool open(const std::string& path);

  bool read(AccessUnit& unit) override;
  // The file's sound read so far, in file order (AAC, G.711 A-law or mu-law;
  // other codecs are left out). False when none waits.
  bool takeAudio(AudioUnitOut& unit) override;

 private:
  struct Demuxer;  // the libavformat and bitstream-filter state
  bool pullFiltered(AccessUnit& unit);
  bool pushNextPacket();
  void keepAudio();
  void findAudio();
  void fillTimes(AccessUnit& unit, std::int64_t pts, std::int64_t dts);

  std::unique_ptr<Demuxer> demuxer_;
  std::deque<AudioUnitOut> audio_;
  std::uint64_t units_ = 0;
  std::int64_t expectedUnits_ = 0;  // 0 when the container does not say
  bool inputEnded_ = false;
  bool damaged_ = false;
  std::string conversionError_;  // the first unit the Annex-B conversion rejected
};

}  // namespace spdemo
