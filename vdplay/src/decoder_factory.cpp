// Chooses the port's decoder from the stream header.
#include <new>

#include "VdPlay.h"
#include "raw_decoder.h"
#if VDPLAY_HAVE_FFMPEG
#include "codec_decoders.h"
#endif

namespace vdplay {

std::uint32_t createPictureDecoder(const StreamFormat& format,
                                   std::unique_ptr<PictureDecoder>& out) {
  switch (format.codec) {
    case vdstream::Codec::None: {
      std::unique_ptr<RawDecoder> raw(new (std::nothrow) RawDecoder);
      if (!raw || !raw->init(format)) return VDPLAY_ERR_ALLOC;
      out = std::move(raw);
      return 0;
    }
#if VDPLAY_HAVE_FFMPEG
    case vdstream::Codec::H264:
      return createH264Decoder(format, out);
    case vdstream::Codec::H265:
      return createH265Decoder(format, out);
#else
    case vdstream::Codec::H264:
    case vdstream::Codec::H265:
      break;  // this build has no codec library
#endif
  }
  return VDPLAY_ERR_DECODER_INIT;
}

}  // namespace vdplay
