/*
 * VdPlay: decoding and display library for "VDPS" video streams.
 *
 * Every function takes a decoder port 0..31 (except the few that say so) and
 * returns a BOOL-like VdBool: non-zero on success, 0 on failure. After a
 * failure VdPlay_GetLastError(port) tells why (VDPLAY_ERR_*). On Windows the
 * functions are __stdcall and exported from VdPlay.dll by their plain names;
 * natively they are plain C functions of libvdplay.so. Every argument is 32
 * bits wide on 32-bit Windows.
 *
 * Stream format (all numbers little-endian):
 *
 *   File header, 40 bytes, passed to VdPlay_OpenStream:
 *     0  char[4]  "VDPS"
 *     4  uint16   version, 1
 *     6  uint16   header size, 40
 *     8  uint32   width in pixels   (even, 2..4096)
 *    12  uint32   height in pixels  (even, 2..4096)
 *    16  uint32   frame-rate numerator   (non-zero)
 *    20  uint32   frame-rate denominator (non-zero; at most 1000 frames/s)
 *    24  uint32   pixel format, 1 = I420 (the decoded form)
 *    28  uint32   codec: 0 = none (raw/zlib pictures, or with framing 2 and 3
 *                 "as the stream says"), 1 = H.264, 2 = H.265 (with framing 2
 *                 and 3: forced, whatever the stream says)
 *    32  uint32   framing: 0 = packets, 1 = bare Annex-B stream (codecs only),
 *                 2 = MPEG-2 program stream, 3 = MPEG-2 transport stream
 *    36  uint32   reserved, written as zero, ignored when read
 *
 *   For H.264/H.265 and framings 2 and 3, width, height and rate are
 *   nominal: the decoder follows the bitstream and VdPlay_GetPictureSize
 *   reports the size decoded lately (up to 4096x2304 and more, within
 *   4096 a side); a nominal size above 1920x1088 decodes with several
 *   threads. The Windows build decodes them with Media Foundation's decoder
 *   MFTs (H.264 always, H.265 where the system has a decoder for it) and
 *   refuses a codec the system cannot decode with VDPLAY_ERR_DECODER_INIT
 *   (19), as the native build does without FFmpeg. The source buffer of a codec
 *   stream is at least 16 + 64 KiB whatever the picture size: each access
 *   unit must fit it. A larger unit is counted as damaged and skipped, and
 *   pictures resume at the next key picture.
 *
 *   Program and transport streams (framings 2, 3) are fed as they come, in
 *   pieces of any size, starting anywhere (the demuxer waits for the next
 *   pack header or two sync bytes 188 or 192 bytes apart). The program
 *   stream map or the PMT names the video (stream types 0x1B H.264, 0x24
 *   H.265) and the audio (0x0F AAC, 0x03/0x04 MPEG audio, 0x90/0x91 G.711
 *   A-law/mu-law); without a map the first video and audio stream ids play
 *   and the codec is told from the video itself. A map that changes the
 *   codec midway changes the decoder. Video is cut into access units where
 *   one begins in the elementary stream; a unit's time stamp is the PTS of
 *   the first PES packet it begins in. A transport packet lost (continuity
 *   counter) or damaged loses its unit: counted as damaged, and pictures
 *   resume at the next key picture. Units before the first key picture
 *   (joining a running stream) are waited over silently. Audio units go to
 *   the sound stage; other streams are skipped.
 *
 *   A unit's end shows when the next unit begins, when its PES packet ends
 *   (transport streams carry one picture a PES packet, and stuff its last
 *   packet), or, for a host that pushes a live picture's bytes together,
 *   when no byte has come for 15 ms (and the picture is due within a frame
 *   interval). Should more
 *   bytes of it come after all, it counts as damaged and the wait doubles
 *   (up to 240 ms).
 *
 *   Pictures are shown at their time stamps (packet stamps, PTS), scaled by
 *   the speed step; the header's rate is the fallback where stamps stand
 *   still, go back or jump by more than a second (or twice the last step):
 *   then the next picture follows the last by one frame interval and the
 *   schedule goes on from the new stamps. The 33-bit PTS wraps without a
 *   jump. Live latency: a picture is decoded when it is due and shown at
 *   once; when the source ran dry, a late picture starts the schedule anew
 *   at its arrival. While every unit of the last second came whole ahead of
 *   its time, in the rhythm of its stamps (a live source, not a host that
 *   pushed ahead or found the pool full), the schedule moves earlier by the
 *   smallest lead, at most half a frame interval a second, so one late
 *   picture does not delay the rest. No picture is held beyond what
 *   B-picture reordering (or, above 1080p, frame threads) needs, and delay
 *   does not build up.
 *
 *   Packets, fed with VdPlay_InputData split at any byte:
 *     0  char[4]  "VDFR"
 *     4  uint32   payload size in bytes
 *     8  uint32   time stamp in milliseconds
 *    12  uint32   payload type: 1 = raw I420 picture (w*h*3/2 bytes),
 *                 2 = the same picture compressed with zlib (compress2),
 *                 3 = one H.264 access unit, 4 = one H.265 access unit
 *                 (Annex-B, decode order, time stamp = presentation time),
 *                 audio: 5 = G.711 A-law, 6 = G.711 mu-law (8 kHz mono,
 *                 one byte a sample), 7 = AAC frames with their ADTS
 *                 headers; 1..65536 bytes, time stamp = presentation time
 *                 of the first sample on the pictures' time line
 *    16  payload
 *
 *   Audio packets may come with any codec and framing 0, interleaved with
 *   the pictures in time order. They go to the port's sound (see
 *   VdPlay_PlaySound) as soon as they are whole in the buffer, ahead of the
 *   pictures before them. An audio unit that does not decode is counted
 *   (VdPlayX_GetStats) and skipped; the pictures never wait for the sound.
 *
 *   With framing 1 the bytes after the header are the elementary stream
 *   itself, fed as it arrives; pictures follow the header's frame rate.
 *
 *   A damaged packet (payload size that does not suit the picture, a zlib
 *   payload that does not inflate to exactly one picture, an unknown type or
 *   one of another codec, or bytes that are no packet at all) is counted and
 *   skipped up to the next "VDFR". Access units the decoder rejects and
 *   pictures it marks corrupt are counted and not shown; nothing is shown
 *   before the first key picture. A repeated 40-byte file header between packets is skipped
 *   silently, so a whole file may be fed as it is.
 *
 * Displayed frames reach the display callback as I420 pictures (Y plane,
 * then U, then V; no row padding) with type VDPLAY_FRAME_I420.
 */
