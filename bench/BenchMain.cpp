// main() of the benchmark programs: runs the benchmarks as Google Benchmark's
// own main does, then prints the registered figures as markdown table rows
// (target, figure, limit, pass/fail) and, with --sp_summary=FILE, appends the
// rows to FILE; --sp_short makes the long benchmarks short (bench::ShortRun).
// Exits with 1 when a figure misses its target or its
// benchmark failed.
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <vector>

#include "Targets.h"

namespace bench {
namespace {

bool g_shortRun = false;

std::vector<Figure>& Figures() {
  static std::vector<Figure> figures;
  return figures;
}

std::string Key(const std::string& function, const std::string& args) {
  return function + "/" + args;
}

// The console output of Google Benchmark, keeping the runs for the figures.
class KeepingReporter : public benchmark::ConsoleReporter {
 public:
  explicit KeepingReporter(OutputOptions options) : ConsoleReporter(options) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      const std::string key = Key(run.run_name.function_name, run.run_name.args);
      // With repetitions, the median stands for the benchmark.
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
      if (run.run_type == Run::RT_Iteration && medians_.count(key) != 0) continue;
      if (run.run_type == Run::RT_Aggregate) medians_[key] = true;
      kept_[key] = run;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  const Run* Find(const std::string& key) const {
    auto it = kept_.find(key);
    return it == kept_.end() ? nullptr : &it->second;
  }

 private:
  std::map<std::string, Run> kept_;
  std::map<std::string, bool> medians_;
};

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '|') out += '\\';
    out += c;
  }
  return out;
}

}  // namespace

bool ShortRun() { return g_shortRun; }

bool AddFigure(Figure figure) {
  Figures().push_back(std::move(figure));
  return true;
}

double Counter(const Run& run, const std::string& name) {
  auto it = run.counters.find(name);
  return it == run.counters.end() ? 0.0 : it->second.value;
}

std::string TimePerIteration(const Run& run) {
  const char* unit = benchmark::GetTimeUnitString(run.time_unit);
  return Format("%.3g %s (CPU %.3g %s)", run.GetAdjustedRealTime(), unit, run.GetAdjustedCPUTime(),
                unit);
}

std::string Format(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

}  // namespace bench

int main(int argc, char** argv) {
  std::string summaryPath;
  std::vector<char*> rest;
  for (int i = 0; i < argc; ++i) {
    const char prefix[] = "--sp_summary=";
    if (std::strncmp(argv[i], prefix, sizeof prefix - 1) == 0) {
      summaryPath = argv[i] + sizeof prefix - 1;
    } else if (std::strcmp(argv[i], "--sp_short") == 0) {
      bench::g_shortRun = true;
    } else {
      rest.push_back(argv[i]);
    }
  }
  int restCount = static_cast<int>(rest.size());
  benchmark::Initialize(&restCount, rest.data());
  if (benchmark::ReportUnrecognizedArguments(restCount, rest.data())) return 1;

  bench::KeepingReporter reporter(isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_Color
                                                        : benchmark::ConsoleReporter::OO_None);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  std::string rows;
  bool allMet = true;
  for (const bench::Figure& figure : bench::Figures()) {
    const bench::Run* run = reporter.Find(bench::Key(figure.function, figure.args));
    if (run == nullptr) continue;  // filtered out
    std::string figureText;
    std::string verdict;
    if (run->error_occurred) {
      figureText = "error: " + run->error_message;
      verdict = "FAIL";
    } else {
      figureText = figure.describe(*run);
      if (figure.hasLimit) {
        verdict = figure.value(*run) <= figure.limit ? "pass" : "FAIL";
      } else {
        verdict = "info";
      }
    }
    if (verdict == "FAIL") allMet = false;
    rows += "| " + bench::Escape(figure.what) + " | " + bench::Escape(figureText) + " | " +
            (figure.hasLimit ? bench::Escape(figure.limitText) : "-") + " | " + verdict + " |\n";
  }
  std::cout << "\n| measured | figure | target | result |\n|---|---|---|---|\n" << rows;
  if (!summaryPath.empty()) {
    std::ofstream out(summaryPath, std::ios::app);
    out << rows;
  }
  return allMet ? 0 : 1;
}
