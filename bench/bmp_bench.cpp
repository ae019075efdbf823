// VdPLay_ConvertToBmpFile on a 1920x1080 I420 picture: the whole call into a
// file, and into /dev/null, where writing costs next to nothing, so that
// figure is the conversion and the call's own work.
#include <benchmark/benchmark.h>

#include <VdPlay.h>
#include <VdStreamFormat.h>

#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "Targets.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

// Random samples: every pixel differs from its neighbours, as in a noisy
// camera picture, so no branch of a converter is predictable.
std::vector<char> NoisePicture() {
  std::vector<char> picture(vdstream::pictureBytes(kWidth, kHeight));
  std::mt19937 random(2024);
  std::uniform_int_distribution<int> sample(0, 255);
  for (char& byte : picture) byte = static_cast<char>(sample(random));
  return picture;
}

void ConvertInto(benchmark::State& state, const std::string& path) {
  std::vector<char> picture = NoisePicture();
  std::vector<char> target(path.begin(), path.end());
  target.push_back('\0');
  std::vector<double> callsMs;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    const VdBool ok = VdPLay_ConvertToBmpFile(picture.data(), static_cast<VdLong>(picture.size()),
                                              kWidth, kHeight, VDPLAY_FRAME_I420, target.data());
    callsMs.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    if (!ok) {
      state.SkipWithError("VdPLay_ConvertToBmpFile failed");
      break;
    }
  }
  state.counters["median_ms"] = bench::Median(callsMs);
}

void BM_ConvertToBmp_1080p_File(benchmark::State& state) {
  ConvertInto(state, bench::SharedFolder().File("convert1080.bmp"));
}
void BM_ConvertToBmp_1080p_DevNull(benchmark::State& state) { ConvertInto(state, "/dev/null"); }
BENCHMARK(BM_ConvertToBmp_1080p_File)->Iterations(60)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConvertToBmp_1080p_DevNull)
    ->Iterations(60)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

const bool kFigures =
    bench::AddFigure(bench::Info(
        "VdPLay_ConvertToBmpFile, 1920x1080 I420 to a 24-bit BMP file", "BM_ConvertToBmp_1080p_File",
        "",
        [](const bench::Run& run) {
          return bench::Format("median %.2f ms", bench::Counter(run, "median_ms"));
        })) &&
    bench::AddFigure(bench::Info(
        "VdPLay_ConvertToBmpFile as above into /dev/null (the conversion without the file)",
        "BM_ConvertToBmp_1080p_DevNull", "", [](const bench::Run& run) {
          return bench::Format("median %.2f ms", bench::Counter(run, "median_ms"));
        }));

}  // namespace
