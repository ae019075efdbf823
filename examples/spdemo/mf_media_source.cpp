// The media source of the Windows demo: video files turned into the
// decoder's stream, for the stand-in's Media Foundation decoder.
//
//  - .mp4, .mov and .m4v files through the demo's own MP4 reader
//    (mp4_reader.h): the H.264 or H.265 video as access units and the AAC or
//    G.711 sound with them, whatever the system's readers offer.
//  - Other containers (mkv, ...) through the system's Source Reader, asked
//    for the video's own compressed samples (H.264 or H.265), which become
//    one packet per access unit in Annex-B form, stamped with the
//    presentation time and due at the decoding time. A Source Reader that
//    offers the video only decoded (Wine 8.0 does so) gives no such samples:
//    the file is refused with a note on how to play it.
//  - A bare H.264/H.265 elementary stream (.h264, .264, .avc, .h265, .265,
//    .hevc, or any file that starts with a start code) is played as it is:
//    a stream of framing 1, fed one access unit at a time at the frame rate
//    of its sequence parameter set (25 fps when it names none).
//
// Media Foundation is loaded when a file needs it, so the demo starts on a
// system without it and still plays stream and .y4m files there.
#include "media_source.h"
#include "mp4_reader.h"

#include <windows.h>
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mfreadwrite.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <vector>

namespace spdemo {
namespace {

using Bytes = std::vector<std::uint8_t>;

// ------------------------------------------------------------ bare streams

bool endsWith(const std::string& text, const char* suffix) {
  const std::size_t n = std::strlen(suffix);
  if (text.size() < n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    const char a = static_cast<char>(std::tolower(static_cast<unsigned char>(text[text.size() - n + i])));
    if (a != suffix[i]) return false;
  }
  return true;
}

// Bits of a NAL unit's payload, emulation prevention bytes removed.
class Bits {
 public:
  Bits(const std::uint8_t* p, std::size_t n) {
    int zeros = 0;
    for (std::size_t i = 0; i < n && bytes_.size() < 512; ++i) {
      if (zeros >= 2 && p[i] == 3) {
        zeros = 0;
        continue;
      }
      zeros = p[i] == 0 ? zeros + 1 : 0;
      bytes_.push_back(p[i]);
    }
  }
  std::uint32_t bit() {
    if (pos_ >= bytes_.size() * 8) {
      failed = true;
      return 0;
    }
    const std::uint32_t v = (bytes_[pos_ / 8] >> (7 - pos_ % 8)) & 1;
    ++pos_;
    return v;
  }
  std::uint32_t bits(int n) {
    std::uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 1) | bit();
    return v;
  }
  std::uint32_t ue() {
    int zeros = 0;
    while (bit() == 0 && !failed)
      if (++zeros > 31) return failed = true, 0;
    return zeros ? (1u << zeros) - 1 + bits(zeros) : 0;
  }
  void se() { ue(); }
  bool failed = false;

