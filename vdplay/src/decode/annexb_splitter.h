// Cuts a bare H.264 or H.265 elementary stream (Annex-B: NAL units behind
// start codes), arriving in pieces of any size, into whole access units, as
// a decoder that takes one access unit at a time needs them. Portable: the
// Windows decoder uses it (there is no FFmpeg parser there), and it is
// unit-tested natively against libavformat's own cut.
//
// A unit is known to be complete only when the first NAL unit of the next
// one has arrived (an access unit delimiter, parameter sets, SEI, or a slice
// that starts a new picture, after the last slice of the current one), so
// the last unit of the stream waits for end().
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vdplay {

enum class VideoCodec { H264, H265 };

class AnnexBSplitter {
 public:
  explicit AnnexBSplitter(VideoCodec codec) : codec_(codec) {}

  // Appends bytes of the stream.
  void push(const std::uint8_t* data, std::size_t size);

  // The stream has ended for now: what is held becomes the last unit, and
  // next() gives it out. Bytes pushed later begin a new unit.
  void end();

  // The next whole access unit, start codes included, or false when none is
  // complete yet. data stays valid until the next call of any other method.
  bool next(const std::uint8_t*& data, std::size_t& size);

  // Bytes of a unit not yet complete are held.
  bool holds() const {
    return (handedOutEnd_ != kNone ? handedOutEnd_ : unitStart_) < buffer_.size();
  }

  // Forgets everything held.
  void reset();

  // A unit never grows beyond this: one that does (no boundary in sight, as
  // in data that is no video at all) is given out as it is, and the decoder
  // rejects it.
  static constexpr std::size_t kMaxUnitBytes = 32u << 20;

 private:
  // Whether the NAL unit whose header starts at header begins a new access
  // unit, given what the current unit holds; needs headerBytesNeeded() bytes.
  bool startsUnit(const std::uint8_t* header);
  std::size_t headerBytesNeeded() const { return codec_ == VideoCodec::H264 ? 2 : 3; }
  void beginUnitAt(std::size_t at);
  void compact();

  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

  VideoCodec codec_;
  std::vector<std::uint8_t> buffer_;
  std::size_t unitStart_ = 0;   // where the unit being collected begins
  std::size_t scanFrom_ = 0;    // where the search for the next start code goes on
  bool sawStartCode_ = false;   // the unit being collected has a NAL unit
  bool unitHasSlice_ = false;   // ... and a slice of its picture
  std::size_t handedOutEnd_ = kNone;  // end of the unit the last next() gave out
  std::size_t cutAt_ = kNone;         // end(): the unit being collected ends here
};

}  // namespace vdplay
