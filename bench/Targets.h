// The figures each benchmark program reports at its end, with their targets.
// A benchmark file registers its figures beside its benchmarks; BenchMain.cpp
// collects the runs and prints one markdown table row per figure.
#pragma once

#include <benchmark/benchmark.h>

#include <functional>
#include <string>

namespace bench {

using Run = benchmark::BenchmarkReporter::Run;

struct Figure {
  std::string what;          // what is measured, for the table
  std::string function;      // the benchmark function, e.g. "BM_PlayInit"
  std::string args;          // its arguments as in the run name ("" for none), e.g. "0"
  // The checked value, and its text in the table (with its unit).
  std::function<double(const Run&)> value;
  std::function<std::string(const Run&)> describe;
  // Upper limit; figures without one are reported for information.
  bool hasLimit = false;
  double limit = 0;
  std::string limitText;
};

// Registers a figure; returns true so it can initialise a static.
bool AddFigure(Figure figure);

// A figure reported for information, without a target.
inline Figure Info(std::string what, std::string function, std::string args,
                   std::function<std::string(const Run&)> describe) {
  Figure figure;
  figure.what = std::move(what);
  figure.function = std::move(function);
  figure.args = std::move(args);
  figure.value = [](const Run&) { return 0.0; };
  figure.describe = std::move(describe);
  return figure;
}

// True with --sp_short on the command line: the benchmarks that take a minute
// measure a few seconds instead, for quick tries (their figures are then
// not the committed ones).
bool ShortRun();

// A counter of the run, 0 when it has none.
double Counter(const Run& run, const std::string& name);
// Wall and CPU time of one iteration in the run's time unit, as text.
std::string TimePerIteration(const Run& run);
// printf-style formatting into a std::string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace bench
