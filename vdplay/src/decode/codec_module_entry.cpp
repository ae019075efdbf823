// The codec module's two exports: make the H.264 or H.265 decoder, or the
// AAC or MPEG audio decoder, the library asks for. Everything else in the
// module stays hidden.
#include <memory>
#include <new>
#include <type_traits>

#include "VdPlay.h"
#include "decode/av_audio_decoder.h"
#include "decode/codec_decoders.h"
#include "decode/codec_module.h"

extern "C" __attribute__((visibility("default"))) std::uint32_t vdplay_codecs_create_decoder(
    std::uint32_t interfaceVersion, const vdplay::StreamFormat* format,
    vdplay::PictureDecoder** out) {
  using namespace vdplay;
  // Checked against the type the library expects, so a change of either
  // side's signature fails to build.
  static_assert(std::is_same<decltype(&vdplay_codecs_create_decoder), CodecModuleFactory>::value,
                "the factory must match CodecModuleFactory");
  if (interfaceVersion != kCodecModuleInterface || !format || !out) return VDPLAY_ERR_DECODER_INIT;
  try {
    std::unique_ptr<PictureDecoder> decoder;
    std::uint32_t failed = VDPLAY_ERR_DECODER_INIT;
    if (format->codec == vdstream::Codec::H264) failed = createH264Decoder(*format, decoder);
    if (format->codec == vdstream::Codec::H265) failed = createH265Decoder(*format, decoder);
    if (failed) return failed;
    *out = decoder.release();
    return 0;
  } catch (const std::bad_alloc&) {
    return VDPLAY_ERR_ALLOC;
  } catch (...) {
    return VDPLAY_ERR_DECODER_INIT;
  }
}

extern "C" __attribute__((visibility("default"))) std::uint32_t vdplay_codecs_create_audio_decoder(
    std::uint32_t interfaceVersion, std::uint32_t codec, vdplay::AudioDecoder** out) {
  using namespace vdplay;
  static_assert(
      std::is_same<decltype(&vdplay_codecs_create_audio_decoder), CodecModuleAudioFactory>::value,
      "the factory must match CodecModuleAudioFactory");
  if (interfaceVersion != kCodecModuleInterface || !out ||
      codec > static_cast<std::uint32_t>(AudioCodec::MpegAudio))
    return VDPLAY_ERR_DECODER_INIT;
  try {
    std::unique_ptr<AvAudioDecoder> decoder(new AvAudioDecoder);
    if (const std::uint32_t failed = decoder->init(static_cast<AudioCodec>(codec))) return failed;
    *out = decoder.release();
    return 0;
  } catch (const std::bad_alloc&) {
    return VDPLAY_ERR_ALLOC;
  } catch (...) {
    return VDPLAY_ERR_DECODER_INIT;
  }
}
