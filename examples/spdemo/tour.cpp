// The tour: a generated moving test pattern, fed live at its frame rate,
// through normal play, fast, slow, pause, single frames and normal again,
// with a snapshot on the way.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <thread>

#include "commands.h"
#include "feeder.h"
#include "frame_counter.h"
#include "session.h"

namespace spdemo {
namespace {

constexpr std::uint32_t kWidth = 352;
constexpr std::uint32_t kHeight = 288;
constexpr std::uint32_t kFps = 25;
constexpr double kDefaultSeconds = 4;
// A live host keeps a tenth of the stream's length (at most half a second)
// ahead of the clock, so that a fast state has frames to show and packets are
// still left for the single frames.
constexpr double kLeadShare = 0.1;
constexpr double kLongestLead = 0.5;
constexpr int kSingleFrames = 5;
constexpr double kSingleFramePause = 0.15;

struct Phase {
  std::int32_t state;
  double share;  // of the stream's duration
};

// Normal play, fast, slow and pause take 70% of the stream's time; the rest
// is single frames and normal play to the end.
constexpr Phase kPhases[] = {{PLAYSTATE_PLAY, 0.25},
                             {PLAYSTATE_FAST1, 0.15},
                             {PLAYSTATE_SLOW1, 0.20},
                             {PLAYSTATE_PAUSE, 0.10}};

std::optional<std::uint64_t> shownCount(const FrameCounter& counter) {
  const auto counts = counter.read();
  if (!counts) return std::nullopt;
  return counts->framesShown;
}

std::optional<std::uint64_t> difference(const std::optional<std::uint64_t>& later,
                                        const std::optional<std::uint64_t>& earlier) {
  if (!later || !earlier) return std::nullopt;
  return *later - *earlier;
}

void printPhase(double seconds, const FrameCounter& counter,
                const std::optional<std::uint64_t>& shownBefore, const Feeder& feeder,
                std::uint64_t sentBefore) {
  std::printf("      %.2f s: frames shown %s, packets sent %llu\n", seconds,
              countText(difference(shownCount(counter), shownBefore)).c_str(),
              static_cast<unsigned long long>(feeder.sent() - sentBefore));
}

}  // namespace

int runTour(const Options& options) {
  const double seconds = options.durationSeconds > 0 ? options.durationSeconds : kDefaultSeconds;
  // At least ten frames, so that every phase has some.
  const auto frames =
      std::max<std::uint32_t>(10, static_cast<std::uint32_t>(std::lround(seconds * kFps)));
  const std::string snapshotPath =
      options.snapshot.empty() ? "spdemo-snapshot.bmp" : options.snapshot;
  std::printf("spdemo: test pattern %ux%u, %u fps, %u frames (%.1f s) on host port %d\n", kWidth,
              kHeight, kFps, frames, seconds, options.port);

  auto source = makePatternSource(kWidth, kHeight, kFps, frames);
  Session session;
  if (!session.start(options.configTraceDir)) return 1;

  std::unique_ptr<os::VideoWindow> window;
  if (options.window) {
    std::string error;
    window = os::VideoWindow::open(kWidth, kHeight, "spdemo test pattern", error);
    if (!window) std::printf("no window: %s\n", error.c_str());
  }
  if (session.open(window ? window->handle() : nullptr, options.port, 0, source->header()) !=
      SP_OK) {
    return 1;
  }

  FrameCounter counter;
  Feeder feeder(session.player(), options.port, *source, kLivePoolBytes);
  feeder.start(Feeder::Clock::now(), std::min(kLongestLead, kLeadShare * seconds));
  os::VideoWindow* view = window.get();
  bool open = true;

  std::int32_t snapshotResult = SP_ERR_DECODER_UNKNOWN;
  for (const Phase& phase : kPhases) {
    const auto shownBefore = shownCount(counter);
    const std::uint64_t sentBefore = feeder.sent();
    const auto phaseStart = Feeder::Clock::now();
    const auto phaseEnd = phaseStart + spdemo::seconds(phase.share * seconds);
    session.setState(phase.state);
    if (phase.state == PLAYSTATE_PLAY) {
      // The snapshot halfway through normal play, while frames come steadily.
      open = open && feedUntil(feeder, view, phaseStart + (phaseEnd - phaseStart) / 2);
      snapshotResult = session.snapshot(snapshotPath);
    }
    open = open && feedUntil(feeder, view, phaseEnd);
    printPhase(phase.share * seconds, counter, shownBefore, feeder, sentBefore);
  }

  // Stepping: the first request shows a frame and admits no data; each
  // further one shows a frame and admits one block.
  const auto shownBeforeSteps = shownCount(counter);
  const std::uint64_t sentBeforeSteps = feeder.sent();
  for (int step = 0; step < kSingleFrames && open; ++step) {
    session.setState(PLAYSTATE_ONE_BY_ONE);
    if (feeder.finished()) continue;  // every packet is in already
    const std::int32_t input = feeder.offerNext();
    report("Play_InputData(port " + std::to_string(options.port) + ", next packet)", input,
           input == SP_ERR_STEPPING ? "held back: no single-frame permit yet"
           : input == SP_OK         ? "one block admitted"
                                    : resultText(input));
    const auto until = Feeder::Clock::now() + spdemo::seconds(kSingleFramePause);
    while (Feeder::Clock::now() < until && open) {
      open = !view || view->pump();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  printPhase(kSingleFrames * kSingleFramePause, counter, shownBeforeSteps, feeder,
             sentBeforeSteps);

  // Normal play to the end of the stream.
  const auto shownBeforeEnd = shownCount(counter);
  const std::uint64_t sentBeforeEnd = feeder.sent();
  const auto endStart = Feeder::Clock::now();
  session.setState(PLAYSTATE_PLAY);
  const double drainLimit =
      static_cast<double>(frames - std::min<std::uint64_t>(frames, feeder.sent())) / kFps + 2;
  open = open && feedUntil(feeder, view, Feeder::Clock::now() + spdemo::seconds(drainLimit),
                           [&] { return feeder.drained(Feeder::Clock::now()); });
  printPhase(std::chrono::duration<double>(Feeder::Clock::now() - endStart).count(), counter,
             shownBeforeEnd, feeder, sentBeforeEnd);

  const auto totals = counter.read();
  std::printf("frames shown %s of %llu sent (%s), packets dropped %llu\n",
              countText(totals ? std::optional<std::uint64_t>(totals->framesShown)
                               : std::nullopt)
                  .c_str(),
              static_cast<unsigned long long>(feeder.sent()),
              counter.available() ? "from VdPlayX_GetStats" : "the decoder has no counters",
              static_cast<unsigned long long>(feeder.dropped()));
  session.finish();

  std::printf("logs: %s\n", session.logLocation().c_str());
  printSnapshot(snapshotResult == SP_OK ? snapshotPath : std::string());
  return snapshotResult == SP_OK && feeder.dropped() == 0 ? 0 : 1;
}

}  // namespace spdemo
