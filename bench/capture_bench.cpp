// Play_GetPicture on a port of the stand-in that plays a 25 fps CIF stream:
// time from the call to its return.
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

void BM_GetPicture_25fps(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  ISinglePlayer* player = bench::InitialisedPlayer(0);
  const std::vector<std::int32_t> ports = {kHostPort};
  bench::OpenCifStreams(player, ports);
  bench::RealRateFeeder feeder(player, ports, 0);
  feeder.Start();
  // Let playback settle into its schedule.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));

  const std::string path = bench::SharedFolder().File("capture.bmp");
  // A host asks at any moment, not just after a frame was shown: a random
  // pause of up to one frame interval before each call spreads the calls
  // over the frame clock's phase.
  std::mt19937 random(12345);
  std::uniform_int_distribution<int> pauseUs(0, 1000000 / bench::kFps);
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
  state.counters["target_median_ms"] = 25;
  if (failures != 0) state.SkipWithError("a capture failed");
}
BENCHMARK(BM_GetPicture_25fps)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

const bool kFigures = bench::AddFigure(
    {"Play_GetPicture on a 25 fps CIF stream of the stand-in, call to return", "BM_GetPicture_25fps",
     "", [](const bench::Run& run) { return bench::Counter(run, "median_ms"); },
     [](const bench::Run& run) {
       return bench::Format("median %.1f ms (p10 %.1f, p90 %.1f, max %.1f ms; %.0f captures)",
                            bench::Counter(run, "median_ms"), bench::Counter(run, "p10_ms"),
                            bench::Counter(run, "p90_ms"), bench::Counter(run, "max_ms"),
                            bench::Counter(run, "captures"));
     },
     true, 25.0, "median <= 25 ms"});

}  // namespace
