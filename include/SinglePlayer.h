/**
 * @file SinglePlayer.h
 * @brief The public interface of SinglePlayer: one player object over the
 *        VdPlay decoding and display library.
 *
 * A host obtains the player with CreateSinglePlayerDll(), calls
 * ISinglePlayer::Play_Init(), gives a host port (0 to 127) its decoder port
 * with ISinglePlayer::Play_SetOpenMode() or ISinglePlayer::Play_SetOverlayMode(),
 * opens a stream on it with ISinglePlayer::Play_OpenStream(), feeds data with
 * ISinglePlayer::Play_InputData(), steers and queries it with the other
 * operations, closes it with ISinglePlayer::Play_CloseStream() and finally
 * hands the player back with ReleaseSinglePlayerDll(). This header is the
 * reference of the operations; docs/reference.md adds what a header cannot
 * say: the configuration file, the log records and how to link.
 *
 * <b>Result codes.</b> Every operation returns a signed 32-bit code: 0
 * (#SP_OK) for success, 2 (#SP_ERR_PARAM) for a rejected argument or a host
 * port without a decoder port, 3 (#SP_ERR_ORDER) for an operation on a port
 * whose stream is not open, 12 (#SP_ERR_STEPPING) for data refused while
 * stepping, k + 1 when the decoder failed with its error code k (1 to 23),
 * 26 (#SP_ERR_DECODER_UNKNOWN) for any other decoder code, and -1
 * (#SP_ERR_INIT) from Play_Init only. An operation that fails inside the
 * library (memory ran out, or anything else went wrong) returns 7, as the
 * decoder's allocation failure, or 26, and writes an error record naming the
 * operation ("Play_OpenStream()"). Arguments are checked in this order: host
 * port, decoder port, the operation's own arguments, the port's state, then
 * the decoder calls; the first refusal is the result.
 *
 * <b>Error records.</b> Most failures write one error record, but not all:
 * - none for -1 from Play_Init, 12 from Play_InputData while stepping, and
 *   26 from Play_GetPicture when it could not even begin (its lock failed);
 * - Play_ThrowFrame returns 0 also when the decoder refuses the number, and
 *   records the refusal only from debug level 2;
 * - Play_InputData, while the decoder refuses data, retries up to ten times:
 *   from debug level 2 every refusal writes a record (up to ten), below it
 *   only the last one;
 * - Play_GetPicture that gets no picture in time and then cannot remove its
 *   display callback writes two: the timeout and the decoder's failure
 *   (whose result it returns).
 * A record that cannot be written (no folder, no access, no memory) is
 * dropped; the operation goes on and returns what it would have returned.
 *
 * <b>Trace records.</b> Each operation of slots 2 to 25 writes one trace
 * record to the runtime log on entry, before any check, when the debug level
 * is 1 or more (2 or more for Play_InputData and Play_ThrowFrame); every
 * level above 2 writes what level 2 writes. With the configuration key
 * TRACE_ARGUMENTS set to a number other than 0, each traced operation names
 * its arguments in that record (addresses only as present or null) and
 * writes a second record with its result when it returns. A rejected
 * argument writes an error record with code 0 and the text "参数错误"; a
 * decoder failure writes the decoder's code, its message and the name of the
 * failed call. Play_Init and Play_Exit write no record.
 *
 * <b>Threads.</b> The player runs no thread of its own. Create, release,
 * Play_Init, the set-up operations, Play_OpenStream and Play_CloseStream
 * expect one calling thread at a time with no other operation running. Once
 * ports are open, each port may be driven from its own thread (one thread
 * per port at a time). The decoder calls the player back on its display
 * thread only while Play_GetPicture waits. Log records of concurrent threads
 * stay whole.
 *
 * <b>Blocking.</b> Play_InputData may wait about one second while the
 * decoder's buffer is full, Play_GetPicture up to 50 ms for the next frame.
 * Play_Init reads the configuration file and may create folders, and every
 * record written opens, appends to and closes its log file; nothing else
 * waits.
 *
 * <b>Binary layout</b> (32-bit Windows): an ISinglePlayer* points at an
 * object whose first 4 bytes hold the address of a table of 26 function
 * pointers, in the slot order below. Slot k is
 *     int32_t __stdcall f(ISinglePlayer* self, ...)
 * with every argument 32 bits wide and the callee removing them. On 64-bit
 * Windows and natively the table holds 64-bit pointers and the platform's
 * own calling convention applies. There is no destructor entry: the player
 * is destroyed only by ReleaseSinglePlayerDll(). C hosts use the
 * ISinglePlayerVtbl declaration below.
 */
