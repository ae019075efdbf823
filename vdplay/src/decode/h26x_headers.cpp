#include "decode/h26x_headers.h"

#include <vector>

namespace vdplay {
namespace {

// The NAL unit's payload without emulation prevention bytes (00 00 03),
// at most limit bytes of it.
std::vector<std::uint8_t> unescape(const std::uint8_t* p, std::size_t n, std::size_t limit) {
  std::vector<std::uint8_t> out;
  out.reserve(n < limit ? n : limit);
  int zeros = 0;
  for (std::size_t i = 0; i < n && out.size() < limit; ++i) {
    if (zeros >= 2 && p[i] == 3) {
      zeros = 0;
      continue;
    }
    zeros = p[i] == 0 ? zeros + 1 : 0;
    out.push_back(p[i]);
  }
  return out;
}

// Exp-Golomb bit reader over an unescaped payload; reads past the end give
// zeros and set failed.
class Bits {
 public:
  explicit Bits(const std::vector<std::uint8_t>& bytes) : b_(bytes) {}
  std::uint32_t bit() {
    if (pos_ >= b_.size() * 8) {
      failed = true;
      return 0;
    }
    const std::uint32_t v = (b_[pos_ / 8] >> (7 - pos_ % 8)) & 1;
    ++pos_;
    return v;
  }
  std::uint32_t bits(int n) {
    std::uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 1) | bit();
    return v;
  }
  void skip(std::size_t n) { pos_ += n; }
  std::uint32_t ue() {
    int zeros = 0;
    while (bit() == 0) {
      if (failed || ++zeros > 31) {
        failed = true;
        return 0;
      }
    }
    return zeros ? ((1u << zeros) - 1 + bits(zeros)) : 0;
  }
  std::int32_t se() {
    const std::uint32_t k = ue();
    return (k & 1) ? static_cast<std::int32_t>((k + 1) / 2) : -static_cast<std::int32_t>(k / 2);
  }
  bool failed = false;

 private:
  const std::vector<std::uint8_t>& b_;
  std::size_t pos_ = 0;
};

void skipH264ScalingList(Bits& r, int size) {
  int last = 8, next = 8;
  for (int j = 0; j < size; ++j) {
    if (next != 0) next = (last + r.se() + 256) % 256;
    last = next == 0 ? last : next;
  }
}

void skipH265ProfileTierLevel(Bits& r, std::uint32_t maxSubLayersMinus1) {
  r.skip(88 + 8);  // general profile (88 bits) and level
  std::uint32_t profilePresent[8] = {}, levelPresent[8] = {};
  for (std::uint32_t i = 0; i < maxSubLayersMinus1; ++i) {
    profilePresent[i] = r.bit();
    levelPresent[i] = r.bit();
  }
  if (maxSubLayersMinus1 > 0)
    for (std::uint32_t i = maxSubLayersMinus1; i < 8; ++i) r.skip(2);
  for (std::uint32_t i = 0; i < maxSubLayersMinus1; ++i) {
    if (profilePresent[i]) r.skip(88);
    if (levelPresent[i]) r.skip(8);
  }
}

// Reads bits of a whole unescaped payload, and copies ranges of them.
struct BitCursor {
  const std::vector<std::uint8_t>& bytes;
  std::size_t pos = 0;
  bool failed = false;
  std::uint32_t bit() {
    if (pos >= bytes.size() * 8) {
      failed = true;
      return 0;
    }
    const std::uint32_t v = (bytes[pos / 8] >> (7 - pos % 8)) & 1;
    ++pos;
    return v;
  }
  std::uint32_t bits(int n) {
    std::uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 1) | bit();
    return v;
  }
  std::uint32_t ue() {
    int zeros = 0;
    while (bit() == 0) {
      if (failed || ++zeros > 31) {
        failed = true;
        return 0;
      }
    }
    return zeros ? ((1u << zeros) - 1 + bits(zeros)) : 0;
  }
  void se() { ue(); }
};

class BitWriter {
 public:
  void bit(std::uint32_t b) {
    if (count_ % 8 == 0) bytes.push_back(0);
    if (b) bytes.back() |= static_cast<std::uint8_t>(0x80 >> (count_ % 8));
    ++count_;
  }
  void bits(std::uint32_t v, int n) {
    for (int i = n - 1; i >= 0; --i) bit((v >> i) & 1);
  }
  void copy(const std::vector<std::uint8_t>& from, std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) bit((from[i / 8] >> (7 - i % 8)) & 1);
  }
  std::vector<std::uint8_t> bytes;

 private:
  std::size_t count_ = 0;
};

