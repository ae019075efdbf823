#include "decode/annexb_splitter.h"

#include <algorithm>
#include <cstring>

namespace vdplay {
namespace {

// H.264 (7.4.1.2.3): access unit delimiter, SEI, SPS, PPS and the NAL unit
// types 14 to 18 begin a new access unit after a slice; so does the first
// slice of a new picture (first_mb_in_slice 0: the slice header's first bit,
// ue(v) of 0, is a one).
bool h264StartsUnit(const std::uint8_t* h, bool unitHasSlice) {
  const int type = h[0] & 0x1f;
  if (!unitHasSlice) return false;
  if (type == 6 || type == 7 || type == 8 || type == 9 || (type >= 14 && type <= 18)) return true;
  if (type == 1 || type == 5) return (h[1] & 0x80) != 0;
  return false;
}

bool h264IsSlice(const std::uint8_t* h) {
  const int type = h[0] & 0x1f;
  return type == 1 || type == 5;
}

// H.265 (7.4.2.4.4), base layer only: VPS, SPS, PPS, access unit delimiter,
// prefix SEI and the reserved types 41..44 and 48..55 begin a new access
// unit after a slice; so does a slice whose first_slice_segment_in_pic_flag
// (the first bit after the two header bytes) is set.
bool h265StartsUnit(const std::uint8_t* h, bool unitHasSlice) {
  const int type = (h[0] >> 1) & 0x3f;
  const int layer = ((h[0] & 1) << 5) | (h[1] >> 3);
  if (!unitHasSlice || layer != 0) return false;
  if ((type >= 32 && type <= 35) || type == 39 || (type >= 41 && type <= 44) ||
      (type >= 48 && type <= 55))
    return true;
  if (type <= 31) return (h[2] & 0x80) != 0;
  return false;
}

bool h265IsSlice(const std::uint8_t* h) { return ((h[0] >> 1) & 0x3f) <= 31; }

bool allZero(const std::uint8_t* p, std::size_t n) {
  return std::all_of(p, p + n, [](std::uint8_t b) { return b == 0; });
}

}  // namespace

void AnnexBSplitter::push(const std::uint8_t* data, std::size_t size) {
  if (size) buffer_.insert(buffer_.end(), data, data + size);
}

void AnnexBSplitter::end() { cutAt_ = buffer_.size(); }

void AnnexBSplitter::reset() {
  buffer_.clear();
  unitStart_ = scanFrom_ = 0;
  sawStartCode_ = unitHasSlice_ = false;
  handedOutEnd_ = kNone;
  cutAt_ = kNone;
}

bool AnnexBSplitter::startsUnit(const std::uint8_t* header) {
  return codec_ == VideoCodec::H264 ? h264StartsUnit(header, unitHasSlice_)
                                    : h265StartsUnit(header, unitHasSlice_);
}

void AnnexBSplitter::beginUnitAt(std::size_t at) {
  unitStart_ = at;
  scanFrom_ = std::max(scanFrom_, at);
  sawStartCode_ = unitHasSlice_ = false;
}

void AnnexBSplitter::compact() {
  // Moves the held bytes to the front once the consumed ones are the larger
  // part, so that each byte is moved a bounded number of times.
  if (unitStart_ == 0 || unitStart_ < buffer_.size() - unitStart_) return;
  buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(unitStart_));
  scanFrom_ -= unitStart_;
  if (cutAt_ != kNone) cutAt_ -= unitStart_;
  unitStart_ = 0;
}

bool AnnexBSplitter::next(const std::uint8_t*& data, std::size_t& size) {
  if (handedOutEnd_ != kNone) {
    beginUnitAt(handedOutEnd_);
    handedOutEnd_ = kNone;
  }
  compact();
  const std::size_t limit = cutAt_ != kNone ? cutAt_ : buffer_.size();
  const std::uint8_t* b = buffer_.data();
  std::size_t unitEnd = kNone;
  std::size_t i = scanFrom_;
  while (i + 3 <= limit) {
    // A start code: 00 00 01 (zeros before it belong to it).
    const void* found = std::memchr(b + i + 2, 1, limit - i - 2);
    if (!found) {
      i = limit - 2;
      break;
    }
    const std::size_t one = static_cast<std::size_t>(static_cast<const std::uint8_t*>(found) - b);
    if (b[one - 1] != 0 || b[one - 2] != 0) {
      i = one - 1;
      continue;
    }
    const std::size_t header = one + 1;
    if (header + headerBytesNeeded() > limit) {
      i = one - 2;  // looked at again when more bytes have come
      break;
    }
    // A zero before 00 00 01 makes the four-byte start code; more zeros end
    // the NAL unit before.
    std::size_t nalStart = one - 2;
    if (nalStart > unitStart_ && b[nalStart - 1] == 0) --nalStart;
    if (!sawStartCode_) {
      if (nalStart > unitStart_ && !allZero(b + unitStart_, nalStart - unitStart_)) {
        unitEnd = nalStart;  // bytes before any start code: given out, and rejected, alone
        i = one - 2;
        break;
      }
      unitStart_ = nalStart;  // zeros before the first start code are dropped
      sawStartCode_ = true;
    } else if (startsUnit(b + header)) {
      unitEnd = nalStart;
      i = one - 2;
      break;
    }
    if (codec_ == VideoCodec::H264 ? h264IsSlice(b + header) : h265IsSlice(b + header))
      unitHasSlice_ = true;
    i = header;
  }
  scanFrom_ = std::max(unitStart_, std::min(i, limit));

  if (unitEnd == kNone) {
    if (cutAt_ != kNone) {
      unitEnd = cutAt_;  // end(): the rest is the last unit
      cutAt_ = kNone;
    } else if (buffer_.size() - unitStart_ > kMaxUnitBytes) {
      unitEnd = buffer_.size();
    }
  }
  if (unitEnd == kNone || unitEnd <= unitStart_) {
    if (unitEnd != kNone) beginUnitAt(unitEnd);
    return false;
  }
  if (!sawStartCode_ && allZero(b + unitStart_, unitEnd - unitStart_)) {
    beginUnitAt(unitEnd);  // nothing but zero bytes
    return false;
  }
  data = b + unitStart_;
  size = unitEnd - unitStart_;
  handedOutEnd_ = unitEnd;
  return true;
}

}  // namespace vdplay
