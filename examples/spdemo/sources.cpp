#include "sources.h"

#include <VdStreamFormat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "live_source.h"
#include "media_source.h"
#include "mpeg_file_source.h"
#include "y4m_reader.h"

namespace spdemo {
namespace {

std::uint32_t get32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

class PatternSource : public PacketSource {
 public:
  PatternSource(std::uint32_t width, std::uint32_t height, std::uint32_t fps,
                std::uint32_t frames)
      : frames_(frames), picture_(vdstream::pictureBytes(width, height)) {
    info_ = {width, height, fps, 1};
    header_ = vdstream::makeFileHeader(width, height, fps, 1);
    contents_ = "zlib pictures";
  }

  bool next(std::vector<std::uint8_t>& block) override {
    if (index_ >= frames_) return false;
    due_ = static_cast<double>(index_) / info_.framesPerSecond();
    vdstream::fillTestPicture(picture_.data(), info_.width, info_.height, index_);
    block = vdstream::makePacket(picture_.data(), picture_.size(),
                                 frameStampMs(index_, info_.rateNum, info_.rateDen),
                                 vdstream::Payload::Zlib);
    ++index_;
    return !block.empty();
  }

 private:
  std::uint32_t frames_;
  std::uint32_t index_ = 0;
  std::vector<std::uint8_t> picture_;
};

class Y4mSource : public PacketSource {
 public:
  Y4mSource(std::unique_ptr<Y4mReader> reader, vdstream::Payload payload)
      : reader_(std::move(reader)), payload_(payload) {
    info_ = {reader_->width(), reader_->height(), reader_->rateNumerator(),
             reader_->rateDenominator()};
    header_ = vdstream::makeFileHeader(info_.width, info_.height, info_.rateNum, info_.rateDen);
    contents_ = payload == vdstream::Payload::Raw ? "raw pictures" : "zlib pictures";
  }

  bool next(std::vector<std::uint8_t>& block) override {
    if (!reader_->readFrame(picture_)) {
      error_ = reader_->error();
      return false;
    }
    due_ = static_cast<double>(index_) / info_.framesPerSecond();
    block = vdstream::makePacket(picture_.data(), picture_.size(),
                                 frameStampMs(index_++, info_.rateNum, info_.rateDen), payload_);
    return !block.empty();
  }

 private:
  std::unique_ptr<Y4mReader> reader_;
  vdstream::Payload payload_;
  std::vector<std::uint8_t> picture_;
  std::uint64_t index_ = 0;
};

// Reads a stream file packet by packet, so that the feeder can pace them.
class StreamFileSource : public PacketSource {
 public:
  ~StreamFileSource() override {
    if (file_) std::fclose(file_);
  }

  bool open(const std::string& path) {
    file_ = std::fopen(path.c_str(), "rb");
    if (!file_) {
      error_ = "cannot open " + path;
      return false;
    }
    header_.resize(vdstream::kFileHeaderSize);
    if (std::fread(header_.data(), 1, header_.size(), file_) != header_.size() ||
        std::memcmp(header_.data(), vdstream::kFileMagic, 4) != 0) {
      error_ = path + " is not a stream file";
      return false;
    }
    info_ = {get32(&header_[8]), get32(&header_[12]), get32(&header_[16]),
             get32(&header_[20])};
    if (info_.rateNum == 0 || info_.rateDen == 0) info_.rateNum = info_.rateDen = 1;
    const std::uint32_t framing = get32(&header_[vdstream::kFramingOffset]);
    contents_ = contentsName(get32(&header_[vdstream::kCodecOffset]), framing);
    blocksArePictures_ = static_cast<vdstream::Framing>(framing) == vdstream::Framing::Packets;
    return true;
  }

  bool next(std::vector<std::uint8_t>& block) override {
    block.clear();
    // Audio packets go with the picture after them: the blocks stay pictures.
    for (;;) {
      fill(vdstream::kPacketHeaderSize);
      if (buffered() == 0) return !block.empty();
      std::size_t take = 0;
      bool audio = false;
      due_ = static_cast<double>(packets_) / info_.framesPerSecond();
      if (startsWithPacket(start_)) {
        const std::uint32_t payload = get32(&buffer_[start_ + 4]);
        audio = vdstream::isAudioPayload(get32(&buffer_[start_ + 12]));
        // A size no picture needs marks a damaged packet; its payload is not
        // read here, the decoder skips the bytes itself.
        const std::size_t size = payload <= kLargestPayload
                                     ? vdstream::kPacketHeaderSize + payload
                                     : vdstream::kPacketHeaderSize;
        fill(size);
        if (buffered() < size) {
          // The decoder would wait for the rest for ever.
          error_ = "the file ends inside a packet (" + std::to_string(buffered()) + " of " +
                   std::to_string(size) + " bytes)";
          return false;
        }
        take = size;
        if (!audio) ++packets_;
      } else {
        take = bytesUpToNextPacket();
      }
      block.insert(block.end(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_),
                   buffer_.begin() + static_cast<std::ptrdiff_t>(start_ + take));
      start_ += take;
      if (!audio) return true;
    }
  }

