// The functions of the VdPlay decoding and display library that the player
// calls. On Windows they are imported from VdPlay.dll by their undecorated
// names (stdcall, every argument 32 bits); natively they are plain C
// functions of the vdplay shared library. BOOL results are 0 on failure.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#define VDPLAY_CALL __stdcall
#else
#define VDPLAY_CALL
#endif

extern "C" {

typedef std::int32_t VdBool;
typedef std::int32_t VdLong;
typedef std::uint32_t VdDword;
typedef void* VdWindow;

struct VdRect {
  std::int32_t left;
  std::int32_t top;
  std::int32_t right;
  std::int32_t bottom;
};

typedef void(VDPLAY_CALL* VdDisplayCallback)(VdLong port, char* frame, VdLong size, VdLong width,
                                             VdLong height, VdLong stamp, VdLong type,
                                             VdLong reserved);

VdBool VDPLAY_CALL VdPlay_SetOverlayMode(VdLong port, VdBool overlay, VdDword colorKey);
VdBool VDPLAY_CALL VdPlay_SetStreamOpenMode(VdLong port, VdDword mode);
VdBool VDPLAY_CALL VdPlay_OpenStream(VdLong port, std::uint8_t* header, VdDword headerLength,
                                     VdDword poolBytes);
VdBool VDPLAY_CALL VdPlay_Play(VdLong port, VdWindow window);
VdBool VDPLAY_CALL VdPlay_InputData(VdLong port, std::uint8_t* data, VdDword length);
VdBool VDPLAY_CALL VdPlay_Stop(VdLong port);
VdBool VDPLAY_CALL VdPlay_CloseStream(VdLong port);
VdBool VDPLAY_CALL VdPlay_Pause(VdLong port, VdDword pause);
VdBool VDPLAY_CALL VdPlay_Fast(VdLong port);
VdBool VDPLAY_CALL VdPlay_Slow(VdLong port);
VdBool VDPLAY_CALL VdPlay_OneByOne(VdLong port);
VdBool VDPLAY_CALL VdPlay_PlaySound(VdLong port);
VdBool VDPLAY_CALL VdPlay_StopSound(void);
VdBool VDPLAY_CALL VdPlay_SetVolume(VdLong port, VdDword volume);
VdBool VDPLAY_CALL VdPlay_RefreshPlay(VdLong port);
VdBool VDPLAY_CALL VdPlay_ResetSourceBuffer(VdLong port);
VdDword VDPLAY_CALL VdPlay_GetFileHeadLength(void);
VdBool VDPLAY_CALL VdPlay_GetPictureSize(VdLong port, VdLong* width, VdLong* height);
VdBool VDPLAY_CALL VdPlay_SetPicQuality(VdLong port, VdBool highQuality);
VdBool VDPLAY_CALL VdPlay_ThrowBFrameNum(VdLong port, VdDword number);
VdBool VDPLAY_CALL VdPlay_SetColor(VdLong port, VdDword region, int brightness, int contrast,
                                   int saturation, int hue);
VdBool VDPLAY_CALL VdPlay_SetDisplayRegion(VdLong port, VdDword region, VdRect* rect,
                                           VdWindow window, VdBool enable);
VdDword VDPLAY_CALL VdPlay_GetSourceBufferRemain(VdLong port);
VdBool VDPLAY_CALL VdPlay_SetDisplayCallBack(VdLong port, VdDisplayCallback callback);
VdBool VDPLAY_CALL VdPLay_ConvertToBmpFile(char* frame, VdLong size, VdLong width,
                                           VdLong height, VdLong type, char* path);
VdDword VDPLAY_CALL VdPlay_GetLastError(VdLong port);

}  // extern "C"
