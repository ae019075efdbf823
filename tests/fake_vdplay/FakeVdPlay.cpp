#include "FakeVdPlay.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <thread>

namespace fake_vdplay {
namespace {

constexpr int kPorts = 32;

struct Failure {
  std::uint32_t code = 0;
  int remaining = 0;  // < 0: always
  int skip = 0;       // successful calls still to come before the failures
  std::vector<std::uint32_t> codes;  // when not empty, the code of each failure in turn
};

struct State {
  std::mutex mutex;
  std::vector<Call> calls;
  std::map<std::string, Failure> failures;
  std::uint32_t lastError[kPorts] = {};
  std::uint32_t headLength = 40;
  std::int32_t width = 704;
  std::int32_t height = 576;
  std::uint32_t remain = 0;
  VdDisplayCallback callbacks[kPorts] = {};
};

State& state() {
  static State instance;
  return instance;
}

// Held while a port's callback runs, so that removing it waits for the call.
std::mutex& callbackMutex(int port) {
  static std::mutex mutexes[kPorts];
  return mutexes[port];
}

std::atomic<int> displayed{0};
std::atomic<int> framesOnInstall{0};

struct AutoDisplay {
  std::mutex mutex;
  std::condition_variable wake;
  std::thread thread;
  bool running = false;
};

AutoDisplay& autoDisplay() {
  static AutoDisplay instance;
  return instance;
}

bool validPort(VdLong port) { return port >= 0 && port < kPorts; }

// Records the call; returns the BOOL result (0 when a failure is scripted).
VdBool record(const char* function, std::vector<std::int64_t> args, VdLong port = -1) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.calls.push_back(Call{function, std::move(args)});
  auto it = s.failures.find(function);
  if (it == s.failures.end() || it->second.remaining == 0) return 1;
  if (it->second.skip > 0) {
    --it->second.skip;
    return 1;
  }
  if (it->second.remaining > 0) --it->second.remaining;
  if (!it->second.codes.empty()) {
    it->second.code = it->second.codes.front();
    it->second.codes.erase(it->second.codes.begin());
  }
  if (validPort(port)) {
    s.lastError[port] = it->second.code;
  } else {
    for (std::uint32_t& code : s.lastError) code = it->second.code;
  }
  return 0;
}

std::int64_t address(const void* p) { return static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(p)); }

}  // namespace

void Reset() {
  StopAutoDisplay();
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.calls.clear();
  s.failures.clear();
  for (std::uint32_t& code : s.lastError) code = 0;
  for (VdDisplayCallback& cb : s.callbacks) cb = nullptr;
  s.headLength = 40;
  s.width = 704;
  s.height = 576;
  s.remain = 0;
  displayed = 0;
  framesOnInstall = 0;
}

std::vector<Call> Calls() {
  std::lock_guard<std::mutex> lock(state().mutex);
  return state().calls;
}

std::vector<std::string> CallNames() {
  std::vector<std::string> names;
  for (const Call& call : Calls()) names.push_back(call.function);
  return names;
}

std::size_t CountCalls(const std::string& function) {
  std::size_t count = 0;
  for (const Call& call : Calls()) count += call.function == function ? 1 : 0;
  return count;
}

void ClearCalls() {
  std::lock_guard<std::mutex> lock(state().mutex);
  state().calls.clear();
}

void FailCalls(const std::string& function, std::uint32_t code, int times, int skip) {
  std::lock_guard<std::mutex> lock(state().mutex);
  state().failures[function] = Failure{code, times, skip, {}};
}

void FailCallsWithCodes(const std::string& function, const std::vector<std::uint32_t>& codes) {
  std::lock_guard<std::mutex> lock(state().mutex);
  state().failures[function] =
      Failure{0, static_cast<int>(codes.size()), 0, codes};
}

void SetFileHeadLength(std::uint32_t length) {
  std::lock_guard<std::mutex> lock(state().mutex);
  state().headLength = length;
}

void SetPictureSize(std::int32_t width, std::int32_t height) {
  std::lock_guard<std::mutex> lock(state().mutex);
  state().width = width;
  state().height = height;
}

void SetSourceBufferRemain(std::uint32_t bytes) {
  std::lock_guard<std::mutex> lock(state().mutex);
  state().remain = bytes;
}

bool DisplayFrame(std::int32_t decoderPort) {
  if (!validPort(decoderPort)) return false;
  std::lock_guard<std::mutex> running(callbackMutex(decoderPort));
  VdDisplayCallback callback = nullptr;
  {
    std::lock_guard<std::mutex> lock(state().mutex);
    callback = state().callbacks[decoderPort];
  }
  if (callback == nullptr) return false;
  static char frame[kFrameWidth * kFrameHeight * 3 / 2] = {};
  ++displayed;
  callback(decoderPort, frame, sizeof frame, kFrameWidth, kFrameHeight, 0, kFrameType, 0);
  return true;
}

