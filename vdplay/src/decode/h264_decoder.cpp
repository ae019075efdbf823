// H.264 access units in Annex-B form (packet payload type 3, or a bare
// stream), decoded by libavcodec's H.264 decoder.
#include <cstdint>
#include <new>

extern "C" {
#include <libavcodec/codec_id.h>
}

#include "VdPlay.h"
#include "decode/av_decoder.h"
#include "decode/codec_decoders.h"

namespace vdplay {

std::uint32_t createH264Decoder(const StreamFormat& format, std::unique_ptr<PictureDecoder>& out) {
  std::unique_ptr<AvDecoder> decoder(new (std::nothrow) AvDecoder);
  if (!decoder) return VDPLAY_ERR_ALLOC;
  if (const std::uint32_t failed = decoder->init(format, AV_CODEC_ID_H264)) return failed;
  out = std::move(decoder);
  return 0;
}

}  // namespace vdplay