 private:
  static constexpr std::size_t kLargestPayload = 64u * 1024 * 1024;

  static std::string contentsName(std::uint32_t codec, std::uint32_t framing) {
    std::string name;
    switch (static_cast<vdstream::Codec>(codec)) {
      case vdstream::Codec::None: name = "raw or zlib pictures"; break;
      case vdstream::Codec::H264: name = "H.264"; break;
      case vdstream::Codec::H265: name = "H.265"; break;
      default: name = "codec " + std::to_string(codec); break;
    }
    if (static_cast<vdstream::Framing>(framing) == vdstream::Framing::AnnexB) {
      name += ", bare Annex-B stream";
    }
    return name;
  }
  static constexpr std::size_t kChunk = 64 * 1024;

  std::size_t buffered() const { return buffer_.size() - start_; }

  bool startsWithPacket(std::size_t at) const {
    return buffer_.size() - at >= 4 && std::memcmp(&buffer_[at], vdstream::kPacketMagic, 4) == 0;
  }

  // Makes at least want bytes available, unless the file ends first.
  void fill(std::size_t want) {
    if (start_ > 0 && start_ == buffer_.size()) {
      buffer_.clear();
      start_ = 0;
    }
    while (buffered() < want && !atEnd_) {
      const std::size_t old = buffer_.size();
      const std::size_t grow = std::max(want - buffered(), kChunk);
      buffer_.resize(old + grow);
      const std::size_t got = std::fread(&buffer_[old], 1, grow, file_);
      buffer_.resize(old + got);
      if (got < grow) atEnd_ = true;
    }
  }

  // Bytes that are no packet, up to the next "VDFR" (or a chunk of them).
  std::size_t bytesUpToNextPacket() {
    std::size_t at = start_ + 1;
    for (;;) {
      fill(at - start_ + 4);
      if (at + 4 > buffer_.size()) return buffered();
      if (startsWithPacket(at) || at - start_ >= kChunk) return at - start_;
      ++at;
    }
  }

  std::FILE* file_ = nullptr;
  std::vector<std::uint8_t> buffer_;
  std::size_t start_ = 0;
  bool atEnd_ = false;
  std::uint64_t packets_ = 0;
};

}  // namespace

std::uint32_t frameStampMs(std::uint64_t index, std::uint32_t rateNum, std::uint32_t rateDen) {
  return static_cast<std::uint32_t>(index * 1000 * rateDen / rateNum);
}

std::unique_ptr<PacketSource> makePatternSource(std::uint32_t width, std::uint32_t height,
                                                std::uint32_t fps, std::uint32_t frames) {
  return std::make_unique<PatternSource>(width, height, fps, frames);
}

std::unique_ptr<PacketSource> openFileSource(const std::string& path, std::string& error,
                                             vdstream::Payload pictures) {
  if (isLiveAddress(path)) return openLiveSource(path, error);
  if (isMpegStreamFile(path)) return openMpegFileSource(path, error);
  char magic[9] = {};
  std::FILE* probe = std::fopen(path.c_str(), "rb");
  if (!probe) {
    error = "cannot open " + path;
    return nullptr;
  }
  const std::size_t got = std::fread(magic, 1, sizeof magic, probe);
  std::fclose(probe);

  if (got >= 4 && std::memcmp(magic, vdstream::kFileMagic, 4) == 0) {
    auto source = std::make_unique<StreamFileSource>();
    if (!source->open(path)) {
      error = source->error();
      return nullptr;
    }
    return source;
  }
  if (got == 9 && std::memcmp(magic, "YUV4MPEG2", 9) == 0) {
    auto reader = std::make_unique<Y4mReader>();
    if (!reader->open(path)) {
      error = path + ": " + reader->error();
      return nullptr;
    }
    return std::make_unique<Y4mSource>(std::move(reader), pictures);
  }
  return openMediaSource(path, error);
}

std::string lowerExtension(const std::string& path) {
  const std::size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || path.find_first_of("/\\", dot) != std::string::npos) return "";
  std::string extension = path.substr(dot + 1);
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension;
}

}  // namespace spdemo