#ifndef SINGLEPLAYER_H
#define SINGLEPLAYER_H

#include <stdint.h>

/* Version of this interface and library. The build reads these three lines,
 * so they are the one place the version is written. The major number changes
 * only when the binary contract changes (it is the native library's SONAME). */
#define SP_VERSION_MAJOR 1 /**< changes with the binary contract */
#define SP_VERSION_MINOR 0 /**< changes with additions that keep the contract */
#define SP_VERSION_PATCH 0 /**< changes with mends */

/** @name Calling conventions and linkage
 * SP_STDCALL: the operations' convention (stdcall on 32-bit Windows).
 * SP_CDECL: CreateSinglePlayerDll's convention. SP_API: how a host imports
 * the two exports.
 * @{ */
#if defined(_WIN32)
#define SP_STDCALL __stdcall
#define SP_CDECL __cdecl
#if defined(SP_BUILDING_LIBRARY)
#define SP_API /* exported by the library's .def file, with undecorated names */
#else
#define SP_API __declspec(dllimport)
#endif
#else
#define SP_STDCALL /**< the operations' calling convention */
#define SP_CDECL   /**< CreateSinglePlayerDll's calling convention */
#define SP_API __attribute__((visibility("default"))) /**< linkage of the two exports */
#endif
/** @} */

/** @name Result codes
 * A decoder failure with its error code k from 1 to 23 gives k + 1; the
 * decoder's buffer-full error (11) therefore gives 12, and a header the
 * decoder does not recognise (20) gives 21. No operation returns 1 or 25.
 * @{ */
#define SP_OK 0                   /**< success */
#define SP_ERR_INIT (-1)          /**< Play_Init only: the system folder cannot be read */
#define SP_ERR_PARAM 2            /**< a rejected argument, or a host port without a decoder port */
#define SP_ERR_ORDER 3            /**< the port's stream has not been opened */
#define SP_ERR_STEPPING 12        /**< Play_InputData refused data while stepping; also the decoder's buffer-full error */
#define SP_ERR_DECODER_UNKNOWN 26 /**< the decoder failed with a code outside 1 to 23; also a capture that got no frame */
/** @} */

/** Host ports are 0 to SP_PLAYER_PORT_COUNT - 1; at most 32 of them get a
 * decoder port during one player's life. */
#define SP_PLAYER_PORT_COUNT 128

/** @name Play-state codes (Play_PlayState, Play_GetPlayState)
 * @{ */
#define PLAYSTATE_NOT_STARTED 0 /**< no stream playing; never accepted as a request */
#define PLAYSTATE_PLAY 1        /**< normal speed */
#define PLAYSTATE_PAUSE 2       /**< paused */
#define PLAYSTATE_FAST1 3       /**< first fast speed */
#define PLAYSTATE_FAST2 4       /**< second fast speed */
#define PLAYSTATE_FAST3 5       /**< third fast speed */
#define PLAYSTATE_SLOW1 6       /**< first slow speed */
#define PLAYSTATE_SLOW2 7       /**< second slow speed */
#define PLAYSTATE_SLOW3 8       /**< third slow speed */
#define PLAYSTATE_ONE_BY_ONE 9  /**< single frames: each request shows one more frame */
/** @} */