 private:
  Bytes bytes_;
  std::size_t pos_ = 0;
};

// What the demo needs from an H.264 sequence parameter set: the visible
// size and, where the VUI says, the frame rate.
bool readH264Sps(const std::uint8_t* nal, std::size_t n, StreamInfo& info) {
  Bits r(nal + 1, n - 1);
  const std::uint32_t profile = r.bits(8);
  r.bits(16);
  r.ue();
  std::uint32_t chroma = 1;
  if (profile == 100 || profile == 110 || profile == 122 || profile == 244 || profile == 44 ||
      profile == 83 || profile == 86 || profile == 118 || profile == 128 || profile == 138 ||
      profile == 139 || profile == 134 || profile == 135) {
    chroma = r.ue();
    if (chroma == 3) r.bit();
    r.ue();
    r.ue();
    r.bit();
    if (r.bit()) {
      for (int k = 0; k < (chroma != 3 ? 8 : 12); ++k) {
        if (!r.bit()) continue;
        int last = 8, next = 8;
        for (int j = 0; j < (k < 6 ? 16 : 64); ++j) {
          if (next != 0) {
            const std::uint32_t code = r.ue();
            const int delta = (code & 1) ? static_cast<int>((code + 1) / 2) : -static_cast<int>(code / 2);
            next = (last + delta + 256) % 256;
          }
          last = next == 0 ? last : next;
        }
      }
    }
  }
  r.ue();
  const std::uint32_t pocType = r.ue();
  if (pocType == 0) {
    r.ue();
  } else if (pocType == 1) {
    r.bit();
    r.se();
    r.se();
    const std::uint32_t cycle = r.ue();
    for (std::uint32_t k = 0; k < cycle && k < 256; ++k) r.se();
  }
  r.ue();
  r.bit();
  const std::uint32_t widthMbs = r.ue() + 1;
  const std::uint32_t heightUnits = r.ue() + 1;
  const std::uint32_t frameMbsOnly = r.bit();
  if (!frameMbsOnly) r.bit();
  r.bit();
  std::uint32_t crop[4] = {};
  if (r.bit())
    for (std::uint32_t& c : crop) c = r.ue();
  if (r.failed) return false;
  const std::uint32_t unitY = (chroma == 1 ? 2 : 1) * (2 - frameMbsOnly);
  const std::uint32_t unitX = chroma == 3 ? 1 : 2;
  const std::uint32_t width = widthMbs * 16 - (crop[0] + crop[1]) * unitX;
  const std::uint32_t height = (2 - frameMbsOnly) * heightUnits * 16 - (crop[2] + crop[3]) * unitY;
  info.width = (width + 1) & ~1u;
  info.height = (height + 1) & ~1u;
  if (r.bit()) {  // VUI
    if (r.bit() && r.bits(8) == 255) r.bits(32);  // aspect ratio
    if (r.bit()) r.bit();                         // overscan
    if (r.bit()) {                                // video signal type
      r.bits(4);
      if (r.bit()) r.bits(24);
    }
    if (r.bit()) {  // chroma location
      r.ue();
      r.ue();
    }
    if (r.bit()) {  // timing
      const std::uint32_t tick = r.bits(32);
      const std::uint32_t scale = r.bits(32);
      if (!r.failed && tick > 0 && scale > 0 && scale / (2 * tick) <= 1000) {
        info.rateNum = scale;
        info.rateDen = 2 * tick;
      }
    }
  }
  return info.width >= 2 && info.height >= 2;
}

bool readH265Sps(const std::uint8_t* nal, std::size_t n, StreamInfo& info) {
  Bits r(nal + 2, n - 2);
  r.bits(4);
  const std::uint32_t subLayers = r.bits(3);
  r.bit();
  r.bits(32);  // general profile: 88 bits, then the level
  r.bits(32);
  r.bits(24);
  r.bits(8);
  std::uint32_t profile[8] = {}, level[8] = {};
  for (std::uint32_t i = 0; i < subLayers && i < 7; ++i) {
    profile[i] = r.bit();
    level[i] = r.bit();
  }
  if (subLayers > 0)
    for (std::uint32_t i = subLayers; i < 8; ++i) r.bits(2);
  for (std::uint32_t i = 0; i < subLayers && i < 7; ++i) {
    if (profile[i]) r.bits(32), r.bits(32), r.bits(24);
    if (level[i]) r.bits(8);
  }
  r.ue();
  const std::uint32_t chroma = r.ue();
  if (chroma == 3) r.bit();
  std::uint32_t width = r.ue(), height = r.ue();
  if (r.bit()) {
    const std::uint32_t unitX = chroma == 1 || chroma == 2 ? 2 : 1, unitY = chroma == 1 ? 2 : 1;
    const std::uint32_t left = r.ue(), right = r.ue(), top = r.ue(), bottom = r.ue();
    width -= (left + right) * unitX;
    height -= (top + bottom) * unitY;
  }
  if (r.failed) return false;
  info.width = (width + 1) & ~1u;
  info.height = (height + 1) & ~1u;
  return info.width >= 2 && info.height >= 2;
}

// A bare elementary stream, read in chunks and cut into access units (the
// same rule as the decoder's: a unit ends where parameter sets, a delimiter
// or the first slice of the next picture begin). Each unit is one block,
// due at its place in the stream at the frame rate.
class ElementaryStreamSource : public PacketSource {
 public:
  ~ElementaryStreamSource() override {
    if (file_) std::fclose(file_);
  }