void StartAutoDisplay(int intervalMs) {
  AutoDisplay& a = autoDisplay();
  std::lock_guard<std::mutex> lock(a.mutex);
  if (a.running) return;
  a.running = true;
  a.thread = std::thread([intervalMs] {
    AutoDisplay& self = autoDisplay();
    std::unique_lock<std::mutex> guard(self.mutex);
    while (self.running) {
      guard.unlock();
      for (int port = 0; port < kPorts; ++port) DisplayFrame(port);
      guard.lock();
      self.wake.wait_for(guard, std::chrono::milliseconds(intervalMs), [&] { return !self.running; });
    }
  });
}

void StopAutoDisplay() {
  AutoDisplay& a = autoDisplay();
  std::thread thread;
  {
    std::lock_guard<std::mutex> lock(a.mutex);
    if (!a.running) return;
    a.running = false;
    thread = std::move(a.thread);
  }
  a.wake.notify_all();
  thread.join();
}

int DisplayedFrames() { return displayed.load(); }

void SetFramesOnInstall(int frames) { framesOnInstall = frames; }

}  // namespace fake_vdplay

using fake_vdplay::address;
using fake_vdplay::record;

extern "C" {

VdBool VDPLAY_CALL VdPlay_SetOverlayMode(VdLong port, VdBool overlay, VdDword colorKey) {
  return record("VdPlay_SetOverlayMode", {port, overlay, colorKey}, port);
}
VdBool VDPLAY_CALL VdPlay_SetStreamOpenMode(VdLong port, VdDword mode) {
  return record("VdPlay_SetStreamOpenMode", {port, mode}, port);
}
VdBool VDPLAY_CALL VdPlay_OpenStream(VdLong port, std::uint8_t* header, VdDword headerLength,
                                     VdDword poolBytes) {
  return record("VdPlay_OpenStream", {port, address(header), headerLength, poolBytes}, port);
}
VdBool VDPLAY_CALL VdPlay_Play(VdLong port, VdWindow window) {
  return record("VdPlay_Play", {port, address(window)}, port);
}
VdBool VDPLAY_CALL VdPlay_InputData(VdLong port, std::uint8_t* data, VdDword length) {
  return record("VdPlay_InputData", {port, address(data), length}, port);
}
VdBool VDPLAY_CALL VdPlay_Stop(VdLong port) { return record("VdPlay_Stop", {port}, port); }
VdBool VDPLAY_CALL VdPlay_CloseStream(VdLong port) {
  return record("VdPlay_CloseStream", {port}, port);
}
VdBool VDPLAY_CALL VdPlay_Pause(VdLong port, VdDword pause) {
  return record("VdPlay_Pause", {port, pause}, port);
}
VdBool VDPLAY_CALL VdPlay_Fast(VdLong port) { return record("VdPlay_Fast", {port}, port); }
VdBool VDPLAY_CALL VdPlay_Slow(VdLong port) { return record("VdPlay_Slow", {port}, port); }
VdBool VDPLAY_CALL VdPlay_OneByOne(VdLong port) { return record("VdPlay_OneByOne", {port}, port); }
VdBool VDPLAY_CALL VdPlay_PlaySound(VdLong port) {
  return record("VdPlay_PlaySound", {port}, port);
}
VdBool VDPLAY_CALL VdPlay_StopSound(void) { return record("VdPlay_StopSound", {}); }
VdBool VDPLAY_CALL VdPlay_SetVolume(VdLong port, VdDword volume) {
  return record("VdPlay_SetVolume", {port, volume}, port);
}
VdBool VDPLAY_CALL VdPlay_RefreshPlay(VdLong port) {
  return record("VdPlay_RefreshPlay", {port}, port);
}
VdBool VDPLAY_CALL VdPlay_ResetSourceBuffer(VdLong port) {
  return record("VdPlay_ResetSourceBuffer", {port}, port);
}
VdDword VDPLAY_CALL VdPlay_GetFileHeadLength(void) {
  record("VdPlay_GetFileHeadLength", {});
  std::lock_guard<std::mutex> lock(fake_vdplay::state().mutex);
  return fake_vdplay::state().headLength;
}
VdBool VDPLAY_CALL VdPlay_GetPictureSize(VdLong port, VdLong* width, VdLong* height) {
  if (!record("VdPlay_GetPictureSize", {port, address(width), address(height)}, port)) return 0;
  std::lock_guard<std::mutex> lock(fake_vdplay::state().mutex);
  if (width != nullptr) *width = fake_vdplay::state().width;
  if (height != nullptr) *height = fake_vdplay::state().height;
  return 1;
}
VdBool VDPLAY_CALL VdPlay_SetPicQuality(VdLong port, VdBool highQuality) {
  return record("VdPlay_SetPicQuality", {port, highQuality}, port);
}
VdBool VDPLAY_CALL VdPlay_ThrowBFrameNum(VdLong port, VdDword number) {
  return record("VdPlay_ThrowBFrameNum", {port, number}, port);
}
VdBool VDPLAY_CALL VdPlay_SetColor(VdLong port, VdDword region, int brightness, int contrast,
                                   int saturation, int hue) {
  return record("VdPlay_SetColor", {port, region, brightness, contrast, saturation, hue}, port);
}
VdBool VDPLAY_CALL VdPlay_SetDisplayRegion(VdLong port, VdDword region, VdRect* rect,
                                           VdWindow window, VdBool enable) {
  std::vector<std::int64_t> args{port, region, rect != nullptr ? 1 : 0};
  if (rect != nullptr) args.insert(args.end(), {rect->left, rect->top, rect->right, rect->bottom});
  args.insert(args.end(), {address(window), enable});
  return record("VdPlay_SetDisplayRegion", args, port);
}
VdDword VDPLAY_CALL VdPlay_GetSourceBufferRemain(VdLong port) {
  record("VdPlay_GetSourceBufferRemain", {port}, port);
  std::lock_guard<std::mutex> lock(fake_vdplay::state().mutex);
  return fake_vdplay::state().remain;
}
VdBool VDPLAY_CALL VdPlay_SetDisplayCallBack(VdLong port, VdDisplayCallback callback) {
  if (!fake_vdplay::validPort(port)) return 0;
  {
    // Waits for a running call of the old callback before replacing it.
    std::lock_guard<std::mutex> running(fake_vdplay::callbackMutex(port));
    if (!record("VdPlay_SetDisplayCallBack",
                {port, address(reinterpret_cast<void*>(callback))}, port)) {
      return 0;
    }
    std::lock_guard<std::mutex> lock(fake_vdplay::state().mutex);
    fake_vdplay::state().callbacks[port] = callback;
  }
  if (callback != nullptr) {
    for (int i = fake_vdplay::framesOnInstall.load(); i > 0; --i) fake_vdplay::DisplayFrame(port);
  }
  return 1;
}
VdBool VDPLAY_CALL VdPLay_ConvertToBmpFile(char* frame, VdLong size, VdLong width, VdLong height,
                                           VdLong type, char* path) {
  if (!record("VdPLay_ConvertToBmpFile", {address(frame), size, width, height, type})) return 0;
  // The fake's "picture": a short text naming the frame, at exactly the path.
  std::FILE* file = path != nullptr ? std::fopen(path, "wb") : nullptr;
  if (file == nullptr) return 0;
  std::fprintf(file, "FAKE %ldx%ld type %ld size %ld\n", static_cast<long>(width),
               static_cast<long>(height), static_cast<long>(type), static_cast<long>(size));
  std::fclose(file);
  return 1;
}
VdDword VDPLAY_CALL VdPlay_GetLastError(VdLong port) {
  record("VdPlay_GetLastError", {port});
  if (!fake_vdplay::validPort(port)) return 1;
  std::lock_guard<std::mutex> lock(fake_vdplay::state().mutex);
  return fake_vdplay::state().lastError[port];
}

}  // extern "C"

extern "C" {

void FakeVdPlay_Reset(void) { fake_vdplay::Reset(); }

void FakeVdPlay_FailCalls(const char* function, std::uint32_t code, int times) {
  fake_vdplay::FailCalls(function, code, times);
}

int FakeVdPlay_CountCalls(const char* function) {
  return static_cast<int>(fake_vdplay::CountCalls(function));
}

void FakeVdPlay_SetFramesOnInstall(int frames) { fake_vdplay::SetFramesOnInstall(frames); }

long long FakeVdPlay_LastArg(const char* function, int index) {
  const std::vector<fake_vdplay::Call> calls = fake_vdplay::Calls();
  for (auto it = calls.rbegin(); it != calls.rend(); ++it) {
    if (it->function != function) continue;
    if (index < 0 || static_cast<std::size_t>(index) >= it->args.size()) return -1;
    return it->args[static_cast<std::size_t>(index)];
  }
  return -1;
}

}  // extern "C"
