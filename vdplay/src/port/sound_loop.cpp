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
  tap.pictureStamped = stream_ && displayed_ > 0 && clock_.lastShownStamp(tap.pictureStampMs);
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

void Port::followAudio(std::chrono::steady_clock::time_point heardAt, std::uint32_t stampMs) {
  std::lock_guard<std::mutex> lk(m_);
  if (clock_.followAudio(heardAt, stampMs)) wake_.notify_all();  // a due time moved
}

// ---------------------------------------------------------------- SoundLoop

namespace {

using Clock = std::chrono::steady_clock;

// How often the thread looks for new audio units while none wait.
constexpr std::chrono::milliseconds kPoll{10};
// Live audio does not build up, by the pictures' rule: a unit that would
// be heard more than kLateMs after its time on the sound's own schedule (the
// output stalled) is dropped until the sound has caught up; one more than
// kOtherTimeLineMs away starts the schedule anew (the stamps jumped).
constexpr std::chrono::milliseconds kLateMs{150};
constexpr std::chrono::milliseconds kOtherTimeLineMs{1000};
// Units more than this far behind the picture on display, when the sound
// starts, belong to another time line (the stamps started again).
constexpr std::chrono::milliseconds kBehindTimeLineMs{10000};
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
  std::deque<AudioUnit> waiting;  // the next units, taken from the port's queue to look at
  bool heard = false;
  bool written = false;  // since the last silence()
  // The sound's schedule: the unit stamped anchorStamp was heard at anchorAt.
  bool anchored = false;
  Clock::time_point anchorAt{};
  std::uint32_t anchorStamp = 0;

  void silence() {
    if (output && written) output->discard();
    written = false;
    anchored = false;
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

// Makes the port's next count units (1 or 2) the front of p.waiting, which
// holds no more than that (the queue keeps the rest, also while another port
// has the sound). False when fewer wait.
bool peekUnits(Playing& p, std::size_t count = 1) {
  while (p.waiting.size() < count) {
    AudioUnit unit;
    if (!p.stream->source.audio().pop(unit)) return false;
    p.waiting.push_back(std::move(unit));
  }
  return true;
}

// How far a stamp lies behind the picture on display, in ms; 0 when it does
// not, or when it is so far behind (kBehindTimeLineMs) that it belongs to
// another time line.
std::int32_t behindPicture(std::uint32_t stampMs, const Port::SoundTap& tap) {
  if (!tap.pictureStamped) return 0;
  const auto behind = static_cast<std::int32_t>(tap.pictureStampMs - stampMs);
  return behind > 0 && behind <= static_cast<std::int32_t>(kBehindTimeLineMs.count()) ? behind : 0;
}

// Drops the units that lie wholly before the picture on display (the next
// one begins before it too): when the sound starts (again) it starts where
// the pictures are. The unit the picture falls in is cut by cutBehindPicture.
void dropBehindPicture(Playing& p, const Port::SoundTap& tap) {
  while (peekUnits(p, 2) && p.waiting[0].stamped && p.waiting[1].stamped &&
         behindPicture(p.waiting[0].stampMs, tap) > 0 &&
         behindPicture(p.waiting[1].stampMs, tap) > 0)
    p.waiting.pop_front();
}

// Cuts the decoded samples before the picture on display off the front of
// a unit (one may hold a quarter of a second of sound or more); false when
// nothing is left of it.
bool cutBehindPicture(PcmBlock& pcm, AudioUnit& unit, const Port::SoundTap& tap) {
  if (!unit.stamped) return true;
  const std::int32_t behind = behindPicture(unit.stampMs, tap);
  if (behind == 0) return true;
  const std::size_t frames = static_cast<std::size_t>(behind) * pcm.rate / 1000;
  if (frames >= pcm.frames()) return false;
  pcm.samples.erase(pcm.samples.begin(),
                    pcm.samples.begin() + static_cast<std::ptrdiff_t>(frames * pcm.channels));
  unit.stampMs += static_cast<std::uint32_t>(behind);
  return true;
}

// Whether the unit is heard so late on the sound's schedule that it is
// better dropped; sets the schedule when there is none or the stamps jumped.
bool tooLate(Playing& p, const AudioUnit& unit, Clock::time_point heardAt) {
  if (!unit.stamped) return false;
  if (p.anchored) {
    const Clock::time_point due =
        p.anchorAt + std::chrono::milliseconds(static_cast<std::int32_t>(unit.stampMs - p.anchorStamp));
    const Clock::duration late = heardAt - due;
    if (late > kLateMs && late <= kOtherTimeLineMs) return true;
    if (late >= -kOtherTimeLineMs && late <= kOtherTimeLineMs) return false;
  }
  p.anchored = true;
  p.anchorAt = heardAt;
  p.anchorStamp = unit.stampMs;
  return false;
}

// Decodes one unit and writes it out at the tap's volume; the first after
// a (re)start begins at the picture on display.
void playUnit(Playing& p, Port& port, AudioUnit& unit, const Port::SoundTap& tap) {
  if (!p.decoder->decode(unit.bytes.data(), unit.bytes.size(), p.pcm)) {
    port.noteSound(0, 1, p.heard);
    return;
  }
  if (!p.anchored && !cutBehindPicture(p.pcm, unit, tap)) return;
  if (p.pcm.samples.empty()) return;
  const Clock::time_point now = Clock::now();
  bool open = p.output && p.output->isOpen() && p.rate == p.pcm.rate &&
              p.channels == p.pcm.channels;
  if (!open && now >= p.retryAt) {
    open = openOutput(p, p.pcm.rate, p.pcm.channels);
    if (!open) p.retryAt = now + kRetryAfter;
  }
  if (open) {
    // Its first sample is heard once what is queued now has been.
    const std::int64_t queuedUs = p.output->queuedUs();
    const Clock::time_point heardAt =
        Clock::now() + std::chrono::microseconds(queuedUs > 0 ? queuedUs : 0);
    if (tooLate(p, unit, heardAt)) return;
    applyVolume(p.pcm.samples, tap.volume);
    open = p.output->write(p.pcm.samples.data(), p.pcm.frames());
    p.written = true;
    // The pictures follow the sound (at normal speed; the port's clock checks).
    if (open && unit.stamped && queuedUs >= 0) port.followAudio(heardAt, unit.stampMs);
    if (!open) {
      p.closeOutput();  // the server went away: quiet until it is back
      p.retryAt = Clock::now() + kRetryAfter;
    }
  }
  p.heard = open;
  port.noteSound(open ? 1 : 0, 0, open);
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
        // frames drop those the pictures have passed, so that normal play
        // goes on with the sound of its pictures.
        p.silence();
        if (!tap.paused) {
          dropBehindPicture(p, tap);
        }
        idle = true;
      } else {
        if (!p.anchored) dropBehindPicture(p, tap);
        if (!peekUnits(p)) {
          idle = true;
        } else {
          AudioUnit unit = std::move(p.waiting.front());
          p.waiting.pop_front();
          if (useDecoder(p, unit.codec)) playUnit(p, *port, unit, tap);
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