  bool open(const std::string& path, bool h265, std::string& error) {
    h265_ = h265;
    file_ = std::fopen(path.c_str(), "rb");
    if (!file_) {
      error = "cannot open " + path;
      return false;
    }
    // The sequence parameter set gives the size and rate for the header.
    info_ = {0, 0, 25, 1};
    fill(1 << 20);
    bool found = false;
    for (std::size_t i = 0; i + 4 < buffer_.size() && !found; ++i) {
      if (buffer_[i] != 0 || buffer_[i + 1] != 0 || buffer_[i + 2] != 1) continue;
      const std::uint8_t* nal = &buffer_[i + 3];
      const std::size_t n = buffer_.size() - i - 3;
      found = h265_ ? ((nal[0] >> 1) & 0x3f) == 33 && readH265Sps(nal, n, info_)
                    : (nal[0] & 0x1f) == 7 && readH264Sps(nal, n, info_);
    }
    if (!found) {
      error = path + ": no " + std::string(h265_ ? "H.265" : "H.264") +
              " sequence parameter set in its first megabyte";
      return false;
    }
    header_ = vdstream::makeFileHeader(info_.width, info_.height, info_.rateNum, info_.rateDen,
                                       h265_ ? vdstream::Codec::H265 : vdstream::Codec::H264,
                                       vdstream::Framing::AnnexB);
    contents_ = std::string(h265_ ? "H.265" : "H.264") + ", bare Annex-B stream";
    return true;
  }

  bool next(std::vector<std::uint8_t>& block) override {
    if (start_ > (1u << 20)) {  // what was given out goes
      buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
      start_ = 0;
    }
    // The unit ends where the next begins, or at the end of the file.
    bool sawSlice = false;
    std::size_t i = start_;
    for (;;) {
      if (i + 6 > buffer_.size()) {
        if (!atEnd_) {
          fill(i + 6 - start_ + (1 << 16));
          continue;
        }
        i = buffer_.size();
        break;
      }
      if (buffer_[i] == 0 && buffer_[i + 1] == 0 && buffer_[i + 2] == 1) {
        const std::uint8_t* h = &buffer_[i + 3];
        bool slice, starts;
        if (h265_) {
          const int type = (h[0] >> 1) & 0x3f;
          slice = type <= 31;
          starts = (type >= 32 && type <= 35) || type == 39 || (type >= 41 && type <= 44) ||
                   (type >= 48 && type <= 55) || (slice && (h[2] & 0x80));
        } else {
          const int type = h[0] & 0x1f;
          slice = type == 1 || type == 5;
          starts = (type >= 6 && type <= 9) || (type >= 14 && type <= 18) ||
                   (slice && (h[1] & 0x80));
        }
        if (sawSlice && starts) {
          if (i > start_ && buffer_[i - 1] == 0) --i;  // a four-byte start code
          break;
        }
        sawSlice = sawSlice || slice;
        i += 3;
        continue;
      }
      ++i;
    }
    if (i <= start_) return false;
    block.assign(buffer_.begin() + static_cast<std::ptrdiff_t>(start_),
                 buffer_.begin() + static_cast<std::ptrdiff_t>(i));
    start_ = i;
    due_ = static_cast<double>(units_++) / info_.framesPerSecond();
    return true;
  }

 private:
  void fill(std::size_t want) {
    while (buffer_.size() - start_ < want && !atEnd_) {
      const std::size_t old = buffer_.size();
      buffer_.resize(old + (1 << 16));
      const std::size_t got = std::fread(&buffer_[old], 1, 1 << 16, file_);
      buffer_.resize(old + got);
      if (got == 0) atEnd_ = true;
    }
  }

