// The one implementation of ISinglePlayer. Every operation follows the same
// skeleton: trace record (gated by the debug level), host port check, decoder
// port, argument and state checks, decoder calls with failures turned into
// records and result codes by ReportDecoderError, then the cache update.
//
// Each interface operation is a one-line entry point that runs the
// operation's body inside AtBoundary: the trace records and the catch that
// keeps every exception inside the library are there, once, for all of them.
#pragma once

#include <SinglePlayer.h>

#include <array>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <mutex>
#include <new>
#include <string>

#include "config/ConfigFile.h"
#include "log/LogFile.h"
#include "player/OperationBoundary.h"
#include "player/PlayerTexts.h"
#include "player/VdPlayApi.h"

#if defined(__GNUC__)
#define SP_NOINLINE __attribute__((noinline))
#define SP_ALWAYS_INLINE __attribute__((always_inline)) inline
#else
#define SP_NOINLINE
#define SP_ALWAYS_INLINE inline
#endif

namespace sp {

constexpr std::int32_t PLAYER_PORT_COUNT = SP_PLAYER_PORT_COUNT;
constexpr std::int32_t DECODER_PORT_COUNT = 32;

// What the player caches for one host port.
struct PortRecord {
  std::int32_t picQuality = 0;
  std::int32_t overlayMode = 0;
  std::int32_t openMode = 0;
  std::int32_t playState = PLAYSTATE_NOT_STARTED;
  SP_HWND displayWindow = nullptr;
  std::int32_t stepInputPermit = 0;
  std::int32_t throwBFrameNum = 0;
  SP_VIDEO_PARA videoPara = {0, 50, 50, 50, 50, 0};
  SP_RECT pictureRect = {0, 0, 0, 0};
  SP_RECT dispRegion = {0, 0, 0, 0};
};

class SinglePlayer final : public ISinglePlayer {
 public:
  SinglePlayer();
  ~SinglePlayer();
  SinglePlayer(const SinglePlayer&) = delete;
  SinglePlayer& operator=(const SinglePlayer&) = delete;

  int32_t SP_STDCALL Play_Init(int32_t hostValue) override;
  int32_t SP_STDCALL Play_Exit() override;
  int32_t SP_STDCALL Play_SetOverlayMode(int32_t port, uint32_t colorKey) override;
  int32_t SP_STDCALL Play_GetPreviewMode(int32_t port, int32_t* overlayMode,
                                         uint32_t* colorKey) override;
  int32_t SP_STDCALL Play_SetOpenMode(int32_t port, int32_t openMode) override;
  int32_t SP_STDCALL Play_OpenStream(SP_HWND window, int32_t port, uint8_t* header,
                                     uint32_t headerLength, int32_t unused) override;
  int32_t SP_STDCALL Play_InputData(int32_t port, uint8_t* data, uint32_t length,
                                    int32_t unused) override;
  int32_t SP_STDCALL Play_CloseStream(int32_t port) override;
  int32_t SP_STDCALL Play_PlayState(int32_t port, int32_t state) override;
  int32_t SP_STDCALL Play_GetPlayState(int32_t port, int32_t* state) override;
  int32_t SP_STDCALL Play_SetVolume(int32_t port, int32_t volume) override;
  int32_t SP_STDCALL Play_GetVolume(int32_t port, int32_t* volume) override;
  int32_t SP_STDCALL Play_GetPicture(int32_t port, const char* path) override;
  int32_t SP_STDCALL Play_RefreshPlay(int32_t port) override;
  int32_t SP_STDCALL Play_GetHeadLen(uint32_t* headerLength) override;
  int32_t SP_STDCALL Play_GetPictureSize(int32_t port, int32_t* width, int32_t* height) override;
  int32_t SP_STDCALL Play_SetPicQuality(int32_t port, int32_t quality) override;
  int32_t SP_STDCALL Play_GetPicQuality(int32_t port, int32_t* quality) override;
  int32_t SP_STDCALL Play_ThrowFrame(int32_t port, int32_t number) override;
  int32_t SP_STDCALL Play_GetThrowNum(int32_t port, int32_t* number) override;
  int32_t SP_STDCALL Play_SetVideoPara(int32_t port, SP_VIDEO_PARA* para,
                                       int32_t restoreDefaults) override;
  int32_t SP_STDCALL Play_GetVideoPara(int32_t port, SP_VIDEO_PARA* para) override;
  int32_t SP_STDCALL Play_SetDispRegion(int32_t port, int32_t enable, SP_RECT* rect) override;
  int32_t SP_STDCALL Play_GetDispRegion(int32_t port, SP_RECT* rect) override;
  int32_t SP_STDCALL Play_ClearBuffer(int32_t port) override;
  int32_t SP_STDCALL Play_GetBufferRemainDataSize(int32_t port, uint32_t* size) override;

