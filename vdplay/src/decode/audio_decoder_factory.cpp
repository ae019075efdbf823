#include <new>

#include "VdPlay.h"
#include "decode/audio_decoder.h"
#include "decode/g711_decoder.h"
#if VDPLAY_CODEC_MODULE
#include "decode/codec_module_loader.h"
#endif

namespace vdplay {

std::uint32_t createAudioDecoder(AudioCodec codec, std::unique_ptr<AudioDecoder>& out) {
  switch (codec) {
    case AudioCodec::G711ALaw:
    case AudioCodec::G711MuLaw:
      out.reset(new (std::nothrow) G711Decoder(codec == AudioCodec::G711ALaw));
      return out ? 0 : VDPLAY_ERR_ALLOC;
    case AudioCodec::Aac:
    case AudioCodec::MpegAudio:
#if VDPLAY_CODEC_MODULE
      return CodecModuleLoader::forProcess().createAudioDecoder(codec, out);
#else
      // Windows: the stand-in links no codec library (its H.264/H.265
      // streams are refused for the same reason), so AAC and MPEG audio
      // stay silent; G.711 plays.
      return VDPLAY_ERR_DECODER_INIT;
#endif
  }
  return VDPLAY_ERR_DECODER_INIT;
}

}  // namespace vdplay
