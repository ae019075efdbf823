// play FILE: a stream file, a .y4m file or (natively) an H.264 or H.265 video
// file through one host port, in the requested play state. Packets are fed at
// the stream's real rate, scaled by the play speed, about a second ahead of
// the display. The run ends at the end of the data, at --duration, or when
// playback stalls, and says which; any fault of the data gives exit status 1.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include "commands.h"
#include "feeder.h"
#include "frame_counter.h"
#include "interrupt.h"
#include "playback_watch.h"
#include "session.h"

namespace spdemo {
namespace {

using Clock = Feeder::Clock;

// Paused or stepping playback never ends by itself.
constexpr double kDefaultHeldSeconds = 5;
constexpr double kSnapshotAfterSeconds = 1;
constexpr double kSingleFrameInterval = 0.5;
constexpr double kReadAheadSeconds = 1;
// No frame for this long (or three frame intervals, if longer) while data
// waits: playback has stalled.
constexpr double kStallSeconds = 3;
// Once the buffer is empty, the pictures still in the decoder are shown: the
// run ends when every packet sent has been shown, or when no frame came for
// three frame intervals, and at least this long (a decoder that holds
// pictures back for reordering gives them out after a second without data).
constexpr double kLastFrameGapSeconds = 1.5;
// Longest sleep: an interruption is noticed this quickly, and a window's
// messages are handled every few frames.
constexpr auto kLongestSleep = std::chrono::milliseconds(200);
constexpr auto kWindowSleep = std::chrono::milliseconds(20);

enum class Ending { EndOfData, TimeUp, Stalled, WindowClosed, Interrupted };

// How fast the stream's clock runs in a play state; 0 while it stands.
double rateOf(std::int32_t state) {
  switch (state) {
    case PLAYSTATE_FAST1: return 2;
    case PLAYSTATE_FAST2: return 4;
    case PLAYSTATE_FAST3: return 8;
    case PLAYSTATE_SLOW1: return 0.5;
    case PLAYSTATE_SLOW2: return 0.25;
    case PLAYSTATE_SLOW3: return 0.125;
    case PLAYSTATE_PAUSE:
    case PLAYSTATE_ONE_BY_ONE: return 0;
    default: return 1;
  }
}

void explainOpenFailure(const PacketSource& source) {
  const StreamInfo& info = source.info();
  if (source.contents().find("pictures") == std::string::npos) {
    std::printf("the decoder library did not take a stream of %s, %ux%u\n",
                source.contents().c_str(), info.width, info.height);
    return;
  }
  const std::size_t needed = vdstream::minPoolBytes(info.width, info.height);
  if (needed > kFilePoolBytes) {
    std::printf("pictures of %ux%u need a decoder buffer of %zu bytes; the player gives %u\n",
                info.width, info.height, needed, kFilePoolBytes);
  }
}

// One run of the play command after the stream opened.
class FilePlayback {
 public:
  FilePlayback(const Options& options, Session& session, PacketSource& source,
               os::VideoWindow* window)
      : options_(options),
        session_(session),
        source_(source),
        window_(window),
        feeder_(session.player(), options.port, source, kFilePoolBytes),
        pausesAtFirstFrame_(options.state == PLAYSTATE_PAUSE),
        rate_(pausesAtFirstFrame_ ? 1 : rateOf(options.state)),
        frameSeconds_(1 / source.info().framesPerSecond()) {}

  Ending run();

  std::int32_t snapshotResult() const { return snapshotResult_; }
  bool snapshotTaken() const { return snapshotTaken_; }
  const Feeder& feeder() const { return feeder_; }
  double rate() const { return rate_; }
  double secondsPlayed() const {
    return std::chrono::duration<double>(Clock::now() - started_).count();
  }
  std::uint32_t bytesWaiting() const { return lastWaiting_; }

 private:
  bool stepping() const { return options_.state == PLAYSTATE_ONE_BY_ONE; }
  void takeSnapshotIfDue(Clock::time_point now);
  void stepIfDue(Clock::time_point now);
  void pauseAtFirstFrame(Clock::time_point now, const std::optional<DecoderCounts>& counts);
  Clock::time_point nextWake(Clock::time_point now, Clock::time_point deadline) const;