/** Video parameters of a port. Brightness, contrast, saturation and hue are
 * on a 0 to 100 scale, 50 by default; the two reserved elements read back as
 * 0. */
typedef struct SP_VIDEO_PARA {
  int32_t reserved0;  /**< not interpreted; read back as 0 */
  int32_t brightness; /**< 0 to 100 */
  int32_t contrast;   /**< 0 to 100 */
  int32_t saturation; /**< 0 to 100 (not range-checked) */
  int32_t hue;        /**< 0 to 100 (not range-checked) */
  int32_t reserved5;  /**< not interpreted; read back as 0 */
} SP_VIDEO_PARA;

/** A rectangle in picture pixels. */
typedef struct SP_RECT {
  int32_t left;   /**< first column */
  int32_t top;    /**< first row */
  int32_t right;  /**< column after the last */
  int32_t bottom; /**< row after the last */
} SP_RECT;

/** A window handle of the host, passed to the decoder unchanged. On Windows
 * an HWND. On Linux an X11 window id cast to this type,
 * (SP_HWND)(uintptr_t)window: the decoder paints into that window over a
 * display connection of its own (DISPLAY). Null, or a window that does not
 * exist, plays without painting. */
typedef void* SP_HWND;

#ifdef __cplusplus

/**
 * @brief The player: 26 operations in a fixed slot order (the slot number
 *        stands before each declaration).
 *
 * In the descriptions, "port" is the host port number, 0 to 127; a number
 * outside gives 2 with the record "参数错误". "Needs a decoder port" means
 * that the port must have had Play_SetOpenMode() or Play_SetOverlayMode()
 * before; otherwise the operation writes an error record with the decoder
 * message for code 1 ("输入参数非法") and returns 2. Out arguments are
 * addresses of the host's variables, written only on success; a null
 * address gives 2 with "参数错误". "Decoder failure: k + 1" means that a
 * decoder call failed with its error code k, which the error log names
 * together with the failed call.
 */
class ISinglePlayer {
 public:
  /**
   * @brief Reads the configuration file, creates the log folder and sets the
   *        debug level. Call it first; it may be called again at any time.
   *
   * The configuration file (C:/q38/cfg/Q38.cfg, natively /q38/cfg/Q38.cfg;
   * its keys and defaults are in docs/reference.md) names the log folder
   * and the debug level. A missing file or key is not an error.
   * @param hostValue Any value of the host's; stored and never read.
   * @retval 0 success, also without a configuration file.
   * @retval -1 the system folder cannot be read; nothing was changed.
   * @par Records
   *      none.
   * @par Blocking
   *      file access only.
   * @par Threads
   *      no other operation may run meanwhile (the log paths change).
   */
  /* 0 */ virtual int32_t SP_STDCALL Play_Init(int32_t hostValue) = 0;

  /**
   * @brief Does nothing: no stream is stopped and the player stays usable.
   * @retval 0 always.
   * @par Records
   *      none.
   */
  /* 1 */ virtual int32_t SP_STDCALL Play_Exit() = 0;

  /**
   * @brief Switches the port's display to overlay with a colour key; gives
   *        the port its decoder port if it has none (a set-up operation).
   * @param port Host port 0 to 127.
   * @param colorKey 0x00RRGGBB, at most 0x00FFFFFF. One key serves the whole
   *        player: the last one set, on any port, is the one reported.
   * @retval 0 success.
   * @retval 2 port out of range; colour key above 0x00FFFFFF (the decoder
   *         port handed out stays with the port); or all 32 decoder ports
   *         are handed out to other host ports (record "输入参数非法",
   *         context "Play_SetOverlayMode()").
   * @retval k+1 decoder failure (VdPlay_SetOverlayMode); the overlay flag and
   *         key are kept all the same.
   * @par Records
   *      trace at level 1 or more; an error record per failure.
   */
  /* 2 */ virtual int32_t SP_STDCALL Play_SetOverlayMode(int32_t port, uint32_t colorKey) = 0;

