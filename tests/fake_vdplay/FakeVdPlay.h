// A scriptable stand-in for the decoder library, for the player's unit tests:
// it records every call with its arguments, succeeds by default and fails on
// request with a chosen code. A capture test can have it "display" frames on
// a thread of its own, as the real decoder does.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <VdPlay.h>

namespace fake_vdplay {

struct Call {
  std::string function;
  std::vector<std::int64_t> args;  // pointers as their address, rectangles as their four values
};

// Forgets every call and every scripted failure; stops automatic display.
void Reset();

std::vector<Call> Calls();
std::vector<std::string> CallNames();
std::size_t CountCalls(const std::string& function);
void ClearCalls();

// After `skip` more successful calls, the next `times` calls of `function`
// fail (return 0) and set the port's last error to `code` (every port's, for
// a function without a port); times < 0 means every call from then on.
void FailCalls(const std::string& function, std::uint32_t code, int times = -1, int skip = 0);

// The next codes.size() calls of `function` fail, each with the next code.
void FailCallsWithCodes(const std::string& function, const std::vector<std::uint32_t>& codes);

// Answers of the query functions.
void SetFileHeadLength(std::uint32_t length);
void SetPictureSize(std::int32_t width, std::int32_t height);
void SetSourceBufferRemain(std::uint32_t bytes);

// Shows one frame on a decoder port through its installed callback, as the
// decoder's display thread would; false when no callback is installed.
bool DisplayFrame(std::int32_t decoderPort);
// Shows a frame every `intervalMs` on every port that has a callback, from a
// thread of the fake's own, until Reset() or StopAutoDisplay().
void StartAutoDisplay(int intervalMs);
void StopAutoDisplay();
// Number of callback calls made so far.
int DisplayedFrames();
// Each time a callback is installed, show `frames` frames through it at once,
// on the installing thread, before the install call returns (0 by default):
// a capture then sees its frames without depending on timing.
void SetFramesOnInstall(int frames);

// Frame properties the fake displays.
constexpr std::int32_t kFrameWidth = 16;
constexpr std::int32_t kFrameHeight = 8;
constexpr std::int32_t kFrameType = 3;

}  // namespace fake_vdplay

// The same controls for a C host that loads the fake as VdPlay.dll and finds
// them with GetProcAddress (plain C calling convention).
extern "C" {
void FakeVdPlay_Reset(void);
void FakeVdPlay_FailCalls(const char* function, std::uint32_t code, int times);
int FakeVdPlay_CountCalls(const char* function);
void FakeVdPlay_SetFramesOnInstall(int frames);
// Argument `index` of the latest call of `function`; -1 when there is none.
long long FakeVdPlay_LastArg(const char* function, int index);
}
