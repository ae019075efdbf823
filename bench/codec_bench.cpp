// H.264 through the player and the stand-in, with clips encoded at run time
// by the ffmpeg command: decoding cost at 1080p25 beside FFmpeg's own
// single-threaded decode of the same access units, 32 CIF ports and 16
// camera-like 1080p ports at real rate (pictures lost, CPU against FFmpeg,
// memory per 1080p port), and Play_GetPicture on a playing 1080p stream.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <VdPlay.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "CodecClips.h"
#include "CpuTime.h"
#include "FfmpegDecoder.h"
#include "StandInSupport.h"
#include "Targets.h"

namespace {

using Clock = std::chrono::steady_clock;
using sp_test::Clip;
using sp_test::ClipRecipe;

constexpr std::uint32_t kFps = 25;
constexpr std::uint32_t kRealRateSeconds = 10;

using bench::ProcessCpuSeconds;
using bench::ResidentMb;
using bench::ThreadCpuSeconds;

// The benchmarks need only the access units, not FFmpeg's reference pictures.
const Clip& MadeClip(ClipRecipe recipe) {
  recipe.decodeReference = false;
  const Clip& clip = sp_test::MakeClip(recipe);
  if (clip.units.empty()) throw std::runtime_error("the ffmpeg command could not make a clip");
  return clip;
}

const Clip& H264Clip(std::uint32_t width, std::uint32_t height, std::uint32_t frames) {
  ClipRecipe recipe;
  recipe.width = width;
  recipe.height = height;
  recipe.fps = kFps;
  recipe.frames = frames;
  recipe.gop = 50;
  return MadeClip(recipe);
}

// What a camera sends: 1080p25 with sensor noise (temporal noise over the
// moving pattern) at a constant 4 Mbit/s, no B-pictures, a key picture every
// 2 s; 10 s of it.
const Clip& CameraClip() {
  ClipRecipe recipe;
  recipe.width = 1920;
  recipe.height = 1080;
  recipe.fps = kFps;
  recipe.frames = kRealRateSeconds * kFps;
  recipe.bFrames = 0;
  recipe.gop = 50;
  recipe.bitrateKbps = 4000;
  recipe.filter = "noise=alls=8:allf=t+u";
  return MadeClip(recipe);
}

// Where in the clip each of `streams` streams starts: cameras are not in
// step, so they start at the clip's key pictures in turn.
std::vector<std::size_t> StaggeredStarts(const Clip& clip, int streams) {
  std::vector<std::size_t> keys;
  for (std::size_t i = 0; i < clip.units.size(); ++i) {
    if (clip.units[i].key) keys.push_back(i);
  }
  std::vector<std::size_t> starts;
  for (int i = 0; i < streams; ++i) starts.push_back(keys[i % keys.size()]);
  return starts;
}

void OpenClip(ISinglePlayer* player, std::int32_t port, const Clip& clip) {
  std::vector<std::uint8_t> header = clip.Header();
  if (player->Play_SetOpenMode(port, 0) != SP_OK ||
      player->Play_OpenStream(nullptr, port, header.data(),
                              static_cast<std::uint32_t>(header.size()), 0) != SP_OK) {
    throw std::runtime_error("cannot open an H.264 stream on host port " + std::to_string(port));
  }
}

// Feeds every port one access unit of the clip per frame interval, the clip
// over and over, on a fixed schedule, for `frames` frames per port. Port i
// starts at unit starts[i] (all at the first when none are given).
class ClipFeeder {
 public:
  ClipFeeder(ISinglePlayer* player, std::vector<std::int32_t> ports, const Clip& clip,
             std::uint32_t frames, std::vector<std::size_t> starts = {})
      : player_(player), ports_(std::move(ports)), frames_(frames), starts_(std::move(starts)) {
    starts_.resize(ports_.size(), 0);
    const auto type = vdstream::Payload::H264;
    for (const sp_test::AccessUnit& unit : clip.units) {
      packets_.push_back(vdstream::makePacket(unit.data.data(), unit.data.size(), 0, type));
    }
  }
  ~ClipFeeder() { Join(); }

  void Start() { thread_ = std::thread(&ClipFeeder::Run, this); }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }
  std::uint32_t Fed() const { return fed_.load(); }
  std::uint32_t Refused() const { return refused_.load(); }

