// The configuration reader over a 2,000-line file, and Play_Init as a whole.
#include <benchmark/benchmark.h>

#include <fstream>
#include <stdexcept>
#include <string>

#include "BenchSupport.h"
#include "Targets.h"
#include "config/ConfigFile.h"

namespace {

constexpr int kLines = 2000;

// A file of kLines lines: the section header first, then entries, the wanted
// key on the last line, so the reader scans the whole file.
struct LongConfig {
  bench::TempFolder folder{"config"};
  std::string path = folder.File("long.cfg");
  LongConfig() {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << "[GLOBAL]\n";
    for (int i = 1; i < kLines - 1; ++i) {
      if (i % 50 == 0) {
        out << "# comment line " << i << "\n";
      } else {
        out << "[KEY_" << i << "][value of entry number " << i << "]\n";
      }
    }
    out << "[WANTED][d:/player/trace/]\n";
    if (!out) throw std::runtime_error("cannot write the configuration file");
  }
};

void BM_ReadConfigValue_LastOf2000(benchmark::State& state) {
  static LongConfig config;
  sp::ConfigFile reader;
  std::string value;
  for (auto _ : state) {
    value.clear();
    if (reader.ReadConfigValue(config.path, "GLOBAL", "WANTED", value) != 0) {
      state.SkipWithError("key not found");
      break;
    }
    benchmark::DoNotOptimize(value.data());
  }
  if (value != "d:/player/trace/") state.SkipWithError("wrong value read");
  state.counters["lines"] = kLines;
}
BENCHMARK(BM_ReadConfigValue_LastOf2000)->Unit(benchmark::kMicrosecond);

// Play_Init reads the trace folder and the debug level and makes sure the
// folder exists. Argument: lines of other entries before the [GLOBAL] section.
void BM_PlayInit(benchmark::State& state) {
  ISinglePlayer* player = bench::InitialisedPlayer(0);
  bench::WritePlayerConfig(0, static_cast<int>(state.range(0)));
  for (auto _ : state) {
    if (player->Play_Init(0) != SP_OK) {
      state.SkipWithError("Play_Init failed");
      break;
    }
  }
  bench::WritePlayerConfig(0);
  state.counters["config_lines"] = static_cast<double>(state.range(0) + 3);
}
BENCHMARK(BM_PlayInit)->Arg(0)->Arg(kLines - 3)->Unit(benchmark::kMicrosecond);

std::string PerCall(const bench::Run& run) { return bench::TimePerIteration(run) + " per call"; }

const bool kFigures =
    bench::AddFigure(bench::Info("ReadConfigValue, key on the last of 2,000 lines",
                                 "BM_ReadConfigValue_LastOf2000", "",
                                 [](const bench::Run& run) {
                                   return PerCall(run) +
                                          bench::Format(" (%.0f ns per line)",
                                                        run.GetAdjustedRealTime() * 1000 / kLines);
                                 })) &&
    bench::AddFigure(bench::Info("Play_Init, 3-line configuration", "BM_PlayInit", "0", PerCall)) &&
    bench::AddFigure(bench::Info("Play_Init, [GLOBAL] after 1,997 other lines", "BM_PlayInit",
                                 std::to_string(kLines - 3), PerCall));

}  // namespace
