// Play_GetPicture on a port of the stand-in playing a CIF stream: time from
// the call to its return, while playing at 25 fps, while paused, and while
// playing a 5 fps stream.
#include <benchmark/benchmark.h>

#include <chrono>
#include <random>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "StandInSupport.h"
#include "Targets.h"

namespace {

constexpr std::int32_t kHostPort = 0;
constexpr int kCaptures = 60;
constexpr double kTargetMedianMs = 5;

enum class Mode { Playing, Paused };

void MeasureCaptures(benchmark::State& state, std::uint32_t fps, Mode mode) {
  using Clock = std::chrono::steady_clock;
  ISinglePlayer* player = bench::InitialisedPlayer(0);
  const std::vector<std::int32_t> ports = {kHostPort};
  bench::OpenCifStreams(player, ports, fps);
  bench::RealRateFeeder feeder(player, ports, 0, fps);
  feeder.Start();
  // Let playback settle into its schedule (and show a few pictures).
  std::this_thread::sleep_for(std::chrono::milliseconds(300 + 2000 / fps));
  if (mode == Mode::Paused) player->Play_PlayState(kHostPort, PLAYSTATE_PAUSE);

  const std::string path = bench::SharedFolder().File("capture.bmp");
  // A host asks at any moment, not just after a frame was shown: a random
  // pause of up to one frame interval before each call spreads the calls
  // over the frame clock's phase.
  std::mt19937 random(12345);
  std::uniform_int_distribution<int> pauseUs(0, static_cast<int>(1000000 / fps));
  std::vector<double> latenciesMs;
  int failures = 0;
  for (auto _ : state) {
    for (int i = 0; i < kCaptures; ++i) {
      std::this_thread::sleep_for(std::chrono::microseconds(pauseUs(random)));
      const Clock::time_point t0 = Clock::now();
      const std::int32_t result = player->Play_GetPicture(kHostPort, path.c_str());
      const Clock::time_point t1 = Clock::now();
      if (result != SP_OK) ++failures;
      latenciesMs.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    }
  }
  feeder.Stop();
  bench::CloseStreams(player, ports);

  state.counters["captures"] = static_cast<double>(latenciesMs.size());
  state.counters["failed"] = failures;
  state.counters["median_ms"] = bench::Median(latenciesMs);
  state.counters["p10_ms"] = bench::Quantile(latenciesMs, 0.1);
  state.counters["p90_ms"] = bench::Quantile(latenciesMs, 0.9);
  state.counters["max_ms"] = bench::Quantile(latenciesMs, 1.0);
  state.counters["target_median_ms"] = kTargetMedianMs;
  if (failures != 0) state.SkipWithError("a capture failed");
}

void BM_GetPicture_25fps(benchmark::State& state) { MeasureCaptures(state, 25, Mode::Playing); }
void BM_GetPicture_Paused(benchmark::State& state) { MeasureCaptures(state, 25, Mode::Paused); }
void BM_GetPicture_5fps(benchmark::State& state) { MeasureCaptures(state, 5, Mode::Playing); }
BENCHMARK(BM_GetPicture_25fps)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetPicture_Paused)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetPicture_5fps)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

bool AddCaptureFigure(const char* what, const char* function) {
  return bench::AddFigure(
      {what, function, "", [](const bench::Run& run) { return bench::Counter(run, "median_ms"); },
       [](const bench::Run& run) {
         return bench::Format("median %.2f ms (p10 %.2f, p90 %.2f, max %.1f ms; %.0f captures)",
                              bench::Counter(run, "median_ms"), bench::Counter(run, "p10_ms"),
                              bench::Counter(run, "p90_ms"), bench::Counter(run, "max_ms"),
                              bench::Counter(run, "captures"));
       },
       true, kTargetMedianMs, "median <= 5 ms"});
}

const bool kFigures =
    AddCaptureFigure("Play_GetPicture on a playing 25 fps CIF stream of the stand-in, call to return",
                     "BM_GetPicture_25fps") &&
    AddCaptureFigure("Play_GetPicture on a paused CIF stream of the stand-in, call to return",
                     "BM_GetPicture_Paused") &&
    AddCaptureFigure("Play_GetPicture on a playing 5 fps CIF stream of the stand-in, call to return",
                     "BM_GetPicture_5fps");

}  // namespace