  std::FILE* file_ = nullptr;
  bool h265_ = false;
  Bytes buffer_;
  std::size_t start_ = 0;
  bool atEnd_ = false;
  std::uint64_t units_ = 0;
};

// ------------------------------------------------------------ Source Reader

struct MfFunctions {
  decltype(&::CoInitializeEx) coInitialize = nullptr;
  decltype(&::MFStartup) startup = nullptr;
  decltype(&::MFCreateSourceReaderFromURL) createReader = nullptr;
  bool ready = false;
};

template <class F>
bool loadFunction(HMODULE module, const char* name, F& f) {
  f = reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
  return f != nullptr;
}

const MfFunctions& mf() {
  static const MfFunctions functions = [] {
    MfFunctions f;
    HMODULE ole32 = LoadLibraryW(L"ole32.dll");
    HMODULE mfplat = LoadLibraryW(L"mfplat.dll");
    HMODULE mfreadwrite = LoadLibraryW(L"mfreadwrite.dll");
    if (!ole32 || !mfplat || !mfreadwrite ||
        !loadFunction(ole32, "CoInitializeEx", f.coInitialize) ||
        !loadFunction(mfplat, "MFStartup", f.startup) ||
        !loadFunction(mfreadwrite, "MFCreateSourceReaderFromURL", f.createReader))
      return f;
    // The demo's main thread joins the MTA for the reader (a thread that
    // already has an apartment keeps it).
    f.coInitialize(nullptr, COINIT_MULTITHREADED);
    f.ready = SUCCEEDED(f.startup(MF_VERSION, MFSTARTUP_NOSOCKET));
    return f;
  }();
  return functions;
}

std::string hresultText(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
  return text;
}

// Compressed samples of a file's first video stream, as Annex-B access units.
class SourceReaderSource : public PacketSource {
 public:
  ~SourceReaderSource() override {
    if (reader_) reader_->Release();
  }

