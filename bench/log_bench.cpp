// One trace record through LogFile::WriteTrace beside the least a record can
// cost: open with "a+", write the same bytes, take the position, close.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "Targets.h"
#include "log/LogFile.h"
#include "player/PlayerTexts.h"

namespace {

// Files are removed after this many records, so their size stays bounded
// (and far below the rotation threshold, so no rotation is timed).
constexpr int kRecordsPerFile = 2000;

const std::string& Empty() {
  static const std::string empty;
  return empty;
}

struct LogSetup {
  bench::TempFolder folder{"log"};
  sp::LogFile log;
  std::string label = sp::texts::kTraceInputData.label;
  std::string name = sp::texts::kTraceInputData.name;
  std::string baselinePath;
  std::string record;  // the bytes of one trace record, as LogFile writes them

  LogSetup() {
    log.SetRuntimeLogPath(folder.File("runtime.log"));
    log.SetErrorLogPath(folder.File("error.log"));
    baselinePath = folder.File("baseline.log");
    // Take the baseline's bytes from a record LogFile really wrote.
    WriteOne();
    std::ifstream in(log.RuntimeLogPath(), std::ios::binary);
    record.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (record.empty()) throw std::runtime_error("LogFile wrote no record");
    RemoveFiles();
  }

  void WriteOne() const { log.WriteTrace(label, name, Empty(), Empty(), Empty(), Empty()); }

  // The baseline: the same file operations without formatting or locking.
  long WriteBaseline() const {
    std::FILE* file = std::fopen(baselinePath.c_str(), "a+");
    if (file == nullptr) return -1;
    std::fwrite(record.data(), 1, record.size(), file);
    const long position = std::ftell(file);
    std::fclose(file);
    return position;
  }

  void RemoveFiles() const {
    std::remove(log.RuntimeLogPath().c_str());
    std::remove(baselinePath.c_str());
  }
};

LogSetup& Setup() {
  static LogSetup setup;
  return setup;
}

void BM_TraceRecord_LogFile(benchmark::State& state) {
  LogSetup& s = Setup();
  int written = 0;
  for (auto _ : state) {
    s.WriteOne();
    if (++written == kRecordsPerFile) {
      state.PauseTiming();
      s.RemoveFiles();
      written = 0;
      state.ResumeTiming();
    }
  }
  s.RemoveFiles();
  state.counters["record_bytes"] = static_cast<double>(s.record.size());
}
BENCHMARK(BM_TraceRecord_LogFile)->Unit(benchmark::kMicrosecond);

void BM_TraceRecord_Baseline(benchmark::State& state) {
  LogSetup& s = Setup();
  int written = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(s.WriteBaseline());
    if (++written == kRecordsPerFile) {
      state.PauseTiming();
      s.RemoveFiles();
      written = 0;
      state.ResumeTiming();
    }
  }
  s.RemoveFiles();
}
BENCHMARK(BM_TraceRecord_Baseline)->Unit(benchmark::kMicrosecond);

// Both in alternating batches, so both see the same machine load and the
// same file sizes; the ratio of the batch medians is the figure.
void BM_TraceRecord_Ratio(benchmark::State& state) {
  constexpr int kBatch = 50;
  LogSetup& s = Setup();
  std::vector<double> logFile;
  std::vector<double> baseline;
  int written = 0;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < kBatch; ++i) s.WriteOne();
    auto t1 = std::chrono::steady_clock::now();
    for (int i = 0; i < kBatch; ++i) benchmark::DoNotOptimize(s.WriteBaseline());
    auto t2 = std::chrono::steady_clock::now();
    logFile.push_back(std::chrono::duration<double, std::nano>(t1 - t0).count() / kBatch);
    baseline.push_back(std::chrono::duration<double, std::nano>(t2 - t1).count() / kBatch);
    written += kBatch;
    if (written >= kRecordsPerFile) {
      s.RemoveFiles();
      written = 0;
    }
  }
  s.RemoveFiles();
  const double logNs = bench::Median(logFile);
  const double baseNs = bench::Median(baseline);
  state.counters["logfile_ns"] = logNs;
  state.counters["baseline_ns"] = baseNs;
  state.counters["ratio"] = baseNs > 0 ? logNs / baseNs : 0.0;
  state.counters["target_ratio"] = 1.15;
}
BENCHMARK(BM_TraceRecord_Ratio)->Iterations(400)->Unit(benchmark::kMillisecond);

const bool kFigures = bench::AddFigure(
    {"trace record through LogFile / open \"a+\", write, ftell, close", "BM_TraceRecord_Ratio", "",
     [](const bench::Run& run) { return bench::Counter(run, "ratio"); },
     [](const bench::Run& run) {
       return bench::Format("ratio %.3f (LogFile %.2f us, baseline %.2f us)",
                            bench::Counter(run, "ratio"), bench::Counter(run, "logfile_ns") / 1000,
                            bench::Counter(run, "baseline_ns") / 1000);
     },
     true, 1.15, "<= 1.15"});

}  // namespace