  /**
   * @brief Reports the port's overlay flag and the player's colour key from
   *        the cache; no decoder port needed.
   * @param port Host port 0 to 127.
   * @param[out] overlayMode 1 once Play_SetOverlayMode() passed its checks
   *        for this port, else 0.
   * @param[out] colorKey The player's colour key (0x00FF00FF until set).
   * @retval 0 success. @retval 2 port out of range or a null address.
   * @par Records
   *      trace at level 1 or more.
   */
  /* 3 */ virtual int32_t SP_STDCALL Play_GetPreviewMode(int32_t port, int32_t* overlayMode,
                                                         uint32_t* colorKey) = 0;

  /**
   * @brief Chooses the port's stream open mode; gives the port its decoder
   *        port if it has none (a set-up operation). Call it, or
   *        Play_SetOverlayMode(), before the port's first Play_OpenStream().
   * @param port Host port 0 to 127.
   * @param openMode 0 (the default): the stream gets a decoder buffer of
   *        512,000 bytes; 1: 1,024,000 bytes, for larger pictures or data
   *        that arrives in bursts. The mode also goes to the decoder, which
   *        may give it a meaning of its own (the stand-in keeps it).
   *
   * The buffer must hold the stream's largest packet, and Play_InputData()
   * takes a piece only when it fits into the buffer's free part. With the
   * stand-in decoder a packet is at most 16 bytes plus zlib's bound for one
   * I420 picture: mode 0 opens pictures up to about 340,000 pixels (640 x 480
   * fits, 704 x 576 does not: Play_OpenStream() returns 2), mode 1 up to
   * about 680,000 (1024 x 576 fits, 1280 x 720 does not). Feed pieces well
   * below the buffer size.
   * @retval 0 success.
   * @retval 2 port out of range; a mode other than 0 or 1 (the decoder port
   *         handed out stays with the port); or no decoder port left
   *         (context "Play_SetOpenMode()").
   * @retval k+1 decoder failure (VdPlay_SetStreamOpenMode).
   * @par Records
   *      trace at level 1 or more; an error record per failure.
   */
  /* 4 */ virtual int32_t SP_STDCALL Play_SetOpenMode(int32_t port, int32_t openMode) = 0;

  /**
   * @brief Opens a stream on the port with its file header and starts playing
   *        it into the window, at normal speed (play state 1).
   *
   * Needs a decoder port. A stream still open on the port is first closed
   * with Play_CloseStream() (its own trace record included), after the
   * record "必须先停止播放".
   * @param window Where the decoder paints; null plays without painting.
   * @param port Host port 0 to 127.
   * @param header The stream's file header (Play_GetHeadLen() bytes for the
   *        stand-in decoder); not kept after the call.
   * @param headerLength Its length in bytes, not 0.
   * @param unused Ignored.
   * @retval 0 the stream plays.
   * @retval 2 port out of range; no decoder port (context "Play_OpenStream()");
   *         a null header or length 0; or no decoder port left after closing
   *         an open stream (context "SetPlayPort()").
   * @retval r the closing of an open stream failed with r (record "Play_CloseStream() error").
   * @retval k+1 decoder failure: VdPlay_OpenStream (with the stand-in: 18 no
   *         or short header, 19 another version, 21 a header it does not play,
   *         2 a buffer too small for the picture: choose open mode 1) or
   *         VdPlay_Play (the stream is closed again).
   * @par Records
   *      trace at level 1 or more; an error record per failure.
   */
  /* 5 */ virtual int32_t SP_STDCALL Play_OpenStream(SP_HWND window, int32_t port,
                                                     uint8_t* header, uint32_t headerLength,
                                                     int32_t unused) = 0;

