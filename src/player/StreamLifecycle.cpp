// Set-up, open, data input and close of a host port's stream.
#include "platform/Platform.h"
#include "player/SinglePlayer.h"

namespace sp {
namespace {
constexpr uint32_t kLargestColorKey = 0x00FFFFFF;
constexpr uint32_t kPoolBytesOpenMode1 = 1024000;
constexpr int kInputAttempts = 10;
constexpr uint32_t kInputRetryPauseMs = 100;
}  // namespace

int32_t SinglePlayer::SetOverlayMode(int32_t port, uint32_t key) {
  if (!IsHostPort(port)) return SP_BAD_ARGUMENT();
  int32_t decoderPort = 0;
  if (!LookupDecoderPort(port, decoderPort) && !AcquireDecoderPort(port, decoderPort)) {
    return ReportDecoderError(1, "Play_SetOverlayMode()");
  }
  if (key > kLargestColorKey) return SP_BAD_ARGUMENT();
  ports[port].overlayMode = 1;
  colorKey = key;
  if (!VdPlay_SetOverlayMode(decoderPort, 1, key)) {
    return DecoderFailure(decoderPort, "VdPlay_SetOverlayMode()");
  }
  return SP_OK;
}

int32_t SP_STDCALL SinglePlayer::Play_SetOverlayMode(int32_t port, uint32_t key) {
  return AtBoundary(texts::kTraceSetOverlayMode, [&] { return SetOverlayMode(port, key); },
                    port, key);
}

int32_t SinglePlayer::GetPreviewMode(int32_t port, int32_t* mode, uint32_t* key) {
  if (!IsHostPort(port) || mode == nullptr || key == nullptr) return SP_BAD_ARGUMENT();
  *mode = ports[port].overlayMode;
  *key = colorKey;
  return SP_OK;
}

int32_t SP_STDCALL SinglePlayer::Play_GetPreviewMode(int32_t port, int32_t* mode, uint32_t* key) {
  return AtBoundary(texts::kTraceGetPreviewMode, [&] { return GetPreviewMode(port, mode, key); },
                    port, mode, key);
}

int32_t SinglePlayer::SetOpenMode(int32_t port, int32_t mode) {
  if (!IsHostPort(port)) return SP_BAD_ARGUMENT();
  int32_t decoderPort = 0;
  if (!LookupDecoderPort(port, decoderPort) && !AcquireDecoderPort(port, decoderPort)) {
    return ReportDecoderError(1, "Play_SetOpenMode()");
  }
  if (mode != 0 && mode != 1) return SP_BAD_ARGUMENT();
  ports[port].openMode = mode;
  if (!VdPlay_SetStreamOpenMode(decoderPort, static_cast<VdDword>(mode))) {
    return DecoderFailure(decoderPort, "VdPlay_SetStreamOpenMode()");
  }
  return SP_OK;
}

int32_t SP_STDCALL SinglePlayer::Play_SetOpenMode(int32_t port, int32_t mode) {
  return AtBoundary(texts::kTraceSetOpenMode, [&] { return SetOpenMode(port, mode); }, port, mode);
}

int32_t SinglePlayer::OpenStream(SP_HWND window, int32_t port, uint8_t* header,
                                 uint32_t headerLength) {
  if (!IsHostPort(port)) return SP_BAD_ARGUMENT();
  int32_t decoderPort = 0;
  int32_t result = SP_OK;
  if (!FindDecoderPort(port, "Play_OpenStream()", decoderPort, result)) return result;
  if (header == nullptr || headerLength == 0) return SP_BAD_ARGUMENT();
  if (ports[port].playState != PLAYSTATE_NOT_STARTED) {
    // A stream is still open: close it with the full close operation first.
    SP_OWN_ERROR(0, texts::kTextMustStopFirst);
    const int32_t closed = Play_CloseStream(port);
    if (closed != SP_OK) {
      SP_OWN_ERROR(closed, "Play_CloseStream() error");
      return closed;
    }
    if (!AcquireDecoderPort(port, decoderPort)) return ReportDecoderError(1, "SetPlayPort()");
  }
  const uint32_t poolBytes = ports[port].openMode == 1 ? kPoolBytesOpenMode1 : streamBufferSize;
  if (!VdPlay_OpenStream(decoderPort, header, headerLength, poolBytes)) {
    return DecoderFailure(decoderPort, "VdPlay_OpenStream()");
  }
  if (!VdPlay_Play(decoderPort, window)) {
    // Close the stream just opened, so no decoder stream stays open behind a
    // port whose play state says none is.
    const int32_t code = static_cast<int32_t>(VdPlay_GetLastError(decoderPort));
    VdPlay_CloseStream(decoderPort);
    return ReportDecoderError(code, "VdPlay_Play()");
  }
  ports[port].displayWindow = window;
  ports[port].playState = PLAYSTATE_PLAY;
  return SP_OK;
}

int32_t SP_STDCALL SinglePlayer::Play_OpenStream(SP_HWND window, int32_t port, uint8_t* header,
                                                 uint32_t headerLength, int32_t unused) {
  return AtBoundary(
      texts::kTraceOpenStream, [&] { return OpenStream(window, port, header, headerLength); },
      window, port, header, headerLength, unused);
}

int32_t SinglePlayer::InputData(int32_t port, uint8_t* data, uint32_t length) {
  if (!IsHostPort(port)) return SP_BAD_ARGUMENT();
  int32_t decoderPort = 0;
  int32_t result = SP_OK;
  if (!FindDecoderPort(port, "Play_InputData()", decoderPort, result)) return result;
  if (data == nullptr || length == 0) return SP_BAD_ARGUMENT();
  PortRecord& record = ports[port];
  if (record.playState == PLAYSTATE_NOT_STARTED) return SP_OUT_OF_ORDER(texts::kTextInputToClosedPort);
  // While stepping, only one block per single-frame request gets through.
  if (record.playState == PLAYSTATE_ONE_BY_ONE && record.stepInputPermit != 1) {
    return SP_ERR_STEPPING;
  }
  for (int attempt = 1; attempt <= kInputAttempts; ++attempt) {
    if (VdPlay_InputData(decoderPort, data, length)) {
      result = SP_OK;
      break;
    }
    const int32_t code = static_cast<int32_t>(VdPlay_GetLastError(decoderPort));
    // Every refusal is logged at level 2; below it only the final one, so
    // that the host learns the data was dropped.
    if (debugLevel >= 2 || attempt == kInputAttempts) {
      result = ReportDecoderError(code, "VdPlay_InputData()");
    }
    platform::SleepMilliseconds(kInputRetryPauseMs);
  }
  if (record.playState == PLAYSTATE_ONE_BY_ONE) record.stepInputPermit = 0;
  return result;
}

int32_t SP_STDCALL SinglePlayer::Play_InputData(int32_t port, uint8_t* data, uint32_t length,
                                                int32_t unused) {
  return AtBoundary(texts::kTraceInputData, [&] { return InputData(port, data, length); },
                    port, data, length, unused);
}

int32_t SinglePlayer::CloseStream(int32_t port) {
  if (!IsHostPort(port)) return SP_BAD_ARGUMENT();
  int32_t decoderPort = 0;
  int32_t result = SP_OK;
  if (!FindDecoderPort(port, "Play_CloseStream()", decoderPort, result)) return result;
  PortRecord& record = ports[port];
  if (record.playState == PLAYSTATE_NOT_STARTED) {
    return SP_OUT_OF_ORDER(texts::kTextCannotStopUnstarted);
  }
  if (!VdPlay_Stop(decoderPort)) return DecoderFailure(decoderPort, "VdPlay_Stop()");
  if (!VdPlay_CloseStream(decoderPort)) return DecoderFailure(decoderPort, "VdPlay_CloseStream()");
  record.playState = PLAYSTATE_NOT_STARTED;
  record.videoPara.brightness = 50;
  record.videoPara.contrast = 50;
  record.videoPara.saturation = 50;
  record.videoPara.hue = 50;
  return SP_OK;
}

int32_t SP_STDCALL SinglePlayer::Play_CloseStream(int32_t port) {
  return AtBoundary(texts::kTraceCloseStream, [&] { return CloseStream(port); }, port);
}

}  // namespace sp
