// Chooses the port's decoder from the stream header.
#include <new>

#include "VdPlay.h"
#include "decode/raw_decoder.h"
#if VDPLAY_CODEC_MODULE
#include "decode/codec_module_loader.h"
#elif defined(_WIN32)
#include "decode/mf_decoder.h"
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
#if VDPLAY_CODEC_MODULE
    case vdstream::Codec::H264:
    case vdstream::Codec::H265:
      // Loaded on the first compressed stream only: a program that plays
      // none never loads FFmpeg.
      return CodecModuleLoader::forProcess().createDecoder(format, out);
#elif defined(_WIN32)
    case vdstream::Codec::H264:
    case vdstream::Codec::H265:
      // Media Foundation's decoder MFTs: H.264 on every Windows, H.265 where
      // the system has a decoder for it. Loaded on the first compressed
      // stream only.
      return createMfDecoder(format, out);
#else
    case vdstream::Codec::H264:
    case vdstream::Codec::H265:
      break;  // this build has no codec library
#endif
  }
  return VDPLAY_ERR_DECODER_INIT;
}

}  // namespace vdplay