// The payload with emulation prevention bytes put back.
void appendEscaped(std::vector<std::uint8_t>& out, const std::vector<std::uint8_t>& rbsp) {
  int zeros = 0;
  for (std::uint8_t b : rbsp) {
    if (zeros >= 2 && b <= 3) {
      out.push_back(3);
      zeros = 0;
    }
    out.push_back(b);
    zeros = b == 0 ? zeros + 1 : 0;
  }
}

constexpr std::uint32_t kSmpte170m = 6;

// chroma_loc_info_present_flag and both chroma_sample_loc_type 1 (centred,
// as JPEG): a decoder that knows where the chroma samples sit, and another
// place for its output, would resample them.
void writeCentredChroma(BitWriter& w) {
  w.bit(1);
  w.bits(2, 3);  // ue(v) 1: 010
  w.bits(2, 3);
}

// The SPS (NAL header byte first) with a BT.601 video signal type; false
// when it says so already or cannot be read.
bool spsWithBt601(const std::uint8_t* nal, std::size_t size, std::vector<std::uint8_t>& out) {
  const std::vector<std::uint8_t> rbsp = unescape(nal + 1, size - 1, 4096);
  // The last one bit is the rbsp stop bit; everything after the VUI ends there.
  std::size_t stop = rbsp.size() * 8;
  while (stop > 0 && !((rbsp[(stop - 1) / 8] >> (7 - (stop - 1) % 8)) & 1)) --stop;
  if (stop == 0) return false;
  --stop;
  BitCursor r{rbsp};
  const std::uint32_t profile = r.bits(8);
  r.bits(16);
  r.ue();
  switch (profile) {
    case 100: case 110: case 122: case 244: case 44: case 83: case 86: case 118:
    case 128: case 138: case 139: case 134: case 135: {
      const std::uint32_t chroma = r.ue();
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
              const int delta =
                  (code & 1) ? static_cast<int>((code + 1) / 2) : -static_cast<int>(code / 2);
              next = (last + delta + 256) % 256;
            }
            last = next == 0 ? last : next;
          }
        }
      }
      break;
    }
    default:
      break;
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
    for (std::uint32_t k = 0; k < cycle && k < 256 && !r.failed; ++k) r.se();
  }
  r.ue();
  r.bit();
  r.ue();
  r.ue();
  if (!r.bit()) r.bit();  // frame_mbs_only_flag, mb_adaptive_frame_field_flag
  r.bit();
  if (r.bit()) {
    r.ue();
    r.ue();
    r.ue();
    r.ue();
  }
  if (r.failed || r.pos >= stop + 1) return false;
  const std::size_t vuiFlagAt = r.pos;
  BitWriter w;
  const std::uint8_t header = nal[0];
  if (!r.bit()) {
    // No VUI: one that says only the video signal type.
    w.copy(rbsp, 0, vuiFlagAt);
    w.bit(1);     // vui_parameters_present_flag
    w.bits(0, 2);  // aspect ratio, overscan: not present
    w.bit(1);     // video_signal_type_present_flag
    w.bits(5, 3);  // video_format: unspecified
    w.bit(0);     // limited range
    w.bit(1);     // colour_description_present_flag
    w.bits(kSmpte170m, 8);
    w.bits(kSmpte170m, 8);
    w.bits(kSmpte170m, 8);
    writeCentredChroma(w);
    w.bits(0, 4);  // timing, NAL and VCL HRD, pic_struct: not present
    w.bit(0);     // bitstream_restriction_flag
  } else {
    if (r.bit() && r.bits(8) == 255) r.bits(32);  // aspect ratio
    if (r.bit()) r.bit();                         // overscan
    const std::size_t signalAt = r.pos;
    std::uint32_t videoFormat = 5, fullRange = 0, matrix = 2, primaries = 2;
    if (r.bit()) {
      videoFormat = r.bits(3);
      fullRange = r.bit();
      if (r.bit()) {
        primaries = r.bits(8);
        r.bits(8);  // transfer characteristics
        matrix = r.bits(8);
      }
    }
    std::uint32_t chromaTop = 0, chromaBottom = 0;
    if (r.bit()) {  // chroma_loc_info_present_flag
      chromaTop = r.ue();
      chromaBottom = r.ue();
    }
    if (r.failed || r.pos > stop) return false;
    if (fullRange == 0 && (matrix == 5 || matrix == 6) && (primaries == 5 || primaries == 6) &&
        chromaTop == 1 && chromaBottom == 1)
      return false;  // BT.601, chroma centred already
    w.copy(rbsp, 0, signalAt);
    w.bit(1);
    w.bits(videoFormat, 3);
    w.bit(0);
    w.bit(1);
    w.bits(kSmpte170m, 8);
    w.bits(kSmpte170m, 8);
    w.bits(kSmpte170m, 8);
    writeCentredChroma(w);
    w.copy(rbsp, r.pos, stop);  // the rest of the VUI as it was
  }
  w.bit(1);  // rbsp_stop_one_bit, then zeros to the byte's end
  out.push_back(header);
  appendEscaped(out, w.bytes);
  return true;
}

}  // namespace