#ifndef VDPLAY_VDPLAY_H
#define VDPLAY_VDPLAY_H

#include <stdint.h>

#ifndef VDPLAY_CALL
#if defined(_WIN32)
#define VDPLAY_CALL __stdcall
#else
#define VDPLAY_CALL
#endif
#endif

#if defined(VDPLAY_BUILDING_LIBRARY)
#if defined(_WIN32)
#define VDPLAY_API __declspec(dllexport)
#else
#define VDPLAY_API __attribute__((visibility("default")))
#endif
#else
#define VDPLAY_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t VdBool;
typedef int32_t VdLong;
typedef uint32_t VdDword;
typedef uint8_t VdByte;
typedef void* VdWindow; /* an HWND on Windows; natively an X11 window id cast to void* */

typedef struct VdRect {
  int32_t left;
  int32_t top;
  int32_t right; /* exclusive */
  int32_t bottom; /* exclusive */
} VdRect;

/* Number of decoder ports; valid ports are 0 .. VDPLAY_MAX_PORTS-1. */
#define VDPLAY_MAX_PORTS 32

/* Length of the stream's file header (VdPlay_GetFileHeadLength). */
#define VDPLAY_FILE_HEADER_SIZE 40

/* Frame type passed to the display callback and VdPLay_ConvertToBmpFile. */
#define VDPLAY_FRAME_I420 3