  /**
   * @brief Hands stream data to the decoder, in pieces of any size.
   *
   * Needs a decoder port and an open stream. While the decoder's buffer is
   * full the piece is offered again after 100 ms, up to ten times in all.
   * @param port Host port 0 to 127.
   * @param data The bytes; the player does not use them after the call returns.
   * @param length Their number, not 0. A piece larger than the stream's
   *        buffer (Play_SetOpenMode()) is never taken.
   * @param unused Ignored.
   * @retval 0 the decoder took the data.
   * @retval 2 port out of range, no decoder port (context "Play_InputData()"),
   *         a null address or length 0.
   * @retval 3 no stream open on the port (record "向未打开的通道输入数据").
   * @retval 12 the port steps frame by frame (play state 9) and the data is
   *         not admitted: no record, nothing taken. Each further request for
   *         state 9 admits one piece.
   * @retval k+1 all ten offers were refused; the data was dropped (12 for a
   *         full buffer).
   * @par Records
   *      trace at level 2 or more; each refusal at level 2 or more,
   *         the tenth always.
   * @par Blocking
   *      up to about one second (ten pauses of 100 ms) while the
   *      decoder's buffer stays full; otherwise it returns at once.
   * @par Threads
   *      may run on the host's feeding thread, one thread per port.
   */
  /* 6 */ virtual int32_t SP_STDCALL Play_InputData(int32_t port, uint8_t* data,
                                                    uint32_t length, int32_t unused) = 0;

  /**
   * @brief Stops and closes the port's stream. The port keeps its decoder
   *        port and its settings for the next open (picture quality, drop
   *        number, display region, picture size, overlay flag, open mode and
   *        volume; reopening sends none of them to the decoder again);
   *        brightness, contrast, saturation and hue read back as 50 again.
   * @param port Host port 0 to 127.
   * @retval 0 closed; play state 0.
   * @retval 2 port out of range or no decoder port (context "Play_CloseStream()").
   * @retval 3 no stream open (record "不能停止没有开始的通道").
   * @retval k+1 decoder failure: VdPlay_Stop (nothing changed) or
   *         VdPlay_CloseStream (the play state is kept).
   * @par Records
   *      trace at level 1 or more; an error record per failure.
   */
  /* 7 */ virtual int32_t SP_STDCALL Play_CloseStream(int32_t port) = 0;

  /**
   * @brief Changes how an open stream plays: normal, pause, three fast and
   *        three slow speeds, or single frames.
   *
   * Needs a decoder port and an open stream. A speed request first returns
   * the decoder to normal speed and then steps it up or down as often as the
   * level says (fast 2 to fast 3 is one VdPlay_Play and three VdPlay_Fast);
   * pause calls VdPlay_Pause only. State 9 shows one more frame per request;
   * from the second request on, each one also admits one piece of
   * Play_InputData().
   * @param port Host port 0 to 127.
   * @param state A play-state code 1 to 9 (PLAYSTATE_PLAY ... PLAYSTATE_ONE_BY_ONE).
   *        Other codes, and the state the port already has (1 to 8), change
   *        nothing and return 0.
   * @retval 0 success or nothing to do.
   * @retval 2 port out of range or no decoder port (context "Play_CloseStream()").
   * @retval 3 no stream open (record "不能改变没有开始的通道").
   * @retval k+1 decoder failure; calls made before it are not undone and the
   *         play state stays as it was (state 9 is entered all the same).
   * @par Records
   *      trace at level 1 or more; an error record per failure.
   */
  /* 8 */ virtual int32_t SP_STDCALL Play_PlayState(int32_t port, int32_t state) = 0;

  /**
   * @brief Reports the port's play state from the cache; no decoder port
   *        needed (a port never opened reports 0).
   * @param port Host port 0 to 127.
   * @param[out] state The play-state code 0 to 9.
   * @retval 0 success. @retval 2 port out of range or a null address.
   * @par Records
   *      trace at level 1 or more.
   */
  /* 9 */ virtual int32_t SP_STDCALL Play_GetPlayState(int32_t port, int32_t* state) = 0;

