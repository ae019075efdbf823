#include "render/sound_alsa.h"

#if VDPLAY_HAVE_ALSA
#include <alsa/asoundlib.h>
#include <dlfcn.h>

#include <mutex>
#endif

namespace vdplay {

#if VDPLAY_HAVE_ALSA
namespace {

struct AlsaApi {
  decltype(&snd_pcm_open) open = nullptr;
  decltype(&snd_pcm_close) close = nullptr;
  decltype(&snd_pcm_nonblock) nonblock = nullptr;
  decltype(&snd_pcm_set_params) setParams = nullptr;
  decltype(&snd_pcm_writei) writei = nullptr;
  decltype(&snd_pcm_recover) recover = nullptr;
  decltype(&snd_pcm_drop) drop = nullptr;
  decltype(&snd_pcm_prepare) prepare = nullptr;
  decltype(&snd_pcm_delay) delay = nullptr;
  bool loaded = false;
};

template <class F>
bool bind(void* handle, const char* name, F& out) {
  out = reinterpret_cast<F>(dlsym(handle, name));
  return out != nullptr;
}

// ALSA's library prints its errors unless told otherwise; the stand-in prints nothing.
void quiet(const char*, int, const char*, int, const char*, ...) {}

const AlsaApi& api() {
  static AlsaApi a;
  static std::once_flag once;
  std::call_once(once, [] {
    void* handle = dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL);
    if (!handle) return;
    decltype(&snd_lib_error_set_handler) setHandler = nullptr;
    a.loaded = bind(handle, "snd_pcm_open", a.open) && bind(handle, "snd_pcm_close", a.close) &&
               bind(handle, "snd_pcm_nonblock", a.nonblock) &&
               bind(handle, "snd_pcm_set_params", a.setParams) &&
               bind(handle, "snd_pcm_writei", a.writei) &&
               bind(handle, "snd_pcm_recover", a.recover) && bind(handle, "snd_pcm_drop", a.drop) &&
               bind(handle, "snd_pcm_prepare", a.prepare) &&
               bind(handle, "snd_pcm_delay", a.delay) &&
               bind(handle, "snd_lib_error_set_handler", setHandler);
    if (a.loaded) setHandler(&quiet);
  });
  return a;
}

snd_pcm_t* pcmOf(void* p) { return static_cast<snd_pcm_t*>(p); }

}  // namespace

bool alsaAvailable() { return api().loaded; }

AlsaOutput::~AlsaOutput() { close(); }

bool AlsaOutput::open(std::uint32_t rate, std::uint32_t channels) {
  close();
  const AlsaApi& a = api();
  if (!a.loaded) return false;
  snd_pcm_t* pcm = nullptr;
  // Opened without waiting for a busy device; written to waiting for room.
  if (a.open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) return false;
  if (a.nonblock(pcm, 0) < 0 ||
      a.setParams(pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, channels, rate, 1,
                  kBufferMs * 1000) < 0) {
    a.close(pcm);
    return false;
  }
  pcm_ = pcm;
  rate_ = rate;
  channels_ = channels;
  return true;
}

void AlsaOutput::close() {
  if (!pcm_) return;
  api().drop(pcmOf(pcm_));
  api().close(pcmOf(pcm_));
  pcm_ = nullptr;
}

bool AlsaOutput::write(const std::int16_t* samples, std::size_t frames) {
  if (!pcm_) return false;
  const AlsaApi& a = api();
  while (frames > 0) {
    snd_pcm_sframes_t n = a.writei(pcmOf(pcm_), samples, frames);
    if (n < 0) n = a.recover(pcmOf(pcm_), static_cast<int>(n), 1);  // an underrun restarts
    if (n < 0) {
      close();
      return false;
    }
    samples += static_cast<std::size_t>(n) * channels_;
    frames -= static_cast<std::size_t>(n);
  }
  return true;
}

void AlsaOutput::discard() {
  if (!pcm_) return;
  api().drop(pcmOf(pcm_));
  if (api().prepare(pcmOf(pcm_)) < 0) close();
}

std::int64_t AlsaOutput::queuedUs() {
  if (!pcm_ || !rate_) return -1;
  snd_pcm_sframes_t delay = 0;
  if (api().delay(pcmOf(pcm_), &delay) < 0) return -1;
  return delay < 0 ? 0 : static_cast<std::int64_t>(delay) * 1000000 / rate_;
}

#else  // built without ALSA's headers: no ALSA output

bool alsaAvailable() { return false; }
AlsaOutput::~AlsaOutput() = default;
bool AlsaOutput::open(std::uint32_t, std::uint32_t) { return false; }
void AlsaOutput::close() {}
bool AlsaOutput::write(const std::int16_t*, std::size_t) { return false; }
void AlsaOutput::discard() {}
std::int64_t AlsaOutput::queuedUs() { return -1; }

#endif

}  // namespace vdplay
