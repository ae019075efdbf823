// The one interface through which a port decodes, whatever the codec: the
// port's thread feeds it units of input and takes frames out in display
// order. Raw/zlib pictures, H.264 and H.265 implement it, each in its own
// file; createPictureDecoder picks one from the stream header.
#pragma once

#include <cstdint>
#include <memory>

#include "frame.h"
#include "source/byte_ring.h"
#include "source/stream_header.h"

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
  // packet's time stamp. The bytes are valid only during the call: the
  // decoder decodes or copies them here, so the source buffer can let go of
  // them at once. False when the unit is damaged and was dropped.
  virtual bool send(const ByteRing::View& in, std::uint32_t type, std::uint32_t stampMs) = 0;

  // The same for a unit whose bytes already lie in pooled picture storage
  // (a raw picture pushed as one whole packet): a decoder that shows such a
  // payload as it is takes the storage over instead of copying it.
  virtual bool sendStored(const std::shared_ptr<FrameBuffer>& stored, const ByteRing::View& in,
                          std::uint32_t type, std::uint32_t stampMs) {
    (void)stored;
    return send(in, type, stampMs);
  }

  // The next frame in display order; false when more input is needed.
  // Adds the units or pictures found damaged meanwhile to damaged. The frame
  // stays valid for as long as anyone holds it, also after flush() or the
  // decoder's end.
  virtual bool receive(Frame& out, std::uint32_t& damaged) = 0;

  // Pictures are held back (for reordering) that only more input or drain()
  // releases.
  virtual bool holdsPictures() const { return false; }

  // The input has ended for now: receive() gives out every held picture.
  // Input that comes later is decoded from its next key picture on.
  virtual void drain() {}

  // Forgets all input and held pictures (the source buffer was cleared).
  virtual void flush() {}

  // Units were lost before the next one: pictures are shown again from the
  // next key picture on, so that nothing decoded from missing references
  // reaches the screen.
  virtual void skipToKeyPicture() {}

  virtual void setOptions(const DecodeOptions&) {}
};

// A decoder for the stream's codec in out; returns 0, VDPLAY_ERR_ALLOC, or
// VDPLAY_ERR_DECODER_INIT when this build cannot decode the codec (natively:
// when the codec module or the FFmpeg libraries it needs cannot be loaded).
std::uint32_t createPictureDecoder(const StreamFormat& format,
                                   std::unique_ptr<PictureDecoder>& out);

}  // namespace vdplay
