// PulseAudio through its simple client library, opened with dlopen: a
// machine without libpulse still loads the stand-in (and has no sound).
#include "render/sound_pulse.h"

#if VDPLAY_HAVE_PULSE
#include <dlfcn.h>
#include <pulse/error.h>
#include <pulse/simple.h>

#include <mutex>
#endif

namespace vdplay {

#if VDPLAY_HAVE_PULSE
namespace {

struct PulseApi {
  decltype(&pa_simple_new) newStream = nullptr;
  decltype(&pa_simple_free) free = nullptr;
  decltype(&pa_simple_write) write = nullptr;
  decltype(&pa_simple_flush) flush = nullptr;
  decltype(&pa_simple_get_latency) latency = nullptr;
  bool loaded = false;
};

template <class F>
bool bind(void* handle, const char* name, F& out) {
  out = reinterpret_cast<F>(dlsym(handle, name));
  return out != nullptr;
}

// Loaded once for the process and never unloaded.
const PulseApi& api() {
  static PulseApi a;
  static std::once_flag once;
  std::call_once(once, [] {
    void* handle = dlopen("libpulse-simple.so.0", RTLD_NOW | RTLD_LOCAL);
    if (!handle) return;
    a.loaded = bind(handle, "pa_simple_new", a.newStream) &&
               bind(handle, "pa_simple_free", a.free) &&
               bind(handle, "pa_simple_write", a.write) &&
               bind(handle, "pa_simple_flush", a.flush) &&
               bind(handle, "pa_simple_get_latency", a.latency);
  });
  return a;
}

}  // namespace

bool pulseAvailable() { return api().loaded; }

PulseOutput::~PulseOutput() { close(); }

bool PulseOutput::open(std::uint32_t rate, std::uint32_t channels) {
  close();
  const PulseApi& pa = api();
  if (!pa.loaded) return false;
  pa_sample_spec sampleFormat{};
  sampleFormat.format = PA_SAMPLE_S16LE;
  sampleFormat.rate = rate;
  sampleFormat.channels = static_cast<std::uint8_t>(channels);
  // A short buffer: what is written is heard within about kBufferMs, so the
  // sound follows pause, reset and volume at once and live audio does not
  // build up.
  const std::uint32_t bytesPerMs = rate * channels * 2 / 1000;
  pa_buffer_attr attr{};
  attr.maxlength = static_cast<std::uint32_t>(-1);
  attr.tlength = bytesPerMs * kBufferMs;
  attr.prebuf = bytesPerMs * kStartMs;  // playing starts once this much waits
  attr.minreq = static_cast<std::uint32_t>(-1);
  attr.fragsize = static_cast<std::uint32_t>(-1);
  int error = 0;
  stream_ = pa.newStream(nullptr, "VdPlay", PA_STREAM_PLAYBACK, nullptr, "sound", &sampleFormat, nullptr,
                         &attr, &error);
  frameBytes_ = channels * 2;
  return stream_ != nullptr;
}

void PulseOutput::close() {
  if (!stream_) return;
  api().free(stream_);
  stream_ = nullptr;
}

bool PulseOutput::write(const std::int16_t* samples, std::size_t frames) {
  if (!stream_) return false;
  int error = 0;
  if (api().write(stream_, samples, frames * frameBytes_, &error) < 0) {
    close();
    return false;
  }
  return true;
}

void PulseOutput::discard() {
  if (!stream_) return;
  int error = 0;
  if (api().flush(stream_, &error) < 0) close();
}

std::int64_t PulseOutput::queuedUs() {
  if (!stream_) return -1;
  int error = 0;
  const pa_usec_t latency = api().latency(stream_, &error);
  if (latency == static_cast<pa_usec_t>(-1)) return -1;
  return static_cast<std::int64_t>(latency);
}

#else  // built without PulseAudio's headers: no PulseAudio output

bool pulseAvailable() { return false; }
PulseOutput::~PulseOutput() = default;
bool PulseOutput::open(std::uint32_t, std::uint32_t) { return false; }
void PulseOutput::close() { frameBytes_ = 2; }
bool PulseOutput::write(const std::int16_t*, std::size_t) { return false; }
void PulseOutput::discard() {}
std::int64_t PulseOutput::queuedUs() { return -1; }

#endif

}  // namespace vdplay
