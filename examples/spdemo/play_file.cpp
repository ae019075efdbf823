// play FILE: a stream file or a .y4m file through one host port, in the
// requested play state. A file is fed as fast as the decoder's buffer takes
// it; the decoder paces the display.
#include <VdStreamFormat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include "commands.h"
#include "feeder.h"
#include "frame_counter.h"
#include "session.h"

namespace spdemo {
namespace {

// Paused or stepping playback never ends by itself.
constexpr double kDefaultHeldSeconds = 5;
constexpr double kSnapshotAfterSeconds = 1;
constexpr double kSingleFrameInterval = 0.5;

void explainOpenFailure(const StreamInfo& info) {
  const std::size_t needed = vdstream::minPoolBytes(info.width, info.height);
  if (needed > kFilePoolBytes) {
    std::printf("pictures of %ux%u need a decoder buffer of %zu bytes; the player gives %u\n",
                info.width, info.height, needed, kFilePoolBytes);
  }
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
  const bool holds = options.state == PLAYSTATE_PAUSE || options.state == PLAYSTATE_ONE_BY_ONE;
  const double limit = options.durationSeconds > 0 ? options.durationSeconds
                       : holds                     ? kDefaultHeldSeconds
                                                   : 24 * 3600.0;
  std::printf("spdemo: %s, %ux%u at %.3g fps, host port %d, %s\n", options.input.c_str(),
              info.width, info.height, info.framesPerSecond(), options.port,
              stateName(options.state).c_str());

  Session session;
  if (!session.start(options.configTraceDir)) return 1;
  std::unique_ptr<os::VideoWindow> window;
  if (options.window) {
    window = os::VideoWindow::open(info.width, info.height, "spdemo " + options.input, error);
    if (!window) std::printf("no window: %s\n", error.c_str());
  }
  if (session.open(window ? window->handle() : nullptr, options.port, 1, source->header()) !=
      SP_OK) {
    explainOpenFailure(info);
    return 1;
  }
  if (options.state != PLAYSTATE_PLAY) session.setState(options.state);

  FrameCounter counter;
  Feeder feeder(session.player(), options.port, *source, kFilePoolBytes);
  feeder.start(Feeder::Clock::now(), -1);
  os::VideoWindow* view = window.get();
  const auto started = Feeder::Clock::now();
  const auto deadline = started + seconds(limit);
  auto nextStep = started + seconds(kSingleFrameInterval);
  bool snapshotTaken = options.snapshot.empty();
  std::int32_t snapshotResult = SP_OK;

  bool open = true;
  while (open && !feeder.drained() && Feeder::Clock::now() < deadline) {
    // The snapshot comes a second in, halfway through a set duration, or
    // once the whole file is in the buffer (while frames are still to come).
    const auto snapshotAt = std::min(started + seconds(kSnapshotAfterSeconds),
                                     started + (deadline - started) / 2);
    open = feedUntil(feeder, view, std::min({deadline, snapshotAt, nextStep}), [&] {
      return (!snapshotTaken && feeder.finished()) || feeder.drained();
    });
    const auto now = Feeder::Clock::now();
    if (!snapshotTaken && (now >= snapshotAt || feeder.finished())) {
      snapshotResult = session.snapshot(options.snapshot);
      snapshotTaken = true;
    }
    if (options.state == PLAYSTATE_ONE_BY_ONE && now >= nextStep) {
      session.setState(PLAYSTATE_ONE_BY_ONE);
      feeder.offerNext();
      nextStep = now + seconds(kSingleFrameInterval);
    } else if (now >= nextStep) {
      nextStep = now + seconds(kSingleFrameInterval);
    }
  }
  if (!source->error().empty()) std::printf("input: %s\n", source->error().c_str());

  const auto counts = counter.read();
  std::printf("played %.1f s: frames shown %s, packets sent %llu, damaged packets skipped %s\n",
              std::chrono::duration<double>(Feeder::Clock::now() - started).count(),
              countText(counts ? std::optional<std::uint64_t>(counts->framesShown)
                               : std::nullopt)
                  .c_str(),
              static_cast<unsigned long long>(feeder.sent()),
              countText(counts ? std::optional<std::uint64_t>(counts->packetsDamaged)
                               : std::nullopt)
                  .c_str());
  if (feeder.dropped() > 0) {
    std::printf("packets dropped: %llu (last result %d)\n",
                static_cast<unsigned long long>(feeder.dropped()), feeder.lastFailure());
  }
  session.finish();
  std::printf("logs: %s\n", session.logLocation().c_str());
  if (!options.snapshot.empty()) {
    printSnapshot(snapshotTaken && snapshotResult == SP_OK ? options.snapshot : std::string());
  }
  return snapshotResult == SP_OK && source->error().empty() ? 0 : 1;
}

}  // namespace spdemo