  bool open(const std::string& path, std::string& error) {
    if (!mf().ready) {
      error = path + ": Media Foundation is not available on this system";
      return false;
    }
    std::wstring wide(static_cast<std::size_t>(MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0)), L'\0');
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, &wide[0], static_cast<int>(wide.size()));
    HRESULT hr = mf().createReader(wide.c_str(), nullptr, &reader_);
    if (FAILED(hr)) {
      error = path + ": the system's Source Reader does not open it (" + hresultText(hr) + ")";
      return false;
    }
    const DWORD video = static_cast<DWORD>(MF_SOURCE_READER_FIRST_VIDEO_STREAM);
    IMFMediaType* chosen = nullptr;
    bool decodedOnly = false;
    for (DWORD i = 0;; ++i) {
      IMFMediaType* type = nullptr;
      if (FAILED(reader_->GetNativeMediaType(video, i, &type))) break;
      GUID subtype = GUID_NULL;
      type->GetGUID(MF_MT_SUBTYPE, &subtype);
      if (!chosen && (subtype == MFVideoFormat_H264 || subtype == MFVideoFormat_HEVC)) {
        chosen = type;
        h265_ = subtype == MFVideoFormat_HEVC;
      } else {
        decodedOnly = true;
        type->Release();
      }
    }
    if (!chosen) {
      error = path + (decodedOnly
                          ? ": the system's Source Reader gives its video only decoded, not as"
                            " H.264 or H.265 samples (Wine 8.0 does so); play its bare stream"
                            " instead, e.g. ffmpeg -i FILE -c:v copy -bsf:v h264_mp4toannexb"
                            " -f h264 FILE.h264"
                          : ": it has no video the system's Source Reader offers as H.264 or"
                            " H.265");
      return false;
    }
    reader_->SetStreamSelection(static_cast<DWORD>(MF_SOURCE_READER_ALL_STREAMS), FALSE);
    reader_->SetStreamSelection(video, TRUE);
    hr = reader_->SetCurrentMediaType(video, nullptr, chosen);
    UINT32 width = 0, height = 0, num = 0, den = 0;
    MFGetAttributeSize(chosen, MF_MT_FRAME_SIZE, &width, &height);
    if (FAILED(MFGetAttributeRatio(chosen, MF_MT_FRAME_RATE, &num, &den)) || num == 0 || den == 0 ||
        num / den > 1000)
      num = 25, den = 1;
    UINT32 blobSize = 0;
    if (SUCCEEDED(chosen->GetBlobSize(MF_MT_MPEG_SEQUENCE_HEADER, &blobSize)) && blobSize > 0) {
      sequenceHeader_.resize(blobSize);
      chosen->GetBlob(MF_MT_MPEG_SEQUENCE_HEADER, sequenceHeader_.data(), blobSize, &blobSize);
      if (!startsWithStartCode(sequenceHeader_)) sequenceHeader_.clear();  // not Annex-B
    }
    chosen->Release();
    if (FAILED(hr)) {
      error = path + ": the Source Reader does not give its compressed video (" +
              hresultText(hr) + ")";
      return false;
    }
    info_ = {(width + 1) & ~1u, (height + 1) & ~1u, num, den};
    if (info_.width < 2 || info_.height < 2) {
      error = path + ": its video has no picture size";
      return false;
    }
    header_ = vdstream::makeFileHeader(info_.width, info_.height, num, den,
                                       h265_ ? vdstream::Codec::H265 : vdstream::Codec::H264);
    payload_ = h265_ ? vdstream::Payload::H265 : vdstream::Payload::H264;
    contents_ = std::string(h265_ ? "H.265" : "H.264") + " from the system's Source Reader";
    return true;
  }

  bool next(std::vector<std::uint8_t>& block) override {
    const DWORD video = static_cast<DWORD>(MF_SOURCE_READER_FIRST_VIDEO_STREAM);
    for (;;) {
      DWORD stream = 0, flags = 0;
      LONGLONG time = 0;
      IMFSample* sample = nullptr;
      const HRESULT hr = reader_->ReadSample(video, 0, &stream, &flags, &time, &sample);
      if (FAILED(hr)) {
        error_ = "reading stopped (" + hresultText(hr) + ")";
        return false;
      }
      if (flags & MF_SOURCE_READERF_ERROR) {
        error_ = "the Source Reader reported an error";
        if (sample) sample->Release();
        return false;
      }
      if (!sample) {
        if (flags & MF_SOURCE_READERF_ENDOFSTREAM) return false;
        continue;  // a gap or a format notice
      }
      const bool built = unitOf(sample, time, block);
      sample->Release();
      if (!built) {
        error_ = "a sample could not be read";
        return false;
      }
      return true;
    }
  }

 private:
  static bool startsWithStartCode(const Bytes& b) {
    return (b.size() >= 4 && b[0] == 0 && b[1] == 0 && b[2] == 0 && b[3] == 1) ||
           (b.size() >= 3 && b[0] == 0 && b[1] == 0 && b[2] == 1);
  }

  bool hasParameterSets(const Bytes& unit) const {
    for (std::size_t i = 0; i + 3 < unit.size(); ++i) {
      if (unit[i] != 0 || unit[i + 1] != 0 || unit[i + 2] != 1) continue;
      const std::uint8_t h = unit[i + 3];
      if (h265_ ? ((h >> 1) & 0x3f) == 33 : (h & 0x1f) == 7) return true;
    }
    return false;
  }

  bool unitOf(IMFSample* sample, LONGLONG time, std::vector<std::uint8_t>& block) {
    IMFMediaBuffer* buffer = nullptr;
    if (FAILED(sample->ConvertToContiguousBuffer(&buffer))) return false;
    BYTE* data = nullptr;
    DWORD length = 0;
    if (FAILED(buffer->Lock(&data, nullptr, &length))) {
      buffer->Release();
      return false;
    }
    unit_.clear();
    if (startsWithStartCode(Bytes(data, data + std::min<DWORD>(length, 4)))) {
      unit_.assign(data, data + length);
    } else {
      // Length-prefixed NAL units (4 bytes each, as in mp4): start codes instead.
      for (DWORD at = 0; at + 4 <= length;) {
        const DWORD n = (static_cast<DWORD>(data[at]) << 24) | (data[at + 1] << 16) |
                        (data[at + 2] << 8) | data[at + 3];
        at += 4;
        if (n > length - at) break;
        static const std::uint8_t startCode[] = {0, 0, 0, 1};
        unit_.insert(unit_.end(), startCode, startCode + 4);
        unit_.insert(unit_.end(), data + at, data + at + n);
        at += n;
      }
    }
    buffer->Unlock();
    buffer->Release();
    // The parameter sets go before key pictures that lack them.
    UINT32 key = 0;
    if (SUCCEEDED(sample->GetUINT32(MFSampleExtension_CleanPoint, &key)) && key &&
        !sequenceHeader_.empty() && !hasParameterSets(unit_))
      unit_.insert(unit_.begin(), sequenceHeader_.begin(), sequenceHeader_.end());
    if (!haveFirstTime_) {
      firstTime_ = time;
      haveFirstTime_ = true;
    }
    UINT64 decodeTime = 0;
    if (SUCCEEDED(sample->GetUINT64(MFSampleExtension_DecodeTimestamp, &decodeTime))) {
      if (!haveFirstDecode_) firstDecode_ = static_cast<LONGLONG>(decodeTime), haveFirstDecode_ = true;
      due_ = static_cast<double>(static_cast<LONGLONG>(decodeTime) - firstDecode_) / 1e7;
    } else {
      due_ = static_cast<double>(units_) / info_.framesPerSecond();
    }
    ++units_;
    const LONGLONG ms = (time - firstTime_) / 10000;
    const auto stamp = static_cast<std::uint32_t>(std::clamp<LONGLONG>(ms, 0, UINT32_MAX));
    block.clear();
    return vdstream::appendPacket(block, unit_.data(), unit_.size(), stamp, payload_);
  }

  IMFSourceReader* reader_ = nullptr;
  bool h265_ = false;
  vdstream::Payload payload_ = vdstream::Payload::H264;
  Bytes sequenceHeader_;
  Bytes unit_;
  LONGLONG firstTime_ = 0;
  bool haveFirstTime_ = false;
  LONGLONG firstDecode_ = 0;
  bool haveFirstDecode_ = false;
  std::uint64_t units_ = 0;
};

