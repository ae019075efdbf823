// A decoder that accepts every call at once and does nothing else. It lets the
// benchmarks measure what the player itself costs around a decoder call. It
// is its own translation unit, compiled without link-time optimisation, so
// the player's calls and the benchmark's direct calls reach it the same way:
// as real, out-of-line calls.
#include "NullDecoder.h"

#include "player/VdPlayApi.h"

namespace bench {
volatile std::uint64_t nullDecoderBytesTaken = 0;
}  // namespace bench

extern "C" {

VdBool VDPLAY_CALL VdPlay_InputData(VdLong, std::uint8_t*, VdDword length) {
  // One store, so the call has an effect that cannot be dropped.
  bench::nullDecoderBytesTaken = bench::nullDecoderBytesTaken + length;
  return 1;
}

VdBool VDPLAY_CALL VdPlay_SetOverlayMode(VdLong, VdBool, VdDword) { return 1; }
VdBool VDPLAY_CALL VdPlay_SetStreamOpenMode(VdLong, VdDword) { return 1; }
VdBool VDPLAY_CALL VdPlay_OpenStream(VdLong, std::uint8_t*, VdDword, VdDword) { return 1; }
VdBool VDPLAY_CALL VdPlay_Play(VdLong, VdWindow) { return 1; }
VdBool VDPLAY_CALL VdPlay_Stop(VdLong) { return 1; }
VdBool VDPLAY_CALL VdPlay_CloseStream(VdLong) { return 1; }
VdBool VDPLAY_CALL VdPlay_Pause(VdLong, VdDword) { return 1; }
VdBool VDPLAY_CALL VdPlay_Fast(VdLong) { return 1; }
VdBool VDPLAY_CALL VdPlay_Slow(VdLong) { return 1; }
VdBool VDPLAY_CALL VdPlay_OneByOne(VdLong) { return 1; }
VdBool VDPLAY_CALL VdPlay_PlaySound(VdLong) { return 1; }
VdBool VDPLAY_CALL VdPlay_StopSound(void) { return 1; }
VdBool VDPLAY_CALL VdPlay_SetVolume(VdLong, VdDword) { return 1; }
VdBool VDPLAY_CALL VdPlay_RefreshPlay(VdLong) { return 1; }
VdBool VDPLAY_CALL VdPlay_ResetSourceBuffer(VdLong) { return 1; }
VdDword VDPLAY_CALL VdPlay_GetFileHeadLength(void) { return 40; }
VdBool VDPLAY_CALL VdPlay_GetPictureSize(VdLong, VdLong* width, VdLong* height) {
  if (width != nullptr) *width = 352;
  if (height != nullptr) *height = 288;
  return 1;
}
VdBool VDPLAY_CALL VdPlay_SetPicQuality(VdLong, VdBool) { return 1; }
VdBool VDPLAY_CALL VdPlay_ThrowBFrameNum(VdLong, VdDword) { return 1; }
VdBool VDPLAY_CALL VdPlay_SetColor(VdLong, VdDword, int, int, int, int) { return 1; }
VdBool VDPLAY_CALL VdPlay_SetDisplayRegion(VdLong, VdDword, VdRect*, VdWindow, VdBool) {
  return 1;
}
VdDword VDPLAY_CALL VdPlay_GetSourceBufferRemain(VdLong) { return 0; }
VdBool VDPLAY_CALL VdPlay_SetDisplayCallBack(VdLong, VdDisplayCallback) { return 1; }
VdBool VDPLAY_CALL VdPLay_ConvertToBmpFile(char*, VdLong, VdLong, VdLong, VdLong, char*) {
  return 1;
}
VdDword VDPLAY_CALL VdPlay_GetLastError(VdLong) { return 0; }

}  // extern "C"
