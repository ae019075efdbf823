// Volume, refresh, header length, picture size, quality, B-frame dropping,
// colour values, display region and the source buffer.
#include "player/SinglePlayer.h"

namespace sp {
namespace {

constexpr int32_t kFallbackPictureWidth = 352;
constexpr int32_t kFallbackPictureHeight = 288;
constexpr int kNeutralDecoderColor = 64;

// Host volume 0..100 to the decoder's 0..65535, truncated.
VdDword DecoderVolume(int32_t volume) { return static_cast<VdDword>(volume * 655.35); }

// Host colour value (0..100 scale) to the decoder's 0..128, truncated toward zero.
// Saturation and hue are passed on unchecked, so a product beyond the int
// range is clamped to it rather than overflowing the conversion.
int DecoderColor(int32_t value) {
  const double scaled = value * 128.0 * 0.01;
  if (scaled >= static_cast<double>(INT32_MAX)) return INT32_MAX;
  if (scaled <= static_cast<double>(INT32_MIN)) return INT32_MIN;
  return static_cast<int>(scaled);
}

bool InPercentRange(int32_t value) { return value >= 0 && value <= 100; }

}  // namespace

int32_t SinglePlayer::SetVolume(int32_t port, int32_t newVolume) {
  if (!IsHostPort(port)) return SP_BAD_ARGUMENT();
  int32_t decoderPort = 0;
  int32_t result = SP_OK;
  if (!FindDecoderPort(port, "Play_CloseStream()", decoderPort, result)) return result;
  if (!InPercentRange(newVolume)) return SP_BAD_ARGUMENT();
  if (newVolume == 0) {
    if (!VdPlay_StopSound()) return DecoderFailure(decoderPort, "VdPlay_StopSound()");
  } else {
    if (!VdPlay_PlaySound(decoderPort)) return DecoderFailure(decoderPort, "VdPlay_PlaySound()");
    if (!VdPlay_SetVolume(decoderPort, DecoderVolume(newVolume))) {
      return DecoderFailure(decoderPort, "VdPlay_SetVolume()");
    }
  }
  volume = newVolume;
  return SP_OK;
}

int32_t SP_STDCALL SinglePlayer::Play_SetVolume(int32_t port, int32_t newVolume) {
  return AtBoundary(texts::kTraceSetVolume, [&] { return SetVolume(port, newVolume); },
                    port, newVolume);
}

int32_t SinglePlayer::GetVolume(int32_t port, int32_t* out) {
  if (!IsHostPort(port) || out == nullptr) return SP_BAD_ARGUMENT();
  *out = volume;
  return SP_OK;
}

int32_t SP_STDCALL SinglePlayer::Play_GetVolume(int32_t port, int32_t* out) {
  return AtBoundary(texts::kTraceGetVolume, [&] { return GetVolume(port, out); }, port, out);
}

int32_t SinglePlayer::RefreshPlay(int32_t port) {
  if (!IsHostPort(port)) return SP_BAD_ARGUMENT();
  int32_t decoderPort = 0;
  int32_t result = SP_OK;
  if (!FindDecoderPort(port, "Play_CloseStream()", decoderPort, result)) return result;
  if (!VdPlay_RefreshPlay(decoderPort)) return DecoderFailure(decoderPort, "VdPlay_RefreshPlay()");
  return SP_OK;
}

int32_t SP_STDCALL SinglePlayer::Play_RefreshPlay(int32_t port) {
  return AtBoundary(texts::kTraceRefreshPlay, [&] { return RefreshPlay(port); }, port);
}

int32_t SinglePlayer::GetHeadLen(uint32_t* headerLength) {
  if (headerLength == nullptr) return SP_BAD_ARGUMENT();
  *headerLength = VdPlay_GetFileHeadLength();
  return SP_OK;
}

int32_t SP_STDCALL SinglePlayer::Play_GetHeadLen(uint32_t* headerLength) {
  return AtBoundary(texts::kTraceGetHeadLen, [&] { return GetHeadLen(headerLength); },
                    headerLength);
}

int32_t SinglePlayer::GetPictureSize(int32_t port, int32_t* width, int32_t* height) {
  if (!IsHostPort(port)) return SP_BAD_ARGUMENT();
  int32_t decoderPort = 0;
  int32_t result = SP_OK;
  if (!FindDecoderPort(port, "Play_CloseStream()", decoderPort, result)) return result;
  if (width == nullptr || height == nullptr) return SP_BAD_ARGUMENT();
  VdLong decodedWidth = 0;
  VdLong decodedHeight = 0;
  if (!VdPlay_GetPictureSize(decoderPort, &decodedWidth, &decodedHeight)) {
    // The host still gets a usable size: CIF.
    *width = kFallbackPictureWidth;
    *height = kFallbackPictureHeight;
    return DecoderFailure(decoderPort, "VdPlay_GetPictureSize()");
  }
  *width = decodedWidth;
  *height = decodedHeight;
  ports[port].pictureRect = SP_RECT{0, 0, decodedWidth, decodedHeight};
  return SP_OK;
}

int32_t SP_STDCALL SinglePlayer::Play_GetPictureSize(int32_t port, int32_t* width,
                                                     int32_t* height) {
  return AtBoundary(
      texts::kTraceGetPictureSize, [&] { return GetPictureSize(port, width, height); }, port,
      width, height);
}

int32_t SinglePlayer::SetPicQuality(int32_t port, int32_t quality) {
  if (!IsHostPort(port)) return SP_BAD_ARGUMENT();
  int32_t decoderPort = 0;
  int32_t result = SP_OK;
  if (!FindDecoderPort(port, "Play_CloseStream()", decoderPort, result)) return result;
  if (!VdPlay_SetPicQuality(decoderPort, quality)) {
    return DecoderFailure(decoderPort, "VdPlay_SetPicQuality()");
  }
  ports[port].picQuality = quality;
  return SP_OK;
}

int32_t SP_STDCALL SinglePlayer::Play_SetPicQuality(int32_t port, int32_t quality) {
  return AtBoundary(texts::kTraceSetPicQuality, [&] { return SetPicQuality(port, quality); },
                    port, quality);
}

int32_t SinglePlayer::GetPicQuality(int32_t port, int32_t* quality) {
  if (!IsHostPort(port) || quality == nullptr) return SP_BAD_ARGUMENT();
  *quality = ports[port].picQuality;
  return SP_OK;
}

int32_t SP_STDCALL SinglePlayer::Play_GetPicQuality(int32_t port, int32_t* quality) {
  return AtBoundary(texts::kTraceGetPicQuality, [&] { return GetPicQuality(port, quality); },
                    port, quality);
}

int32_t SinglePlayer::ThrowFrame(int32_t port, int32_t number) {
  if (!IsHostPort(port)) return SP_BAD_ARGUMENT();
  int32_t decoderPort = 0;
  int32_t result = SP_OK;
  if (!FindDecoderPort(port, "Play_CloseStream()", decoderPort, result)) return result;
  if (number < 0 || number > 2) return SP_BAD_ARGUMENT();
  // Dropping B-frames is a hint: a decoder that refuses it does not fail
  // the operation, and the refusal is logged only at level 2.
  if (!VdPlay_ThrowBFrameNum(decoderPort, static_cast<VdDword>(number))) {
    const int32_t code = static_cast<int32_t>(VdPlay_GetLastError(decoderPort));
    if (debugLevel >= 2) ReportDecoderError(code, "VdPlay_ThrowBFrameNum()");
  }
  ports[port].throwBFrameNum = number;
  return SP_OK;
}

int32_t SP_STDCALL SinglePlayer::Play_ThrowFrame(int32_t port, int32_t number) {
  return AtBoundary(texts::kTraceThrowFrame, [&] { return ThrowFrame(port, number); },
                    port, number);
}

int32_t SinglePlayer::GetThrowNum(int32_t port, int32_t* number) {
  if (!IsHostPort(port) || number == nullptr) return SP_BAD_ARGUMENT();
  *number = ports[port].throwBFrameNum;
  return SP_OK;
}

int32_t SP_STDCALL SinglePlayer::Play_GetThrowNum(int32_t port, int32_t* number) {
  return AtBoundary(texts::kTraceGetThrowNum, [&] { return GetThrowNum(port, number); },
                    port, number);
}

int32_t SinglePlayer::SetVideoPara(int32_t port, SP_VIDEO_PARA* para, int32_t restoreDefaults) {
  if (!IsHostPort(port)) return SP_BAD_ARGUMENT();
  int32_t decoderPort = 0;
  int32_t result = SP_OK;
  if (!FindDecoderPort(port, "Play_CloseStream()", decoderPort, result)) return result;
  if (para == nullptr) return SP_BAD_ARGUMENT();
  // Saturation and hue are passed on unchecked.
  if (!InPercentRange(para->brightness)) return SP_BAD_ARGUMENT();
  if (!InPercentRange(para->contrast)) return SP_BAD_ARGUMENT();
  VdBool ok = 0;
  if (restoreDefaults != 0) {
    para->brightness = para->contrast = para->saturation = para->hue = 50;
    ok = VdPlay_SetColor(decoderPort, 0, kNeutralDecoderColor, kNeutralDecoderColor,
                         kNeutralDecoderColor, kNeutralDecoderColor);
  } else {
    ok = VdPlay_SetColor(decoderPort, 0, DecoderColor(para->brightness),
                         DecoderColor(para->contrast), DecoderColor(para->saturation),
                         DecoderColor(para->hue));
  }
  if (!ok) return DecoderFailure(decoderPort, "VdPlay_SetColor()");
  SP_VIDEO_PARA& cached = ports[port].videoPara;
  cached.brightness = para->brightness;
  cached.contrast = para->contrast;
  cached.saturation = para->saturation;
  cached.hue = para->hue;
  return SP_OK;
}

int32_t SP_STDCALL SinglePlayer::Play_SetVideoPara(int32_t port, SP_VIDEO_PARA* para,
                                                   int32_t restoreDefaults) {
  return AtBoundary(
      texts::kTraceSetVideoPara, [&] { return SetVideoPara(port, para, restoreDefaults); }, port,
      para, restoreDefaults);
}

int32_t SinglePlayer::GetVideoPara(int32_t port, SP_VIDEO_PARA* para) {
  if (!IsHostPort(port) || para == nullptr) return SP_BAD_ARGUMENT();
  *para = ports[port].videoPara;
  return SP_OK;
}

int32_t SP_STDCALL SinglePlayer::Play_GetVideoPara(int32_t port, SP_VIDEO_PARA* para) {
  return AtBoundary(texts::kTraceGetVideoPara, [&] { return GetVideoPara(port, para); },
                    port, para);
}

int32_t SinglePlayer::SetDispRegion(int32_t port, int32_t enable, SP_RECT* rect) {
  if (!IsHostPort(port)) return SP_BAD_ARGUMENT();
  int32_t decoderPort = 0;
  int32_t result = SP_OK;
  if (!FindDecoderPort(port, "Play_CloseStream()", decoderPort, result)) return result;
  PortRecord& record = ports[port];
  if (enable == 0) {
    if (!VdPlay_SetDisplayRegion(decoderPort, 0, nullptr, nullptr, 0)) {
      return DecoderFailure(decoderPort, "VdPlay_SetDisplayRegion(FALSE)");
    }
    record.dispRegion = SP_RECT{0, 0, 0, 0};
    return SP_OK;
  }
  if (rect == nullptr) return SP_BAD_ARGUMENT();
  // The region must lie inside the picture of the last Play_GetPictureSize.
  if (rect->top < 0) return SP_BAD_ARGUMENT();
  if (rect->left < 0) return SP_BAD_ARGUMENT();
  if (rect->right > record.pictureRect.right) return SP_BAD_ARGUMENT();
  if (rect->bottom > record.pictureRect.bottom) return SP_BAD_ARGUMENT();
  VdRect region{rect->left, rect->top, rect->right, rect->bottom};
  if (!VdPlay_SetDisplayRegion(decoderPort, 0, &region, nullptr, 1)) {
    return DecoderFailure(decoderPort, "VdPlay_SetDisplayRegion(TRUE)");
  }
  record.dispRegion = *rect;
  return SP_OK;
}

int32_t SP_STDCALL SinglePlayer::Play_SetDispRegion(int32_t port, int32_t enable, SP_RECT* rect) {
  return AtBoundary(texts::kTraceSetDispRegion, [&] { return SetDispRegion(port, enable, rect); },
                    port, enable, rect);
}

int32_t SinglePlayer::GetDispRegion(int32_t port, SP_RECT* rect) {
  if (!IsHostPort(port) || rect == nullptr) return SP_BAD_ARGUMENT();
  *rect = ports[port].dispRegion;
  return SP_OK;
}

int32_t SP_STDCALL SinglePlayer::Play_GetDispRegion(int32_t port, SP_RECT* rect) {
  return AtBoundary(texts::kTraceGetDispRegion, [&] { return GetDispRegion(port, rect); },
                    port, rect);
}

int32_t SinglePlayer::ClearBuffer(int32_t port) {
  if (!IsHostPort(port)) return SP_BAD_ARGUMENT();
  int32_t decoderPort = 0;
  int32_t result = SP_OK;
  if (!FindDecoderPort(port, "Play_CloseStream()", decoderPort, result)) return result;
  if (!VdPlay_ResetSourceBuffer(decoderPort)) {
    return DecoderFailure(decoderPort, "VdPlay_ResetSourceBuffer()");
  }
  return SP_OK;
}

int32_t SP_STDCALL SinglePlayer::Play_ClearBuffer(int32_t port) {
  return AtBoundary(texts::kTraceClearBuffer, [&] { return ClearBuffer(port); }, port);
}

int32_t SinglePlayer::GetBufferRemainDataSize(int32_t port, uint32_t* size) {
  if (!IsHostPort(port)) return SP_BAD_ARGUMENT();
  int32_t decoderPort = 0;
  int32_t result = SP_OK;
  if (!FindDecoderPort(port, "Play_CloseStream()", decoderPort, result)) return result;
  if (size == nullptr) return SP_BAD_ARGUMENT();
  *size = VdPlay_GetSourceBufferRemain(decoderPort);
  return SP_OK;
}

int32_t SP_STDCALL SinglePlayer::Play_GetBufferRemainDataSize(int32_t port, uint32_t* size) {
  return AtBoundary(
      texts::kTraceGetBufferRemainDataSize, [&] { return GetBufferRemainDataSize(port, size); },
      port, size);
}

}  // namespace sp