bool withBt601Colour(const std::uint8_t* unit, std::size_t size, std::vector<std::uint8_t>& out) {
  out.clear();
  bool changed = false;
  std::size_t copied = 0;  // bytes of unit already in out
  std::size_t i = 0;
  while (i + 3 <= size) {
    if (!(unit[i] == 0 && unit[i + 1] == 0 && unit[i + 2] == 1)) {
      ++i;
      continue;
    }
    const std::size_t start = i + 3;
    std::size_t end = start;
    while (end + 3 <= size && !(unit[end] == 0 && unit[end + 1] == 0 && unit[end + 2] == 1)) ++end;
    if (end + 3 > size) end = size;
    // Zeros before the next start code belong to it (or trail this unit).
    std::size_t nalEnd = end;
    while (nalEnd > start && unit[nalEnd - 1] == 0) --nalEnd;
    i = end;
    if (nalEnd - start < 2 || (unit[start] & 0x1f) != 7) continue;
    std::vector<std::uint8_t> sps;
    if (!spsWithBt601(unit + start, nalEnd - start, sps)) continue;
    out.insert(out.end(), unit + copied, unit + start);
    out.insert(out.end(), sps.begin(), sps.end());
    copied = nalEnd;
    changed = true;
  }
  if (!changed) {
    out.clear();
    return false;
  }
  out.insert(out.end(), unit + copied, unit + size);
  return true;
}

UnitInfo H26xHeaders::inspect(const std::uint8_t* unit, std::size_t size) {
  UnitInfo info;
  bool firstSlice = true;
  std::size_t i = 0;
  while (i + 3 <= size) {
    if (!(unit[i] == 0 && unit[i + 1] == 0 && unit[i + 2] == 1)) {
      ++i;
      continue;
    }
    const std::size_t start = i + 3;
    std::size_t end = start;
    while (end + 3 <= size && !(unit[end] == 0 && unit[end + 1] == 0 && unit[end + 2] == 1)) ++end;
    if (end + 3 > size) end = size;
    const std::uint8_t* nal = unit + start;
    const std::size_t n = end - start;
    i = end;
    if (n < 1) continue;
    if (codec_ == VideoCodec::H264) {
      const int type = nal[0] & 0x1f;
      if (type == 7) readH264Sps(nal, n);
      if (type == 8) readPps(nal, n);
      if (type == 10) info.endOfSequence = true;
      if (type == 6 && h264RecoveryPoint(nal, n)) info.key = true;  // confirmed by the slice
      if ((type == 1 || type == 5) && firstSlice && n >= 2) {
        firstSlice = false;
        readSlice(nal, n, info);
      }
    } else {
      if (n < 3) continue;
      const int type = (nal[0] >> 1) & 0x3f;
      const int layer = ((nal[0] & 1) << 5) | (nal[1] >> 3);
      if (layer != 0) continue;
      if (type == 33) readH265Sps(nal, n);
      if (type == 34) readPps(nal, n);
      if (type == 36) info.endOfSequence = true;
      if (type <= 31 && firstSlice) {
        firstSlice = false;
        readSlice(nal, n, info);
      }
    }
  }
  if (!info.hasSlice) info.key = false;
  return info;
}