// A file that begins with a start code is a bare stream, whatever its name;
// its first NAL unit tells H.265 (a parameter set or delimiter with the
// two-byte header of layer 0) from H.264.
bool startsWithStartCode(const std::string& path, bool& h265) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  std::uint8_t b[6] = {};
  const std::size_t got = std::fread(b, 1, 6, f);
  std::fclose(f);
  const std::uint8_t* nal = nullptr;
  if (got >= 5 && b[0] == 0 && b[1] == 0 && b[2] == 1) nal = b + 3;
  if (got == 6 && b[0] == 0 && b[1] == 0 && b[2] == 0 && b[3] == 1) nal = b + 4;
  if (!nal) return false;
  const int type = (nal[0] >> 1) & 0x3f;
  h265 = (nal[0] & 0x81) == 0 && nal[1] == 0x01 && type >= 32 && type <= 35;
  return true;
}

}  // namespace

std::unique_ptr<PacketSource> openMediaSource(const std::string& path, std::string& error) {
  if (isMp4FileName(path)) return openMp4Source(path, error);
  bool h265 = endsWith(path, ".h265") || endsWith(path, ".265") || endsWith(path, ".hevc");
  const bool h264 = endsWith(path, ".h264") || endsWith(path, ".264") || endsWith(path, ".avc");
  bool sniffedH265 = false;
  if (h264 || h265 || startsWithStartCode(path, sniffedH265)) {
    if (!h264 && !h265) h265 = sniffedH265;
    auto source = std::make_unique<ElementaryStreamSource>();
    if (!source->open(path, h265, error)) return nullptr;
    return source;
  }
  auto source = std::make_unique<SourceReaderSource>();
  if (!source->open(path, error)) return nullptr;
  return source;
}

}  // namespace spdemo
