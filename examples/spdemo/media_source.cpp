#include "media_source.h"

#include <algorithm>
#include <cstdint>

#include "media_reader.h"

namespace spdemo {
namespace {

class MediaSource : public PacketSource {
 public:
  explicit MediaSource(std::unique_ptr<MediaReader> reader) : reader_(std::move(reader)) {
    const bool h265 = reader_->codec() == VideoCodec::H265;
    info_ = {reader_->width(), reader_->height(), reader_->rateNumerator(),
             reader_->rateDenominator()};
    header_ = vdstream::makeFileHeader(info_.width, info_.height, info_.rateNum, info_.rateDen,
                                       h265 ? vdstream::Codec::H265 : vdstream::Codec::H264);
    payload_ = h265 ? vdstream::Payload::H265 : vdstream::Payload::H264;
    contents_ = std::string(h265 ? "H.265" : "H.264") + " from " + reader_->container();
    if (!reader_->audioCodec().empty()) contents_ += " with " + reader_->audioCodec() + " sound";
  }

  bool next(std::vector<std::uint8_t>& block) override {
    if (!reader_->read(unit_)) {
      error_ = reader_->error();
      return false;
    }
    due_ = unit_.decodeSeconds;
    const auto stampMs =
        static_cast<std::uint32_t>(std::clamp<std::int64_t>(unit_.presentationMs, 0, UINT32_MAX));
    block.clear();
    // The sound read so far goes just before the picture, as the file has it.
    AudioUnitOut audio;
    while (reader_->takeAudio(audio)) {
      vdstream::appendPacket(block, audio.data.data(), audio.data.size(), audio.stampMs,
                             static_cast<vdstream::Payload>(audio.payloadType));
    }
    return vdstream::appendPacket(block, unit_.data.data(), unit_.data.size(), stampMs, payload_);
  }

 private:
  std::unique_ptr<MediaReader> reader_;
  vdstream::Payload payload_ = vdstream::Payload::H264;
  AccessUnit unit_;
};

}  // namespace

std::unique_ptr<PacketSource> openMediaSource(const std::string& path, std::string& error) {
  auto reader = std::make_unique<MediaReader>();
  if (!reader->open(path)) {
    error = path + ": " + reader->error();
    return nullptr;
  }
  return std::make_unique<MediaSource>(std::move(reader));
}

}  // namespace spdemo
