// What a decoder that cannot be asked needs to know about an H.264 or H.265
// access unit, read from its headers: whether it is a key picture, a
// B-picture, a picture others refer to, and the visible part of the coded
// picture (the sequence parameter set's cropping window). Portable, used by
// the Windows decoder and unit-tested natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

#include "decode/annexb_splitter.h"

namespace vdplay {

// The visible rectangle of the coded picture.
struct PictureWindow {
  std::uint32_t codedWidth = 0;   // as coded (whole macroblocks / coding blocks)
  std::uint32_t codedHeight = 0;
  std::uint32_t left = 0, top = 0, width = 0, height = 0;  // the cropping window
  bool valid() const { return width > 0 && height > 0; }
};

struct UnitInfo {
  bool hasSlice = false;     // carries a picture at all
  bool key = false;          // decoding may begin here: IDR, IRAP, or an H.264 I-picture
                             // with a recovery point
  bool newSequence = false;  // IDR (H.264), IDR or BLA (H.265): earlier pictures all come
                             // out before it
  bool bPicture = false;     // its first slice is a B slice
  bool reference = true;     // other pictures may refer to it
  bool leading = false;      // H.265 RASL: not decodable when decoding began at the key
                             // picture before it
  bool endOfSequence = false;
  PictureWindow window;      // of the sequence parameter set the picture uses, if known
};

// The H.264 access unit with every sequence parameter set made to say that
// the pictures are BT.601, limited range (colour primaries, transfer and
// matrix SMPTE 170M), with centred chroma samples, all else as it was; false
// when nothing needed to change (out is then left empty). Decoders that
// convert between colour spaces or chroma sitings (Wine's takes an HD stream
// that says nothing, or says BT.709, as BT.709 and hands it out as BT.601,
// and resamples chroma said to sit elsewhere than centred) then give out the
// coded values as they are, as FFmpeg does natively; the stand-in shows every
// picture as BT.601.
bool withBt601Colour(const std::uint8_t* unit, std::size_t size, std::vector<std::uint8_t>& out);

class H26xHeaders {
 public:
  explicit H26xHeaders(VideoCodec codec) : codec_(codec) {}

  // Reads the NAL units of one access unit (Annex-B, start codes included),
  // remembering the parameter sets it carries for the units after it.
  UnitInfo inspect(const std::uint8_t* unit, std::size_t size);

  void reset() {
    windows_.clear();
    ppsToSps_.clear();
    ppsExtraBits_.clear();
  }

 private:
  void readSlice(const std::uint8_t* nal, std::size_t size, UnitInfo& info);
  void readH264Sps(const std::uint8_t* nal, std::size_t size);
  void readH265Sps(const std::uint8_t* nal, std::size_t size);
  void readPps(const std::uint8_t* nal, std::size_t size);
  bool h264RecoveryPoint(const std::uint8_t* nal, std::size_t size) const;

  VideoCodec codec_;
  std::map<std::uint32_t, PictureWindow> windows_;     // by SPS id
  std::map<std::uint32_t, std::uint32_t> ppsToSps_;    // PPS id -> SPS id
  std::map<std::uint32_t, std::uint32_t> ppsExtraBits_;  // H.265: num_extra_slice_header_bits
};

}  // namespace vdplay