 private:
  void Run() {
    const auto interval = std::chrono::microseconds(1000000 / kFps);
    const Clock::time_point start = Clock::now();
    for (std::uint32_t frame = 0; frame < frames_; ++frame) {
      std::this_thread::sleep_until(start + frame * interval);
      for (std::size_t i = 0; i < ports_.size(); ++i) {
        std::vector<std::uint8_t>& packet = packets_[(starts_[i] + frame) % packets_.size()];
        const std::int32_t result = player_->Play_InputData(
            ports_[i], packet.data(), static_cast<std::uint32_t>(packet.size()), 0);
        (result == SP_OK ? fed_ : refused_).fetch_add(1);
      }
    }
  }

  ISinglePlayer* player_;
  std::vector<std::int32_t> ports_;
  std::uint32_t frames_;
  std::vector<std::size_t> starts_;
  std::vector<std::vector<std::uint8_t>> packets_;
  std::atomic<std::uint32_t> fed_{0};
  std::atomic<std::uint32_t> refused_{0};
  std::thread thread_;
};

struct Counts {
  std::uint32_t shown = 0;
  std::uint32_t damaged = 0;
};

Counts CountsOf(ISinglePlayer* player, const std::vector<std::int32_t>& ports) {
  Counts counts;
  for (std::int32_t port : ports) {
    VdPlayStats stats{};
    if (VdPlayX_GetStats(bench::DecoderPortOf(player, port), &stats)) {
      counts.shown += stats.framesDisplayed;
      counts.damaged += stats.packetsDamaged;
    }
  }
  return counts;
}

// What a real-rate run measured.
struct RealRun {
  double cpuSeconds = 0;
  double wallSeconds = 0;
  double residentAddedMb = 0;
  std::uint32_t fed = 0;
  std::uint32_t refused = 0;
  std::uint32_t late = 0;  // of all the pictures, those not shown in real time
  Counts counts;
};

// How long after the end of the video its last pictures may come.
constexpr std::chrono::seconds kGrace{3};

