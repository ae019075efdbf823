/*
 * SinglePlayer: one player object over the VdPlay decoding and display
 * library. A host obtains the player with CreateSinglePlayerDll, calls
 * Play_Init, drives host ports 0 to 127 through the 26 operations of
 * ISinglePlayer and hands the player back with ReleaseSinglePlayerDll.
 *
 * Binary layout (32-bit Windows): an ISinglePlayer* points at an object whose
 * first 4 bytes hold the address of a table of 26 function pointers, in the
 * slot order below. Slot k is
 *     int32_t __stdcall f(ISinglePlayer* self, ...)
 * with every argument 32 bits wide and the callee removing them. There is no
 * destructor entry: the player is destroyed only by ReleaseSinglePlayerDll.
 * C hosts use the ISinglePlayerVtbl declaration below.
 */
#ifndef SINGLEPLAYER_H
#define SINGLEPLAYER_H

#include <stdint.h>

#if defined(_WIN32)
#define SP_STDCALL __stdcall
#define SP_CDECL __cdecl
#if defined(SP_BUILDING_LIBRARY)
#define SP_API /* exported by the library's .def file, with undecorated names */
#else
#define SP_API __declspec(dllimport)
#endif
#else
#define SP_STDCALL
#define SP_CDECL
#define SP_API __attribute__((visibility("default")))
#endif

/* Result codes of the operations. */
#define SP_OK 0
#define SP_ERR_INIT (-1)          /* Play_Init: the system folder cannot be read */
#define SP_ERR_PARAM 2            /* a rejected argument or a port without a decoder port */
#define SP_ERR_ORDER 3            /* the port's stream has not been started */
#define SP_ERR_STEPPING 12        /* Play_InputData refused data while stepping; also buffer full */
#define SP_ERR_DECODER_UNKNOWN 26 /* the decoder failed with a code outside 1..23 */
/* A decoder failure with code k from 1 to 23 gives k + 1. */

/* Host ports are 0 to SP_PLAYER_PORT_COUNT - 1. */
#define SP_PLAYER_PORT_COUNT 128

/* Play-state codes (Play_PlayState, Play_GetPlayState). */
#define PLAYSTATE_NOT_STARTED 0
#define PLAYSTATE_PLAY 1
#define PLAYSTATE_PAUSE 2
#define PLAYSTATE_FAST1 3
#define PLAYSTATE_FAST2 4
#define PLAYSTATE_FAST3 5
#define PLAYSTATE_SLOW1 6
#define PLAYSTATE_SLOW2 7
#define PLAYSTATE_SLOW3 8
#define PLAYSTATE_ONE_BY_ONE 9

/* Video parameters: brightness, contrast, saturation and hue on a 0 to 100
 * scale, 50 by default. The two reserved elements read back as 0. */
typedef struct SP_VIDEO_PARA {
  int32_t reserved0;
  int32_t brightness;
  int32_t contrast;
  int32_t saturation;
  int32_t hue;
  int32_t reserved5;
} SP_VIDEO_PARA;

typedef struct SP_RECT {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
} SP_RECT;

/* A window of the host; passed to the decoder unchanged. On Windows an HWND.
   On Linux an X11 window id cast to this type, (SP_HWND)(uintptr_t)window:
   the decoder paints into that window over a display connection of its own
   (DISPLAY). Null, or a window that does not exist, shows nothing. */
typedef void* SP_HWND;

#ifdef __cplusplus

class ISinglePlayer {
 public:
  /* 0 */ virtual int32_t SP_STDCALL Play_Init(int32_t hostValue) = 0;
  /* 1 */ virtual int32_t SP_STDCALL Play_Exit() = 0;
  /* 2 */ virtual int32_t SP_STDCALL Play_SetOverlayMode(int32_t port, uint32_t colorKey) = 0;
  /* 3 */ virtual int32_t SP_STDCALL Play_GetPreviewMode(int32_t port, int32_t* overlayMode,
                                                         uint32_t* colorKey) = 0;
  /* 4 */ virtual int32_t SP_STDCALL Play_SetOpenMode(int32_t port, int32_t openMode) = 0;
  /* 5 */ virtual int32_t SP_STDCALL Play_OpenStream(SP_HWND window, int32_t port,
                                                     uint8_t* header, uint32_t headerLength,
                                                     int32_t unused) = 0;
  /* 6 */ virtual int32_t SP_STDCALL Play_InputData(int32_t port, uint8_t* data,
                                                    uint32_t length, int32_t unused) = 0;
  /* 7 */ virtual int32_t SP_STDCALL Play_CloseStream(int32_t port) = 0;
  /* 8 */ virtual int32_t SP_STDCALL Play_PlayState(int32_t port, int32_t state) = 0;
  /* 9 */ virtual int32_t SP_STDCALL Play_GetPlayState(int32_t port, int32_t* state) = 0;
  /* 10 */ virtual int32_t SP_STDCALL Play_SetVolume(int32_t port, int32_t volume) = 0;
  /* 11 */ virtual int32_t SP_STDCALL Play_GetVolume(int32_t port, int32_t* volume) = 0;
  /* 12 */ virtual int32_t SP_STDCALL Play_GetPicture(int32_t port, const char* path) = 0;
  /* 13 */ virtual int32_t SP_STDCALL Play_RefreshPlay(int32_t port) = 0;
  /* 14 */ virtual int32_t SP_STDCALL Play_GetHeadLen(uint32_t* headerLength) = 0;
  /* 15 */ virtual int32_t SP_STDCALL Play_GetPictureSize(int32_t port, int32_t* width,
                                                          int32_t* height) = 0;
  /* 16 */ virtual int32_t SP_STDCALL Play_SetPicQuality(int32_t port, int32_t quality) = 0;
  /* 17 */ virtual int32_t SP_STDCALL Play_GetPicQuality(int32_t port, int32_t* quality) = 0;
  /* 18 */ virtual int32_t SP_STDCALL Play_ThrowFrame(int32_t port, int32_t number) = 0;
  /* 19 */ virtual int32_t SP_STDCALL Play_GetThrowNum(int32_t port, int32_t* number) = 0;
  /* 20 */ virtual int32_t SP_STDCALL Play_SetVideoPara(int32_t port, SP_VIDEO_PARA* para,
                                                        int32_t restoreDefaults) = 0;
  /* 21 */ virtual int32_t SP_STDCALL Play_GetVideoPara(int32_t port, SP_VIDEO_PARA* para) = 0;
  /* 22 */ virtual int32_t SP_STDCALL Play_SetDispRegion(int32_t port, int32_t enable,
                                                         SP_RECT* rect) = 0;
  /* 23 */ virtual int32_t SP_STDCALL Play_GetDispRegion(int32_t port, SP_RECT* rect) = 0;
  /* 24 */ virtual int32_t SP_STDCALL Play_ClearBuffer(int32_t port) = 0;
  /* 25 */ virtual int32_t SP_STDCALL Play_GetBufferRemainDataSize(int32_t port,
                                                                   uint32_t* size) = 0;