  /**
   * @brief Sets the sound volume. Needs a decoder port. One volume serves
   *        the whole player.
   * @param port Host port 0 to 127; a non-zero volume turns the sound on for
   *        this port.
   * @param volume 0 to 100; 0 turns the sound off for every port, 1 to 100
   *        become 0 to 65535 in the decoder.
   * @retval 0 success. @retval 2 port out of range, no decoder port or a
   *         volume outside 0 to 100.
   * @retval k+1 decoder failure (VdPlay_StopSound, VdPlay_PlaySound or
   *         VdPlay_SetVolume); the stored volume is unchanged.
   * @par Records
   *      trace at level 1 or more; an error record per failure.
   */
  /* 10 */ virtual int32_t SP_STDCALL Play_SetVolume(int32_t port, int32_t volume) = 0;

  /**
   * @brief Reports the last volume accepted on any port (0 at first); no
   *        decoder port needed.
   * @param port Host port 0 to 127. @param[out] volume 0 to 100.
   * @retval 0 success. @retval 2 port out of range or a null address.
   * @par Records
   *      trace at level 1 or more.
   */
  /* 11 */ virtual int32_t SP_STDCALL Play_GetVolume(int32_t port, int32_t* volume) = 0;

  /**
   * @brief Saves the next frame the port shows to a picture file.
   *
   * Needs a decoder port and a playing stream with data. The decoder writes
   * the file in its own format (the stand-in decoder writes a 24-bit BMP).
   * One capture is pending at a time for the whole player: a capture started
   * meanwhile on any port takes over.
   * @param port Host port 0 to 127.
   * @param path A file path, used as given: no extension is added and no
   *        folder is created.
   * @retval 0 the picture was saved.
   * @retval 2 port out of range, no decoder port (context "Play_CloseStream()"),
   *         or a null or empty path.
   * @retval 26 no frame was shown within 50 ms (record "抓图超时"): for
   *         example no data arrived, or the port is paused.
   * @retval k+1 the decoder could not install its display callback, or could
   *         not write the file (with the stand-in: 8, the file could not be
   *         created or written).
   * @par Records
   *      trace at level 1 or more; an error record per failure.
   * @par Blocking
   *      until the next frame is shown, at most 50 ms (plus the
   *      conversion of that frame).
   * @par Threads
   *      the frame is converted on the decoder's display thread
   *      while this call waits.
   */
  /* 12 */ virtual int32_t SP_STDCALL Play_GetPicture(int32_t port, const char* path) = 0;

  /**
   * @brief Has the decoder paint the last frame again. Needs a decoder port.
   * @param port Host port 0 to 127.
   * @retval 0 success. @retval 2 port out of range or no decoder port.
   * @retval k+1 decoder failure (VdPlay_RefreshPlay), e.g. 3 with no stream open.
   * @par Records
   *      trace at level 1 or more; an error record per failure.
   */
  /* 13 */ virtual int32_t SP_STDCALL Play_RefreshPlay(int32_t port) = 0;

  /**
   * @brief Reports the length of the decoder's stream file header (40 bytes
   *        with the stand-in decoder). Takes no port; works at any time.
   * @param[out] headerLength The length in bytes, as the decoder reports it.
   * @retval 0 success. @retval 2 a null address.
   * @par Records
   *      trace at level 1 or more.
   */
  /* 14 */ virtual int32_t SP_STDCALL Play_GetHeadLen(uint32_t* headerLength) = 0;

  /**
   * @brief Reports the size of the port's decoded picture, and keeps it as
   *        the bounds that Play_SetDispRegion() checks. Needs a decoder port.
   * @param port Host port 0 to 127.
   * @param[out] width Picture width in pixels. @param[out] height Picture height.
   * @retval 0 success.
   * @retval 2 port out of range, no decoder port or a null address.
   * @retval k+1 the decoder cannot tell (e.g. 3 with no stream open); the
   *         outs are then set to 352 by 288 and the kept bounds stay as
   *         they were.
   * @par Records
   *      trace at level 1 or more; an error record per failure.
   */
  /* 15 */ virtual int32_t SP_STDCALL Play_GetPictureSize(int32_t port, int32_t* width,
                                                          int32_t* height) = 0;