  const Options& options_;
  Session& session_;
  PacketSource& source_;
  os::VideoWindow* window_;
  Feeder feeder_;
  FrameCounter counter_;
  PlaybackWatch watch_;
  bool pausesAtFirstFrame_;  // plays until a picture is on screen, then pauses
  double rate_;
  double frameSeconds_;
  Clock::time_point started_{};
  Clock::time_point snapshotAt_{};
  Clock::time_point nextStep_{};
  bool snapshotTaken_ = false;
  std::int32_t snapshotResult_ = SP_OK;
  bool drained_ = false;
  std::uint32_t lastWaiting_ = 0;
};

void FilePlayback::takeSnapshotIfDue(Clock::time_point now) {
  // A second in, halfway through a set duration, or once the whole file is
  // in the buffer (while frames are still to come).
  if (snapshotTaken_ || (now < snapshotAt_ && !feeder_.finished())) return;
  snapshotResult_ = session_.snapshot(options_.snapshot);
  snapshotTaken_ = true;
}

void FilePlayback::stepIfDue(Clock::time_point now) {
  if (!stepping() || now < nextStep_) return;
  session_.setState(PLAYSTATE_ONE_BY_ONE);
  feeder_.offerNext();
  nextStep_ = now + seconds(kSingleFrameInterval);
}

// A paused stream shows the picture it stopped at, as a user expects (and a
// snapshot of it is that picture): the stream plays until its first picture
// is on screen, then pauses.
void FilePlayback::pauseAtFirstFrame(Clock::time_point now,
                                     const std::optional<DecoderCounts>& counts) {
  if (!pausesAtFirstFrame_ || !counts || counts->framesShown == 0) return;
  pausesAtFirstFrame_ = false;
  session_.setState(PLAYSTATE_PAUSE);
  rate_ = 0;
  feeder_.setRate(0, now);
  watch_.expect(false, {}, now);
}

Clock::time_point FilePlayback::nextWake(Clock::time_point now, Clock::time_point deadline) const {
  auto wake = std::min(feeder_.nextWake(), deadline);
  if (!snapshotTaken_) wake = std::min(wake, snapshotAt_);
  if (stepping()) wake = std::min(wake, nextStep_);
  // The buffer and the frame count are looked at once per frame interval
  // while the stream moves; a paused stream is left alone.
  auto check = rate_ > 0 ? seconds(frameSeconds_ / rate_) : Clock::duration::max();
  check = std::min<Clock::duration>(check, window_ ? kWindowSleep : kLongestSleep);
  return std::min(wake, now + check);
}

Ending FilePlayback::run() {
  started_ = Clock::now();
  const bool holds = rateOf(options_.state) == 0;
  const double limit = options_.durationSeconds > 0 ? options_.durationSeconds
                       : holds                      ? kDefaultHeldSeconds
                                                    : 0;
  const auto deadline = limit > 0 ? started_ + seconds(limit) : Clock::time_point::max();
  snapshotAt_ = std::min(started_ + seconds(kSnapshotAfterSeconds),
                         limit > 0 ? started_ + seconds(limit / 2) : Clock::time_point::max());
  snapshotTaken_ = options_.snapshot.empty();
  nextStep_ = started_ + seconds(kSingleFrameInterval);
  feeder_.start(started_, kReadAheadSeconds);
  feeder_.setRate(rate_, started_);
  const double frameGap = rate_ > 0 ? frameSeconds_ / rate_ : 0;
  watch_.expect(rate_ > 0, seconds(std::max(kStallSeconds, 3 * frameGap)), started_);
  const auto lastFrameGap = seconds(std::max(kLastFrameGapSeconds, 3 * frameGap));

  for (;;) {
    const auto now = Clock::now();
    if (interrupted()) return Ending::Interrupted;
    if (now >= deadline) return Ending::TimeUp;
    feeder_.feedDue(now);
    if (window_ && !window_->pump()) return Ending::WindowClosed;
    takeSnapshotIfDue(now);
    stepIfDue(now);
    if (rate_ > 0) {
      const auto counts = counter_.read();
      pauseAtFirstFrame(now, counts);
      if (rate_ == 0) continue;  // just paused: nothing more to watch
      lastWaiting_ = feeder_.bytesWaiting(now);
      watch_.observe(now, counts ? std::optional<std::uint64_t>(counts->framesShown)
                                 : std::nullopt,
                     lastWaiting_);
      if (!drained_ && feeder_.drained(now)) {
        drained_ = true;
        watch_.expect(false, {}, now);  // the count of quiet time starts again
      }
      const bool allShown =
          !counts || (source_.blocksArePictures() && counts->framesShown >= feeder_.sent());
      if (drained_ && snapshotTaken_ && (allShown || watch_.quietFor(now) > lastFrameGap)) {
        return Ending::EndOfData;
      }
      if (watch_.stalled(now, lastWaiting_, !feeder_.finished())) return Ending::Stalled;
    }
    std::this_thread::sleep_until(nextWake(Clock::now(), deadline));
  }
}

// Says what went wrong, if anything; true when the run was clean.
bool judge(Ending ending, const FilePlayback& playback, const PacketSource& source,
           const Options& options, const std::optional<DecoderCounts>& counts) {
  bool clean = true;
  const std::string decoderError =
      counts && counts->lastError != 0 ? "; " + decoderErrorText(counts->lastError) : "";
  switch (ending) {
    case Ending::Stalled:
      std::printf("error: playback stalled: no frame shown for %.1f s while %u bytes wait to be"
                  " shown%s\n",
                  kStallSeconds, playback.bytesWaiting(), decoderError.c_str());
      clean = false;
      break;
    case Ending::Interrupted:
      std::printf("interrupted\n");
      clean = false;
      break;
    case Ending::WindowClosed:
      std::printf("the window was closed\n");
      break;
    case Ending::TimeUp:
    case Ending::EndOfData:
      break;
  }
  if (!source.error().empty()) {
    std::printf("error: %s: %s\n", options.input.c_str(), source.error().c_str());
    clean = false;
  } else if (playback.feeder().sent() == 0 && playback.feeder().exhausted()) {
    std::printf("error: %s holds no picture\n", options.input.c_str());
    clean = false;
  }
  if (counts && counts->packetsDamaged > 0) {
    std::printf("error: the decoder skipped %llu damaged packets%s\n",
                static_cast<unsigned long long>(counts->packetsDamaged), decoderError.c_str());
    clean = false;
  } else if (counts && counts->framesShown == 0 && playback.rate() > 0 &&
             playback.feeder().sent() > 0) {
    std::printf("error: no picture was shown%s\n", decoderError.c_str());
    clean = false;
  }
  if (playback.feeder().dropped() > 0) {
    std::printf("error: the player dropped %llu packets (last result %d)\n",
                static_cast<unsigned long long>(playback.feeder().dropped()),
                playback.feeder().lastFailure());
    clean = false;
  }
  if (playback.snapshotTaken() && playback.snapshotResult() != SP_OK) clean = false;
  return clean;
}

const char* endingText(Ending ending) {
  switch (ending) {
    case Ending::EndOfData: return "end of the data";
    case Ending::TimeUp: return "time up";
    case Ending::Stalled: return "stalled";
    case Ending::WindowClosed: return "window closed";
    case Ending::Interrupted: return "interrupted";
  }
  return "";
}

}  // namespace

int runPlay(const Options& options) {
  std::string error;
  std::unique_ptr<PacketSource> source = openFileSource(options.input, error);
  if (!source) {
    std::fprintf(stderr, "spdemo: %s\n", error.c_str());
    return 1;
  }
  const StreamInfo& info = source->info();
  std::printf("spdemo: %s, %s, %ux%u at %.3g fps, host port %d, %s\n", options.input.c_str(),
              source->contents().c_str(), info.width, info.height, info.framesPerSecond(),
              options.port, stateName(options.state).c_str());

  Session session;
  if (!session.start(options.configTraceDir)) return 1;
  std::unique_ptr<os::VideoWindow> window;
  if (options.window) {
    window = os::VideoWindow::open(info.width, info.height, "spdemo " + options.input, error);
    if (!window) std::printf("no window: %s\n", error.c_str());
  }
  if (session.open(window ? window->handle() : nullptr, options.port, 1, source->header()) !=
      SP_OK) {
    explainOpenFailure(*source);
    return 1;
  }
  session.setVolume(options.volume);
  if (options.state != PLAYSTATE_PLAY && options.state != PLAYSTATE_PAUSE) {
    session.setState(options.state);
  }

  FilePlayback playback(options, session, *source, window.get());
  const Ending ending = playback.run();
  const auto counts = FrameCounter().read();  // before the stream closes
  std::printf("played %.1f s (%s): frames shown %s, packets sent %llu, damaged packets"
              " skipped %s\n",
              playback.secondsPlayed(), endingText(ending),
              countText(counts ? std::optional<std::uint64_t>(counts->framesShown)
                               : std::nullopt)
                  .c_str(),
              static_cast<unsigned long long>(playback.feeder().sent()),
              countText(counts ? std::optional<std::uint64_t>(counts->packetsDamaged)
                               : std::nullopt)
                  .c_str());
  const bool clean = judge(ending, playback, *source, options, counts);
  session.finish();
  std::printf("logs: %s\n", session.logLocation().c_str());
  if (!options.snapshot.empty()) {
    printSnapshot(playback.snapshotTaken() && playback.snapshotResult() == SP_OK
                      ? options.snapshot
                      : std::string());
  }
  return clean ? 0 : 1;
}

}  // namespace spdemo