// Plays the clip on `portCount` host ports fed at real rate for `frames`
// frames each (port i from unit starts[i]); waits for the last pictures
// (held for reordering, they come out a second after the data ends). The
// player retries while a port's buffer is full, so a process that cannot keep
// up loses no data but falls behind: pictures not shown kGrace after the
// video's end count as late.
RealRun PlayAtRealRate(const Clip& clip, int portCount, std::uint32_t frames,
                       std::vector<std::size_t> starts = {}) {
  ISinglePlayer* player = bench::InitialisedPlayer(0);
  std::vector<std::int32_t> ports;
  for (int i = 0; i < portCount; ++i) ports.push_back(i);
  // Once in the process: the codec module and its libraries load with the
  // first compressed stream, which is not memory of a port.
  OpenClip(player, ports.front(), clip);
  bench::CloseStreams(player, {ports.front()});
  ClipFeeder feeder(player, ports, clip, frames, std::move(starts));  // its packets before the count
  const double residentBefore = ResidentMb();
  for (std::int32_t port : ports) OpenClip(player, port, clip);

  RealRun run;
  double residentPlaying = 0;
  const double cpu0 = ProcessCpuSeconds();
  const Clock::time_point t0 = Clock::now();
  feeder.Start();
  std::this_thread::sleep_for(std::chrono::seconds(3));
  residentPlaying = ResidentMb();
  const auto videoEnd = t0 + frames * std::chrono::microseconds(1000000 / kFps);
  std::this_thread::sleep_until(videoEnd);
  const std::uint32_t all = static_cast<std::uint32_t>(portCount) * frames;
  std::uint32_t shownInTime = 0;
  while ((shownInTime = CountsOf(player, ports).shown) < all && Clock::now() < videoEnd + kGrace) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  run.late = all - std::min(shownInTime, all);
  feeder.Join();
  run.fed = feeder.Fed();
  run.refused = feeder.Refused();
  const Clock::time_point deadline = Clock::now() + kGrace;
  while ((run.counts = CountsOf(player, ports)).shown < run.fed && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  run.wallSeconds = std::chrono::duration<double>(Clock::now() - t0).count();
  run.cpuSeconds = ProcessCpuSeconds() - cpu0;
  run.residentAddedMb = residentPlaying - residentBefore;
  bench::CloseStreams(player, ports);
  return run;
}

void ReportRealRun(benchmark::State& state, const RealRun& run, int ports, std::uint32_t frames) {
  const double videoSeconds = static_cast<double>(frames) / kFps;
  state.counters["ports"] = ports;
  state.counters["wall_s"] = run.wallSeconds;
  state.counters["cpu_s"] = run.cpuSeconds;
  state.counters["cpu_s_per_video_s"] = run.cpuSeconds / videoSeconds;
  state.counters["frames_fed"] = run.fed;
  state.counters["frames_shown"] = run.counts.shown;
  state.counters["frames_lost"] = static_cast<double>(run.fed) - run.counts.shown;
  state.counters["frames_late"] = run.late;
  state.counters["refused"] = run.refused;
  state.counters["damaged"] = run.counts.damaged;
  state.counters["rss_mb_per_port"] = run.residentAddedMb / ports;
}

// ------------------------------------------------------------ decoding cost

// FFmpeg's own decoder, one context per stream, single-threaded.

// FFmpeg's own single-threaded decode of `frames` access units of the clip
// per stream, stream i from unit starts[i], all in one thread: its CPU time.
// Paced, each round decodes one unit of every stream per frame interval as
// the player does (so both find the caches as cold as playback leaves them;
// a round that takes longer than the interval runs on at once); else back
// to back.
double FfmpegDecodeSeconds(const Clip& clip, const std::vector<std::size_t>& starts,
                           std::uint32_t frames, bool paced) {
  std::vector<std::unique_ptr<bench::FfmpegDecoder>> streams;
  for (std::size_t i = 0; i < starts.size(); ++i) streams.push_back(std::make_unique<bench::FfmpegDecoder>(AV_CODEC_ID_H264, 1));
  const double t0 = ThreadCpuSeconds();
  const Clock::time_point start = Clock::now();
  for (std::uint32_t frame = 0; frame <= frames; ++frame) {
    if (paced) std::this_thread::sleep_until(start + frame * std::chrono::microseconds(1000000 / kFps));
    for (std::size_t i = 0; i < streams.size(); ++i) {
      streams[i]->Decode(frame < frames ? &clip.units[(starts[i] + frame) % clip.units.size()]
                                        : nullptr);
    }
  }
  const double seconds = ThreadCpuSeconds() - t0;
  for (const auto& stream : streams) {
    if (stream->Pictures() != static_cast<int>(frames)) throw std::runtime_error("FFmpeg lost pictures");
  }
  return seconds;
}

void BM_H264_1080p25_DecodeCost(benchmark::State& state) {
  const std::uint32_t frames = 125;  // 5 s of video
  const Clip& clip = H264Clip(1920, 1080, frames);
  double ffmpeg = 0, backToBack = 0;
  RealRun run;
  for (auto _ : state) {
    backToBack = FfmpegDecodeSeconds(clip, {0}, frames, false);
    ffmpeg = FfmpegDecodeSeconds(clip, {0}, frames, true);
    run = PlayAtRealRate(clip, 1, frames);
  }
  ReportRealRun(state, run, 1, frames);
  const double videoSeconds = static_cast<double>(frames) / kFps;
  state.counters["ffmpeg_cpu_s_per_video_s"] = ffmpeg / videoSeconds;
  state.counters["ffmpeg_back_to_back_cpu_s_per_video_s"] = backToBack / videoSeconds;
  state.counters["ratio"] = run.cpuSeconds / ffmpeg;
}
BENCHMARK(BM_H264_1080p25_DecodeCost)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

// ------------------------------------------------------------ many ports

void BM_H264_Ports32_Cif25_RealRate(benchmark::State& state) {
  const Clip& clip = H264Clip(352, 288, 100);
  RealRun run;
  for (auto _ : state) run = PlayAtRealRate(clip, 32, kRealRateSeconds * kFps);
  ReportRealRun(state, run, 32, kRealRateSeconds * kFps);
}
BENCHMARK(BM_H264_Ports32_Cif25_RealRate)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

// 16 cameras in one process: the stand-in's process CPU against FFmpeg
// decoding the same 16 streams single-threaded, pictures lost, memory.
void BM_H264_Cameras16_1080p25_RealRate(benchmark::State& state) {
  constexpr int kCameras = 16;
  const std::uint32_t frames = kRealRateSeconds * kFps;
  const Clip& clip = CameraClip();
  const std::vector<std::size_t> starts = StaggeredStarts(clip, kCameras);
  double ffmpeg = 0;
  RealRun run;
  for (auto _ : state) {
    ffmpeg = FfmpegDecodeSeconds(clip, starts, frames, true);
    run = PlayAtRealRate(clip, kCameras, frames, starts);
  }
  ReportRealRun(state, run, kCameras, frames);
  const double videoSeconds = static_cast<double>(frames) / kFps;
  state.counters["ffmpeg_cpu_s_per_video_s"] = ffmpeg / videoSeconds;
  state.counters["ratio"] = run.cpuSeconds / ffmpeg;
  state.counters["stream_kbps"] =
      clip.TotalBytes() * 8.0 / 1000 / (static_cast<double>(clip.units.size()) / kFps);
}
BENCHMARK(BM_H264_Cameras16_1080p25_RealRate)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

// ------------------------------------------------------------ capture at 1080p

void BM_GetPicture_1080pH264(benchmark::State& state) {
  const Clip& clip = H264Clip(1920, 1080, 100);
  ISinglePlayer* player = bench::InitialisedPlayer(0);
  const std::vector<std::int32_t> ports = {0};
  OpenClip(player, 0, clip);
  ClipFeeder feeder(player, ports, clip, 4 * kFps);
  feeder.Start();
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  const std::string path = bench::SharedFolder().File("capture1080.bmp");
  std::vector<double> latenciesMs;
  int failures = 0;
  for (auto _ : state) {
    for (int i = 0; i < 30; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(37));
      const Clock::time_point t0 = Clock::now();
      if (player->Play_GetPicture(0, path.c_str()) != SP_OK) ++failures;
      latenciesMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
  }
  feeder.Join();
  bench::CloseStreams(player, ports);
  state.counters["captures"] = static_cast<double>(latenciesMs.size());
  state.counters["failed"] = failures;
  state.counters["median_ms"] = bench::Median(latenciesMs);
  state.counters["p10_ms"] = bench::Quantile(latenciesMs, 0.1);
  state.counters["p90_ms"] = bench::Quantile(latenciesMs, 0.9);
  if (failures != 0) state.SkipWithError("a capture failed");
}
BENCHMARK(BM_GetPicture_1080pH264)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

// Four ports paused on a 1080p picture each; four threads capture their own
// port at the same moment, kConcurrentRounds times. Captures that wait for
// each other take about four conversions each; captures that run side by
// side take about as many as there are conversions per core.
constexpr int kConcurrentPorts = 4;
constexpr int kConcurrentRounds = 10;

void BM_GetPicture_Ports4_1080pH264_AtOnce(benchmark::State& state) {
  const Clip& clip = H264Clip(1920, 1080, 100);
  ISinglePlayer* player = bench::InitialisedPlayer(0);
  const std::vector<std::int32_t> ports = {0, 1, 2, 3};
  for (std::int32_t port : ports) OpenClip(player, port, clip);
  ClipFeeder feeder(player, ports, clip, kFps / 2);
  feeder.Start();
  feeder.Join();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  for (std::int32_t port : ports) player->Play_PlayState(port, PLAYSTATE_PAUSE);

  std::vector<std::vector<double>> latenciesMs(kConcurrentPorts);
  std::vector<std::vector<double>> succeededMs(kConcurrentPorts);
  std::atomic<int> failures{0};
  for (auto _ : state) {
    for (int round = 0; round < kConcurrentRounds; ++round) {
      std::atomic<int> ready{0};
      std::vector<std::thread> threads;
      for (int i = 0; i < kConcurrentPorts; ++i) {
        threads.emplace_back([&, i] {
          const std::string path =
              bench::SharedFolder().File("capture-port" + std::to_string(i) + ".bmp");
          ready.fetch_add(1);
          while (ready.load() < kConcurrentPorts) std::this_thread::yield();
          const Clock::time_point t0 = Clock::now();
          const bool ok = player->Play_GetPicture(ports[i], path.c_str()) == SP_OK;
          const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
          latenciesMs[i].push_back(ms);
          if (ok) {
            succeededMs[i].push_back(ms);
          } else {
            failures.fetch_add(1);
          }
        });
      }
      for (std::thread& thread : threads) thread.join();
    }
  }
  bench::CloseStreams(player, ports);
  std::vector<double> all;
  for (const std::vector<double>& port : latenciesMs) all.insert(all.end(), port.begin(), port.end());
  std::vector<double> succeeded;
  for (const std::vector<double>& port : succeededMs) {
    succeeded.insert(succeeded.end(), port.begin(), port.end());
  }
  state.counters["median_ok_ms"] = succeeded.empty() ? 0 : bench::Median(succeeded);
  state.counters["captures"] = static_cast<double>(all.size());
  state.counters["failed"] = failures.load();
  state.counters["median_ms"] = bench::Median(all);
  state.counters["p90_ms"] = bench::Quantile(all, 0.9);
  state.counters["max_ms"] = bench::Quantile(all, 1.0);
}
BENCHMARK(BM_GetPicture_Ports4_1080pH264_AtOnce)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

std::string DescribeRealRun(const bench::Run& run) {
  return bench::Format("%.0f shown of %.0f fed (%.0f lost, %.0f refused, %.0f damaged, "
                       "%.0f late) in %.1f s; %.3f CPU-s per s of video",
                       bench::Counter(run, "frames_shown"), bench::Counter(run, "frames_fed"),
                       bench::Counter(run, "frames_lost"), bench::Counter(run, "refused"),
                       bench::Counter(run, "damaged"), bench::Counter(run, "frames_late"),
                       bench::Counter(run, "wall_s"), bench::Counter(run, "cpu_s_per_video_s"));
}

// Pictures lost, or shown too late for real time (which includes those lost).
double Lost(const bench::Run& run) {
  return std::max(bench::Counter(run, "frames_lost") + bench::Counter(run, "refused") +
                      bench::Counter(run, "damaged"),
                  bench::Counter(run, "frames_late"));
}

const bool kFigures =
    bench::AddFigure(
        {"H.264 1080p25, 5 s through the player and the stand-in at real rate: process CPU "
         "against FFmpeg's single-threaded decode of the same access units at the same pace",
         "BM_H264_1080p25_DecodeCost", "",
         [](const bench::Run& run) { return bench::Counter(run, "ratio"); },
         [](const bench::Run& run) {
           return bench::Format(
               "ratio %.3f (%.3f against %.3f CPU-s per s of video; FFmpeg back to back %.3f)",
               bench::Counter(run, "ratio"), bench::Counter(run, "cpu_s_per_video_s"),
               bench::Counter(run, "ffmpeg_cpu_s_per_video_s"),
               bench::Counter(run, "ffmpeg_back_to_back_cpu_s_per_video_s"));
         },
         true, 1.15, "<= 1.15"}) &&
    bench::AddFigure({"32 ports, H.264 CIF at 25 fps, real rate, 10 s: pictures lost or late",
                      "BM_H264_Ports32_Cif25_RealRate", "", Lost, DescribeRealRun, true, 0.0,
                      "none lost or late"}) &&
    bench::AddFigure({"16 ports, camera-like H.264 1080p25 (4 Mbit/s, sensor noise, no "
                      "B-pictures), real rate, 10 s: pictures lost or late",
                      "BM_H264_Cameras16_1080p25_RealRate", "", Lost, DescribeRealRun, true, 0.0,
                      "none lost or late"}) &&
    bench::AddFigure(
        {"16 ports as above: process CPU against FFmpeg's single-threaded decode of the same "
         "16 streams (one thread, one unit of each stream per frame interval)",
         "BM_H264_Cameras16_1080p25_RealRate", "",
         [](const bench::Run& run) { return bench::Counter(run, "ratio"); },
         [](const bench::Run& run) {
           return bench::Format("ratio %.3f (%.3f against %.3f CPU-s per s of video; "
                                "streams of %.0f kbit/s)",
                                bench::Counter(run, "ratio"),
                                bench::Counter(run, "cpu_s_per_video_s"),
                                bench::Counter(run, "ffmpeg_cpu_s_per_video_s"),
                                bench::Counter(run, "stream_kbps"));
         },
         true, 1.10, "<= 1.10"}) &&
    bench::AddFigure(
        {"16 ports as above: resident memory added per playing 1080p port",
         "BM_H264_Cameras16_1080p25_RealRate", "",
         [](const bench::Run& run) { return bench::Counter(run, "rss_mb_per_port"); },
         [](const bench::Run& run) {
           return bench::Format("%.1f MB", bench::Counter(run, "rss_mb_per_port"));
         },
         true, 20.0, "<= 20 MB"}) &&
    bench::AddFigure(
        {"Play_GetPicture on a playing 1080p25 H.264 stream, call to return (BMP written in the "
         "call)",
         "BM_GetPicture_1080pH264", "",
         [](const bench::Run& run) { return bench::Counter(run, "median_ms"); },
         [](const bench::Run& run) {
           return bench::Format("median %.1f ms (p10 %.1f, p90 %.1f ms; %.0f captures)",
                                bench::Counter(run, "median_ms"), bench::Counter(run, "p10_ms"),
                                bench::Counter(run, "p90_ms"), bench::Counter(run, "captures"));
         },
         true, 10.0, "median <= 10 ms"}) &&
    bench::AddFigure(bench::Info(
        "Play_GetPicture on four paused 1080p H.264 ports at once, one thread each, call to "
        "return",
        "BM_GetPicture_Ports4_1080pH264_AtOnce", "", [](const bench::Run& run) {
          return bench::Format(
              "median %.1f ms per capture (p90 %.1f, max %.1f ms; %.0f captures, %.0f failed; "
              "median of those that succeeded %.1f ms)",
              bench::Counter(run, "median_ms"), bench::Counter(run, "p90_ms"),
              bench::Counter(run, "max_ms"), bench::Counter(run, "captures"),
              bench::Counter(run, "failed"), bench::Counter(run, "median_ok_ms"));
        }));

}  // namespace
