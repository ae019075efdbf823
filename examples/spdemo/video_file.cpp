#include "video_file.h"

#include <algorithm>
#include <iterator>

namespace spdemo {
namespace {

class Bits {
 public:
  Bits(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint32_t take(int n) {
    std::uint32_t value = 0;
    for (int i = 0; i < n; ++i) {
      if (pos_ >= size_ * 8) {
        failed = true;
        return 0;
      }
      value = (value << 1) | ((data_[pos_ / 8] >> (7 - pos_ % 8)) & 1u);
      ++pos_;
    }
    return value;
  }
  bool failed = false;

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

std::uint32_t objectTypeOf(Bits& bits) {
  const std::uint32_t type = bits.take(5);
  return type == 31 ? 32 + bits.take(6) : type;
}

// A sampling frequency index; an explicit rate counts when the table has it.
bool rateIndexOf(Bits& bits, std::uint32_t& index) {
  static const std::uint32_t kRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                         22050, 16000, 12000, 11025, 8000,  7350};
  index = bits.take(4);
  if (index != 15) return index <= 12;
  const std::uint32_t rate = bits.take(24);
  const auto* found = std::find(std::begin(kRates), std::end(kRates), rate);
  index = static_cast<std::uint32_t>(found - std::begin(kRates));
  return found != std::end(kRates);
}

class VideoFileSource : public PacketSource {
 public:
  explicit VideoFileSource(std::unique_ptr<VideoFileReader> reader) : reader_(std::move(reader)) {
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
    // The sound due so far goes just before the picture.
    AudioUnitOut audio;
    while (reader_->takeAudio(audio)) {
      vdstream::appendPacket(block, audio.data.data(), audio.data.size(), audio.stampMs,
                             static_cast<vdstream::Payload>(audio.payloadType));
    }
    return vdstream::appendPacket(block, unit_.data.data(), unit_.data.size(), stampMs, payload_);
  }

 private:
  std::unique_ptr<VideoFileReader> reader_;
  vdstream::Payload payload_ = vdstream::Payload::H264;
  AccessUnit unit_;
};

}  // namespace

bool readAudioSpecificConfig(const std::uint8_t* data, std::size_t size, AacConfig& out) {
  if (!data) return false;
  Bits bits(data, size);
  std::uint32_t type = objectTypeOf(bits);
  std::uint32_t rateIndex = 0;
  if (!rateIndexOf(bits, rateIndex)) return false;
  const std::uint32_t channels = bits.take(4);
  if (type == 5 || type == 29) {  // SBR (and PS): the core follows
    std::uint32_t extensionRate = 0;
    rateIndexOf(bits, extensionRate);
    type = objectTypeOf(bits);
  }
  if (bits.failed || channels < 1 || channels > 7) return false;
  out.objectType = type >= 1 && type <= 4 ? type : 2;  // others as LC
  out.rateIndex = rateIndex;
  out.channels = channels;
  return true;
}

bool makeAdtsHeader(const AacConfig& config, std::size_t rawBytes, std::uint8_t header[7]) {
  const std::size_t length = rawBytes + 7;
  if (length > 8191) return false;
  header[0] = 0xFF;
  header[1] = 0xF1;  // MPEG-4, no CRC
  header[2] = static_cast<std::uint8_t>(((config.objectType - 1) << 6) | (config.rateIndex << 2) |
                                        (config.channels >> 2));
  header[3] = static_cast<std::uint8_t>(((config.channels & 3) << 6) | (length >> 11));
  header[4] = static_cast<std::uint8_t>((length >> 3) & 0xFF);
  header[5] = static_cast<std::uint8_t>(((length & 7) << 5) | 0x1F);  // buffer fullness: variable
  header[6] = 0xFC;                                                   // one raw data block
  return true;
}

std::unique_ptr<PacketSource> makeVideoFileSource(std::unique_ptr<VideoFileReader> reader) {
  return std::make_unique<VideoFileSource>(std::move(reader));
}

}  // namespace spdemo