  // Port table.
  // Inline, with Trace and FindDecoderPort: every operation starts with
  // them, and on the data path they are most of what the player adds.
  bool LookupDecoderPort(int32_t hostPort, int32_t& decoderPort) const {
    if (!IsHostPort(hostPort) || portMap[hostPort] == kNoDecoderPort) return false;
    decoderPort = portMap[hostPort];
    return true;
  }
  bool AcquireDecoderPort(int32_t hostPort, int32_t& decoderPort);
  bool IsDecoderPortUsed(int32_t decoderPort) const;
  void MarkDecoderPortUsed(int32_t decoderPort);

  // Writes the decoder error record and returns the operation's result,
  // which is the same whether or not the record could be written.
  int32_t ReportDecoderError(int32_t code, const char* context) const noexcept;

  // The work of the capture display callback for one displayed frame. The
  // callback counts itself in with EnterCaptureWork while the player
  // pointer is locked, so that a release waits for it, and out with
  // LeaveCaptureWork as the last thing it does with the player.
  void HandleDisplayedFrame(int32_t decoderPort, char* frame, int32_t size, int32_t width,
                            int32_t height, int32_t type);
  void EnterCaptureWork();
  void LeaveCaptureWork() noexcept;

  // Read-only views for hosts' diagnostics and the test suite.
  int32_t DebugLevel() const { return debugLevel; }
  bool TracesArguments() const { return traceArguments; }
  int32_t HostValue() const { return hostValue; }
  const std::string& TraceDir() const { return traceDir; }
  const LogFile& Log() const { return log; }
  const PortRecord& Port(int32_t hostPort) const { return ports[hostPort]; }
  std::string CapturePath() const;

 private:
  static bool IsHostPort(int32_t port) { return port >= 0 && port < PLAYER_PORT_COUNT; }

  // Runs an operation's body: the trace record on entry (from the text's
  // level; with the arguments when the configuration asks for them, which
  // also adds a record of the result on return), and no exception past this
  // point. The trace records never throw: one that cannot be written is
  // dropped and the body runs all the same. An exception of the body becomes
  // an error record through the error table: allocation failure as the
  // decoder's allocation code 6 (result 7), anything else as an unknown
  // error (result 26). Inline, so that on the data path below its trace
  // level the operation costs its body and one test of the level, as it
  // would without the boundary; the try block costs nothing until something
  // throws.
  template <typename Body, typename... Arguments>
  int32_t AtBoundary(const texts::TraceText& text, Body body, Arguments... arguments) noexcept {
    try {
      // Below the operation's trace level nothing but the body runs.
      if (debugLevel < text.traceLevel) return body();
      TraceEntry(text, arguments...);
      const int32_t result = body();
      if (traceArguments) TraceReturn(text, result, arguments...);
      return result;
    } catch (const std::bad_alloc&) {
      return ReportEscapedException(text, kAllocationFailedCode);
    } catch (...) {
      return ReportEscapedException(text, kUnexpectedExceptionCode);
    }
  }
  // Out of line, so that the operation itself stays as small as its body.
  template <typename... Arguments>
  SP_NOINLINE void TraceEntry(const texts::TraceText& text, Arguments... arguments) const noexcept {
    if (!traceArguments) {
      WriteTraceRecord(text);
      return;
    }
    try {
      const std::string described =
          DescribeArguments(text.argumentNames, {TraceArgument(arguments)...});
      TraceWithArguments(text, described, nullptr);
    } catch (...) {
      // No memory to describe the arguments: the record is dropped.
    }
  }
  template <typename... Arguments>
  SP_NOINLINE void TraceReturn(const texts::TraceText& text, int32_t result,
                               Arguments... arguments) const noexcept {
    try {
      const std::string described =
          DescribeArguments(text.argumentNames, {TraceArgument(arguments)...});
      TraceWithArguments(text, described, &result);
    } catch (...) {
      // No memory to describe the arguments: the record is dropped.
    }
  }
  void WriteTraceRecord(const texts::TraceText& text) const noexcept;
  // The argument record: arguments as label 2 and value 2; with a result,
  // the record of the operation's return, the result as label 3 and value 3.
  void TraceWithArguments(const texts::TraceText& text, const std::string& arguments,
                          const int32_t* result) const noexcept;
  // Turns an exception caught at the boundary into an error record and a
  // result; when even the record fails, the result alone.
  int32_t ReportEscapedException(const texts::TraceText& text, int32_t code) const noexcept;
  static constexpr int32_t kAllocationFailedCode = 6;
  static constexpr int32_t kUnexpectedExceptionCode = 0;

