// The Windows sound output: waveOut, from winmm.dll loaded at run time (so
// the DLL imports only what it did; no winmm, no sound). Under Wine the
// same calls reach Wine's sound driver, which talks to PulseAudio.
#include <windows.h>
#include <mmsystem.h>

#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "render/sound_output.h"

namespace vdplay {
namespace {

struct WinmmApi {
  decltype(&waveOutOpen) open = nullptr;
  decltype(&waveOutClose) close = nullptr;
  decltype(&waveOutPrepareHeader) prepare = nullptr;
  decltype(&waveOutUnprepareHeader) unprepare = nullptr;
  decltype(&waveOutWrite) write = nullptr;
  decltype(&waveOutReset) reset = nullptr;
  decltype(&waveOutGetPosition) position = nullptr;
  bool loaded = false;
};

template <class F>
bool bind(HMODULE module, const char* name, F& out) {
  out = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  return out != nullptr;
}

const WinmmApi& api() {
  static WinmmApi a;
  static std::once_flag once;
  std::call_once(once, [] {
    HMODULE module = LoadLibraryA("winmm.dll");
    if (!module) return;
    a.loaded = bind(module, "waveOutOpen", a.open) && bind(module, "waveOutClose", a.close) &&
               bind(module, "waveOutPrepareHeader", a.prepare) &&
               bind(module, "waveOutUnprepareHeader", a.unprepare) &&
               bind(module, "waveOutWrite", a.write) && bind(module, "waveOutReset", a.reset) &&
               bind(module, "waveOutGetPosition", a.position);
  });
  return a;
}

// A ring of blocks of up to 100 ms each, one or more for each write; write()
// returns once no more than kMaxQueuedMs wait to be heard.
constexpr int kBlocks = 8;
constexpr std::uint32_t kBlockMs = 100;
constexpr std::uint32_t kMaxQueuedMs = 100;

class WaveOutput final : public SoundOutput {
 public:
  ~WaveOutput() override { close(); }

  bool open(std::uint32_t rate, std::uint32_t channels) override {
    close();
    const WinmmApi& a = api();
    if (!a.loaded) return false;
    event_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!event_) return false;
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = static_cast<WORD>(channels);
    format.nSamplesPerSec = rate;
    format.wBitsPerSample = 16;
    format.nBlockAlign = static_cast<WORD>(channels * 2);
    format.nAvgBytesPerSec = rate * format.nBlockAlign;
    if (a.open(&wave_, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(event_), 0,
               CALLBACK_EVENT) != MMSYSERR_NOERROR) {
      wave_ = nullptr;
      CloseHandle(event_);
      event_ = nullptr;
      return false;
    }
    frameBytes_ = channels * 2;
    rate_ = rate;
    blockFrames_ = rate * kBlockMs / 1000;
    try {
      for (Block& b : blocks_) {
        b.data.assign(blockFrames_ * frameBytes_, 0);
        std::memset(&b.header, 0, sizeof b.header);
        b.used = 0;
        b.queued = false;
      }
    } catch (const std::bad_alloc&) {
      close();
      return false;
    }
    next_ = 0;
    framesWritten_ = 0;
    return true;
  }

  void close() override {
    if (wave_) {
      api().reset(wave_);
      for (Block& b : blocks_) release(b);
      api().close(wave_);
      wave_ = nullptr;
    }
    if (event_) {
      CloseHandle(event_);
      event_ = nullptr;
    }
  }

  bool isOpen() const override { return wave_ != nullptr; }

  bool write(const std::int16_t* samples, std::size_t frames) override {
    if (!wave_) return false;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(samples);
    std::size_t left = frames * frameBytes_;
    while (left > 0) {
      Block& b = blocks_[next_];
      if (!waitFree(b)) {
        close();
        return false;
      }
      const std::size_t n = left < b.data.size() ? left : b.data.size();
      std::memcpy(b.data.data(), bytes, n);
      b.used = n;
      bytes += n;
      left -= n;
      if (!submit(b)) return false;
    }
    // What is queued stays short, so the sound follows pause and volume at once.
    for (int tries = 0; tries < 50; ++tries) {
      const std::int64_t queued = queuedUs();
      if (queued < 0 || queued <= static_cast<std::int64_t>(kMaxQueuedMs) * 1000) break;
      WaitForSingleObject(event_, 10);
    }
    return true;
  }

  void discard() override {
    if (!wave_) return;
    api().reset(wave_);
    for (Block& b : blocks_) release(b);
    next_ = 0;
    MMTIME t{};
    t.wType = TIME_SAMPLES;
    if (api().position(wave_, &t, sizeof t) == MMSYSERR_NOERROR && t.wType == TIME_SAMPLES)
      framesWritten_ = t.u.sample;
  }

  std::int64_t queuedUs() override {
    if (!wave_ || !rate_) return -1;
    MMTIME t{};
    t.wType = TIME_SAMPLES;
    if (api().position(wave_, &t, sizeof t) != MMSYSERR_NOERROR || t.wType != TIME_SAMPLES)
      return -1;
    const std::int64_t queued = static_cast<std::int64_t>(framesWritten_) - t.u.sample;
    return queued < 0 ? 0 : queued * 1000000 / rate_;
  }

  const char* name() const override { return "waveout"; }

 private:
  struct Block {
    std::vector<std::uint8_t> data;
    WAVEHDR header;
    std::size_t used = 0;
    bool queued = false;
  };

  void release(Block& b) {
    if (b.queued) api().unprepare(wave_, &b.header, sizeof b.header);
    b.queued = false;
    b.used = 0;
  }

  // Waits until the device is done with b (at most one block's time, plus slack).
  bool waitFree(Block& b) {
    if (!b.queued) return true;
    for (int tries = 0; !(b.header.dwFlags & WHDR_DONE); ++tries) {
      if (tries > 20) return false;  // the device stopped taking data
      WaitForSingleObject(event_, kBlockMs);
    }
    release(b);
    return true;
  }

  bool submit(Block& b) {
    std::memset(&b.header, 0, sizeof b.header);
    b.header.lpData = reinterpret_cast<LPSTR>(b.data.data());
    b.header.dwBufferLength = static_cast<DWORD>(b.used);
    if (api().prepare(wave_, &b.header, sizeof b.header) != MMSYSERR_NOERROR ||
        api().write(wave_, &b.header, sizeof b.header) != MMSYSERR_NOERROR) {
      close();
      return false;
    }
    b.queued = true;
    framesWritten_ += b.used / frameBytes_;
    next_ = (next_ + 1) % kBlocks;
    return true;
  }

  HWAVEOUT wave_ = nullptr;
  HANDLE event_ = nullptr;
  Block blocks_[kBlocks];
  int next_ = 0;
  std::size_t frameBytes_ = 2;
  std::uint32_t rate_ = 0;
  std::size_t blockFrames_ = 0;
  std::uint64_t framesWritten_ = 0;
};

}  // namespace

std::unique_ptr<SoundOutput> makeSoundOutput(int which) {
  if (which != 0 || !api().loaded) return nullptr;
  return std::unique_ptr<SoundOutput>(new (std::nothrow) WaveOutput);
}

}  // namespace vdplay