void H26xHeaders::readSlice(const std::uint8_t* nal, std::size_t size, UnitInfo& info) {
  info.hasSlice = true;
  std::uint32_t pps = 0;
  if (codec_ == VideoCodec::H264) {
    const int type = nal[0] & 0x1f;
    const std::vector<std::uint8_t> rbsp = unescape(nal + 1, size - 1, 32);
    Bits r(rbsp);
    r.ue();  // first_mb_in_slice
    const std::uint32_t sliceType = r.ue() % 5;
    pps = r.ue();
    info.reference = (nal[0] & 0x60) != 0;
    info.bPicture = sliceType == 1;
    const bool intra = sliceType == 2 || sliceType == 4;
    info.newSequence = type == 5;
    // A recovery point counts only for an intra picture: decoding from a P
    // picture on would show damage until it heals.
    info.key = type == 5 || (info.key && intra);
  } else {
    const int type = (nal[0] >> 1) & 0x3f;
    info.key = type >= 16 && type <= 23;
    info.newSequence = type >= 16 && type <= 20;  // BLA and IDR
    info.leading = type == 8 || type == 9;        // RASL
    info.reference = !(type <= 14 && type % 2 == 0);
    const std::vector<std::uint8_t> rbsp = unescape(nal + 2, size - 2, 32);
    Bits r(rbsp);
    r.bit();  // first_slice_segment_in_pic_flag
    if (type >= 16 && type <= 23) r.bit();  // no_output_of_prior_pics_flag
    pps = r.ue();
    const auto extra = ppsExtraBits_.find(pps);
    if (extra != ppsExtraBits_.end()) {
      r.skip(extra->second);
      info.bPicture = r.ue() == 0 && !r.failed;  // slice_type 0 is B
    }
  }
  const auto sps = ppsToSps_.find(pps);
  if (sps != ppsToSps_.end()) {
    const auto window = windows_.find(sps->second);
    if (window != windows_.end()) info.window = window->second;
  }
}

bool H26xHeaders::h264RecoveryPoint(const std::uint8_t* nal, std::size_t size) const {
  const std::vector<std::uint8_t> rbsp = unescape(nal + 1, size - 1, 4096);
  std::size_t at = 0;
  while (at + 2 <= rbsp.size() && rbsp[at] != 0x80) {  // 0x80: rbsp trailing bits
    std::uint32_t type = 0, length = 0;
    while (at < rbsp.size() && rbsp[at] == 0xff) type += rbsp[at++];
    if (at >= rbsp.size()) return false;
    type += rbsp[at++];
    while (at < rbsp.size() && rbsp[at] == 0xff) length += rbsp[at++];
    if (at >= rbsp.size()) return false;
    length += rbsp[at++];
    if (type == 6) return true;
    at += length;
  }
  return false;
}