 protected:
  ~ISinglePlayer() = default;
};

extern "C" {
#else /* C hosts: the same object seen as a pointer to a table of 26 slots. */

typedef struct ISinglePlayer ISinglePlayer;
typedef struct ISinglePlayerVtbl {
  int32_t(SP_STDCALL* Play_Init)(ISinglePlayer* self, int32_t hostValue);
  int32_t(SP_STDCALL* Play_Exit)(ISinglePlayer* self);
  int32_t(SP_STDCALL* Play_SetOverlayMode)(ISinglePlayer* self, int32_t port, uint32_t colorKey);
  int32_t(SP_STDCALL* Play_GetPreviewMode)(ISinglePlayer* self, int32_t port,
                                           int32_t* overlayMode, uint32_t* colorKey);
  int32_t(SP_STDCALL* Play_SetOpenMode)(ISinglePlayer* self, int32_t port, int32_t openMode);
  int32_t(SP_STDCALL* Play_OpenStream)(ISinglePlayer* self, SP_HWND window, int32_t port,
                                       uint8_t* header, uint32_t headerLength, int32_t unused);
  int32_t(SP_STDCALL* Play_InputData)(ISinglePlayer* self, int32_t port, uint8_t* data,
                                      uint32_t length, int32_t unused);
  int32_t(SP_STDCALL* Play_CloseStream)(ISinglePlayer* self, int32_t port);
  int32_t(SP_STDCALL* Play_PlayState)(ISinglePlayer* self, int32_t port, int32_t state);
  int32_t(SP_STDCALL* Play_GetPlayState)(ISinglePlayer* self, int32_t port, int32_t* state);
  int32_t(SP_STDCALL* Play_SetVolume)(ISinglePlayer* self, int32_t port, int32_t volume);
  int32_t(SP_STDCALL* Play_GetVolume)(ISinglePlayer* self, int32_t port, int32_t* volume);
  int32_t(SP_STDCALL* Play_GetPicture)(ISinglePlayer* self, int32_t port, const char* path);
  int32_t(SP_STDCALL* Play_RefreshPlay)(ISinglePlayer* self, int32_t port);
  int32_t(SP_STDCALL* Play_GetHeadLen)(ISinglePlayer* self, uint32_t* headerLength);
  int32_t(SP_STDCALL* Play_GetPictureSize)(ISinglePlayer* self, int32_t port, int32_t* width,
                                           int32_t* height);
  int32_t(SP_STDCALL* Play_SetPicQuality)(ISinglePlayer* self, int32_t port, int32_t quality);
  int32_t(SP_STDCALL* Play_GetPicQuality)(ISinglePlayer* self, int32_t port, int32_t* quality);
  int32_t(SP_STDCALL* Play_ThrowFrame)(ISinglePlayer* self, int32_t port, int32_t number);
  int32_t(SP_STDCALL* Play_GetThrowNum)(ISinglePlayer* self, int32_t port, int32_t* number);
  int32_t(SP_STDCALL* Play_SetVideoPara)(ISinglePlayer* self, int32_t port, SP_VIDEO_PARA* para,
                                         int32_t restoreDefaults);
  int32_t(SP_STDCALL* Play_GetVideoPara)(ISinglePlayer* self, int32_t port, SP_VIDEO_PARA* para);
  int32_t(SP_STDCALL* Play_SetDispRegion)(ISinglePlayer* self, int32_t port, int32_t enable,
                                          SP_RECT* rect);
  int32_t(SP_STDCALL* Play_GetDispRegion)(ISinglePlayer* self, int32_t port, SP_RECT* rect);
  int32_t(SP_STDCALL* Play_ClearBuffer)(ISinglePlayer* self, int32_t port);
  int32_t(SP_STDCALL* Play_GetBufferRemainDataSize)(ISinglePlayer* self, int32_t port,
                                                    uint32_t* size);
} ISinglePlayerVtbl;
struct ISinglePlayer {
  const ISinglePlayerVtbl* vtbl;
};

#endif /* __cplusplus */

/* The one player of the process; every caller gets the same object. Null
 * only when the player could not be allocated. */
SP_API ISinglePlayer* SP_CDECL CreateSinglePlayerDll(void);
/* Destroys the player when given the current one; anything else is ignored.
 * Streams left open are neither stopped nor closed. */
SP_API void SP_STDCALL ReleaseSinglePlayerDll(ISinglePlayer* player);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* SINGLEPLAYER_H */