  /**
   * @brief Sets the decoder's picture-quality flag. Needs a decoder port.
   * @param port Host port 0 to 127.
   * @param quality Passed on unchanged (the stand-in decoder keeps any value).
   * @retval 0 success. @retval 2 port out of range or no decoder port.
   * @retval k+1 decoder failure (VdPlay_SetPicQuality); the stored value is unchanged.
   * @par Records
   *      trace at level 1 or more; an error record per failure.
   */
  /* 16 */ virtual int32_t SP_STDCALL Play_SetPicQuality(int32_t port, int32_t quality) = 0;

  /**
   * @brief Reports the port's last accepted picture quality (0 at first);
   *        no decoder port needed.
   * @param port Host port 0 to 127. @param[out] quality The value.
   * @retval 0 success. @retval 2 port out of range or a null address.
   * @par Records
   *      trace at level 1 or more.
   */
  /* 17 */ virtual int32_t SP_STDCALL Play_GetPicQuality(int32_t port, int32_t* quality) = 0;

  /**
   * @brief Sets how many B-frames the decoder drops, a hint that never fails
   *        because of the decoder. Needs a decoder port.
   * @param port Host port 0 to 127. @param number 0, 1 or 2.
   * @retval 0 the number was stored, whether or not the decoder took it.
   * @retval 2 port out of range, no decoder port or a number outside 0 to 2.
   * @par Records
   *      trace at level 2 or more; a decoder refusal is logged at
   *      level 2 or more only.
   */
  /* 18 */ virtual int32_t SP_STDCALL Play_ThrowFrame(int32_t port, int32_t number) = 0;

  /**
   * @brief Reports the port's last B-frame drop number (0 at first); no
   *        decoder port needed.
   * @param port Host port 0 to 127. @param[out] number 0 to 2.
   * @retval 0 success. @retval 2 port out of range or a null address.
   * @par Records
   *      trace at level 1 or more.
   */
  /* 19 */ virtual int32_t SP_STDCALL Play_GetThrowNum(int32_t port, int32_t* number) = 0;

  /**
   * @brief Sets brightness, contrast, saturation and hue of the port's
   *        picture. Needs a decoder port.
   * @param port Host port 0 to 127.
   * @param[in,out] para Brightness and contrast 0 to 100; saturation and hue
   *        are passed on unchecked. Each value v reaches the decoder as
   *        v * 128 / 100, truncated (50 gives 64). With restoreDefaults set,
   *        the four values are overwritten with 50 here.
   * @param restoreDefaults Non-zero: set all four to 50 (after the range
   *        check of the values given).
   * @retval 0 success. @retval 2 port out of range, no decoder port, a null
   *         address, or brightness or contrast outside 0 to 100.
   * @retval k+1 decoder failure (VdPlay_SetColor); the stored values are unchanged.
   * @par Records
   *      trace at level 1 or more; an error record per failure.
   */
  /* 20 */ virtual int32_t SP_STDCALL Play_SetVideoPara(int32_t port, SP_VIDEO_PARA* para,
                                                        int32_t restoreDefaults) = 0;

  /**
   * @brief Reports the port's video parameters from the cache (50 each at
   *        first and after Play_CloseStream()); no decoder port needed.
   * @param port Host port 0 to 127.
   * @param[out] para All six elements: 0, brightness, contrast, saturation, hue, 0.
   * @retval 0 success. @retval 2 port out of range or a null address.
   * @par Records
   *      trace at level 1 or more, with the texts of Play_SetVideoPara.
   */
  /* 21 */ virtual int32_t SP_STDCALL Play_GetVideoPara(int32_t port, SP_VIDEO_PARA* para) = 0;