/* Error codes of VdPlay_GetLastError. */
#define VDPLAY_ERR_NONE 0           /* no failure yet */
#define VDPLAY_ERR_BAD_ARGUMENT 1   /* bad port, null pointer, value out of range */
#define VDPLAY_ERR_ORDER 2          /* call out of order (no stream, not playing, ...) */
#define VDPLAY_ERR_DECODE 4         /* a payload did not decode; the packet was skipped */
#define VDPLAY_ERR_ALLOC 6          /* out of memory */
#define VDPLAY_ERR_FILE 7           /* file could not be created or written */
#define VDPLAY_ERR_BUFFER_FULL 11   /* data does not fit into the free source buffer */
#define VDPLAY_ERR_DECODER_INIT 19  /* the stream's codec cannot be decoded by this build */
#define VDPLAY_ERR_NO_HEADER 17     /* header missing or too short */
#define VDPLAY_ERR_VERSION 18       /* header of another version */
#define VDPLAY_ERR_UNRECOGNISED 20  /* not a stream this library plays */

/* Fast/Slow move at most this many steps away from normal speed. */
#define VDPLAY_MAX_SPEED_STEP 4

/* Largest source buffer VdPlay_OpenStream accepts. */
#define VDPLAY_MAX_POOL_BYTES (256u * 1024u * 1024u)

/*
 * Called from the port's display thread for every frame shown: the decoded
 * I420 picture (valid only during the call), size = width*height*3/2, the
 * packet's time stamp in ms, type = VDPLAY_FRAME_I420, reserved = 0. The
 * callback may call any VdPlay function, including ones for its own port.
 * A callback installed while the port has a picture on display is first
 * called once with that picture, from the display thread right after
 * VdPlay_SetDisplayCallBack (never inside it), also while paused or stepping;
 * VdPlay_ResetSourceBuffer and VdPlay_CloseStream drop that picture.
 */
typedef void(VDPLAY_CALL* VdDisplayCallback)(VdLong port, char* frame, VdLong size, VdLong width,
                                             VdLong height, VdLong stamp, VdLong type,
                                             VdLong reserved);

/* Overlay switch and colour key (at most 0x00FFFFFF); kept, drawing is plain GDI. */
VDPLAY_API VdBool VDPLAY_CALL VdPlay_SetOverlayMode(VdLong port, VdBool overlay, VdDword colorKey);

/* 0 = live stream, 1 = file stream; kept. Other values fail with 1. */
VDPLAY_API VdBool VDPLAY_CALL VdPlay_SetStreamOpenMode(VdLong port, VdDword mode);

/*
 * Checks the 40-byte file header and reserves a source buffer of poolBytes.
 * Fails with 17 (null or short header), 20 (bad magic, header size, picture
 * size, frame rate or pixel format), 18 (version), 1 (poolBytes 0, above
 * VDPLAY_MAX_POOL_BYTES, or too small to hold one packet of the largest
 * payload: 16 + zlib's compressBound(w*h*3/2)), 2 (stream already open on the
 * port) or 6 (out of memory). Nothing is allocated for a refused header.
 */
VDPLAY_API VdBool VDPLAY_CALL VdPlay_OpenStream(VdLong port, VdByte* header, VdDword headerLen,
                                                VdDword poolBytes);

/*
 * Starts the port's display thread, or brings a running port that is paused,
 * fast, slow or stepping back to normal playback. A window (an HWND, or
 * natively an X11 window id on the display named by DISPLAY) makes frames
 * appear in it, scaled to its size; null, a non-window, a window destroyed
 * while playing or no display shows nothing but still decodes and calls the
 * display callback. Natively the library paints over a display connection
 * of its own: its X errors stay on that connection, and an error handler the
 * host set for its own connections is neither replaced nor called for them.
 * Fails with 2 when no stream is open.
 */
VDPLAY_API VdBool VDPLAY_CALL VdPlay_Play(VdLong port, VdWindow wnd);

/* Appends the whole block to the source buffer, or refuses it with 11 when it
 * does not fit into the free space. 2 before VdPlay_OpenStream. */