void H26xHeaders::readH264Sps(const std::uint8_t* nal, std::size_t size) {
  const std::vector<std::uint8_t> rbsp = unescape(nal + 1, size - 1, 1024);
  Bits r(rbsp);
  const std::uint32_t profile = r.bits(8);
  r.skip(16);  // constraint flags, level
  const std::uint32_t id = r.ue();
  std::uint32_t chromaFormat = 1;
  bool separatePlanes = false;
  switch (profile) {
    case 100: case 110: case 122: case 244: case 44: case 83: case 86: case 118:
    case 128: case 138: case 139: case 134: case 135:
      chromaFormat = r.ue();
      if (chromaFormat == 3) separatePlanes = r.bit() != 0;
      r.ue();  // bit depths
      r.ue();
      r.bit();  // qpprime_y_zero_transform_bypass_flag
      if (r.bit()) {  // seq_scaling_matrix_present_flag
        for (int k = 0; k < (chromaFormat != 3 ? 8 : 12); ++k)
          if (r.bit()) skipH264ScalingList(r, k < 6 ? 16 : 64);
      }
      break;
    default:
      break;
  }
  r.ue();  // log2_max_frame_num_minus4
  const std::uint32_t pocType = r.ue();
  if (pocType == 0) {
    r.ue();
  } else if (pocType == 1) {
    r.bit();
    r.se();
    r.se();
    const std::uint32_t cycle = r.ue();
    for (std::uint32_t k = 0; k < cycle && k < 256 && !r.failed; ++k) r.se();
  }
  r.ue();   // max_num_ref_frames
  r.bit();  // gaps_in_frame_num_value_allowed_flag
  const std::uint32_t widthMbs = r.ue() + 1;
  const std::uint32_t heightUnits = r.ue() + 1;
  const std::uint32_t frameMbsOnly = r.bit();
  if (!frameMbsOnly) r.bit();
  r.bit();  // direct_8x8_inference_flag
  PictureWindow w;
  w.codedWidth = widthMbs * 16;
  w.codedHeight = (2 - frameMbsOnly) * heightUnits * 16;
  std::uint32_t cropLeft = 0, cropRight = 0, cropTop = 0, cropBottom = 0;
  if (r.bit()) {
    cropLeft = r.ue();
    cropRight = r.ue();
    cropTop = r.ue();
    cropBottom = r.ue();
  }
  if (r.failed || id > 31 || widthMbs > 1024 || heightUnits > 1024) return;
  const std::uint32_t chromaArray = separatePlanes ? 0 : chromaFormat;
  const std::uint32_t unitX = chromaArray == 1 || chromaArray == 2 ? 2 : 1;
  const std::uint32_t unitY = (chromaArray == 1 ? 2 : 1) * (2 - frameMbsOnly);
  if ((cropLeft + cropRight) * unitX >= w.codedWidth || (cropTop + cropBottom) * unitY >= w.codedHeight)
    return;
  w.left = cropLeft * unitX;
  w.top = cropTop * unitY;
  w.width = w.codedWidth - (cropLeft + cropRight) * unitX;
  w.height = w.codedHeight - (cropTop + cropBottom) * unitY;
  windows_[id] = w;
}

void H26xHeaders::readH265Sps(const std::uint8_t* nal, std::size_t size) {
  const std::vector<std::uint8_t> rbsp = unescape(nal + 2, size - 2, 1024);
  Bits r(rbsp);
  r.skip(4);  // sps_video_parameter_set_id
  const std::uint32_t maxSubLayersMinus1 = r.bits(3);
  r.bit();
  skipH265ProfileTierLevel(r, maxSubLayersMinus1 > 6 ? 6 : maxSubLayersMinus1);
  const std::uint32_t id = r.ue();
  const std::uint32_t chromaFormat = r.ue();
  if (chromaFormat == 3) r.bit();
  PictureWindow w;
  w.codedWidth = r.ue();
  w.codedHeight = r.ue();
  std::uint32_t cropLeft = 0, cropRight = 0, cropTop = 0, cropBottom = 0;
  if (r.bit()) {
    cropLeft = r.ue();
    cropRight = r.ue();
    cropTop = r.ue();
    cropBottom = r.ue();
  }
  if (r.failed || id > 15 || w.codedWidth == 0 || w.codedHeight == 0 || w.codedWidth > 16888 ||
      w.codedHeight > 16888)
    return;
  const std::uint32_t unitX = chromaFormat == 1 || chromaFormat == 2 ? 2 : 1;
  const std::uint32_t unitY = chromaFormat == 1 ? 2 : 1;
  if ((cropLeft + cropRight) * unitX >= w.codedWidth || (cropTop + cropBottom) * unitY >= w.codedHeight)
    return;
  w.left = cropLeft * unitX;
  w.top = cropTop * unitY;
  w.width = w.codedWidth - (cropLeft + cropRight) * unitX;
  w.height = w.codedHeight - (cropTop + cropBottom) * unitY;
  windows_[id] = w;
}

void H26xHeaders::readPps(const std::uint8_t* nal, std::size_t size) {
  const std::size_t headerBytes = codec_ == VideoCodec::H264 ? 1 : 2;
  const std::vector<std::uint8_t> rbsp = unescape(nal + headerBytes, size - headerBytes, 16);
  Bits r(rbsp);
  const std::uint32_t id = r.ue();
  const std::uint32_t sps = r.ue();
  std::uint32_t extraBits = 0;
  if (codec_ == VideoCodec::H265) {
    r.bit();  // dependent_slice_segments_enabled_flag
    r.bit();  // output_flag_present_flag
    extraBits = r.bits(3);
  }
  if (r.failed || id > 255) return;
  ppsToSps_[id] = sps;
  if (codec_ == VideoCodec::H265) ppsExtraBits_[id] = extraBits;
}

}  // namespace vdplay
