// Play_InputData on a playing port at debug level 0, against the do-nothing
// decoder, beside a direct call of that decoder function: what the player
// adds to every block of data a host pushes.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "BenchSupport.h"
#include "NullDecoder.h"
#include "Targets.h"
#include "player/VdPlayApi.h"

namespace {

constexpr int32_t kHostPort = 7;
constexpr uint32_t kBlockBytes = 4096;

using InputFn = VdBool(VDPLAY_CALL*)(VdLong, std::uint8_t*, VdDword);

// The player at debug level 0 with kHostPort playing (the null decoder
// accepts any header).
ISinglePlayer* PlayingPlayer() {
  static ISinglePlayer* player = [] {
    ISinglePlayer* p = bench::InitialisedPlayer(0);
    std::vector<uint8_t> header(40, 0);
    if (p->Play_SetOpenMode(kHostPort, 0) != SP_OK ||
        p->Play_OpenStream(nullptr, kHostPort, header.data(), 40, 0) != SP_OK) {
      throw std::runtime_error("cannot start the benchmark port");
    }
    int32_t state = 0;
    if (p->Play_GetPlayState(kHostPort, &state) != SP_OK || state != PLAYSTATE_PLAY) {
      throw std::runtime_error("the benchmark port is not playing");
    }
    return p;
  }();
  return player;
}

std::vector<uint8_t>& Block() {
  static std::vector<uint8_t> block(kBlockBytes, 0x5a);
  return block;
}

void BM_InputData_Direct(benchmark::State& state) {
  // Called through a volatile pointer so the compiler cannot see the target.
  InputFn volatile input = &VdPlay_InputData;
  uint8_t* data = Block().data();
  for (auto _ : state) {
    benchmark::DoNotOptimize(input(3, data, kBlockBytes));
  }
}
BENCHMARK(BM_InputData_Direct);

void BM_InputData_Player(benchmark::State& state) {
  ISinglePlayer* volatile player = PlayingPlayer();
  uint8_t* data = Block().data();
  const uint64_t before = bench::nullDecoderBytesTaken;
  for (auto _ : state) {
    benchmark::DoNotOptimize(player->Play_InputData(kHostPort, data, kBlockBytes, 0));
  }
  // Every call must have reached the decoder, or the figure means nothing.
  if (bench::nullDecoderBytesTaken - before !=
      static_cast<uint64_t>(state.iterations()) * kBlockBytes) {
    state.SkipWithError("calls did not reach the decoder");
  }
}
BENCHMARK(BM_InputData_Player);

// Both paths in alternating batches, so that both see the same machine load;
// the medians of the per-call times of the batches give the overhead.
void BM_InputData_Overhead(benchmark::State& state) {
  constexpr int kCallsPerBatch = 1000;
  InputFn volatile input = &VdPlay_InputData;
  ISinglePlayer* volatile player = PlayingPlayer();
  uint8_t* data = Block().data();
  std::vector<double> direct;
  std::vector<double> viaPlayer;
  direct.reserve(static_cast<size_t>(state.max_iterations));
  viaPlayer.reserve(static_cast<size_t>(state.max_iterations));
  const uint64_t before = bench::nullDecoderBytesTaken;

  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < kCallsPerBatch; ++i) {
      benchmark::DoNotOptimize(input(3, data, kBlockBytes));
    }
    auto t1 = std::chrono::steady_clock::now();
    for (int i = 0; i < kCallsPerBatch; ++i) {
      benchmark::DoNotOptimize(player->Play_InputData(kHostPort, data, kBlockBytes, 0));
    }
    auto t2 = std::chrono::steady_clock::now();
    direct.push_back(std::chrono::duration<double, std::nano>(t1 - t0).count() / kCallsPerBatch);
    viaPlayer.push_back(std::chrono::duration<double, std::nano>(t2 - t1).count() /
                        kCallsPerBatch);
  }
  // Both paths hand every block to the decoder, or the figure means nothing.
  const uint64_t expected =
      2 * static_cast<uint64_t>(state.iterations()) * kCallsPerBatch * kBlockBytes;
  if (bench::nullDecoderBytesTaken - before != expected) {
    state.SkipWithError("calls did not reach the decoder");
  }

  const double directNs = bench::Median(direct);
  const double playerNs = bench::Median(viaPlayer);
  state.counters["direct_ns"] = directNs;
  state.counters["player_ns"] = playerNs;
  state.counters["overhead_ns"] = playerNs - directNs;
  state.counters["ratio"] = directNs > 0 ? playerNs / directNs : 0.0;
  state.counters["target_overhead_ns"] = 10;
}
BENCHMARK(BM_InputData_Overhead)->Iterations(20000)->Unit(benchmark::kMicrosecond);

const bool kFigures = bench::AddFigure(
    {"Play_InputData overhead per call (debug level 0, decoder returns at once)",
     "BM_InputData_Overhead", "",
     [](const bench::Run& run) { return bench::Counter(run, "overhead_ns"); },
     [](const bench::Run& run) {
       return bench::Format("%.1f ns (player %.1f ns, direct call %.1f ns, ratio %.2f)",
                            bench::Counter(run, "overhead_ns"), bench::Counter(run, "player_ns"),
                            bench::Counter(run, "direct_ns"), bench::Counter(run, "ratio"));
     },
     true, 10.0, "<= 10 ns"});

}  // namespace
