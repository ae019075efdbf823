// Sound through the stand-in, heard on a private PulseAudio server's null
// sink (tests/support/SoundServer.h; no sound device needed): how far the
// sound is from its pictures over a minute of a live stream, what one port's
// audio decode and output cost, and 32 ports playing with the sound on one
// of them.
#include <VdPlay.h>
#include <VdStreamFormat.h>
#include <benchmark/benchmark.h>

#include <atomic>
#include <cmath>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "CpuTime.h"
#include "StandInSupport.h"
#include "Targets.h"
#include "support/SoundServer.h"
#include "support/SoundSync.h"

namespace {

using Clock = std::chrono::steady_clock;
using sp_test::AudioPacket;
using sp_test::Recording;
using sp_test::SoundServer;
using sp_test::TimedPacket;

constexpr VdLong kPort = 6;
constexpr std::uint32_t kW = 64, kH = 48, kFps = 25;
// A live source's data arrives this long before its time.
constexpr int kLeadMs = 300;

// The benchmarks' sound server: started on first use, stopped at exit; null
// where pulseaudio or parec is missing.
SoundServer* Server() {
  static std::unique_ptr<SoundServer> server(SoundServer::Available() ? new SoundServer : nullptr);
  return server && server->Running() ? server.get() : nullptr;
}

// A 440 Hz tone in A-law packets of 20 ms, or in AAC frames (48 kHz mono,
// 96 kbit/s), made by the ffmpeg command.
std::vector<AudioPacket> Tone(bool aac, int seconds, const std::string& dir) {
  const std::string sine =
      "-f lavfi -i sine=frequency=440:duration=" + std::to_string(seconds) + ":sample_rate=";
  std::vector<AudioPacket> tone =
      aac ? sp_test::AdtsPackets(sp_test::FfmpegBytes(sine + "48000 -c:a aac -b:a 96k -f adts", dir))
          : sp_test::G711Packets(sp_test::FfmpegBytes(sine + "8000 -f alaw", dir));
  if (tone.empty()) throw std::runtime_error("the ffmpeg command made no tone");
  return tone;
}

vdstream::Payload ToneType(bool aac) {
  return aac ? vdstream::Payload::AacAdts : vdstream::Payload::G711ALaw;
}

void PlainPicture(std::uint32_t n, std::uint8_t* picture) {
  vdstream::fillTestPicture(picture, kW, kH, n);
}

void OpenPort() {
  const std::vector<std::uint8_t> header = vdstream::makeFileHeader(kW, kH, kFps, 1);
  if (!VdPlay_OpenStream(kPort, const_cast<std::uint8_t*>(header.data()), 40, 2 << 20) ||
      !VdPlay_SetVolume(kPort, 65535))
    throw std::runtime_error("cannot open a stand-in port");
}

// Pushes each packet kLeadMs before its time counted from the call, as a
// live source does (the first ones at once), until all are pushed or stop.
void PushLive(const std::vector<TimedPacket>& packets, const std::atomic<bool>& stop) {
  const Clock::time_point start = Clock::now();
  for (const TimedPacket& p : packets) {
    std::this_thread::sleep_until(start + std::chrono::milliseconds(p.stampMs) -
                                  std::chrono::milliseconds(kLeadMs));
    if (stop) return;
    for (int tries = 0; !VdPlay_InputData(kPort, const_cast<std::uint8_t*>(p.bytes.data()),
                                          static_cast<VdDword>(p.bytes.size()));
         ++tries) {
      if (tries > 1000 || stop) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
}

VdPlayStats Stats(VdLong port) {
  VdPlayStats stats{};
  VdPlayX_GetStats(port, &stats);
  return stats;
}

// Frequency of the middle half of what was heard in samples; 0 if nothing was.
double HeardFrequency(const std::vector<std::int16_t>& samples) {
  const sp_test::Span heard = sp_test::Audible(samples);
  if (heard.size() < SoundServer::kRate / 2) return 0;
  return sp_test::ToneFrequency(samples, heard.from + heard.size() / 4, heard.to - heard.size() / 4);
}

// ------------------------------------------------------------------ offset

// A beep and a white picture at every whole second, A-law and raw pictures
// pushed live for 60 s (10 s with --sp_short): sound minus picture of each
// pair, heard on the null sink and seen by the display callback.
void BM_Sound_OffsetToPictures(benchmark::State& state) {
  SoundServer* server = Server();
  if (!server) {
    state.SkipWithError("no pulseaudio/parec (scripts/install-deps installs them)");
    return;
  }
  const int seconds = bench::ShortRun() ? 10 : 60;
  const std::vector<AudioPacket> beeps = sp_test::BeepPackets(seconds + 1, server->Dir());
  if (beeps.empty()) throw std::runtime_error("the ffmpeg command made no beeps");
  const std::vector<TimedPacket> packets = sp_test::StreamPackets(
      kW, kH, kFps, seconds, beeps, vdstream::Payload::G711ALaw,
      [](std::uint32_t n, std::uint8_t* picture) { sp_test::FlashPicture(kW, kH, kFps, n, picture); });
  std::vector<double> offsets;
  std::size_t beepsHeard = 0;
  for (auto _ : state) {
    sp_test::FlashTimes::Clear();
    Recording rec(server->MonitorFile());
    sp_test::MonitorClock clock(rec);
    OpenPort();
    VdPlay_SetDisplayCallBack(kPort, &sp_test::FlashTimes::OnFrame);
    std::atomic<bool> stop{false};
    std::thread feeder([&] { PushLive(packets, stop); });
    VdPlay_PlaySound(kPort);
    VdPlay_Play(kPort, nullptr);
    feeder.join();
    std::this_thread::sleep_for(std::chrono::milliseconds(kLeadMs + 500));
    const std::vector<std::int16_t> samples = rec.Take(
        static_cast<int>((rec.FileSamples() - rec.StartSample()) * 1000 / SoundServer::kRate));
    clock.Stop();
    VdPlay_SetDisplayCallBack(kPort, nullptr);
    VdPlay_StopSound();
    VdPlay_CloseStream(kPort);
    const std::vector<double> onsets = sp_test::BeepOnsets(samples, rec.StartSample(), clock);
    beepsHeard = onsets.size();
    offsets = sp_test::SoundMinusPictureMs(onsets, sp_test::FlashTimes::Taken());
  }
  std::vector<double> magnitudes;
  for (double o : offsets) magnitudes.push_back(std::abs(o));
  state.counters["seconds"] = seconds;
  state.counters["pairs"] = static_cast<double>(offsets.size());
  state.counters["beeps_heard"] = static_cast<double>(beepsHeard);
  state.counters["median_ms"] = offsets.empty() ? 0 : bench::Median(offsets);
  state.counters["min_ms"] = offsets.empty() ? 0 : bench::Quantile(offsets, 0);
  state.counters["max_ms"] = offsets.empty() ? 0 : bench::Quantile(offsets, 1);
  // Too few pairs is a failure, not a good figure.
  state.counters["p95_abs_ms"] =
      offsets.size() + 2 < static_cast<std::size_t>(seconds) ? 1e9 : bench::Quantile(magnitudes, 0.95);
}
BENCHMARK(BM_Sound_OffsetToPictures)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

// ------------------------------------------------------------------ CPU

// One port playing small raw pictures with a 440 Hz tone pushed live:
// process CPU in slices with the sound on, alternating with slices of the
// same play with the sound off (StopSound); the difference is the port's
// audio decode and output (the library's sound thread and the sound
// server's client library in this process; the server's own work is not
// counted). Three pairs of 5 s slices (one pair of 3 s with --sp_short).
void BM_Sound_CpuOfOnePort(benchmark::State& state) {
  SoundServer* server = Server();
  if (!server) {
    state.SkipWithError("no pulseaudio/parec (scripts/install-deps installs them)");
    return;
  }
  const bool aac = state.range(0) == 1;
  const int sliceSeconds = bench::ShortRun() ? 3 : 5;
  const int pairs = bench::ShortRun() ? 1 : 3;
  const int seconds = 2 * pairs * sliceSeconds + 2;
  const std::vector<TimedPacket> packets = sp_test::StreamPackets(
      kW, kH, kFps, seconds, Tone(aac, seconds, server->Dir()), ToneType(aac), PlainPicture);
  double cpuOn = 0, cpuOff = 0, frequency = 0;
  std::uint32_t unitsPlayed = 0, damaged = 0, pictures = 0;
  for (auto _ : state) {
    OpenPort();
    std::atomic<bool> stop{false};
    std::thread feeder([&] { PushLive(packets, stop); });
    VdPlay_PlaySound(kPort);
    VdPlay_Play(kPort, nullptr);
    std::this_thread::sleep_for(std::chrono::seconds(1));  // decoder and output ready
    for (int pair = 0; pair < pairs; ++pair) {
      for (bool on : {true, false}) {
        if (on) VdPlay_PlaySound(kPort); else VdPlay_StopSound();
        Recording rec(server->MonitorFile());
        const VdPlayStats before = Stats(kPort);
        const double cpu0 = bench::ProcessCpuSeconds();
        std::this_thread::sleep_for(std::chrono::seconds(sliceSeconds));
        (on ? cpuOn : cpuOff) += bench::ProcessCpuSeconds() - cpu0;
        const VdPlayStats after = Stats(kPort);
        pictures += after.framesDisplayed - before.framesDisplayed;
        if (on) {
          unitsPlayed += after.audioUnitsPlayed - before.audioUnitsPlayed;
          damaged += after.audioUnitsDamaged - before.audioUnitsDamaged;
          frequency = HeardFrequency(rec.Take(sliceSeconds * 1000 - 300));
        }
      }
    }
    stop = true;
    feeder.join();
    VdPlay_StopSound();
    VdPlay_CloseStream(kPort);
  }
  const double onSeconds = static_cast<double>(pairs) * sliceSeconds;
  state.counters["cpu_s_per_s"] = (cpuOn - cpuOff) / onSeconds;
  state.counters["on_cpu_s_per_s"] = cpuOn / onSeconds;
  state.counters["off_cpu_s_per_s"] = cpuOff / onSeconds;
  state.counters["units_played"] = unitsPlayed;
  state.counters["damaged"] = damaged;
  state.counters["pictures"] = pictures;
  state.counters["frequency_hz"] = frequency;
}
BENCHMARK(BM_Sound_CpuOfOnePort)
    ->Arg(0)
#if SP_BENCH_HAS_AAC
    ->Arg(1)
#endif
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

// ------------------------------------------------------------------ 32 ports

// The 32-port benchmark's raw CIF streams through the player, with a 440 Hz
// tone (AAC where the stand-in has its codecs, else A-law) pushed with the
// pictures of the first port, whose sound is on at volume 80.
void BM_Sound_Ports32_SoundOnOne(benchmark::State& state) {
  SoundServer* server = Server();
  if (!server) {
    state.SkipWithError("no pulseaudio/parec (scripts/install-deps installs them)");
    return;
  }
  constexpr std::uint32_t kSeconds = 10;
  const bool aac = SP_BENCH_HAS_AAC;
  ISinglePlayer* player = bench::InitialisedPlayer(0);
  std::vector<std::int32_t> ports;
  for (int i = 0; i < 32; ++i) ports.push_back(i);
  std::vector<std::vector<std::uint8_t>> audio;
  std::vector<std::uint32_t> stamps;
  for (const AudioPacket& p : Tone(aac, kSeconds + 1, server->Dir())) {
    audio.push_back(vdstream::makePacket(p.bytes.data(), p.bytes.size(), p.stampMs, ToneType(aac)));
    stamps.push_back(p.stampMs);
  }
  std::uint32_t fed = 0, shown = 0, damaged = 0, audioFed = 0, played = 0, refused = 0;
  double cpu = 0, frequency = 0;
  for (auto _ : state) {
    bench::OpenCifStreams(player, ports);
    const std::int32_t soundPort = bench::DecoderPortOf(player, ports[0]);
    bench::RealRateFeeder feeder(player, ports, kSeconds * kFps);
    feeder.AddAudio(0, audio, stamps);
    if (player->Play_SetVolume(ports[0], 80) != SP_OK) throw std::runtime_error("Play_SetVolume failed");
    Recording rec(server->MonitorFile());
    const double cpu0 = bench::ProcessCpuSeconds();
    feeder.Start();
    feeder.Join();
    for (std::uint32_t n : feeder.FramesFed()) fed += n;
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(1);
    do {
      shown = damaged = 0;
      for (std::int32_t port : ports) {
        const VdPlayStats stats = Stats(bench::DecoderPortOf(player, port));
        shown += stats.framesDisplayed;
        damaged += stats.packetsDamaged;
      }
      if (shown >= fed) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    } while (Clock::now() < deadline);
    cpu = bench::ProcessCpuSeconds() - cpu0;
    frequency = HeardFrequency(rec.Take(kSeconds * 1000));
    played = Stats(soundPort).audioUnitsPlayed;
    audioFed = feeder.AudioFed();
    refused = feeder.Refused() + feeder.AudioRefused();
    player->Play_SetVolume(ports[0], 0);
    bench::CloseStreams(player, ports);
  }
  state.counters["frames_fed"] = fed;
  state.counters["frames_shown"] = shown;
  state.counters["frames_lost"] = static_cast<double>(fed) - shown;
  state.counters["damaged"] = damaged;
  state.counters["refused"] = refused;
  state.counters["audio_fed"] = audioFed;
  state.counters["audio_played"] = played;
  state.counters["frequency_hz"] = frequency;
  state.counters["aac"] = aac;
  state.counters["cpu_s_per_video_s"] = cpu / kSeconds;
}
BENCHMARK(BM_Sound_Ports32_SoundOnOne)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

std::string DescribeOffset(const bench::Run& run) {
  return bench::Format(
      "median %+.1f ms, p95 of the distance %.1f ms (min %+.1f, max %+.1f; %.0f pairs, %.0f beeps "
      "heard in %.0f s)",
      bench::Counter(run, "median_ms"), bench::Counter(run, "p95_abs_ms"), bench::Counter(run, "min_ms"),
      bench::Counter(run, "max_ms"), bench::Counter(run, "pairs"), bench::Counter(run, "beeps_heard"),
      bench::Counter(run, "seconds"));
}

std::string DescribeCpu(const bench::Run& run) {
  return bench::Format(
      "%.4f CPU-s per s of sound (process %.4f with the sound on, %.4f off; %.0f units played, "
      "%.0f damaged, heard at %.1f Hz)",
      bench::Counter(run, "cpu_s_per_s"), bench::Counter(run, "on_cpu_s_per_s"),
      bench::Counter(run, "off_cpu_s_per_s"), bench::Counter(run, "units_played"),
      bench::Counter(run, "damaged"), bench::Counter(run, "frequency_hz"));
}

// A tone that was not heard, or not at 440 Hz, is a failure whatever it cost.
double CpuUnlessUnheard(const bench::Run& run) {
  const double f = bench::Counter(run, "frequency_hz");
  return std::abs(f - 440.0) > 8.8 ? 1e9 : bench::Counter(run, "cpu_s_per_s");
}

const bool kFigures =
    bench::AddFigure({"Sound to picture: a beep and a white picture every second, A-law and raw 64x48 "
                      "pictures pushed live for 60 s, sound heard on a null sink minus picture at "
                      "the display callback",
                      "BM_Sound_OffsetToPictures", "",
                      [](const bench::Run& run) { return bench::Counter(run, "p95_abs_ms"); },
                      DescribeOffset, true, 40.0, "p95 of the distance ≤ 40 ms"}) &&
    bench::AddFigure({"Sound of one port, G.711 A-law 8 kHz: process CPU with the sound on less "
                      "with it off",
                      "BM_Sound_CpuOfOnePort", "0", CpuUnlessUnheard, DescribeCpu, true, 0.02,
                      "≤ 0.02 CPU-s per s, heard at 440 Hz ± 2%"}) &&
#if SP_BENCH_HAS_AAC
    bench::AddFigure({"Sound of one port, AAC 48 kHz 96 kbit/s: as above", "BM_Sound_CpuOfOnePort",
                      "1", CpuUnlessUnheard, DescribeCpu, true, 0.02,
                      "≤ 0.02 CPU-s per s, heard at 440 Hz ± 2%"}) &&
#endif
    bench::AddFigure(
        {"32 ports, raw I420 CIF at 25 fps, real rate, 10 s, with a 440 Hz tone heard from one of "
         "them (volume 80): pictures lost",
         "BM_Sound_Ports32_SoundOnOne", "",
         [](const bench::Run& run) {
           const double f = bench::Counter(run, "frequency_hz");
           return bench::Counter(run, "frames_lost") + bench::Counter(run, "refused") +
                  bench::Counter(run, "damaged") + (std::abs(f - 440.0) > 8.8 ? 1e9 : 0.0);
         },
         [](const bench::Run& run) {
           return bench::Format(
               "%.0f shown of %.0f fed (%.0f lost, %.0f refused, %.0f damaged); %s: %.0f of %.0f "
               "units played, heard at %.1f Hz; %.3f CPU-s per s of video",
               bench::Counter(run, "frames_shown"), bench::Counter(run, "frames_fed"),
               bench::Counter(run, "frames_lost"), bench::Counter(run, "refused"),
               bench::Counter(run, "damaged"), bench::Counter(run, "aac") != 0 ? "AAC" : "A-law",
               bench::Counter(run, "audio_played"), bench::Counter(run, "audio_fed"),
               bench::Counter(run, "frequency_hz"), bench::Counter(run, "cpu_s_per_video_s"));
         },
         true, 0.0, "none lost, tone heard at 440 Hz ± 2%"});

}  // namespace
