// The sound stage's thread, and what a Port shows it.
#include "port/sound_loop.h"

#include <algorithm>
#include <deque>
#include <memory>
#include <new>
#include <vector>

#include "decode/audio_decoder.h"
#include "errors.h"
#include "port/port.h"
#include "render/sound_output.h"
#include "render/sound_volume.h"

namespace vdplay {

// ---------------------------------------------------------------- Port

Port::SoundTap Port::soundTap() {
  std::lock_guard<std::mutex> lk(m_);
  SoundTap tap;
  tap.stream = stream_;
  tap.audible = stream_ && thread_.running() && !thread_.stopRequested() && !clock_.paused() &&
                !clock_.stepping() && clock_.speed() == 0;
  tap.paused = clock_.paused();
  tap.volume = volume_;
  return tap;
}

void Port::noteSound(std::uint32_t played, std::uint32_t damaged, bool heard) {
  std::lock_guard<std::mutex> lk(m_);
  audioPlayed_ += played;
  audioDamaged_ += damaged;
  soundHeard_ = heard;
  if (damaged) recordPortError(index_, VDPLAY_ERR_DECODE);
}

// ---------------------------------------------------------------- SoundLoop

namespace {

using Clock = std::chrono::steady_clock;

// How often the thread looks for new audio units while none wait.
constexpr std::chrono::milliseconds kPoll{10};
// Live audio does not build up: when the units waiting span more than
// kMaxBacklogMs of stamps (the output stalled, or the source sent a burst),
// the oldest are dropped until kKeepBacklogMs remain, as the pictures'
// schedule starts anew instead of rushing through a backlog.
constexpr std::uint32_t kMaxBacklogMs = 400;
constexpr std::uint32_t kKeepBacklogMs = 100;
// How long a missing sound server or device is left alone before the next
// try (a PlaySound call tries again at once).
constexpr std::chrono::milliseconds kRetryAfter{1000};

// What the thread keeps between units.
struct Playing {
  Port* port = nullptr;
  std::shared_ptr<Stream> stream;
  std::uint64_t clearsSeen = 0;
  std::unique_ptr<AudioDecoder> decoder;
  AudioCodec codec = AudioCodec::G711ALaw;
  bool noDecoder = false;  // this build has none for codec: its units are dropped
  std::unique_ptr<SoundOutput> output;
  std::uint32_t rate = 0, channels = 0;
  Clock::time_point retryAt{};
  PcmBlock pcm;
  std::deque<AudioUnit> waiting;  // taken from the port's queue, not played yet
  bool heard = false;
  bool written = false;  // since the last silence()

