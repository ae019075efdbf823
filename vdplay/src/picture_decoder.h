// The one interface through which a port decodes, whatever the codec: the
// display thread feeds it units of input and takes pictures out in display
// order. Raw/zlib pictures, H.264 and H.265 implement it, each in its own
// file; createPictureDecoder picks one from the stream header.
#pragma once

#include <cstdint>
#include <memory>

#include "byte_ring.h"
#include "picture.h"
#include "stream_header.h"

namespace vdplay {

struct DecodeOptions {
  bool lowQuality = false;     // cheaper decoding, e.g. no loop filter
  std::uint32_t throwB = 0;    // 0 none, 1 B-pictures nothing refers to, 2 every B-picture
  bool operator!=(const DecodeOptions& o) const {
    return lowQuality != o.lowQuality || throwB != o.throwB;
  }
};

class PictureDecoder {
 public:
  virtual ~PictureDecoder() = default;

  // Takes one unit of input: a packet's payload of the given type, or with
  // bare Annex-B framing any piece of the stream (type 0). stampMs is the
  // packet's time stamp. False when the unit is damaged and was dropped.
  virtual bool send(const ByteRing::View& in, std::uint32_t type, std::uint32_t stampMs) = 0;

  // The next picture in display order; false when more input is needed.
  // Adds the units or pictures found damaged meanwhile to damaged.
  virtual bool receive(Picture& out, std::uint32_t& damaged) = 0;

  // The I420 pixels of a picture from receive() (or nullptr when they cannot
  // be made); valid as long as the picture itself.
  virtual const std::uint8_t* pixels(Picture& picture) { return picture.data; }

  // Pictures point into the input given to send(): that input must stay in
  // the source buffer until receive() has returned false.
  virtual bool readsInPlace() const { return false; }

  // The decoder keeps the picture marked shown (and its pixels) valid until
  // another one is marked shown or it is flushed, so the port need not copy
  // the picture on display. Otherwise a picture is valid only until the
  // next receive().
  virtual bool keepsShownPicture() const { return false; }
  virtual void markShown(const Picture&) {}

  // Pictures are held back (for reordering) that only more input or drain()
  // releases.
  virtual bool holdsPictures() const { return false; }

  // The input has ended for now: receive() gives out every held picture.
  // Input that comes later is decoded from its next key picture on.
  virtual void drain() {}

  // Forgets all input and held pictures (the source buffer was cleared).
  virtual void flush() {}

  virtual void setOptions(const DecodeOptions&) {}
};

// A decoder for the stream's codec in out; returns 0, VDPLAY_ERR_ALLOC, or
// VDPLAY_ERR_DECODER_INIT when this build cannot decode the codec (natively:
// when the codec module or the FFmpeg libraries it needs cannot be loaded).
std::uint32_t createPictureDecoder(const StreamFormat& format,
                                   std::unique_ptr<PictureDecoder>& out);

}  // namespace vdplay