  /**
   * @brief Shows only a part of the picture, or the whole picture again.
   *        Needs a decoder port.
   * @param port Host port 0 to 127.
   * @param enable 0: whole picture (rect is not read); non-zero: the region.
   * @param rect The region in picture pixels: top and left at least 0, right
   *        and bottom at most the width and height of the port's last
   *        successful Play_GetPictureSize() (0 before it, so ask for the
   *        picture size first).
   * @retval 0 success. @retval 2 port out of range, no decoder port, a null
   *         rect or a region outside the picture.
   * @retval k+1 decoder failure (VdPlay_SetDisplayRegion).
   * @par Records
   *      trace at level 1 or more; an error record per failure.
   */
  /* 22 */ virtual int32_t SP_STDCALL Play_SetDispRegion(int32_t port, int32_t enable,
                                                         SP_RECT* rect) = 0;

  /**
   * @brief Reports the port's display region from the cache, all 0 when the
   *        whole picture shows; no decoder port needed.
   * @param port Host port 0 to 127. @param[out] rect The region.
   * @retval 0 success. @retval 2 port out of range or a null address.
   * @par Records
   *      trace at level 1 or more, with the texts of Play_SetDispRegion.
   */
  /* 23 */ virtual int32_t SP_STDCALL Play_GetDispRegion(int32_t port, SP_RECT* rect) = 0;

  /**
   * @brief Discards the data waiting in the decoder's buffer. Needs a decoder port.
   * @param port Host port 0 to 127.
   * @retval 0 success. @retval 2 port out of range or no decoder port.
   * @retval k+1 decoder failure (VdPlay_ResetSourceBuffer), e.g. 3 with no stream open.
   * @par Records
   *      trace at level 1 or more; an error record per failure.
   */
  /* 24 */ virtual int32_t SP_STDCALL Play_ClearBuffer(int32_t port) = 0;

  /**
   * @brief Reports how many bytes wait in the decoder's buffer. Needs a
   *        decoder port.
   * @param port Host port 0 to 127.
   * @param[out] size The decoder's answer, not checked (0 with no stream open).
   * @retval 0 success. @retval 2 port out of range, no decoder port or a null address.
   * @par Records
   *      trace at level 1 or more.
   */
  /* 25 */ virtual int32_t SP_STDCALL Play_GetBufferRemainDataSize(int32_t port,
                                                                   uint32_t* size) = 0;

 protected:
  ~ISinglePlayer() = default;
};

extern "C" {
#else /* C hosts: the same object seen as a pointer to a table of 26 slots. */

typedef struct ISinglePlayer ISinglePlayer;
/** The 26 slots as a C host calls them: player->vtbl->Play_Init(player, 0).
 * Each slot behaves as the operation of the same name of ISinglePlayer. */
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

/**
 * @brief Gives the one player of the process, creating it on the first call.
 *
 * Every caller gets the same object until ReleaseSinglePlayerDll(); a new
 * player starts with a debug level of 0, the default log paths and no
 * decoder ports handed out. Creating reads no file and calls no decoder
 * function. Exported undecorated, cdecl.
 * @return The player, or null when it could not be allocated (the next call
 *         tries again).
 * @par Records
 *      none.
 * @par Threads
 *      concurrent first calls get the same player.
 */
SP_API ISinglePlayer* SP_CDECL CreateSinglePlayerDll(void);

/**
 * @brief Destroys the player when given the current one; null or any other
 *        pointer is ignored.
 *
 * Streams left open are neither stopped nor closed and their decoder ports
 * stay taken inside the decoder: close every stream first. A capture in
 * progress on another thread is waited for. Exported undecorated, stdcall on
 * 32-bit Windows.
 * @param player The pointer CreateSinglePlayerDll() returned.
 * @par Records
 *      none.
 */
SP_API void SP_STDCALL ReleaseSinglePlayerDll(ISinglePlayer* player);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* SINGLEPLAYER_H */
