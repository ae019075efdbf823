// Camera streams through the stand-in: a 4K H.265 transport stream at its
// real rate, the push-to-display latency of a live 1080p stream pushed with
// jitter (in packets and as a transport stream), and what taking program and
// transport streams apart costs beside decoding them.
#include <VdPlay.h>
#include <VdStreamFormat.h>
#include <benchmark/benchmark.h>

#include <chrono>
#include <map>
#include <mutex>
#include <random>
#include <stdexcept>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "CodecClips.h"
#include "CpuTime.h"
#include "FfmpegDecoder.h"
#include "MpegStreams.h"
#include "Targets.h"

namespace {

using Clock = std::chrono::steady_clock;
using sp_test::Bytes;
using sp_test::Clip;
using sp_test::ClipRecipe;
using sp_test::MpegUnit;

constexpr VdLong kPort = 5;
constexpr std::uint32_t kFps = 25;
constexpr std::uint64_t kFrame90k = 90000 / kFps;

const Clip& MadeClip(ClipRecipe recipe) {
  recipe.decodeReference = false;
  const Clip& clip = sp_test::MakeClip(recipe);
  if (clip.units.empty()) throw std::runtime_error("the ffmpeg command could not make a clip");
  return clip;
}

// The clip over and over, its time stamps running on: each pass starts with
// a key picture.
std::vector<MpegUnit> Looped(const Clip& clip, int passes) {
  std::vector<MpegUnit> units;
  const std::uint64_t passLength = clip.units.size() * kFrame90k;
  for (int pass = 0; pass < passes; ++pass)
    for (MpegUnit& unit : clip.MpegUnits(static_cast<std::uint64_t>(pass) * passLength))
      units.push_back(std::move(unit));
  return units;
}

// When each picture was pushed, and how long after that it was shown.
struct LatencyLog {
  std::mutex mutex;
  std::map<std::uint32_t, Clock::time_point> pushed;  // by time stamp
  std::vector<std::pair<double, double>> shown;       // (seconds since start, latency ms)
  Clock::time_point start;
  std::uint32_t displayed = 0;
};
LatencyLog g_log;

void VDPLAY_CALL NoteShown(VdLong, char*, VdLong, VdLong, VdLong, VdLong stamp, VdLong, VdLong) {
  const Clock::time_point now = Clock::now();
  std::lock_guard<std::mutex> lock(g_log.mutex);
  ++g_log.displayed;
  const auto it = g_log.pushed.find(static_cast<std::uint32_t>(stamp));
  if (it == g_log.pushed.end()) return;
  g_log.shown.emplace_back(std::chrono::duration<double>(now - g_log.start).count(),
                           std::chrono::duration<double, std::milli>(now - it->second).count());
  g_log.pushed.erase(it);
}

void OpenPort(vdstream::Codec codec, vdstream::Framing framing, std::uint32_t width,
              std::uint32_t height, VdDword pool) {
  const Bytes header = vdstream::makeFileHeader(width, height, kFps, 1, codec, framing);
  if (!VdPlay_OpenStream(kPort, const_cast<std::uint8_t*>(header.data()), 40, pool) ||
      !VdPlay_SetDisplayCallBack(kPort, NoteShown) || !VdPlay_Play(kPort, nullptr))
    throw std::runtime_error("cannot open a stand-in port");
}

void Push(const Bytes& data) {
  for (int tries = 0; !VdPlay_InputData(kPort, const_cast<std::uint8_t*>(data.data()),
                                        static_cast<VdDword>(data.size()));
       ++tries) {
    if (tries > 1000) throw std::runtime_error("the source buffer stayed full");
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

VdPlayStats PortStats() {
  VdPlayStats stats{};
  VdPlayX_GetStats(kPort, &stats);
  return stats;
}

void ResetLog() {
  std::lock_guard<std::mutex> lock(g_log.mutex);
  g_log.pushed.clear();
  g_log.shown.clear();
  g_log.displayed = 0;
  g_log.start = Clock::now();
}

// Pushes each unit at start + n frame intervals + jitter (uniform within
// ±jitterMs), as a transport stream or in packets.
void PushLive(const std::vector<MpegUnit>& units, bool transport, int jitterMs) {
  std::mt19937 random(42);
  std::uniform_int_distribution<int> jitter(-jitterMs, jitterMs);
  sp_test::TsCounters counters;
  sp_test::MpegStreamOptions options;
  const Clock::time_point start = Clock::now() + std::chrono::milliseconds(jitterMs);
  for (std::size_t i = 0; i < units.size(); ++i) {
    const MpegUnit& unit = units[i];
    const Bytes data = transport ? sp_test::WriteTransportStream({unit}, options, counters)
                                 : vdstream::makePacket(unit.data.data(), unit.data.size(),
                                                        static_cast<std::uint32_t>(unit.pts / 90),
                                                        vdstream::Payload::H264);
    std::this_thread::sleep_until(start + std::chrono::milliseconds(40 * i + jitter(random)));
    {
      std::lock_guard<std::mutex> lock(g_log.mutex);
      g_log.pushed[static_cast<std::uint32_t>(unit.pts / 90)] = Clock::now();
    }
    Push(data);
  }
}

std::vector<double> LatenciesBetween(double fromSeconds, double toSeconds) {
  std::lock_guard<std::mutex> lock(g_log.mutex);
  std::vector<double> values;
  for (const auto& entry : g_log.shown)
    if (entry.first >= fromSeconds && entry.first < toSeconds) values.push_back(entry.second);
  return values;
}

// ------------------------------------------------------------------ 4K

void BM_TS_H265_2160p25_RealRate(benchmark::State& state) {
  ClipRecipe recipe;
  recipe.codec = vdstream::Codec::H265;
  recipe.width = 3840;
  recipe.height = 2160;
  recipe.frames = 50;
  recipe.bFrames = 0;
  recipe.gop = 50;
  const Clip& clip = MadeClip(recipe);
  const std::vector<MpegUnit> units = Looped(clip, 5);  // 10 s
  const int threads =
      static_cast<int>(std::max(2u, std::min(std::thread::hardware_concurrency(), 4u)));
  double cpu = 0, ffmpeg = 0;
  VdPlayStats stats{};
  for (auto _ : state) {
    ResetLog();
    OpenPort(vdstream::Codec::None, vdstream::Framing::TransportStream, 3840, 2160, 1024000);
    const double cpu0 = bench::ProcessCpuSeconds();
    sp_test::TsCounters counters;
    sp_test::MpegStreamOptions options;
    options.videoType = 0x24;
    const Clock::time_point start = Clock::now();
    for (std::size_t i = 0; i < units.size(); ++i) {
      std::this_thread::sleep_until(start + std::chrono::milliseconds(40 * i));
      Push(sp_test::WriteTransportStream({units[i]}, options, counters));
    }
    for (int i = 0; i < 100 && PortStats().framesDisplayed < units.size(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    cpu = bench::ProcessCpuSeconds() - cpu0;
    stats = PortStats();
    VdPlay_CloseStream(kPort);

    bench::FfmpegDecoder decoder(AV_CODEC_ID_HEVC, threads);
    const double f0 = bench::ProcessCpuSeconds();
    for (int pass = 0; pass < 5; ++pass)
      for (const sp_test::AccessUnit& unit : clip.units) decoder.Decode(&unit);
    decoder.Decode(nullptr);
    ffmpeg = bench::ProcessCpuSeconds() - f0;
  }
  const double videoSeconds = static_cast<double>(units.size()) / kFps;
  state.counters["fed"] = static_cast<double>(units.size());
  state.counters["shown"] = stats.framesDisplayed;
  state.counters["lost"] = static_cast<double>(units.size()) - stats.framesDisplayed;
  state.counters["damaged"] = stats.packetsDamaged;
  state.counters["cpu_s_per_video_s"] = cpu / videoSeconds;
  state.counters["ffmpeg_cpu_s_per_video_s"] = ffmpeg / videoSeconds;
  state.counters["threads"] = threads;
}
BENCHMARK(BM_TS_H265_2160p25_RealRate)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

// ------------------------------------------------------------------ latency

// What a camera sends: 1080p25 H.264 at 4 Mbit/s with sensor noise, no
// B-pictures, a key picture every 2 s.
const Clip& CameraClip() {
  ClipRecipe recipe;
  recipe.width = 1920;
  recipe.height = 1080;
  recipe.frames = 250;
  recipe.bFrames = 0;
  recipe.gop = 50;
  recipe.bitrateKbps = 4000;
  recipe.filter = "noise=alls=8:allf=t+u";
  return MadeClip(recipe);
}

void BM_Latency_1080p25_Jitter20(benchmark::State& state) {
  const bool transport = state.range(0) == 1;
  const std::vector<MpegUnit> units = Looped(CameraClip(), 6);  // 60 s
  for (auto _ : state) {
    ResetLog();
    OpenPort(transport ? vdstream::Codec::None : vdstream::Codec::H264,
             transport ? vdstream::Framing::TransportStream : vdstream::Framing::Packets, 1920,
             1080, 512000);
    PushLive(units, transport, 20);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    VdPlay_CloseStream(kPort);
  }
  const std::vector<double> all = LatenciesBetween(0, 1e9);
  const std::vector<double> first = LatenciesBetween(0, 10);
  const std::vector<double> last = LatenciesBetween(50, 60);
  state.counters["pushed"] = static_cast<double>(units.size());
  state.counters["measured"] = static_cast<double>(all.size());
  state.counters["median_ms"] = bench::Median(all);
  state.counters["p95_ms"] = bench::Quantile(all, 0.95);
  state.counters["p95_first10s_ms"] = bench::Quantile(first, 0.95);
  state.counters["p95_last10s_ms"] = bench::Quantile(last, 0.95);
  state.counters["growth_ms"] = bench::Quantile(last, 0.95) - bench::Quantile(first, 0.95);
}
BENCHMARK(BM_Latency_1080p25_Jitter20)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

// ------------------------------------------------------------------ demux cost

// CPU of taking 1080p H.264 apart (the port open but not playing, so nothing
// is decoded), per MB of the stream, beside FFmpeg's single-threaded decode
// of the same units.
void BM_Demux_1080pH264_CostPerMB(benchmark::State& state) {
  const bool transport = state.range(0) == 1;
  ClipRecipe recipe;
  recipe.width = 1920;
  recipe.height = 1080;
  recipe.frames = 100;
  recipe.bFrames = 0;
  recipe.gop = 50;
  const Clip& clip = MadeClip(recipe);
  const std::vector<MpegUnit> units = clip.MpegUnits(0);
  const Bytes stream =
      transport ? sp_test::WriteTransportStream(units) : sp_test::WriteProgramStream(units);
  constexpr int kPasses = 20;
  double demuxSeconds = 0, decodeSeconds = 0;
  for (auto _ : state) {
    const Bytes header = vdstream::makeFileHeader(
        1920, 1080, kFps, 1, vdstream::Codec::H264,
        transport ? vdstream::Framing::TransportStream : vdstream::Framing::ProgramStream);
    if (!VdPlay_OpenStream(kPort, const_cast<std::uint8_t*>(header.data()), 40, 1024000))
      throw std::runtime_error("cannot open a stand-in port");
    const double t0 = bench::ThreadCpuSeconds();
    for (int pass = 0; pass < kPasses; ++pass) {
      for (std::size_t at = 0; at < stream.size(); at += 1316) {
        const std::size_t n = std::min<std::size_t>(1316, stream.size() - at);
        if (!VdPlay_InputData(kPort, const_cast<std::uint8_t*>(stream.data() + at),
                              static_cast<VdDword>(n))) {
          VdPlay_ResetSourceBuffer(kPort);  // nothing plays: the units are let go
          VdPlay_InputData(kPort, const_cast<std::uint8_t*>(stream.data() + at),
                           static_cast<VdDword>(n));
        }
      }
    }
    demuxSeconds = bench::ThreadCpuSeconds() - t0;
    VdPlay_CloseStream(kPort);
    bench::FfmpegDecoder decoder(AV_CODEC_ID_H264, 1);
    const double d0 = bench::ThreadCpuSeconds();
    for (const sp_test::AccessUnit& unit : clip.units) decoder.Decode(&unit);
    decoder.Decode(nullptr);
    decodeSeconds = bench::ThreadCpuSeconds() - d0;
  }
  const double mb = static_cast<double>(stream.size()) / 1e6;
  state.counters["demux_ms_per_MB"] = demuxSeconds * 1000 / (mb * kPasses);
  state.counters["decode_ms_per_MB"] = decodeSeconds * 1000 / mb;
}
BENCHMARK(BM_Demux_1080pH264_CostPerMB)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

std::string DescribeUhd(const bench::Run& run) {
  return bench::Format(
      "%.0f shown of %.0f fed (%.0f lost, %.0f damaged); %.2f CPU-s per s of "
      "video, FFmpeg's own decode with the same %.0f threads %.2f",
      bench::Counter(run, "shown"), bench::Counter(run, "fed"), bench::Counter(run, "lost"),
      bench::Counter(run, "damaged"), bench::Counter(run, "cpu_s_per_video_s"),
      bench::Counter(run, "threads"), bench::Counter(run, "ffmpeg_cpu_s_per_video_s"));
}

std::string DescribeLatency(const bench::Run& run) {
  return bench::Format(
      "median %.1f ms, p95 %.1f ms; p95 first 10 s %.1f ms, last 10 s %.1f ms "
      "(%.0f of %.0f pictures measured)",
      bench::Counter(run, "median_ms"), bench::Counter(run, "p95_ms"),
      bench::Counter(run, "p95_first10s_ms"), bench::Counter(run, "p95_last10s_ms"),
      bench::Counter(run, "measured"), bench::Counter(run, "pushed"));
}

const bool kFigures =
    bench::AddFigure({"4K: one 3840x2160 H.265 25 fps stream pushed as TS at real rate, 10 s: "
                      "pictures lost",
                      "BM_TS_H265_2160p25_RealRate", "",
                      [](const bench::Run& run) {
                        return bench::Counter(run, "lost") + bench::Counter(run, "damaged");
                      },
                      DescribeUhd, true, 0.0, "none lost"}) &&
    bench::AddFigure({"Live latency, 1080p25 H.264 (4 Mbit/s, no B-pictures) pushed at real "
                      "rate with ±20 ms jitter for 60 s, packets: push to display, p95",
                      "BM_Latency_1080p25_Jitter20", "0",
                      [](const bench::Run& run) { return bench::Counter(run, "p95_ms"); },
                      DescribeLatency, true, 60.0, "≤ 60 ms"}) &&
    bench::AddFigure({"The same as a transport stream: p95", "BM_Latency_1080p25_Jitter20", "1",
                      [](const bench::Run& run) { return bench::Counter(run, "p95_ms"); },
                      DescribeLatency, true, 60.0, "≤ 60 ms"}) &&
    bench::AddFigure({"Latency does not build up (packets): p95 of the last 10 s above the first's",
                      "BM_Latency_1080p25_Jitter20", "0",
                      [](const bench::Run& run) { return bench::Counter(run, "growth_ms"); },
                      [](const bench::Run& run) {
                        return bench::Format("%+.1f ms", bench::Counter(run, "growth_ms"));
                      },
                      true, 10.0, "≤ 10 ms"}) &&
    bench::AddFigure({"Latency does not build up (TS): p95 of the last 10 s above the first's",
                      "BM_Latency_1080p25_Jitter20", "1",
                      [](const bench::Run& run) { return bench::Counter(run, "growth_ms"); },
                      [](const bench::Run& run) {
                        return bench::Format("%+.1f ms", bench::Counter(run, "growth_ms"));
                      },
                      true, 10.0, "≤ 10 ms"}) &&
    bench::AddFigure(bench::Info(
        "Demux cost, 1080p H.264 program stream, pieces of 1316 bytes: CPU per MB beside "
        "FFmpeg's single-threaded decode of the same units",
        "BM_Demux_1080pH264_CostPerMB", "0",
        [](const bench::Run& run) {
          return bench::Format("%.2f ms per MB (decode %.0f ms per MB)",
                               bench::Counter(run, "demux_ms_per_MB"),
                               bench::Counter(run, "decode_ms_per_MB"));
        })) &&
    bench::AddFigure(bench::Info("Demux cost, the same as a transport stream",
                                 "BM_Demux_1080pH264_CostPerMB", "1", [](const bench::Run& run) {
                                   return bench::Format("%.2f ms per MB (decode %.0f ms per MB)",
                                                        bench::Counter(run, "demux_ms_per_MB"),
                                                        bench::Counter(run, "decode_ms_per_MB"));
                                 }));

}  // namespace
