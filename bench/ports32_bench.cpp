// 32 host ports, each playing a raw I420 CIF stream at 25 fps through the
// player and the stand-in, fed at real rate for 10 seconds without a window:
// process CPU time per second of video, and frames shown against frames fed.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <VdPlay.h>

#include <chrono>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "StandInSupport.h"
#include "Targets.h"

namespace {

constexpr int kPorts = 32;
constexpr std::uint32_t kSeconds = 10;

double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct Shown {
  std::uint32_t total = 0;
  std::uint32_t damaged = 0;
};

Shown FramesShown(ISinglePlayer* player, const std::vector<std::int32_t>& ports) {
  Shown shown;
  for (std::int32_t port : ports) {
    VdPlayStats stats{};
    if (VdPlayX_GetStats(bench::DecoderPortOf(player, port), &stats)) {
      shown.total += stats.framesDisplayed;
      shown.damaged += stats.packetsDamaged;
    }
  }
  return shown;
}

void BM_Ports32_Cif25_RealRate(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  ISinglePlayer* player = bench::InitialisedPlayer(0);
  std::vector<std::int32_t> ports;
  for (int i = 0; i < kPorts; ++i) ports.push_back(i);
  bench::OpenCifStreams(player, ports);
  const std::uint32_t framesPerPort = kSeconds * bench::kFps;
  bench::RealRateFeeder feeder(player, ports, framesPerPort);

  double cpuSeconds = 0;
  double wallSeconds = 0;
  Shown shown;
  std::uint32_t fedTotal = 0;
  for (auto _ : state) {
    const double cpu0 = ProcessCpuSeconds();
    const Clock::time_point t0 = Clock::now();
    feeder.Start();
    feeder.Join();
    for (std::uint32_t fed : feeder.FramesFed()) fedTotal += fed;
    // The last frames are still on their way to the screen: wait for them
    // (at most a second; frames still missing then count as lost).
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(1);
    while ((shown = FramesShown(player, ports)).total < fedTotal && Clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    wallSeconds = std::chrono::duration<double>(Clock::now() - t0).count();
    cpuSeconds = ProcessCpuSeconds() - cpu0;
  }
  bench::CloseStreams(player, ports);

  const double videoSeconds = kSeconds;
  state.counters["ports"] = kPorts;
  state.counters["wall_s"] = wallSeconds;
  state.counters["cpu_s"] = cpuSeconds;
  state.counters["cpu_s_per_video_s"] = cpuSeconds / videoSeconds;
  state.counters["frames_fed"] = fedTotal;
  state.counters["frames_shown"] = shown.total;
  state.counters["frames_lost"] = static_cast<double>(fedTotal) - shown.total;
  state.counters["refused"] = feeder.Refused();
  state.counters["damaged"] = shown.damaged;
  state.counters["feed_late_max_ms"] = feeder.WorstLatenessMs();
  state.counters["target_cpu_s_per_video_s"] = 0.035;
}
BENCHMARK(BM_Ports32_Cif25_RealRate)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

const bool kFigures =
    bench::AddFigure(
        {"32 ports, raw I420 CIF at 25 fps, real rate, 10 s: process CPU per second of video",
         "BM_Ports32_Cif25_RealRate", "",
         [](const bench::Run& run) { return bench::Counter(run, "cpu_s_per_video_s"); },
         [](const bench::Run& run) {
           return bench::Format("%.3f CPU-s per s (%.2f CPU-s over %.1f s)",
                                bench::Counter(run, "cpu_s_per_video_s"),
                                bench::Counter(run, "cpu_s"), bench::Counter(run, "wall_s"));
         },
         true, 0.035, "<= 0.035 CPU-s per s"}) &&
    bench::AddFigure(
        {"32 ports as above: frames shown against frames fed", "BM_Ports32_Cif25_RealRate", "",
         [](const bench::Run& run) {
           return bench::Counter(run, "frames_lost") + bench::Counter(run, "refused") +
                  bench::Counter(run, "damaged");
         },
         [](const bench::Run& run) {
           return bench::Format("%.0f shown of %.0f fed (%.0f lost, %.0f refused, %.0f damaged)",
                                bench::Counter(run, "frames_shown"),
                                bench::Counter(run, "frames_fed"),
                                bench::Counter(run, "frames_lost"), bench::Counter(run, "refused"),
                                bench::Counter(run, "damaged"));
         },
         true, 0.0, "none lost"});

}  // namespace