  // The bodies of the operations, in the order of the interface.
  int32_t Init(int32_t newHostValue);
  int32_t ReadNumber(const std::string& configPath, const char* key) const;
  void CreateLogFolder(const std::string& folder) const noexcept;
  int32_t SetOverlayMode(int32_t port, uint32_t key);
  int32_t GetPreviewMode(int32_t port, int32_t* mode, uint32_t* key);
  int32_t SetOpenMode(int32_t port, int32_t mode);
  int32_t OpenStream(SP_HWND window, int32_t port, uint8_t* header, uint32_t headerLength);
  // Inlined into its entry point: it is the data path.
  SP_ALWAYS_INLINE int32_t InputData(int32_t port, uint8_t* data, uint32_t length);
  int32_t CloseStream(int32_t port);
  int32_t PlayState(int32_t port, int32_t state);
  int32_t GetPlayState(int32_t port, int32_t* state);
  int32_t SetVolume(int32_t port, int32_t newVolume);
  int32_t GetVolume(int32_t port, int32_t* out);
  int32_t GetPicture(int32_t port, const char* path);
  int32_t RefreshPlay(int32_t port);
  int32_t GetHeadLen(uint32_t* headerLength);
  int32_t GetPictureSize(int32_t port, int32_t* width, int32_t* height);
  int32_t SetPicQuality(int32_t port, int32_t quality);
  int32_t GetPicQuality(int32_t port, int32_t* quality);
  int32_t ThrowFrame(int32_t port, int32_t number);
  int32_t GetThrowNum(int32_t port, int32_t* number);
  int32_t SetVideoPara(int32_t port, SP_VIDEO_PARA* para, int32_t restoreDefaults);
  int32_t GetVideoPara(int32_t port, SP_VIDEO_PARA* para);
  int32_t SetDispRegion(int32_t port, int32_t enable, SP_RECT* rect);
  int32_t GetDispRegion(int32_t port, SP_RECT* rect);
  int32_t ClearBuffer(int32_t port);
  int32_t GetBufferRemainDataSize(int32_t port, uint32_t* size);
  // An error record for a failure the operation found itself; dropped when
  // it cannot be written.
  void WriteOwnError(const char* sourcePath, int line, int32_t code,
                     const char* text) const noexcept;
  int32_t RejectWith(const char* sourcePath, int line, const char* text, int32_t result) const {
    WriteOwnError(sourcePath, line, 0, text);
    return result;
  }
  // After a decoder call returned 0: its last error code, reported.
  int32_t DecoderFailure(int32_t decoderPort, const char* context) const;
  // The decoder port of a host port that must already have one; reports
  // code 1 with the context when it has none.
  bool FindDecoderPort(int32_t hostPort, const char* context, int32_t& decoderPort,
                       int32_t& result) const {
    if (LookupDecoderPort(hostPort, decoderPort)) return true;
    result = ReportNoDecoderPort(context);
    return false;
  }
  int32_t ReportNoDecoderPort(const char* context) const noexcept;
  int32_t RunPlayStateSequence(int32_t decoderPort, const PortRecord& record, int32_t state);

  int32_t hostValue = 0;
  // Decoder ports handed out, in order of hand-out; never shrinks.
  std::list<int32_t> usedDecoderPorts;
  // Host port to decoder port, kNoDecoderPort when none: a flat table,
  // since every operation looks its port up.
  static constexpr int32_t kNoDecoderPort = -1;
  std::array<int32_t, PLAYER_PORT_COUNT> portMap;
  ConfigFile config;
  LogFile log;
  int32_t debugLevel = 0;
  // Whether trace records name the arguments and a second record gives the
  // result (the configuration's TRACE_ARGUMENTS).
  bool traceArguments = false;
  std::string traceDir;
  std::array<PortRecord, PLAYER_PORT_COUNT> ports;
  uint32_t colorKey = 0x00FF00FF;
  uint32_t streamBufferSize = 512000;
  int32_t volume = 0;

  // The capture waiting for a frame of one decoder port, shared with that
  // port's display thread. Each decoder port has its own, so captures on
  // different ports do not wait for each other; a frame is converted
  // without any lock held.
  struct PendingCapture {
    std::string path;            // where the next frame goes; empty when none is wanted
    uint64_t serial = 0;         // number of the capture that set path
    uint64_t handledSerial = 0;  // number of the latest capture a frame was converted for
    int32_t result = 0;          // result of that conversion
  };
  // Every access to the pending captures and the counters holds captureMutex.
  mutable std::mutex captureMutex;
  std::condition_variable captureDone;
  std::array<PendingCapture, DECODER_PORT_COUNT> pendingCaptures;
  uint64_t captureSerial = 0;  // number of the latest capture started, on any port
  // Play_GetPicture calls and display callbacks in progress; the destructor
  // waits until none is left.
  int32_t activeCaptures = 0;
};

// Error records carry the reporting statement's source file and line.
#define SP_OWN_ERROR(code, text) WriteOwnError(__FILE__, __LINE__, (code), (text))
// Writes the "bad argument" record (code 0) and gives SP_ERR_PARAM.
#define SP_BAD_ARGUMENT() RejectWith(__FILE__, __LINE__, texts::kTextBadArgument, SP_ERR_PARAM)
// Writes a code-0 record with the text and gives SP_ERR_ORDER.
#define SP_OUT_OF_ORDER(text) RejectWith(__FILE__, __LINE__, (text), SP_ERR_ORDER)

// The display callback handed to the decoder during a capture; it finds the
// player through the process's player pointer.
void VDPLAY_CALL CaptureDisplayCallback(VdLong port, char* frame, VdLong size, VdLong width,
                                        VdLong height, VdLong stamp, VdLong type,
                                        VdLong reserved);

}  // namespace sp