VDPLAY_API VdBool VDPLAY_CALL VdPlay_InputData(VdLong port, VdByte* data, VdDword len);

/* Ends the display thread; the stream and its buffered data stay. 2 without a stream. */
VDPLAY_API VdBool VDPLAY_CALL VdPlay_Stop(VdLong port);

/* Ends the display thread and frees the stream. 2 without a stream. */
VDPLAY_API VdBool VDPLAY_CALL VdPlay_CloseStream(VdLong port);

/* pause 1 holds the picture, 0 resumes continuous playback (also leaving
 * stepping). Other values fail with 1; 2 when not playing. */
VDPLAY_API VdBool VDPLAY_CALL VdPlay_Pause(VdLong port, VdDword pause);

/* One step faster / slower (each step doubles / halves the rate), at most
 * VDPLAY_MAX_SPEED_STEP steps from normal; beyond that they fail with 2.
 * Both resume continuous playback from pause or stepping. 2 when not playing. */
VDPLAY_API VdBool VDPLAY_CALL VdPlay_Fast(VdLong port);
VDPLAY_API VdBool VDPLAY_CALL VdPlay_Slow(VdLong port);

/* Enters stepping: every call shows exactly one more frame, as soon as one is
 * available. 2 when not playing. */
VDPLAY_API VdBool VDPLAY_CALL VdPlay_OneByOne(VdLong port);

/* Sound on for this port (and off for the others) / off for every port.
 * The port's audio (packet types 5 to 7, or the audio of a program or
 * transport stream) plays while the port plays at normal speed; pause, fast,
 * slow and single frames are silent, and VdPlay_ResetSourceBuffer drops the
 * sound queued. While it plays, the pictures are shown against the sound
 * heard (the sound leads; a picture and its sound stay within 40 ms).
 * Decoding: G.711 everywhere; AAC and MPEG audio natively through FFmpeg's
 * libavcodec (the codec module), while the Windows build has no AAC or MPEG
 * audio decoder (it links no codec library, as for H.264/H.265) and plays
 * those streams silent. Output: natively PulseAudio (or PipeWire's server)
 * through libpulse-simple, else ALSA's default device, both loaded at run
 * time; on Windows waveOut (winmm.dll, loaded at run time). With no server
 * or device the sound is off and nothing else changes: nothing blocks,
 * nothing is printed, and it is tried again every second and at the next
 * PlaySound. */
VDPLAY_API VdBool VDPLAY_CALL VdPlay_PlaySound(VdLong port);
VDPLAY_API VdBool VDPLAY_CALL VdPlay_StopSound(void);

/* 0..65535; larger values fail with 1. Linear in amplitude: each sample is
 * multiplied by volume / 65535, so 65535 plays the sound as it is, 32767 at
 * half its amplitude (-6 dB) and 0 silent. The player's 0..100 becomes
 * volume * 655.35 (50 -> 32767). */
VDPLAY_API VdBool VDPLAY_CALL VdPlay_SetVolume(VdLong port, VdDword volume);

/* Paints the last frame again (into the play window, if any). 2 without a stream. */
VDPLAY_API VdBool VDPLAY_CALL VdPlay_RefreshPlay(VdLong port);

/* Drops the buffered data and any partly parsed packet. 2 without a stream. */
VDPLAY_API VdBool VDPLAY_CALL VdPlay_ResetSourceBuffer(VdLong port);

/* Length of the file header: 40. */
VDPLAY_API VdDword VDPLAY_CALL VdPlay_GetFileHeadLength(void);

/* Picture size from the open stream's header. 1 for null pointers, 2 without a stream. */
VDPLAY_API VdBool VDPLAY_CALL VdPlay_GetPictureSize(VdLong port, VdLong* width, VdLong* height);

/* Any non-zero value means high quality; kept. */
VDPLAY_API VdBool VDPLAY_CALL VdPlay_SetPicQuality(VdLong port, VdBool highQuality);

