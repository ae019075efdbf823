#include <new>

#include "VdPlay.h"
#include "decode/audio_decoder.h"
#include "decode/g711_decoder.h"
#if VDPLAY_CODEC_MODULE
#include "decode/codec_module_loader.h"
#elif defined(_WIN32)
#include "decode/mf_audio_decoder.h"
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
#elif defined(_WIN32)
      // Windows: AAC through the system's AAC decoder MFT; MPEG audio stays
      // silent (the stand-in links no codec library); G.711 plays.
      if (codec == AudioCodec::Aac) return createMfAacDecoder(out);
      return VDPLAY_ERR_DECODER_INIT;
#else
      return VDPLAY_ERR_DECODER_INIT;  // built without the codec module
#endif
  }
  return VDPLAY_ERR_DECODER_INIT;
}

}  // namespace vdplay