  void silence() {
    if (output && written) output->discard();
    written = false;
  }
  void closeOutput() {
    if (output) output->close();
    output.reset();
    rate = channels = 0;
  }
  void forgetStream() {
    waiting.clear();
    stream.reset();
    decoder.reset();
    noDecoder = false;
  }
};

bool openOutput(Playing& p, std::uint32_t rate, std::uint32_t channels) {
  if (p.output && p.output->isOpen() && p.rate == rate && p.channels == channels) return true;
  p.closeOutput();
  for (int kind = 0; kind < kSoundOutputKinds; ++kind) {
    std::unique_ptr<SoundOutput> out = makeSoundOutput(kind);
    if (out && out->open(rate, channels)) {
      p.output = std::move(out);
      p.rate = rate;
      p.channels = channels;
      return true;
    }
  }
  return false;
}

bool useDecoder(Playing& p, AudioCodec codec) {
  if (p.decoder && p.codec == codec) return true;
  if (p.noDecoder && p.codec == codec) return false;
  p.decoder.reset();
  p.codec = codec;
  p.noDecoder = createAudioDecoder(codec, p.decoder) != 0;
  return !p.noDecoder;
}

// Decodes one unit and writes it out at volume.
void playUnit(Playing& p, Port& port, const AudioUnit& unit, std::uint32_t volume) {
  if (!p.decoder->decode(unit.bytes.data(), unit.bytes.size(), p.pcm)) {
    port.noteSound(0, 1, p.heard);
    return;
  }
  if (p.pcm.samples.empty()) return;
  const Clock::time_point now = Clock::now();
  bool open = p.output && p.output->isOpen() && p.rate == p.pcm.rate &&
              p.channels == p.pcm.channels;
  if (!open && now >= p.retryAt) {
    open = openOutput(p, p.pcm.rate, p.pcm.channels);
    if (!open) p.retryAt = now + kRetryAfter;
  }
  if (open) {
    applyVolume(p.pcm.samples, volume);
    open = p.output->write(p.pcm.samples.data(), p.pcm.frames());
    p.written = true;
    if (!open) {
      p.closeOutput();  // the server went away: quiet until it is back
      p.retryAt = Clock::now() + kRetryAfter;
    }
  }
  p.heard = open;
  port.noteSound(open ? 1 : 0, 0, open);
}

// Moves the port's queued units into p.waiting and drops a backlog.
void takeUnits(Playing& p) {
  AudioUnit unit;
  while (p.stream->source.audio().pop(unit)) p.waiting.push_back(std::move(unit));
  while (p.waiting.size() > 1) {
    const AudioUnit& oldest = p.waiting.front();
    const AudioUnit& newest = p.waiting.back();
    if (!oldest.stamped || !newest.stamped || newest.stampMs < oldest.stampMs) break;
    const std::uint32_t span = newest.stampMs - oldest.stampMs;
    if (span <= kMaxBacklogMs) break;
    while (p.waiting.size() > 1 && p.waiting.front().stamped &&
           newest.stampMs - p.waiting.front().stampMs > kKeepBacklogMs &&
           p.waiting.front().stampMs <= newest.stampMs)
      p.waiting.pop_front();
    break;
  }
}

}  // namespace

bool SoundLoop::playSound(int port) {
  std::lock_guard<std::mutex> lk(m_);
  if (!thread_.joinable()) {
    if (exit_) return false;
    try {
      thread_ = std::thread([this] { threadMain(); });
    } catch (...) {
      return false;
    }
  }
  port_ = port;
  ++requests_;
  wake_.notify_all();
  return true;
}

void SoundLoop::stopSound() {
  std::lock_guard<std::mutex> lk(m_);
  port_ = -1;
  wake_.notify_all();
}

void SoundLoop::stopForExit(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock<std::mutex> lk(m_);
  exit_ = true;
  wake_.notify_all();
  if (!thread_.joinable()) return;
  if (wake_.wait_until(lk, deadline, [this] { return ended_; })) {
    lk.unlock();
    thread_.join();
  }
}

void SoundLoop::threadMain() {
  Playing p;
  std::uint64_t requestsSeen = 0;
  std::unique_lock<std::mutex> lk(m_);
  while (!exit_) {
    const int target = port_;
    const bool retryNow = requests_ != requestsSeen;
    requestsSeen = requests_;
    Port* port = target >= 0 ? portAt_(target) : nullptr;
    if (port != p.port) {
      // Another port, or none: what the old one queued is not heard.
      if (p.port) p.port->noteSound(0, 0, false);
      p.silence();
      p.forgetStream();
      p.port = port;
      p.heard = false;
    }
    if (!port) {
      p.closeOutput();
      wake_.wait(lk, [&] { return exit_ || port_ != target || requests_ != requestsSeen; });
      continue;
    }
    if (retryNow) p.retryAt = Clock::time_point{};
    lk.unlock();

    bool idle = false;
    try {
      const Port::SoundTap tap = port->soundTap();
      if (tap.stream != p.stream) {
        p.silence();
        p.forgetStream();
        p.stream = tap.stream;
        if (p.stream) p.clearsSeen = p.stream->source.clears();
      }
      if (!p.stream) {
        idle = true;
      } else if (p.stream->source.clears() != p.clearsSeen) {
        // ResetSourceBuffer: the queue was emptied; what the output holds goes too.
        p.clearsSeen = p.stream->source.clears();
        p.waiting.clear();
        p.silence();
        if (p.decoder) p.decoder->flush();
      } else if (!tap.audible) {
        // Pause keeps the units for the resume; fast, slow and single
        // frames drop them, so that normal play goes on with the sound of now.
        p.silence();
        if (!tap.paused) {
          AudioUnit drop;
          while (p.stream->source.audio().pop(drop)) {
          }
          p.waiting.clear();
        }
        idle = true;
      } else {
        takeUnits(p);
        if (p.waiting.empty()) {
          idle = true;
        } else {
          const AudioUnit unit = std::move(p.waiting.front());
          p.waiting.pop_front();
          if (useDecoder(p, unit.codec)) playUnit(p, *port, unit, tap.volume);
        }
      }
    } catch (const std::bad_alloc&) {
      idle = true;  // the unit is lost; the next one may fit
    }

    lk.lock();
    if (idle && !exit_ && port_ == target && requests_ == requestsSeen)
      wake_.wait_for(lk, kPoll);
  }
  p.silence();
  p.closeOutput();
  ended_ = true;
  wake_.notify_all();
}

}  // namespace vdplay
