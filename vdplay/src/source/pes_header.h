// The header of an MPEG-2 PES packet, shared by both demuxers, and the
// 33-bit 90 kHz time stamps it carries.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vdplay {

struct PesHeader {
  std::uint8_t streamId = 0;
  std::uint32_t packetLength = 0;  // bytes after the length field; 0 = unbounded (video in TS)
  std::size_t headerBytes = 0;     // bytes before the payload, from the start code on
  bool hasPts = false;
  std::uint64_t pts = 0;  // 33 bits, 90 kHz
};

// Reads a PES header from p (which starts with 00 00 01 and the stream id).
// False when the bytes are not a well-formed header or are too few.
bool parsePesHeader(const std::uint8_t* p, std::size_t length, PesHeader& out);

// Streams without the optional header fields (padding, private stream 2, maps).
bool pesHasNoOptionalHeader(std::uint8_t streamId);

// Turns 33-bit PTS values into a continuous time line in milliseconds: the
// wrap at 2^33 makes no jump; a jump the stream itself makes is kept (the
// playback clock deals with it).
class TimestampUnwrapper {
 public:
  std::uint32_t toMs(std::uint64_t pts33);
  void reset() { started_ = false; }

 private:
  bool started_ = false;
  std::uint64_t last33_ = 0;
  std::int64_t lastFull_ = 0;
};

}  // namespace vdplay
