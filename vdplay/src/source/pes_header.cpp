#include "source/pes_header.h"

namespace vdplay {
namespace {

constexpr std::uint64_t kPtsWrap = std::uint64_t{1} << 33;

std::uint64_t readTimestamp(const std::uint8_t* p) {
  return (static_cast<std::uint64_t>(p[0] >> 1) & 0x07) << 30 |
         static_cast<std::uint64_t>(p[1]) << 22 | static_cast<std::uint64_t>(p[2] >> 1) << 15 |
         static_cast<std::uint64_t>(p[3]) << 7 | static_cast<std::uint64_t>(p[4] >> 1);
}

}  // namespace

bool pesHasNoOptionalHeader(std::uint8_t id) {
  return id == 0xBC || id == 0xBE || id == 0xBF || id == 0xF0 || id == 0xF1 || id == 0xFF ||
         id == 0xF2 || id == 0xF8;
}

bool parsePesHeader(const std::uint8_t* p, std::size_t length, PesHeader& out) {
  if (length < 6 || p[0] != 0 || p[1] != 0 || p[2] != 1) return false;
  out = PesHeader();
  out.streamId = p[3];
  out.packetLength = static_cast<std::uint32_t>(p[4]) << 8 | p[5];
  if (pesHasNoOptionalHeader(out.streamId)) {
    out.headerBytes = 6;
    return true;
  }
  if (length < 9) return false;
  if ((p[6] & 0xC0) != 0x80) {
    // MPEG-1 style header (program streams of old recorders): stuffing,
    // optional buffer size, then the time stamps.
    std::size_t i = 6;
    while (i < length && p[i] == 0xFF && i < 6 + 16) ++i;
    if (i + 1 > length) return false;
    if ((p[i] & 0xC0) == 0x40) i += 2;
    if (i + 1 > length) return false;
    if ((p[i] & 0xF0) == 0x20 || (p[i] & 0xF0) == 0x30) {
      const std::size_t stampBytes = (p[i] & 0xF0) == 0x30 ? 10 : 5;
      if (i + stampBytes > length) return false;
      out.hasPts = true;
      out.pts = readTimestamp(p + i);
      i += stampBytes;
    } else if (p[i] == 0x0F) {
      ++i;
    } else {
      return false;
    }
    out.headerBytes = i;
    return out.packetLength == 0 || out.headerBytes <= 6 + out.packetLength;
  }
  const std::uint8_t flags = p[7];
  const std::size_t dataLength = p[8];
  out.headerBytes = 9 + dataLength;
  if (out.headerBytes > length) return false;
  if (out.packetLength != 0 && out.headerBytes > 6 + out.packetLength) return false;
  if ((flags & 0x80) && dataLength >= 5) {
    out.hasPts = true;
    out.pts = readTimestamp(p + 9);
  }
  return true;
}

std::uint32_t TimestampUnwrapper::toMs(std::uint64_t pts33) {
  pts33 &= kPtsWrap - 1;
  if (!started_) {
    started_ = true;
    lastFull_ = static_cast<std::int64_t>(pts33);
  } else {
    // The nearest full value: a step of less than half the range either way.
    std::int64_t step = static_cast<std::int64_t>((pts33 - last33_) & (kPtsWrap - 1));
    if (step >= static_cast<std::int64_t>(kPtsWrap / 2))
      step -= static_cast<std::int64_t>(kPtsWrap);
    lastFull_ += step;
  }
  last33_ = pts33;
  // Milliseconds on a 32-bit time line: differences stay right across its wrap.
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(lastFull_ / 90));
}

}  // namespace vdplay