/* 0..2; kept (the format has no B frames). Other values fail with 1. */
VDPLAY_API VdBool VDPLAY_CALL VdPlay_ThrowBFrameNum(VdLong port, VdDword num);

/*
 * Picture adjustment for painting, each 0..128 with 64 neutral: brightness
 * shifts Y, contrast scales Y around black, saturation scales Cb/Cr, hue
 * rotates Cb/Cr (0 = -180 degrees, 128 = +180). Only region 0 exists.
 * Does not change the frames passed to the display callback.
 */
VDPLAY_API VdBool VDPLAY_CALL VdPlay_SetColor(VdLong port, VdDword region, int brightness,
                                              int contrast, int saturation, int hue);

/*
 * Shows only the source rectangle rect of the picture (enable non-zero), or
 * the whole picture again (enable 0; rect may then be null). The rectangle
 * must be non-empty and inside the picture, else 1; 2 without a stream.
 * Only region 0 exists. A non-null wnd becomes the port's paint window.
 */
VDPLAY_API VdBool VDPLAY_CALL VdPlay_SetDisplayRegion(VdLong port, VdDword region, VdRect* rect,
                                                      VdWindow wnd, VdBool enable);

/* Bytes waiting in the source buffer; 0 for a bad port or without a stream. */
VDPLAY_API VdDword VDPLAY_CALL VdPlay_GetSourceBufferRemain(VdLong port);

/*
 * Sets or (with null) removes the display callback of any valid port, open or
 * not. Returns only after a running call of the old callback has returned
 * (except when called from that very callback, which cannot wait for itself).
 */
VDPLAY_API VdBool VDPLAY_CALL VdPlay_SetDisplayCallBack(VdLong port, VdDisplayCallback cb);

/*
 * Writes an I420 frame as a bottom-up 24-bit BMP file, BT.601 limited range.
 * Fails with 1 (null frame or path, type other than VDPLAY_FRAME_I420, odd,
 * zero or above 4096 dimensions, size other than width*height*3/2), 7 (file
 * could not be created or written) or 6. Having no port, it records its
 * failure as "the last conversion failure": VdPlay_GetLastError(port) returns
 * whichever is newer, the port's own last failure or the last conversion
 * failure.
 */
VDPLAY_API VdBool VDPLAY_CALL VdPLay_ConvertToBmpFile(char* frame, VdLong size, VdLong width,
                                                      VdLong height, VdLong type, char* path);

/* Code of the newest failure of the port (or of a frame conversion); 0 if none;
 * 1 for a port outside 0..31. Successful calls do not clear it. */
VDPLAY_API VdDword VDPLAY_CALL VdPlay_GetLastError(VdLong port);

/*
 * Extension for tests and benchmarks; the player never calls it.
 * Counters belong to the open stream and start at 0 with VdPlay_OpenStream.
 */
typedef struct VdPlayStats {
  VdDword framesDecoded;   /* payloads decoded into a picture */
  VdDword framesDisplayed; /* frames shown (painted and/or passed to the callback) */
  VdDword packetsDamaged;  /* damaged packets skipped */
  VdDword bytesWaiting;    /* as VdPlay_GetSourceBufferRemain */
  VdLong speedStep;        /* -4 .. 4, 0 = normal */
  VdDword paused;          /* 1 while paused */
  VdDword stepping;        /* 1 while stepping (VdPlay_OneByOne) */
  VdDword playing;         /* 1 while the display thread runs */
  VdDword streamOpen;      /* 1 while a stream is open */
  VdDword audioUnitsPlayed;  /* audio units decoded and written to the sound output */
  VdDword audioUnitsDamaged; /* audio units that did not decode, skipped */
  VdDword soundHeard;      /* 1 while this port's sound goes to a sound output */
} VdPlayStats;

/* Fills *out; fails with 1 for a bad port or null out. Works without a stream. */
VDPLAY_API VdBool VDPLAY_CALL VdPlayX_GetStats(VdLong port, VdPlayStats* out);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* VDPLAY_VDPLAY_H */
